#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace testing_support {

// A real dnsmasq of the test's own on a free port of 127.0.0.1, answering only the records the
// test gives it: no upstream servers, no /etc/hosts, no configuration file of the machine's.
// It runs in the foreground and is stopped when the object goes.
class DnsServer {
 public:
  DnsServer();
  ~DnsServer();
  DnsServer(const DnsServer &) = delete;
  DnsServer &operator=(const DnsServer &) = delete;

  // Before Start: the reverse name of an address (PTR), and the address of a name (A or AAAA;
  // dnsmasq adds the matching PTR record too).
  void AddReverse(const std::string &address, const std::string &name);
  void AddHost(const std::string &name, const std::string &address);

  // False, with Problem() saying why, when dnsmasq did not come up.
  bool Start();
  void Stop();
  const std::string &Problem() const { return problem_; }

  int Port() const { return port_; }
  // The Resolver setting that points at it.
  std::string Resolver() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string LogPath() const { return dir_.File("dnsmasq.log"); }

  // Whether dnsmasq is installed here.
  static bool Available();
  // "1.66.249.66.in-addr.arpa", or the nibble form under ip6.arpa.
  static std::string ReverseName(const std::string &address);

 private:
  TempDir dir_;
  int port_ = -1;
  std::vector<std::string> records_;
  std::unique_ptr<ChildProcess> process_;
  std::string problem_;
};

}  // namespace testing_support
