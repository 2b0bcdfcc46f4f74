#include "support/WebServer.h"

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "support/HttpClient.h"

namespace testing_support {

WebServer::WebServer() : port_(FreeLoopbackPort()) {
  // Workers of a server started as root run as another user: they must read the root.
  chmod(dir_.Path().c_str(), 0755);
  std::filesystem::create_directories(dir_.File("logs"));
  std::filesystem::create_directories(Root());
  chmod(Root().c_str(), 0755);
}

WebServer::~WebServer() = default;

void WebServer::WritePage(const std::string &path, const std::string &content) const {
  const std::filesystem::path file = Root() + path;
  for (std::filesystem::path dir = file.parent_path(); dir.string().size() > Root().size();
       dir = dir.parent_path()) {
    std::filesystem::create_directories(dir);
    chmod(dir.c_str(), 0755);
  }
  WriteFile(file.string(), content);
  chmod(file.c_str(), 0644);
}

bool WebServer::Start() {
  WriteConfiguration();
  process_ = std::make_unique<ChildProcess>(ForegroundCommand(), File("logs/console.log"));
  if (!process_->Started()) {
    problem_ = process_->Problem();
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    // The main process listens before it starts its workers: a test that takes the workers
    // as they are now, to wait for new ones after a reload, must find the first ones there.
    if (CanConnect("127.0.0.1", "127.0.0.1", port_, 200) && !Workers().empty()) return true;
    if (!process_->Running()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  problem_ = "the server did not come up on port " + std::to_string(port_) + ": " +
             ReadFile(File("logs/console.log")) + ReadFile(ErrorLog());
  Stop();
  return false;
}

std::vector<pid_t> WebServer::Workers() const {
  std::vector<pid_t> workers;
  if (!process_) return workers;
  const std::string pid = std::to_string(process_->Pid());
  std::istringstream children(ReadFile("/proc/" + pid + "/task/" + pid + "/children"));
  for (pid_t child; children >> child;) workers.push_back(child);
  return workers;
}

bool WebServer::WaitForNewWorkers(const std::vector<pid_t> &old, double seconds) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    const std::vector<pid_t> now = Workers();
    const bool replaced = !now.empty() && std::none_of(now.begin(), now.end(), [&](pid_t pid) {
      return std::find(old.begin(), old.end(), pid) != old.end();
    });
    if (replaced) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void WebServer::Stop() {
  if (process_) process_->Stop(SIGTERM, 15);
  process_.reset();
}

}  // namespace testing_support
