// A farm larger than one flowdeck: two flowdeck instances, each listening for syslog, and two
// nginx servers that split their visitors between them with split_clients on the client
// address, one access_log syslog: per instance. Each visitor is seen whole by exactly one.
#include <arpa/inet.h>
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

// A UDP (or TCP) port on 127.0.0.1 that was free a moment ago.
int FreeUdpPort(int type = SOCK_DGRAM) {
  const int fd = socket(AF_INET, type, 0);
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

// Syslog from the web servers that may send it, and from anyone else who can reach the port.

// A socket from `from` connected to 127.0.0.1:port, or -1.
int ConnectedFrom(int type, int port, const char *from = "127.0.0.1") {
  const int fd = socket(AF_INET, type, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, from, &address.sin_addr);
  if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  address.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendLine(int fd, const std::string &visitor) {
  const std::string line = "<190>Dec  9 10:00:00 web1 nginx: " + visitor +
                           " - - [09/Dec/2026:10:00:00 +0000] \"GET /page HTTP/1.1\" 200 5 \"-\" "
                           "\"curl/8\"\n";
  return send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
}

// A sample of the run's metrics file, or -1 while it has none.
double Metric(const std::string &out, const std::string &sample) {
  const std::string text = ReadFile(out + "/flowdeck.prom");
  const size_t at = text.find("\n" + sample + " ");
  return at == std::string::npos ? -1 : std::stod(text.substr(at + sample.size() + 2));
}

// Waits up to 20 s for a sample to reach `value`; gives the last value seen.
double AwaitMetric(const std::string &out, const std::string &sample, double value) {
  double seen = -1;
  for (int i = 0; i < 200 && (seen = Metric(out, sample)) < value; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return seen;
}

std::unique_ptr<testing_support::ChildProcess> Follow(const testing_support::TempDir &dir,
                                                      const std::string &settings,
                                                      const std::vector<std::string> &listen,
                                                      const std::vector<std::string> &before = {}) {
  const std::string out = dir.File("out");
  testing_support::WriteFile(out + ".conf", "Server = 127.0.0.92\n" + settings);
  std::vector<std::string> argv = before;
  for (const std::string &arg :
       {std::string(FLOWDECK_BIN), std::string("follow"), std::string("--quiet"),
        std::string("--cycle"), std::string("1"), std::string("--config"), out + ".conf",
        std::string("--out"), out, std::string("--plugin"), std::string(FLOWDECK_PLUGIN_DIR),
        std::string("--tripwires"), std::string(FLOWDECK_EXAMPLES "/tripwires.cfg")}) {
    argv.push_back(arg);
  }
  for (const std::string &endpoint : listen) {
    argv.push_back("--listen");
    argv.push_back(endpoint);
  }
  return std::make_unique<testing_support::ChildProcess>(argv, out + ".output");
}

TEST(FarmCommand, IdleConnectionsNeitherEndFollowNorShutOutASender) {
  const int kIdle = 1100;
  // The default bound, and one beyond what the open-file limit of 1024 allows.
  for (const std::string settings : {"", "SyslogMaxConnections = 65536\n"}) {
    SCOPED_TRACE(settings);
    testing_support::TempDir dir;
    const std::string out = dir.File("out");
    const int port = FreeUdpPort(SOCK_STREAM);
    auto flowdeck = Follow(dir, settings, {"tcp://127.0.0.1:" + std::to_string(port)},
                           {"prlimit", "--nofile=1024:", "--"});
    ASSERT_TRUE(flowdeck->Started()) << flowdeck->Problem();
    std::vector<int> idle;
    for (int i = 0; i < 100 && idle.empty(); ++i) {
      if (const int fd = ConnectedFrom(SOCK_STREAM, port); fd >= 0) {
        idle.push_back(fd);
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
    ASSERT_FALSE(idle.empty()) << ReadFile(out + ".output");
    while (idle.size() < kIdle) {
      const int fd = ConnectedFrom(SOCK_STREAM, port);
      ASSERT_GE(fd, 0) << idle.size() << " connected";
      idle.push_back(fd);
    }
    const int sender = ConnectedFrom(SOCK_STREAM, port);
    ASSERT_GE(sender, 0);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(SendLine(sender, "198.51.100." + std::to_string(i)));
    EXPECT_EQ(AwaitMetric(out, "flowdeck_lines_read_total", 5), 5) << ReadFile(out + ".output");
    EXPECT_GT(Metric(out, "flowdeck_syslog_refused_total{cause=\"connections\"}"), 0);
    EXPECT_LE(Metric(out, "flowdeck_syslog_connections"), 1024 - 128);
    EXPECT_TRUE(flowdeck->Running()) << ReadFile(out + ".output");
    const int status = flowdeck->Stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(out + ".output");
    EXPECT_EQ(settings.empty(), ReadFile(out + ".output").find("LimitNOFILE") == std::string::npos)
        << ReadFile(out + ".output");
    for (int fd : idle) close(fd);
    close(sender);
  }
}

TEST(FarmCommand, ASenderOutsideSyslogSendersIsNotHeardTillAReloadListsIt) {
  testing_support::TempDir dir;
  const std::string out = dir.File("out");
  const int udpPort = FreeUdpPort(), tcpPort = FreeUdpPort(SOCK_STREAM);
  auto flowdeck = Follow(
      dir, "SyslogSenders = 127.0.0.1\n",
      {"udp://127.0.0.1:" + std::to_string(udpPort), "tcp://127.0.0.1:" + std::to_string(tcpPort)});
  ASSERT_TRUE(flowdeck->Started()) << flowdeck->Problem();
  int tcp = -1;
  for (int i = 0; i < 100 && (tcp = ConnectedFrom(SOCK_STREAM, tcpPort, "127.0.0.3")) < 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_GE(tcp, 0) << ReadFile(out + ".output");
  const int udp = ConnectedFrom(SOCK_DGRAM, udpPort, "127.0.0.3");
  SendLine(tcp, "198.51.100.1");  // closed unread: the line may not even be taken
  ASSERT_TRUE(SendLine(udp, "198.51.100.2"));
  const int listed = ConnectedFrom(SOCK_DGRAM, udpPort);
  ASSERT_TRUE(SendLine(listed, "198.51.100.3"));
  EXPECT_EQ(AwaitMetric(out, "flowdeck_syslog_refused_total{cause=\"sender\"}", 2), 2)
      << ReadFile(out + ".output");
  EXPECT_EQ(AwaitMetric(out, "flowdeck_lines_read_total", 1), 1);
  // Listed at a reload, the same sender is heard.
  testing_support::WriteFile(out + ".conf", "Server = 127.0.0.92\nSyslogSenders = 127.0.0.0/8\n");
  kill(flowdeck->Pid(), SIGHUP);
  for (int i = 0; i < 100 && ReadFile(out + ".output").find("reloaded") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  // The listener takes the new list up before its next poll.
  for (int i = 0; i < 50 && Metric(out, "flowdeck_lines_read_total") < 2; ++i) {
    ASSERT_TRUE(SendLine(udp, "198.51.100.4"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  EXPECT_GE(AwaitMetric(out, "flowdeck_lines_read_total", 2), 2) << ReadFile(out + ".output");
  const int status = flowdeck->Stop(SIGTERM);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(out + ".output");
  for (int fd : {tcp, udp, listed}) close(fd);
}

}  // namespace
