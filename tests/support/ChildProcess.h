#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

// A program a test starts and owns: its output goes to a file, and it is stopped (then killed)
// when the object goes, so that no test leaves a process behind.
class ChildProcess {
 public:
  // Starts argv (argv[0] looked up on PATH) with this process's environment plus `environment`
  // ("NAME=value"), stdout and stderr appended to `outputPath`.
  ChildProcess(const std::vector<std::string> &argv, const std::string &outputPath,
               const std::vector<std::string> &environment = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;

  bool Started() const { return pid_ > 0; }
  const std::string &Problem() const { return problem_; }
  pid_t Pid() const { return pid_; }
  // True while it runs; reaps it when it has ended.
  bool Running();
  // Sends `signal`, waits up to `seconds`, then kills it; returns its wait status.
  int Stop(int signal, double seconds = 10);
  // Waits for its end for up to `seconds` (then kills it); returns its wait status.
  int Wait(double seconds);

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  std::string problem_;
};

// Runs a program to its end (at most `seconds`) and returns its exit status, or -1 when it
// could not run or did not exit; `output` gets what it wrote.
int RunProgram(const std::vector<std::string> &argv, std::string &output, double seconds = 60,
               const std::vector<std::string> &environment = {});

}  // namespace testing_support
