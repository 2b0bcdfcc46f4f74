// nginx sending its access lines by syslog, with and without its host name, to a listener.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>

#include "LogFormat.h"
#include "SyslogSource.h"
#include "VisitChecks.h"
#include "WebServers.h"
#include "support/TempDir.h"

namespace {

using namespace input_testing;

constexpr const char *kFormat =
    R"($remote_addr - $remote_user [$time_local] "$request" $status $body_bytes_sent )"
    R"("$http_referer" "$http_user_agent" "$http_x_forwarded_for")";

TEST(NginxSyslog, TheLinesOfEveryServerArriveWithTheirTag) {
  testing_support::TempDir dir;
  host::LineStats stats;
  std::atomic<bool> stop{false};
  host::SyslogSource source({host::SyslogReceiver::Endpoint::Parse("udp://127.0.0.1:0")},
                            host::LogFormat::Compile(kFormat), stats, stop, true);
  const std::string server = "server=127.0.0.1:" + std::to_string(source.Port(0));
  // Two servers of a farm in one: each request is logged twice, once with the host name.
  const NginxServer nginx(dir.Path(), std::string("  log_format custom '") + kFormat +
                                          "';\n  access_log syslog:" + server +
                                          ",tag=web1 custom;\n  access_log syslog:" + server +
                                          ",tag=web2,nohostname custom;");
  ASSERT_EQ(nginx.Problem(), "");
  const std::vector<Visit> visits = SampleVisits();
  for (const Visit &visit : visits) {
    ASSERT_TRUE(
        HttpExchange(visit.source, nginx.Port(), HttpRequest(visit)).starts_with("HTTP/1.1 200"));
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

}  // namespace
