// JSON access logs: nginx and Apache JSON templates, Caddy's and Traefik's layouts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "input/LogFormat.h"

namespace {

using host::LineFault;
using host::LogFormat;
using host::LogRecord;
using host::ParseOutcome;

// Times without an offset become this machine's local time: the tests fix its zone.
class JsonLayout : public testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
  }
  void TearDown() override {
    unsetenv("TZ");
    tzset();
  }
};

constexpr const char *kNginxTemplate =
    "{\"time\":\"$time_iso8601\",\"addr\":\"$remote_addr\",\"user\":\"$remote_user\","
    "\"req\":\"$request\",\"status\":$status,\"bytes\":$body_bytes_sent,"
    "\"ref\":\"$http_referer\",\"ua\":\"$http_user_agent\",\"xff\":\"$http_x_forwarded_for\","
    "\"host\":\"$host\"}";

TEST_F(JsonLayout, ReadsAnNginxTemplateByKeyInAnyOrder) {
  const LogFormat format = LogFormat::Compile(kNginxTemplate);
  EXPECT_EQ(format.Kind(), "nginx JSON template");
  EXPECT_TRUE(format.HasForwardedChain());
  LogRecord r;
  ASSERT_EQ(
      format.Parse("{\"status\":200,\"extra\":{\"a\":[1,2]},\"host\":\"shop.example\","
                   "\"addr\":\"203.0.113.9\",\"user\":\"\",\"time\":\"2026-12-07T21:34:55+01:00\","
                   "\"req\":\"GET /caf\\u00e9?q=\\\"x\\\" HTTP/1.1\",\"bytes\":512,\"ref\":\"\","
                   "\"ua\":\"Mozilla/5.0 \\u263a\",\"xff\":\"198.51.100.1, 10.0.0.2\"}",
                   r),
      ParseOutcome::kRequest);
  EXPECT_EQ(r.client, "203.0.113.9");
  EXPECT_EQ(r.authUser, "");
  EXPECT_EQ(r.vhost, "shop.example");
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.target, "/caf\xc3\xa9?q=\"x\"");
  EXPECT_EQ(r.userAgent, "Mozilla/5.0 \xe2\x98\xba");
  EXPECT_EQ(r.forwardedFor, "198.51.100.1, 10.0.0.2");
  EXPECT_EQ(r.time.Serial(), 261207213455000.0);
  EXPECT_EQ(r.time.zoneMinutes, 60);

  // A line that lacks a key leaves its field empty; without the client it is no visitor.
  ASSERT_EQ(format.Parse("{\"addr\":\"1.2.3.4\",\"time\":\"2026-12-07T21:34:55+01:00\","
                         "\"req\":\"GET / HTTP/1.1\"}",
                         r),
            ParseOutcome::kRequest);
  EXPECT_EQ(r.userAgent, "");
  EXPECT_EQ(format.Parse("{\"time\":\"2026-12-07T21:34:55+01:00\",\"req\":\"GET / HTTP/1.1\"}", r),
            ParseOutcome::kMalformed);
  EXPECT_EQ(r.fault, LineFault::kShape);
}

TEST_F(JsonLayout, ReadsNestedTemplatesBareFieldsAndValuesOfSeveralFields) {
  const LogFormat format = LogFormat::Compile(
      "{ \"client\": { \"ip\": \"$remote_addr\", \"port\": $remote_port },\n"
      "  \"t\": $msec, \"r\": \"$request_method $request_uri\", \"v\": 1, \"list\": [\"$x\"] }");
  LogRecord r;
  ASSERT_EQ(format.Parse("{\"client\":{\"port\":5,\"ip\":\"2001:db8::7\"},\"t\":1796675695.042,"
                         "\"r\":\"DELETE /item/4\",\"v\":1,\"list\":[]}",
                         r),
            ParseOutcome::kRequest);
  EXPECT_EQ(r.client, "2001:db8::7");
  EXPECT_EQ(r.method, "DELETE");
  EXPECT_EQ(r.target, "/item/4");
  EXPECT_EQ(r.time.Serial(), 261207213455042.0);  // 20:34:55.042 UTC in Berlin

  // Apache's JSON template, pasted with its quotes still escaped.
  const LogFormat apache = LogFormat::Compile(
      "{ \\\"Time\\\":%{%s}t, \\\"RemoteIP\\\":\\\"%a\\\", \\\"Host\\\":\\\"%V\\\", "
      "\\\"Request\\\":\\\"%U\\\", \\\"Query\\\":\\\"%q\\\", \\\"Method\\\":\\\"%m\\\", "
      "\\\"UserAgent\\\":\\\"%{User-agent}i\\\" }");
  EXPECT_EQ(apache.Kind(), "Apache JSON template");
  ASSERT_EQ(apache.Parse("{ \"Time\":1796675695, \"RemoteIP\":\"1.2.3.4\", \"Host\":\"x.example\", "
                         "\"Request\":\"/p\", \"Query\":\"?a=1\", \"Method\":\"GET\", "
                         "\"UserAgent\":\"ua\" }",
                         r),
            ParseOutcome::kRequest);
  EXPECT_EQ(r.target, "/p?a=1");
  EXPECT_EQ(r.vhost, "x.example");
  EXPECT_EQ(r.time.Serial(), 261207213455000.0);
}

