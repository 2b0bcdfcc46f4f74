#include "shield/ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char **environ;

namespace host {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kOutputKept = 4096;

bool IsExecutableFile(const std::string &path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         access(path.c_str(), X_OK) == 0;
}

// The program's path, or empty when no directory searched holds it. Services often run with a
// PATH without the sbin directories where nginx and nft live, so those come last.
std::string FindProgram(const std::string &name) {
  if (name.find('/') != std::string::npos) return name;
  const char *path = std::getenv("PATH");
  std::string directories = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  directories += ":/usr/sbin:/sbin";
  size_t start = 0;
  while (start <= directories.size()) {
    size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    std::string directory = directories.substr(start, end - start);
    if (directory.empty()) directory = ".";
    std::string candidate = directory + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return "";
}

std::string VariableName(const std::string &entry) {
  return entry.substr(0, entry.find('='));
}

// This process's environment with `extra` laid over it.
std::vector<std::string> MergedEnvironment(const std::vector<std::string> &extra) {
  std::vector<std::string> merged;
  for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string inherited = *entry;
    bool overridden = false;
    for (const std::string &own : extra) overridden |= VariableName(own) == VariableName(inherited);
    if (!overridden) merged.push_back(std::move(inherited));
  }
  merged.insert(merged.end(), extra.begin(), extra.end());
  return merged;
}

std::vector<char *> Pointers(const std::vector<std::string> &texts) {
  std::vector<char *> pointers;
  for (const std::string &text : texts) pointers.push_back(const_cast<char *>(text.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

std::string CommandText(const std::vector<std::string> &argv) {
  std::string text;
  for (const std::string &word : argv) text += (text.empty() ? "" : " ") + word;
  if (text.size() > 80) text = text.substr(0, 77) + "...";
  return "'" + text + "'";
}

// A line of output as it may be said: control bytes, which could steer a terminal, as '?'.
std::string Printable(std::string_view line) {
  std::string printable(line);
  for (char &c : printable) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) c = '?';
  }
  return printable;
}

std::string FirstLine(const std::string &output) {
  size_t start = output.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return "";
  size_t end = output.find_first_of("\r\n", start);
  std::string line = Printable(output.substr(start, end == std::string::npos ? end : end - start));
  return line.size() > 300 ? line.substr(0, 297) + "..." : line;
}

// SIGPIPE from writing to a program that has stopped reading must not end flowdeck: it is
// blocked on this thread while the program runs and swallowed if it came.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
  }
  ~SigpipeBlock() {
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE) == 1) {
      timespec none{0, 0};
      sigtimedwait(&pipe_, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SigpipeBlock(const SigpipeBlock &) = delete;
  SigpipeBlock &operator=(const SigpipeBlock &) = delete;

 private:
  sigset_t pipe_, previous_;
};

void CloseOnce(int &fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// One started program: feeds its input, keeps the start of its output and waits for its end.
class Child {
 public:
  Child(pid_t pid, int input, int output, std::string_view text)
      : pid_(pid), input_(input), output_(output), text_(text) {
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    fcntl(input_, F_SETFL, O_NONBLOCK);
    fcntl(output_, F_SETFL, O_NONBLOCK);
    if (text_.empty()) CloseOnce(input_);
  }
  ~Child() {
    CloseOnce(input_);
    CloseOnce(output_);
    CloseOnce(pidfd_);
  }
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;

  // Waits until the program exits or the deadline passes; false when it had to be killed.
  bool Wait(Clock::time_point deadline) {
    while (!Exited()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) {
        kill(-pid_, SIGKILL);
        while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
        Drain();
        return false;
      }
      PollOnce(pidfd_ >= 0 ? static_cast<int>(left.count()) : 10);
    }
    Drain();
    return true;
  }

  int Status() const { return status_; }
  const std::string &Output() const { return kept_; }
  bool OutputCut() const { return cut_; }

 private:
  bool Exited() { return waitpid(pid_, &status_, WNOHANG) == pid_; }

  void PollOnce(int milliseconds) {
    pollfd watched[3];
    nfds_t count = 0;
    if (output_ >= 0) watched[count++] = {output_, POLLIN, 0};
    if (input_ >= 0) watched[count++] = {input_, POLLOUT, 0};
    if (pidfd_ >= 0) watched[count++] = {pidfd_, POLLIN, 0};
    if (poll(watched, count, milliseconds) <= 0) return;
    for (nfds_t i = 0; i < count; ++i) {
      if (watched[i].revents == 0) continue;
      if (watched[i].fd == output_) ReadOutput();
      if (watched[i].fd == input_) WriteInput();
    }
  }

  void ReadOutput() {
    char buffer[4096];
    ssize_t n = read(output_, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) CloseOnce(output_);
    if (n <= 0) return;
    const size_t room = kOutputKept - kept_.size();
    if (static_cast<size_t>(n) > room) cut_ = true;
    kept_.append(buffer, std::min(static_cast<size_t>(n), room));
  }

  void WriteInput() {
    ssize_t n = write(input_, text_.data() + written_, text_.size() - written_);
    if (n < 0 && errno != EAGAIN && errno != EINTR) CloseOnce(input_);
    if (n > 0) written_ += static_cast<size_t>(n);
    if (written_ == text_.size()) CloseOnce(input_);
  }

  // What is left in the pipe once the program has ended; a grandchild that keeps the pipe
  // open must not hold us, so this never waits.
  void Drain() {
    for (int rounds = 0; output_ >= 0 && rounds < 64; ++rounds) ReadOutput();
  }

  pid_t pid_;
  int input_, output_, pidfd_ = -1;
  std::string_view text_;
  size_t written_ = 0;
  int status_ = 0;
  std::string kept_;
  bool cut_ = false;
};

// How the program ended, without its output; empty when it exited with 0.
std::string Ending(const std::vector<std::string> &argv, int status) {
  if (WIFEXITED(status)) {
    if (WEXITSTATUS(status) == 0) return "";
    return CommandText(argv) + " exited with status " + std::to_string(WEXITSTATUS(status));
  }
  if (WIFSIGNALED(status)) {
    return CommandText(argv) + " was ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
           strsignal(WTERMSIG(status)) + ")";
  }
  return CommandText(argv) + " ended in an unknown way";
}

// The output's lines that hold anything, each trimmed, joined by " | ".
std::string JoinedLines(const std::string &output, bool cut) {
  std::string joined;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string_view line = std::string_view(output).substr(start, end - start);
    const size_t first = line.find_first_not_of(" \t\r");
    if (first != std::string_view::npos) {
      const size_t last = line.find_last_not_of(" \t\r");
      joined += (joined.empty() ? "" : " | ") + Printable(line.substr(first, last - first + 1));
    }
    start = end + 1;
  }
  if (cut) joined += " ...";
  return joined;
}

}  // namespace

