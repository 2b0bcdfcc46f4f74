// nginx's own output in a custom log_format and a JSON log_format, read with the format
// strings an operator copies from nginx.conf.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "VisitChecks.h"
#include "input/LogFormat.h"
#include "input/RealClient.h"
#include "support/ApacheServer.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace {

using namespace input_testing;
using testing_support::TempDir;

constexpr const char *kCustom =
    R"($host:$server_port $remote_addr - $remote_user [$time_local] )"
    R"("$request_method $uri$is_args$args $server_protocol" $status $body_bytes_sent )"
    R"($request_time "$http_referer" "$http_user_agent" "$http_x_forwarded_for" $msec)";
constexpr const char *kJson =
    R"({"time":"$time_iso8601","addr":"$remote_addr","host":"$host","port":$server_port,)"
    R"("req":"$request","status":$status,"bytes":$body_bytes_sent,"ref":"$http_referer",)"
    R"("ua":"$http_user_agent","xff":"$http_x_forwarded_for","rt":$request_time})";

// The clients of a log's lines behind proxies of 127.0.0.0/8 and 10.0.0.0/8.
std::multiset<std::string> RealClients(const std::string &format, const std::string &path) {
  const host::LogFormat compiled = host::LogFormat::Compile(format);
  const host::RealClient real([](std::string_view address) {
    return address.starts_with("127.") || address.starts_with("10.");
  });
  std::multiset<std::string> clients;
  const std::string log = testing_support::ReadFile(path);
  for (size_t start = 0, end; start < log.size(); start = end + 1) {
    end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(start, end - start);
    host::LogRecord record;
    if (compiled.Parse(line, record) != host::ParseOutcome::kRequest) {
      clients.insert("unparsed: " + line);
      continue;
    }
    real.Apply(record);
    clients.emplace(record.client);
  }
  return clients;
}

TEST(NginxLogs, CustomAndJsonFormatsShowTheFieldsSent) {
  TempDir dir;
  testing_support::NginxServer nginx(std::string("  log_format custom '") + kCustom +
                                         "';\n  log_format json escape=json '" + kJson + "';",
                                     "    access_log " + dir.File("custom.log") +
                                         " custom;\n    access_log " + dir.File("json.log") +
                                         " json;");
  ASSERT_TRUE(nginx.Start()) << nginx.Problem();
  const std::vector<Visit> visits = SampleVisits();
  for (const Visit &visit : visits) {
    ASSERT_TRUE(
        HttpExchange(visit.source, nginx.Port(), HttpRequest(visit)).starts_with("HTTP/1.1 "))
        << visit.path;
  }
  ASSERT_TRUE(WaitForLines(dir.File("custom.log"), visits.size(), 5000));
  ASSERT_TRUE(WaitForLines(dir.File("json.log"), visits.size(), 5000));
  const std::string port = std::to_string(nginx.Port());
  for (const auto &[format, log] :
       {std::pair{kCustom, "custom.log"}, std::pair{kJson, "json.log"}}) {
    SCOPED_TRACE(log);
    const Replay replay = RunReplay(format, dir.File(log), dir.File(std::string(log) + ".out"));
    ASSERT_EQ(replay.status, 0) << replay.output;
    EXPECT_NE(replay.output.find("lines read: 3 (3 requests, 0 without a request, 0 that do "
                                 "not parse)"),
              std::string::npos)
        << replay.output;
    for (const Visit &visit : visits) ExpectShown(visit, replay, visit.host, port);

    // The chain nginx logged gives the client behind the trusted proxies; a spoofed leftmost
    // entry is never it.
    std::multiset<std::string> expected;
    for (const Visit &visit : visits) expected.insert(visit.visitor);
    EXPECT_EQ(RealClients(format, dir.File(log)), expected);
  }
}

TEST(NginxLogs, AFormatThatCannotBeCompiledIsAUsageErrorAtItsColumn) {
  TempDir dir;
  testing_support::WriteFile(dir.File("access.log"), "");
  const Replay replay = RunReplay("$remote_addr [$time_local] \"$request\" $",
                                  dir.File("access.log"), dir.File("out"));
  EXPECT_EQ(replay.status, 2);
  EXPECT_NE(replay.output.find("--log-format: column 39: a '$' without a variable name\n"
                               "  $remote_addr [$time_local] \"$request\" $\n"
                               "                                        ^"),
            std::string::npos)
      << replay.output;
}

}  // namespace
