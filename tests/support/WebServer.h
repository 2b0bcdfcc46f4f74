#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace testing_support {

// What nginx and Apache servers started by tests share: a prefix directory of their own
// (configuration, logs, document root "html"), a free port on 127.0.0.1, and a process that
// is stopped when the object goes. The machine's own servers and ports are never touched.
class WebServer {
 public:
  WebServer(const WebServer &) = delete;
  WebServer &operator=(const WebServer &) = delete;
  virtual ~WebServer();

  // False, with Problem() saying why, when the server did not come up. Returns once it takes
  // connections and its first workers are there.
  bool Start();
  void Stop();
  const std::string &Problem() const { return problem_; }

  int Port() const { return port_; }
  const std::string &Prefix() const { return dir_.Path(); }
  std::string File(const std::string &name) const { return dir_.File(name); }
  std::string Root() const { return dir_.File("html"); }
  std::string AccessLog() const { return dir_.File("logs/access.log"); }
  std::string ErrorLog() const { return dir_.File("logs/error.log"); }
  // Writes a page under the document root (directories made as needed), readable by the
  // server's workers whatever user they run as.
  void WritePage(const std::string &path, const std::string &content) const;

  // The server's worker processes (the children of its main process).
  std::vector<pid_t> Workers() const;
  // Waits until none of `old` is among the workers any more: a reloaded server has old and
  // new workers side by side for a moment, and the old ones still answer as before.
  bool WaitForNewWorkers(const std::vector<pid_t> &old, double seconds = 10) const;

  // The command that makes the running server read its configuration again, as a
  // NginxReload or ApacheReload setting would give it (words separated by blanks).
  virtual std::string ReloadCommand() const = 0;
  // Checks the configuration as the server would read it; false with `output` on failure.
  virtual bool TestConfiguration(std::string &output) const = 0;

 protected:
  WebServer();
  // The argument vector that runs the server in the foreground.
  virtual std::vector<std::string> ForegroundCommand() const = 0;
  // Writes the configuration file(s); called by Start.
  virtual void WriteConfiguration() const = 0;

 private:
  TempDir dir_;
  int port_;
  std::unique_ptr<ChildProcess> process_;
  std::string problem_;
};

}  // namespace testing_support
