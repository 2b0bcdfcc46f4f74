#include "WebServers.h"

#include <filesystem>
#include <vector>

#include "support/TempDir.h"

namespace input_testing {

namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

// Starts a server on free ports until one is taken by it (another test may take a port
// between our look and the server's bind).
template <class MakeConfig>
std::unique_ptr<ServerProcess> StartOnFreePort(const std::vector<std::string> &argv,
                                               const std::string &output, MakeConfig makeConfig,
                                               int &port, std::string &problem) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    port = FreeLoopbackPort();
    makeConfig(port);
    auto process = std::make_unique<ServerProcess>(argv, output);
    if (WaitForListener(port, 5000) && process->Running()) {
      problem.clear();
      return process;
    }
    process->Stop();
    problem = "did not start: " + ReadFile(output);
  }
  return nullptr;
}

}  // namespace

NginxServer::NginxServer(const std::string &prefix, const std::string &httpLines) {
  for (const char *temp : {"body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
    std::filesystem::create_directories(prefix + "/" + temp);
  }
  const std::string config = prefix + "/nginx.conf";
  auto makeConfig = [&](int port) {
    std::string text = "pid " + prefix + "/nginx.pid;\nerror_log " + prefix +
                       "/error.log;\nevents { worker_connections 64; }\nhttp {\n";
    for (const char *temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
      const std::string dir = std::string(temp) == "client_body" ? "body" : temp;
      text += "  " + std::string(temp) + "_temp_path " + prefix + "/" + dir + ";\n";
    }
    text += httpLines + "\n  server {\n    listen 127.0.0.1:" + std::to_string(port) +
            ";\n    server_name shop.example;\n    location / { return 200 \"ok\\n\"; }\n  }\n}\n";
    WriteFile(config, text);
  };
  process_ = StartOnFreePort({"nginx", "-p", prefix + "/", "-c", config, "-e",
                              prefix + "/error.log", "-g", "daemon off; master_process off;"},
                             prefix + "/output.log", makeConfig, port_, problem_);
  if (process_ == nullptr) problem_ += ReadFile(prefix + "/error.log");
}

ApacheServer::ApacheServer(const std::string &prefix, const std::string &lines) {
  std::filesystem::create_directories(prefix + "/htdocs");
  const std::string config = prefix + "/httpd.conf";
  auto makeConfig = [&](int port) {
    WriteFile(config,
              "ServerRoot " + prefix + "\nDefaultRuntimeDir " + prefix + "\nPidFile " + prefix +
                  "/httpd.pid\nMutex file:" + prefix +
                  " default\n"
                  "LoadModule mpm_prefork_module /usr/lib/apache2/modules/mod_mpm_prefork.so\n"
                  "LoadModule authz_core_module /usr/lib/apache2/modules/mod_authz_core.so\n"
                  "User nobody\nGroup nogroup\nListen 127.0.0.1:" +
                  std::to_string(port) + "\nServerName shop.example\nErrorLog " + prefix +
                  "/error.log\nLogLevel warn\nDocumentRoot " + prefix +
                  "/htdocs\n<Directory />\n  Require all granted\n</Directory>\n" + lines + "\n");
  };
  process_ =
      StartOnFreePort({"apache2", "-X", "-d", prefix, "-f", config, "-E", prefix + "/startup.log"},
                      prefix + "/output.log", makeConfig, port_, problem_);
  if (process_ == nullptr)
    problem_ += ReadFile(prefix + "/startup.log") + ReadFile(prefix + "/error.log");
}

}  // namespace input_testing
