#include "support/NginxServer.h"

#include <unistd.h>

namespace testing_support {

namespace {

const char *kNginx = "/usr/sbin/nginx";

}  // namespace

NginxServer::NginxServer(std::string httpLines, std::string serverLines)
    : httpLines_(std::move(httpLines)), serverLines_(std::move(serverLines)) {}

bool NginxServer::Available() {
  return access(kNginx, X_OK) == 0;
}

std::vector<std::string> NginxServer::Command() const {
  return {kNginx, "-p", Prefix() + "/", "-c", ConfigPath(), "-e", ErrorLog()};
}

std::vector<std::string> NginxServer::ForegroundCommand() const {
  return Command();  // the configuration says "daemon off"
}

std::string NginxServer::ReloadCommand() const {
  std::string text;
  for (const std::string &word : Command()) text += word + " ";
  return text + "-s reload";
}

std::string NginxServer::TestCommand() const {
  std::string text;
  for (const std::string &word : Command()) text += word + " ";
  return text + "-t -q";
}

bool NginxServer::TestConfiguration(std::string &output) const {
  WriteConfiguration();
  std::vector<std::string> test = Command();
  test.push_back("-t");
  return RunProgram(test, output) == 0;
}

void NginxServer::WriteConfiguration() const {
  const std::string prefix = Prefix();
  std::string config = "daemon off;\nmaster_process on;\nworker_processes 1;\n";
  config += "pid " + prefix + "/nginx.pid;\nerror_log " + ErrorLog() + " info;\n";
  config += "events { worker_connections 64; }\nhttp {\n";
  // Debian's nginx keeps its temporary files under /var/lib/nginx: these stay in the prefix.
  for (const char *kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
    config += std::string("  ") + kind + "_temp_path " + prefix + "/" + kind + "_temp;\n";
  config += "  default_type text/plain;\n";
  config +=
      "  log_format flowdeck_vhost '$host:$server_port $remote_addr - $remote_user "
      "[$time_local] \"$request\" $status $body_bytes_sent \"$http_referer\" "
      "\"$http_user_agent\"';\n";
  config += "  access_log " + AccessLog() + " flowdeck_vhost;\n";
  config += httpLines_ + "\n";
  config += "  server {\n    listen 127.0.0.1:" + std::to_string(Port()) + ";\n";
  config += "    server_name localhost;\n    root " + Root() + ";\n";
  config += serverLines_ + "\n  }\n}\n";
  WriteFile(ConfigPath(), config);
}

}  // namespace testing_support
