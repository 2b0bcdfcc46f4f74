// nginx sending its access lines by syslog, with and without its host name, to a listener.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "VisitChecks.h"
#include "input/LogFormat.h"
#include "input/SyslogSource.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace {

using namespace input_testing;

constexpr const char *kFormat =
    R"($remote_addr - $remote_user [$time_local] "$request" $status $body_bytes_sent )"
    R"("$http_referer" "$http_user_agent" "$http_x_forwarded_for")";

TEST(NginxSyslog, TheLinesOfEveryServerArriveWithTheirTag) {
  host::LineStats stats;
  host::LineReader reader(host::LogFormat::Compile(kFormat), host::RealClient(), stats);
  std::atomic<bool> stop{false};
  host::SyslogSource source({host::SyslogReceiver::Endpoint::Parse("udp://127.0.0.1:0")}, reader,
                            stop, true);
  const std::string server = "server=127.0.0.1:" + std::to_string(source.Port(0));
  // Two servers of a farm in one: each request is logged twice, once with the host name.
  testing_support::NginxServer nginx(std::string("  log_format custom '") + kFormat + "';",
                                     "    access_log syslog:" + server +
                                         ",tag=web1 custom;\n    access_log syslog:" + server +
                                         ",tag=web2,nohostname custom;");
  ASSERT_TRUE(nginx.Start()) << nginx.Problem();
  const std::vector<Visit> visits = SampleVisits();
  for (const Visit &visit : visits) {
    ASSERT_TRUE(
        HttpExchange(visit.source, nginx.Port(), HttpRequest(visit)).starts_with("HTTP/1.1 "));
  }
  std::map<std::string, std::string> seen;  // "tag client" -> "method target agent"
  for (int i = 0; i < 100 && seen.size() < 2 * visits.size(); ++i) {
    source.Wait(source.Now().local + 0.1 / 86400);
    host::SourceLine line;
    while (source.Next(line)) {
      const host::LogRecord &r = *line.record;
      seen[std::string(line.serverName) + " " + std::string(r.client)] =
          std::string(r.method) + " " + std::string(r.target) + " " + std::string(r.userAgent);
    }
  }
  for (const Visit &visit : visits) {
    const std::string sent = visit.method + " " + visit.path +
                             (visit.query.empty() ? "" : "?" + visit.query) + " " + visit.agent;
    EXPECT_EQ(seen["web1 " + visit.source], sent);
    EXPECT_EQ(seen["web2 " + visit.source], sent);
  }
  EXPECT_EQ(stats.malformed, 0u);
  EXPECT_EQ(source.Counts().notSyslog, 0u);
  EXPECT_EQ(source.Counts().messages, 2 * visits.size());
}

// A farm larger than one flowdeck: every web server splits its visitors by nginx's own
// split_clients on the client address and logs each half to one listener, so that each
// visitor is seen whole (from every server) by exactly one.
TEST(NginxSyslog, SplitClientsSendsEachVisitorWholeToOneListener) {
  host::LineStats stats;
  host::LineReader reader(host::LogFormat::Compile(kFormat), host::RealClient(), stats);
  std::atomic<bool> stop{false};
  std::vector<std::unique_ptr<host::SyslogSource>> listeners;
  for (int i = 0; i < 2; ++i) {
    listeners.push_back(std::make_unique<host::SyslogSource>(
        std::vector{host::SyslogReceiver::Endpoint::Parse("udp://127.0.0.1:0")}, reader, stop,
        true));
  }
  const std::string http = std::string("  log_format custom '") + kFormat +
                           "';\n"
                           "  split_clients \"${remote_addr}\" $first_half { 50% 1; * \"\"; }\n"
                           "  map $first_half $second_half { \"\" 1; default \"\"; }";
  auto split = [&](const std::string &tag) {
    return "    access_log syslog:server=127.0.0.1:" + std::to_string(listeners[0]->Port(0)) +
           ",tag=" + tag + " custom if=$first_half;\n    access_log syslog:server=127.0.0.1:" +
           std::to_string(listeners[1]->Port(0)) + ",tag=" + tag + " custom if=$second_half;";
  };
  testing_support::NginxServer web1(http, split("web1")), web2(http, split("web2"));
  ASSERT_TRUE(web1.Start()) << web1.Problem();
  ASSERT_TRUE(web2.Start()) << web2.Problem();
  const int kVisitors = 24;
  for (int v = 0; v < kVisitors; ++v) {
    Visit visit = SampleVisits()[0];
    visit.source = "127.0.0." + std::to_string(20 + v);
    for (const testing_support::NginxServer *server : {&web1, &web2}) {
      ASSERT_TRUE(
          HttpExchange(visit.source, server->Port(), HttpRequest(visit)).starts_with("HTTP/1.1 "));
    }
  }
  // Per listener: the servers each visitor was seen from.
  std::map<std::string, std::set<std::string>> seen[2];
  size_t lines = 0;
  for (int round = 0; round < 100 && lines < 2 * kVisitors; ++round) {
    for (int i = 0; i < 2; ++i) {
      listeners[i]->Wait(listeners[i]->Now().local + 0.05 / 86400);
      host::SourceLine line;
      while (listeners[i]->Next(line)) {
        seen[i][std::string(line.record->client)].emplace(line.serverName);
        ++lines;
      }
    }
  }
  EXPECT_EQ(lines, 2u * kVisitors);
  EXPECT_FALSE(seen[0].empty());
  EXPECT_FALSE(seen[1].empty());
  for (int v = 0; v < kVisitors; ++v) {
    const std::string address = "127.0.0." + std::to_string(20 + v);
    const bool first = seen[0].contains(address), second = seen[1].contains(address);
    EXPECT_NE(first, second) << address << " must go to exactly one listener";
    EXPECT_EQ(seen[first ? 0 : 1][address], (std::set<std::string>{"web1", "web2"})) << address;
  }
}

}  // namespace
