#include "support/ApacheServer.h"

#include <unistd.h>

#include <filesystem>

namespace testing_support {

namespace {

const char *kApache = "/usr/sbin/apache2";
const char *kModules = "/usr/lib/apache2/modules/";

}  // namespace

ApacheServer::ApacheServer(std::string lines) : lines_(std::move(lines)) {}

bool ApacheServer::Available() {
  return access(kApache, X_OK) == 0 &&
         access((std::string(kModules) + "mod_rewrite.so").c_str(), R_OK) == 0;
}

std::vector<std::string> ApacheServer::ForegroundCommand() const {
  return {kApache, "-f", ConfigPath(), "-DFOREGROUND"};
}

std::string ApacheServer::ReloadCommand() const {
  return std::string(kApache) + " -f " + ConfigPath() + " -k graceful";
}

bool ApacheServer::TestConfiguration(std::string &output) const {
  WriteConfiguration();
  return RunProgram({kApache, "-f", ConfigPath(), "-t"}, output) == 0;
}

void ApacheServer::WriteConfiguration() const {
  std::filesystem::create_directories(File("run"));
  std::string config = "ServerRoot " + Prefix() + "\nServerName localhost\n";
  config += "Listen 127.0.0.1:" + std::to_string(Port()) + "\n";
  config += "PidFile " + File("run/httpd.pid") + "\nDefaultRuntimeDir " + File("run") + "\n";
  config += "ErrorLog " + ErrorLog() + "\nLogLevel warn\n";
  for (const char *module : {"mpm_event", "authz_core", "rewrite", "alias", "headers"}) {
    config +=
        std::string("LoadModule ") + module + "_module " + kModules + "mod_" + module + ".so\n";
  }
  if (geteuid() == 0) config += "User www-data\nGroup www-data\n";
  config +=
      "LogFormat \"%V:%p %h %l %u %t \\\"%r\\\" %>s %O \\\"%{Referer}i\\\" "
      "\\\"%{User-Agent}i\\\"\" flowdeck_vhost\n";
  config += "CustomLog " + AccessLog() + " flowdeck_vhost\n";
  config += "DocumentRoot " + Root() + "\n<Directory " + Root() +
            ">\n  Require all granted\n</Directory>\n";
  config += lines_ + "\n";
  WriteFile(ConfigPath(), config);
}

}  // namespace testing_support
