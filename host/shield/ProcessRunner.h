#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// How a program that flowdeck ran ended.
struct ProcessOutcome {
  bool started = false;    // the program was found and began to run
  bool timedOut = false;   // it was still running at the time limit and was killed
  int exitStatus = -1;     // its exit status when it exited
  std::string output;      // the start of what it wrote to stdout and stderr
  bool outputCut = false;  // it wrote more than `output` holds
  std::string problem;     // what went wrong, in a sentence; empty when it exited with 0
  std::string failure;     // how it ended, without the line of output `problem` ends with

  bool Succeeded() const { return problem.empty(); }
  // The problem with the whole of the kept output instead of its first line, as one line
  // (the lines joined by " | ", other control bytes as '?'): a web server gives its reason for
  // refusing a configuration over several lines.
  std::string WholeProblem() const;
};

// Runs programs for the shield actions: never through a shell, never longer than a time limit.
// The program gets its own process group, so that a time limit also ends whatever it started.
class ProcessRunner {
 public:
  explicit ProcessRunner(std::chrono::milliseconds limit) : limit_(limit) {}

  // Runs argv[0] (looked up on PATH, then in /usr/sbin and /sbin, when it holds no '/') with
  // this process's environment plus `environment` ("NAME=value"; these win over inherited ones)
  // and `input` on its standard input. Blocks until it ends or the time limit kills it.
  ProcessOutcome Run(const std::vector<std::string> &argv,
                     const std::vector<std::string> &environment = {},
                     std::string_view input = {}) const;

  std::chrono::milliseconds Limit() const { return limit_; }

 private:
  std::chrono::milliseconds limit_;
};

}  // namespace host
