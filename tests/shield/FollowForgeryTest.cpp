// Somebody other than the shield plug-in tries to aim flowdeck, end to end with a real nginx: by
// the shield port (the documented path without the key, another path, a guessed key), by a
// forged fetch through a web application on the machine (the request reaches nginx from
// 127.0.0.1 and stands in its log), and by holding the shield port with a sender that sends a
// byte now and then and never ends its line. None of them acts; the run reads its log and
// cycles all along, and the script on the tripwire is deflected on time.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "FollowProcess.h"
#include "ShieldTesting.h"
#include "VisitorTraffic.h"
#include "support/HttpClient.h"
#include "support/NginxServer.h"
#include "support/Port80.h"
#include "support/TempDir.h"

namespace {

using shield_testing::FollowProcess;
using shield_testing::ShieldRequestTarget;
using shield_testing::WaitUntil;
using testing_support::ReadFile;

constexpr const char *kScript = "127.0.0.66";
constexpr const char *kVictim = "127.0.0.67";

// Holds connections to the shield port, a byte every 150 ms and never a line end, connecting
// again whenever flowdeck closes one.
class SlowSender {
 public:
  SlowSender() : thread_([this] { Run(); }) {}
  ~SlowSender() {
    stop_ = true;
    thread_.join();
  }
  int Connections() const { return connections_; }

 private:
  void Run() {
    while (!stop_) {
      const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(80);
      inet_pton(AF_INET, shield_testing::kShieldServer, &address.sin_addr);
      if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
        ++connections_;
        while (!stop_ && send(fd, "G", 1, MSG_NOSIGNAL) == 1) usleep(150000);
      }
      close(fd);
      usleep(50000);
    }
  }

  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

TEST(FollowForgery, NobodyButThePluginAimsFlowdeckAndNobodyHoldsItUp) {
  if (!testing_support::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  testing_support::Port80 port80;
  if (!port80.NothingListens(shield_testing::kShieldServer))
    GTEST_SKIP() << "port 80 cannot be bound here";
  testing_support::NginxServer nginx;
  const std::string map = shield_testing::UseShieldSnippets(nginx);
  for (const char *page : {"/index.html", "/admin/login.php"}) nginx.WritePage(page, "real");
  nginx.WritePage("/sorry/login.htm", "deflected");
  testing_support::TempDir dir;
  FollowProcess follow(dir.Path(),
                       "ShieldSeconds = 600\nNeverShield =\nPeriodBase = 14\nNginxMapFile = " +
                           map + "\nNginxReload = " + nginx.ReloadCommand() + "\n",
                       {nginx.AccessLog()});
  ASSERT_TRUE(follow.Start()) << follow.Output();
  ASSERT_TRUE(WaitUntil([&] { return testing_support::FileExists(map); }, 10));
  ASSERT_TRUE(nginx.Start()) << nginx.Problem();

  SlowSender slow;
  const std::string asked =
      ShieldRequestTarget(kVictim, "shop.test", "/index.html", "/sorry/login.htm");
  const std::string query = asked.substr(asked.find("&B="));
  for (const std::string &target :
       {asked, "/x?B=" + std::string(kVictim) + "&D=shop.test&E=/index.html&F=/sorry/login.htm",
        "/flowdeck/shield?A=add&K=00112233445566778899aabbccddeeff" + query}) {
    ASSERT_TRUE(shield_testing::SendShieldRequest(target)) << target;
  }
  // A web application made to fetch the shield path: nginx answers it, and logs it from here.
  testing_support::HttpGet("127.0.0.1", nginx.Port(), "shop.test", asked);

  shield_testing::VisitorTraffic traffic(nginx.Port(), "shop.test");
  traffic.AddSteady(kScript, {"/admin/login.php"});
  traffic.Start();
  double written = 0;
  int cyclesSeen = 0;
  ASSERT_TRUE(WaitUntil(
      [&] {
        const double now = follow.Metric("flowdeck_metrics_time_seconds");
        if (now > written) ++cyclesSeen;
        written = std::max(written, now);
        return ReadFile(map).find(kScript) != std::string::npos;
      },
      30))
      << ReadFile(map) << follow.Output() << follow.Events();
  EXPECT_TRUE(WaitUntil(
      [&] { return follow.Output().find("shield: 127.0.0.66 on shop.test") != std::string::npos; },
      1))
      << "said as it happens, with standard output a file\n"
      << follow.Output();
  traffic.Stop();
  EXPECT_GE(cyclesSeen, 3) << "the metrics moved on every cycle while the slow sender held on";
  EXPECT_GE(slow.Connections(), 2) << "its connections were closed in time";
  EXPECT_TRUE(WaitUntil(
      [&] {
        return testing_support::PageSeen(kScript, nginx.Port(), "shop.test", "/admin/login.php") ==
               "deflected";
      },
      5));
  EXPECT_EQ(testing_support::PageSeen(kVictim, nginx.Port(), "shop.test", "/index.html"), "real");
  EXPECT_EQ(ReadFile(map).find(kVictim), std::string::npos) << ReadFile(map);

  EXPECT_EQ(follow.Metric("flowdeck_shield_requests_forged_total{route=\"shield_port\"}"), 3);
  EXPECT_EQ(follow.Metric("flowdeck_shield_requests_forged_total{route=\"web_server_log\"}"), 1);
  EXPECT_GE(follow.Metric("flowdeck_shield_connections_dropped_total{cause=\"slow\"}"), 1);
  ASSERT_TRUE(follow.Stop()) << follow.Output();
  const std::string events = follow.Events();
  EXPECT_NE(events.find(" forged web-server-log 127.0.0.67 shop.test /index.html -> "
                        "/sorry/login.htm (from 127.0.0.1, without the shield route's key)"),
            std::string::npos)
      << events;
  EXPECT_NE(events.find(" forged shield-port 127.0.0.67 shop.test /index.html -> "),
            std::string::npos)
      << events;
  EXPECT_NE(events.find(" raise regularity 127.0.0.66 shop.test /admin/login.php"),
            std::string::npos)
      << events;
  EXPECT_EQ(events.find(" raise regularity 127.0.0.67"), std::string::npos) << events;
}

}  // namespace
