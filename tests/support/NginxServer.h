#pragma once

#include <string>
#include <vector>

#include "support/WebServer.h"

namespace testing_support {

// A real nginx of the test's own on a free loopback port. The access log (logs/access.log)
// has the vhost_combined layout with nginx's $host, the name its map keys use.
class NginxServer : public WebServer {
 public:
  // `httpLines` go into the http block before the server, `serverLines` into the server.
  NginxServer(std::string httpLines = "", std::string serverLines = "");

  // Before Start: the lines for each block (paths under Prefix() are known by then).
  void SetHttpLines(std::string lines) { httpLines_ = std::move(lines); }
  void SetServerLines(std::string lines) { serverLines_ = std::move(lines); }

  std::string ReloadCommand() const override;
  // The NginxTest setting that goes with ReloadCommand(): nginx -t for this server's files.
  std::string TestCommand() const;
  bool TestConfiguration(std::string &output) const override;
  std::string ConfigPath() const { return File("nginx.conf"); }

  // Whether nginx is installed here.
  static bool Available();

 protected:
  std::vector<std::string> ForegroundCommand() const override;
  void WriteConfiguration() const override;

 private:
  std::vector<std::string> Command() const;

  std::string httpLines_, serverLines_;
};

}  // namespace testing_support