TEST_F(JsonLayout, ReadsCaddysAccessLog) {
  const LogFormat format = LogFormat::Compile("caddy");
  LogRecord r;
  ASSERT_EQ(
      format.Parse(
          "{\"level\":\"info\",\"ts\":1796675695.0423,\"logger\":\"http.log.access\","
          "\"msg\":\"handled request\",\"request\":{\"remote_ip\":\"10.0.0.5\",\"remote_port\":"
          "\"51234\",\"client_ip\":\"203.0.113.9\",\"proto\":\"HTTP/2.0\",\"method\":\"GET\","
          "\"host\":\"shop.example:8443\",\"uri\":\"/a?b=1\",\"headers\":{\"User-Agent\":"
          "[\"curl/8.5.0\"],\"X-Forwarded-For\":[\"198.51.100.1, 10.0.0.7\",\"10.0.0.5\"]},"
          "\"tls\":{\"resumed\":false}},\"bytes_read\":0,\"user_id\":\"\",\"duration\":0.0012,"
          "\"size\":5,\"status\":200,\"resp_headers\":{\"Server\":[\"Caddy\"]}}",
          r),
      ParseOutcome::kRequest);
  EXPECT_EQ(r.client, "203.0.113.9");  // Caddy's client_ip over the connection's remote_ip
  EXPECT_EQ(r.vhost, "shop.example");
  EXPECT_EQ(r.port, "8443");
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.target, "/a?b=1");
  EXPECT_EQ(r.protocol, "HTTP/2.0");
  EXPECT_EQ(r.userAgent, "curl/8.5.0");
  EXPECT_EQ(r.forwardedFor, "198.51.100.1, 10.0.0.7, 10.0.0.5");
  EXPECT_EQ(r.time.Serial(), 261207213455042.0);
  // Older Caddy has no client_ip; a time_format of RFC 3339 or milliseconds reads too.
  ASSERT_EQ(
      format.Parse("{\"ts\":\"2026-12-07T20:34:55.5Z\",\"request\":{\"remote_ip\":\"10.0.0.5\","
                   "\"method\":\"GET\",\"uri\":\"/\",\"host\":\"[::1]:80\"}}",
                   r),
      ParseOutcome::kRequest);
  EXPECT_EQ(r.client, "10.0.0.5");
  EXPECT_EQ(r.vhost, "::1");
  EXPECT_EQ(r.time.Serial(), 261207213455500.0);
  ASSERT_EQ(format.Parse("{\"ts\":1796675695042,\"request\":{\"remote_ip\":\"10.0.0.5\","
                         "\"method\":\"GET\",\"uri\":\"/\"}}",
                         r),
            ParseOutcome::kRequest);
  EXPECT_EQ(r.time.Serial(), 261207213455042.0);
}

