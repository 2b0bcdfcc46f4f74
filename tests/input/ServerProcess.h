#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace input_testing {

// A program the test starts and stops itself: a web server of its own, or flowdeck.
struct ProgramResult {
  int status = -1;     // exit status, -1 when it did not exit normally
  std::string output;  // standard output and error together
};

// Runs a program to its end with a time limit (SIGKILL after it), arguments passed as they
// are (no shell).
ProgramResult RunProgram(const std::vector<std::string> &argv, int timeoutSeconds = 60);

// A program running in the background, its output in a file; stopped with SIGTERM (then
// SIGKILL) when the object goes.
class ServerProcess {
 public:
  ServerProcess(const std::vector<std::string> &argv, const std::string &outputFile);
  ~ServerProcess();
  ServerProcess(const ServerProcess &) = delete;
  ServerProcess &operator=(const ServerProcess &) = delete;

  bool Running();
  void Stop();

 private:
  pid_t pid_ = -1;
};

// A TCP port of 127.0.0.1 that nobody listens on just now.
int FreeLoopbackPort();
// Waits until something accepts connections on 127.0.0.1:port.
bool WaitForListener(int port, int timeoutMilliseconds);

// Sends one HTTP request from the loopback address `source` (127.0.0.x: every one of them is
// this machine's) and returns the whole response; empty when it failed.
std::string HttpExchange(const std::string &source, int port, const std::string &request);

// Waits until a file holds at least `lines` line ends.
bool WaitForLines(const std::string &path, size_t lines, int timeoutMilliseconds);

}  // namespace input_testing