ProcessOutcome ProcessRunner::Run(const std::vector<std::string> &argv,
                                  const std::vector<std::string> &environment,
                                  std::string_view input) const {
  ProcessOutcome outcome;
  if (argv.empty() || argv[0].empty()) {
    outcome.problem = "no program to run";
    return outcome;
  }
  const std::string program = FindProgram(argv[0]);
  if (program.empty()) {
    outcome.problem = "cannot run " + CommandText(argv) + ": '" + argv[0] + "' is not on PATH";
    return outcome;
  }
  const std::vector<std::string> variables = MergedEnvironment(environment);
  std::vector<char *> args = Pointers(argv), env = Pointers(variables);

  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) {
    outcome.problem = std::string("cannot make a pipe: ") + std::strerror(errno);
    return outcome;
  }
  if (pipe2(out, O_CLOEXEC) != 0) {
    outcome.problem = std::string("cannot make a pipe: ") + std::strerror(errno);
    close(in[0]);
    close(in[1]);
    return outcome;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
  // Descriptors that others opened without close-on-exec (a plug-in's files) stay ours.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  SigpipeBlock sigpipe;
  const auto deadline = Clock::now() + limit_;
  pid_t pid = -1;
  const int spawned =
      posix_spawn(&pid, program.c_str(), &actions, &attributes, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(in[0]);
  close(out[1]);
  if (spawned != 0) {
    close(in[1]);
    close(out[0]);
    outcome.problem = "cannot run " + CommandText(argv) + ": " + std::strerror(spawned);
    return outcome;
  }
  outcome.started = true;
  Child child(pid, in[1], out[0], input);
  const bool ended = child.Wait(deadline);
  outcome.output = child.Output();
  outcome.outputCut = child.OutputCut();
  if (!ended) {
    outcome.timedOut = true;
    outcome.failure = CommandText(argv) + " was still running after " +
                      std::to_string(limit_.count()) + " ms and was killed";
    outcome.problem = outcome.failure;
    return outcome;
  }
  if (WIFEXITED(child.Status())) outcome.exitStatus = WEXITSTATUS(child.Status());
  outcome.failure = Ending(argv, child.Status());
  const std::string line = FirstLine(outcome.output);
  outcome.problem =
      outcome.failure.empty() || line.empty() ? outcome.failure : outcome.failure + ": " + line;
  return outcome;
}

std::string ProcessOutcome::WholeProblem() const {
  if (Succeeded()) return "";
  // A program that never ran has no output and no failure apart from its problem.
  const std::string &how = failure.empty() ? problem : failure;
  const std::string lines = JoinedLines(output, outputCut);
  return lines.empty() ? how : how + ": " + lines;
}

}  // namespace host