TEST_F(JsonLayout, ReadsTraefiksAccessLogWithItsLocalStart) {
  const LogFormat format = LogFormat::Compile("traefik");
  LogRecord r;
  ASSERT_EQ(
      format.Parse("{\"ClientAddr\":\"203.0.113.9:51234\",\"ClientHost\":\"203.0.113.9\","
                   "\"ClientPort\":\"51234\",\"ClientUsername\":\"-\",\"DownstreamStatus\":200,"
                   "\"RequestAddr\":\"shop.example:8080\",\"RequestHost\":\"shop.example\","
                   "\"RequestMethod\":\"POST\",\"RequestPath\":\"/login?next=%2F\","
                   "\"RequestPort\":\"-\",\"RequestProtocol\":\"HTTP/1.1\","
                   "\"StartUTC\":\"2026-12-07T20:34:55.042123Z\","
                   "\"StartLocal\":\"2026-12-07T23:34:55.042123+03:00\",\"level\":\"info\","
                   "\"request_User-Agent\":\"Mozilla\",\"request_X-Forwarded-For\":\"1.1.1.1\","
                   "\"time\":\"2026-12-07T20:34:56Z\"}",
                   r),
      ParseOutcome::kRequest);
  EXPECT_EQ(r.client, "203.0.113.9");
  EXPECT_EQ(r.authUser, "");
  EXPECT_EQ(r.vhost, "shop.example");
  EXPECT_EQ(r.port, "8080");  // RequestPort "-": the port of RequestAddr
  EXPECT_EQ(r.target, "/login?next=%2F");
  EXPECT_EQ(r.userAgent, "Mozilla");
  EXPECT_EQ(r.forwardedFor, "1.1.1.1");
  // StartLocal wins over StartUTC and time, whatever their order.
  EXPECT_EQ(r.time.Serial(), 261207233455042.0);
  EXPECT_EQ(r.time.zoneMinutes, 180);
  // Without StartLocal the UTC start becomes this machine's local time.
  ASSERT_EQ(format.Parse("{\"ClientHost\":\"1.2.3.4\",\"RequestMethod\":\"GET\","
                         "\"RequestPath\":\"/\",\"StartUTC\":\"2026-07-07T20:34:55Z\"}",
                         r),
            ParseOutcome::kRequest);
  EXPECT_EQ(r.time.Serial(), 260707223455000.0);
  EXPECT_EQ(r.time.zoneMinutes, 120);
}

TEST_F(JsonLayout, CountsLinesThatAreNoJsonObjectAndReadsBadBytesAsQuestionMarks) {
  const LogFormat format = LogFormat::Compile(kNginxTemplate);
  LogRecord r;
  for (const char *line :
       {"", "not json", "[1,2]", "\"text\"", "{\"addr\":\"1.2.3.4\"", "{\"addr\":\"1.2.3.4\"}{}",
        "{\"addr\":\"1.2.3.4\",}", "{\"addr\":\"1.2.3.4\" \"req\":\"GET / HTTP/1.1\"}"}) {
    EXPECT_EQ(format.Parse(line, r), ParseOutcome::kMalformed) << line;
    EXPECT_EQ(r.fault, LineFault::kJson) << line;
  }
  EXPECT_EQ(
      format.Parse("{\"addr\":\"1.2.3.4\",\"time\":\"yesterday\",\"req\":\"GET / HTTP/1.1\"}", r),
      ParseOutcome::kMalformed);
  EXPECT_EQ(r.fault, LineFault::kTime);
  // nginx writes the bytes of a request as they came: a lone 0xff keeps the line.
  ASSERT_EQ(format.Parse("{\"addr\":\"1.2.3.4\",\"time\":\"2026-12-07T21:34:55+01:00\","
                         "\"req\":\"GET /\xff\xc3 HTTP/1.1\",\"ua\":\"a\xe2\x98\xba\"}",
                         r),
            ParseOutcome::kRequest);
  EXPECT_EQ(r.target, "/??");
  EXPECT_EQ(r.userAgent, "a\xe2\x98\xba");
}

TEST_F(JsonLayout, TellsWhereATemplateCannotBeCompiled) {
  auto position = [](const std::string &text) -> long {
    try {
      LogFormat::Compile(text);
    } catch (const host::FormatError &error) {
      return static_cast<long>(error.position);
    }
    return -1;
  };
  EXPECT_EQ(position("{\"a\":\"$remote_addr\",\"a\":\"$msec\",\"r\":\"$request\"}"), 20);
  EXPECT_EQ(position("{\"a\":\"$remote_addr\",\"t\":$msec \"r\":\"$request\"}"), 30);
  EXPECT_EQ(position("{\"a\":\"$remote_addr\",\"t\":,\"r\":\"$request\"}"), 24);
  EXPECT_EQ(position("{\"a\":\"$remote_addr\",\"t\":\"$msec"), 30);
  EXPECT_EQ(position("{\"a\":\"$remote_addr\",\"r\":\"$request\"}"), 35);  // no time
  EXPECT_EQ(position("{\"a\":\"$remote_addr$msec\",\"r\":\"$request\"}"), 18);
}

}  // namespace
