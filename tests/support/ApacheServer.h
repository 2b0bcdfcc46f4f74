#pragma once

#include <string>
#include <vector>

#include "support/WebServer.h"

namespace testing_support {

// A real Apache httpd of the test's own on a free loopback port, with mod_rewrite loaded. The
// access log (logs/access.log) has the vhost_combined layout with %V, the host name the
// visitor asked for, which is the name SERVER_NAME gives a RewriteMap lookup.
class ApacheServer : public WebServer {
 public:
  // `lines` go into the server configuration after the document root.
  explicit ApacheServer(std::string lines = "");

  // Before Start: the lines (paths under Prefix() are known by then).
  void SetLines(std::string lines) { lines_ = std::move(lines); }

  std::string ReloadCommand() const override;
  bool TestConfiguration(std::string &output) const override;
  std::string ConfigPath() const { return File("httpd.conf"); }

  static bool Available();

 protected:
  std::vector<std::string> ForegroundCommand() const override;
  void WriteConfiguration() const override;

 private:
  std::string lines_;
};

}  // namespace testing_support
