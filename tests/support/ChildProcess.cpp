#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "support/TempDir.h"

extern char **environ;

namespace testing_support {

namespace {

std::vector<char *> Pointers(std::vector<std::string> &texts) {
  std::vector<char *> pointers;
  for (std::string &text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string> &argv, const std::string &outputPath,
                           const std::vector<std::string> &environment) {
  std::vector<std::string> args = argv, variables;
  for (char **entry = environ; *entry != nullptr; ++entry) variables.emplace_back(*entry);
  variables.insert(variables.end(), environment.begin(), environment.end());
  std::vector<char *> argPointers = Pointers(args), envPointers = Pointers(variables);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  const int failed = posix_spawnp(&pid_, args[0].c_str(), &actions, &attributes, argPointers.data(),
                                  envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) {
    pid_ = -1;
    problem_ = "cannot run " + args[0] + ": " + std::strerror(failed);
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) Stop(SIGTERM, 10);
}

bool ChildProcess::Running() {
  if (pid_ <= 0 || reaped_) return false;
  if (waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
  return !reaped_;
}

int ChildProcess::Wait(double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (Running() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (Running()) {
    kill(-pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
    reaped_ = true;
    return -1;
  }
  return status_;
}

int ChildProcess::Stop(int signal, double seconds) {
  if (Running()) kill(pid_, signal);
  return Wait(seconds);
}

int RunProgram(const std::vector<std::string> &argv, std::string &output, double seconds,
               const std::vector<std::string> &environment) {
  TempDir dir;
  int status;
  {
    ChildProcess child(argv, dir.File("output"), environment);
    if (!child.Started()) {
      output = child.Problem();
      return -1;
    }
    status = child.Wait(seconds);
  }
  output = ReadFile(dir.File("output"));
  return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testing_support
