// A farm larger than one flowdeck: two flowdeck instances, each listening for syslog, and two
// nginx servers that split their visitors between them with split_clients on the client
// address, one access_log syslog: per instance. Each visitor is seen whole by exactly one.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/ChildProcess.h"
#include "support/HttpClient.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace {

using testing_support::ReadFile;

// A UDP port on 127.0.0.1 that was free a moment ago.
int FreeUdpPort() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(fd, reinterpret_cast<sockaddr *>(&address), size);
  getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

// The number of requests the snapshot holds for a visitor, or 0 when it holds none of it.
int RequestsOf(const std::string &snapshot, const std::string &address) {
  const size_t user = snapshot.find("REMADR=\"" + address + "\"");
  if (user == std::string::npos) return 0;
  const size_t at = snapshot.find("REQS=\"", user) + 6;
  return std::stoi(snapshot.substr(at, snapshot.find('"', at) - at));
}

TEST(FarmCommand, SplitClientsGivesEachVisitorWholeToOneFlowdeck) {
  if (!testing_support::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  testing_support::TempDir dir;
  const int ports[2] = {FreeUdpPort(), FreeUdpPort()};
  std::vector<std::unique_ptr<testing_support::ChildProcess>> flowdecks;
  for (int i = 0; i < 2; ++i) {
    const std::string out = dir.File("out" + std::to_string(i));
    // Each instance asks for its shields on an address of its own.
    testing_support::WriteFile(out + ".conf", "Server = 127.0.0." + std::to_string(90 + i) + "\n");
    flowdecks.push_back(std::make_unique<testing_support::ChildProcess>(
        std::vector<std::string>{
            FLOWDECK_BIN, "follow", "--quiet", "--cycle", "1", "--config", out + ".conf", "--out",
            out, "--plugin", FLOWDECK_PLUGIN_DIR, "--tripwires", FLOWDECK_EXAMPLES "/tripwires.cfg",
            "--listen", "udp://127.0.0.1:" + std::to_string(ports[i]), "--server-name-from", "tag"},
        out + ".output"));
    ASSERT_TRUE(flowdecks.back()->Started()) << flowdecks.back()->Problem();
  }
  const std::string http =
      "  split_clients \"${remote_addr}\" $first_half { 50% 1; * \"\"; }\n"
      "  map $first_half $second_half { \"\" 1; default \"\"; }";
  auto split = [&](const std::string &tag) {
    return "    access_log syslog:server=127.0.0.1:" + std::to_string(ports[0]) + ",tag=" + tag +
           " combined if=$first_half;\n    access_log syslog:server=127.0.0.1:" +
           std::to_string(ports[1]) + ",tag=" + tag + " combined if=$second_half;";
  };
  testing_support::NginxServer web1(http, split("web1")), web2(http, split("web2"));
  ASSERT_TRUE(web1.Start()) << web1.Problem();
  ASSERT_TRUE(web2.Start()) << web2.Problem();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // both flowdecks listening
  const int kVisitors = 16;
  for (int v = 0; v < kVisitors; ++v) {
    for (const testing_support::NginxServer *web : {&web1, &web2}) {
      const auto response = testing_support::HttpGet("127.0.0." + std::to_string(20 + v),
                                                     web->Port(), "shop.example", "/page");
      ASSERT_NE(response.status, 0) << response.problem;
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // a cycle after the last line
  std::string snapshots[2];
  for (int i = 0; i < 2; ++i) {
    const int status = flowdecks[i]->Stop(SIGTERM);
    const std::string out = dir.File("out" + std::to_string(i));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(out + ".output");
    snapshots[i] = ReadFile(out + "/KvCorvane.xml");
  }
  int seenByFirst = 0;
  for (int v = 0; v < kVisitors; ++v) {
    const std::string address = "127.0.0." + std::to_string(20 + v);
    const int first = RequestsOf(snapshots[0], address), second = RequestsOf(snapshots[1], address);
    EXPECT_TRUE((first == 2 && second == 0) || (first == 0 && second == 2))
        << address << ": " << first << " and " << second
        << " requests; each visitor whole (from both servers) at exactly one flowdeck";
    seenByFirst += first > 0;
  }
  EXPECT_GT(seenByFirst, 0);
  EXPECT_LT(seenByFirst, kVisitors) << "both halves have visitors";
}

}  // namespace
