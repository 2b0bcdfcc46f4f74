// Apache's own output in a custom LogFormat and in combined, read with the format strings an
// operator copies from httpd.conf.
#include <gtest/gtest.h>

#include <string>

#include "VisitChecks.h"
#include "support/ApacheServer.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace {

using namespace input_testing;
using testing_support::TempDir;

constexpr const char *kCustom =
    R"(%V:%{local}p %a %{c}a %l %u [%{%d/%b/%Y:%H:%M:%S}t.%{msec_frac}t %{%z}t] \"%m %U%q %H\" %>s )"
    R"(%b %D \"%{Referer}i\" \"%{User-Agent}i\" \"%{X-Forwarded-For}i\")";
constexpr const char *kCombined = R"(%h %l %u %t \"%r\" %>s %b \"%{Referer}i\" \"%{User-agent}i\")";

TEST(ApacheLogs, CustomAndCombinedFormatsShowTheFieldsSent) {
  TempDir dir;
  testing_support::ApacheServer apache(
      std::string("LogFormat \"") + kCustom + "\" custom\nCustomLog " + dir.File("custom.log") +
      " custom\nLogFormat \"" + kCombined + "\" combined\nCustomLog " + dir.File("combined.log") +
      " combined");
  ASSERT_TRUE(apache.Start()) << apache.Problem();
  const std::vector<Visit> visits = SampleVisits();
  for (const Visit &visit : visits) {
    ASSERT_TRUE(
        HttpExchange(visit.source, apache.Port(), HttpRequest(visit)).starts_with("HTTP/1.1"))
        << visit.path;
  }
  ASSERT_TRUE(WaitForLines(dir.File("custom.log"), visits.size(), 5000));
  ASSERT_TRUE(WaitForLines(dir.File("combined.log"), visits.size(), 5000));

  const Replay custom = RunReplay(kCustom, dir.File("custom.log"), dir.File("custom.out"));
  ASSERT_EQ(custom.status, 0) << custom.output;
  EXPECT_NE(custom.output.find("(3 requests, 0 without a request, 0 that do not parse)"),
            std::string::npos)
      << custom.output;
  for (const Visit &visit : visits)
    ExpectShown(visit, custom, visit.host, std::to_string(apache.Port()));

  // Combined names no server: the run's --server-name (localhost) and port 80 stand in.
  const Replay combined = RunReplay(kCombined, dir.File("combined.log"), dir.File("combined.out"));
  ASSERT_EQ(combined.status, 0) << combined.output;
  for (const Visit &visit : visits) ExpectShown(visit, combined, "localhost", "80");
}

}  // namespace
