#include "support/DnsServer.h"

#include <arpa/inet.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/HttpClient.h"

namespace testing_support {

namespace {

const char *kDnsmasq = "/usr/sbin/dnsmasq";

}  // namespace

DnsServer::DnsServer() = default;

DnsServer::~DnsServer() {
  Stop();
}

bool DnsServer::Available() {
  return access(kDnsmasq, X_OK) == 0;
}

std::string DnsServer::ReverseName(const std::string &address) {
  unsigned char bytes[16];
  std::string name;
  if (inet_pton(AF_INET, address.c_str(), bytes) == 1) {
    for (int i = 3; i >= 0; --i) name += std::to_string(bytes[i]) + ".";
    return name + "in-addr.arpa";
  }
  if (inet_pton(AF_INET6, address.c_str(), bytes) != 1) return "";
  for (int i = 15; i >= 0; --i) {
    name += "0123456789abcdef"[bytes[i] & 15];
    name += '.';
    name += "0123456789abcdef"[bytes[i] >> 4];
    name += '.';
  }
  return name + "ip6.arpa";
}

void DnsServer::AddReverse(const std::string &address, const std::string &name) {
  records_.push_back("--ptr-record=" + ReverseName(address) + "," + name);
}

void DnsServer::AddHost(const std::string &name, const std::string &address) {
  records_.push_back("--host-record=" + name + "," + address);
}

bool DnsServer::Start() {
  // The port was free for TCP a moment ago; dnsmasq also needs it for UDP, so a clash is tried
  // again on another.
  for (int attempt = 0; attempt < 3; ++attempt) {
    port_ = FreeLoopbackPort();
    std::vector<std::string> command = {kDnsmasq,
                                        "--keep-in-foreground",
                                        "--conf-file=/dev/null",
                                        "--no-resolv",
                                        "--no-hosts",
                                        "--port=" + std::to_string(port_),
                                        "--listen-address=127.0.0.1",
                                        "--bind-interfaces",
                                        "--pid-file=",
                                        "--log-queries",
                                        "--log-facility=" + LogPath(),
                                        "--user=root"};
    command.insert(command.end(), records_.begin(), records_.end());
    process_ = std::make_unique<ChildProcess>(command, dir_.File("console.log"));
    if (!process_->Started()) {
      problem_ = process_->Problem();
      return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline && process_->Running()) {
      if (CanConnect("127.0.0.1", "127.0.0.1", port_, 200)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    problem_ = "dnsmasq did not come up on port " + std::to_string(port_) + ": " +
               ReadFile(dir_.File("console.log")) + ReadFile(LogPath());
    Stop();
  }
  return false;
}

void DnsServer::Stop() {
  if (process_) process_->Stop(SIGTERM, 10);
  process_.reset();
}

}  // namespace testing_support
