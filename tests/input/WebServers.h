#pragma once

#include <memory>
#include <string>

#include "ServerProcess.h"

namespace input_testing {

// Debian's nginx, run by the test under a prefix of its own on a free port of 127.0.0.1, as
// one foreground process; it answers every request with "ok". `httpLines` go into its http
// block (log_format and access_log lines). Stopped when the object goes.
class NginxServer {
 public:
  NginxServer(const std::string &prefix, const std::string &httpLines);
  // Empty when it runs; else what went wrong (its error log).
  const std::string &Problem() const { return problem_; }
  int Port() const { return port_; }

 private:
  std::unique_ptr<ServerProcess> process_;
  std::string problem_;
  int port_ = -1;
};

// Debian's apache2 the same way (-X: one process, its own ServerRoot and runtime directory);
// every request is answered 404 from an empty document root. `lines` go into its
// configuration (LogFormat and CustomLog lines).
class ApacheServer {
 public:
  ApacheServer(const std::string &prefix, const std::string &lines);
  const std::string &Problem() const { return problem_; }
  int Port() const { return port_; }

 private:
  std::unique_ptr<ServerProcess> process_;
  std::string problem_;
  int port_ = -1;
};

}  // namespace input_testing
