#include "ServerProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/TempDir.h"

namespace input_testing {

namespace {

using Clock = std::chrono::steady_clock;

pid_t Spawn(const std::vector<std::string> &argv, int outputFd) {
  std::vector<char *> args;
  for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(outputFd, STDOUT_FILENO);
    dup2(outputFd, STDERR_FILENO);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

// Waits for a child up to a deadline; its exit status, or -2 when it still runs.
int WaitUntil(pid_t pid, Clock::time_point deadline) {
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0) return -1;
    if (Clock::now() >= deadline) return -2;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int Connect(const std::string &source, int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  if (!source.empty()) {
    inet_pton(AF_INET, source.c_str(), &address.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
      close(fd);
      return -1;
    }
  }
  address.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

ProgramResult RunProgram(const std::vector<std::string> &argv, int timeoutSeconds) {
  int pipeFds[2];
  ProgramResult result;
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return result;
  const pid_t pid = Spawn(argv, pipeFds[1]);
  close(pipeFds[1]);
  const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
  char buffer[4096];
  for (;;) {
    pollfd wait{pipeFds[0], POLLIN, 0};
    if (poll(&wait, 1, 100) > 0) {
      const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      result.output.append(buffer, static_cast<size_t>(n));
    }
    if (Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      result.output += "\n[killed after " + std::to_string(timeoutSeconds) + "s]";
      break;
    }
  }
  close(pipeFds[0]);
  result.status = WaitUntil(pid, Clock::now() + std::chrono::seconds(5));
  if (result.status == -2) {
    kill(pid, SIGKILL);
    result.status = WaitUntil(pid, Clock::now() + std::chrono::seconds(5));
  }
  return result;
}

ServerProcess::ServerProcess(const std::vector<std::string> &argv, const std::string &outputFile) {
  const int fd = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  pid_ = Spawn(argv, fd);
  close(fd);
}

ServerProcess::~ServerProcess() {
  Stop();
}

bool ServerProcess::Running() {
  return pid_ > 0 && WaitUntil(pid_, Clock::now()) == -2;
}

void ServerProcess::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (WaitUntil(pid_, Clock::now() + std::chrono::seconds(10)) == -2) {
    kill(pid_, SIGKILL);
    WaitUntil(pid_, Clock::now() + std::chrono::seconds(10));
  }
  pid_ = -1;
}

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  close(fd);
  return ntohs(address.sin_port);
}

bool WaitForListener(int port, int timeoutMilliseconds) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  while (Clock::now() < deadline) {
    const int fd = Connect("", port);
    if (fd >= 0) {
      close(fd);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::string HttpExchange(const std::string &source, int port, const std::string &request) {
  const int fd = Connect(source, port);
  if (fd < 0) return "";
  std::string response;
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
      static_cast<ssize_t>(request.size())) {
    char buffer[4096];
    pollfd wait{fd, POLLIN, 0};
    while (poll(&wait, 1, 5000) > 0) {
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      response.append(buffer, static_cast<size_t>(n));
    }
  }
  close(fd);
  return response;
}

bool WaitForLines(const std::string &path, size_t lines, int timeoutMilliseconds) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  for (;;) {
    const std::string content = testing_support::ReadFile(path);
    size_t count = 0;
    for (char c : content) count += c == '\n';
    if (count >= lines) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace input_testing
