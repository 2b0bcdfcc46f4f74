#include "input/LogParser.h"

#include <gtest/gtest.h>

namespace {

using host::CommonLayout;
using host::LogRecord;
using host::ParseOutcome;

TEST(LogParser, ReadsCombinedCommonAndVhostLines) {
  LogRecord r;
  ASSERT_EQ(host::ParseCommonLine("83.149.9.216 - bob [17/May/2015:10:05:03 +0000] \"GET "
                                  "/a/b.png?x=1 HTTP/1.1\" 200 203023 \"http://ref/\" \"Agent/1\"",
                                  CommonLayout::kAuto, r),
            ParseOutcome::kRequest);
  EXPECT_EQ(r.client, "83.149.9.216");
  EXPECT_EQ(r.authUser, "bob");
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.target, "/a/b.png?x=1");
  EXPECT_EQ(r.protocol, "HTTP/1.1");
  EXPECT_EQ(r.referrer, "http://ref/");
  EXPECT_EQ(r.userAgent, "Agent/1");
  EXPECT_EQ(r.time.Serial(), 150517100503000.0);

  ASSERT_EQ(host::ParseCommonLine("in24.inetnebr.com - - [01/Aug/1995:00:00:01 -0400] \"GET "
                                  "/ksc.html\" 200 7280",
                                  CommonLayout::kAuto, r),
            ParseOutcome::kRequest);
  EXPECT_EQ(r.client, "in24.inetnebr.com");
  EXPECT_EQ(r.target, "/ksc.html");  // HTTP/0.9: no version
  EXPECT_EQ(r.protocol, "");
  EXPECT_EQ(r.authUser, "");
  EXPECT_EQ(r.time.Serial(), 950801000001000.0);
  EXPECT_EQ(r.time.zoneMinutes, -240);

  ASSERT_EQ(
      host::ParseCommonLine("fenix.example.ar:443 ::1 - - [02/Nov/2020:09:55:25 +0000] "
                            "\"OPTIONS * HTTP/1.0\" 200 126 \"-\" \"Apache (internal dummy)\"",
                            CommonLayout::kAuto, r),
      ParseOutcome::kRequest);
  EXPECT_EQ(r.vhost, "fenix.example.ar");
  EXPECT_EQ(r.port, "443");
  EXPECT_EQ(r.client, "::1");
  EXPECT_EQ(r.method, "OPTIONS");
}

TEST(LogParser, TellsLinesWithoutARequestFromBrokenOnes) {
  LogRecord r;
  EXPECT_EQ(
      host::ParseCommonLine("1.2.3.4 - - [02/Nov/2020:09:55:25 +0000] \"-\" 408 0 \"-\" \"-\"",
                            CommonLayout::kAuto, r),
      ParseOutcome::kNoRequest);
  EXPECT_EQ(host::ParseCommonLine("1.2.3.4 - - [02/Nov/2020:09:55:25 +0000] "
                                  "\"\\x16\\x03\\x01\\x02m\\x01\" 400 0 \"-\" \"-\"",
                                  CommonLayout::kAuto, r),
            ParseOutcome::kNoRequest);
  for (const char *broken :
       {"", "garbage", "1.2.3.4 - - [02/Nov/2020:09:55:25] \"GET / HTTP/1.1\" 200 1",
        "1.2.3.4 - - [32/Nov/2020:09:55:25 +0000] \"GET / HTTP/1.1\" 200 1",
        "1.2.3.4 - - [02/Xyz/2020:09:55:25 +0000] \"GET / HTTP/1.1\" 200 1",
        "1.2.3.4 - - [02/Nov/2020:09:55:25 +0000] \"GET / HTTP/1.1\"",
        "uplherc.upl.com - - [01/Aug/1995:00:00:07 -0400] \"GET / HTTP/1.0\" 304"}) {
    EXPECT_EQ(host::ParseCommonLine(broken, CommonLayout::kAuto, r), ParseOutcome::kMalformed)
        << broken;
  }
}

TEST(LogParser, UnescapesQuotedFieldsAndKeepsAnUnclosedAgent) {
  LogRecord r;
  ASSERT_EQ(
      host::ParseCommonLine("1.2.3.4 - - [17/May/2015:10:05:03 +0000] \"GET /q\\\"x HTTP/1.1\" "
                            "200 1 \"-\" \"Bot \\\"quoted\\\" \\x41",
                            CommonLayout::kCombined, r),
      ParseOutcome::kRequest);
  EXPECT_EQ(r.target, "/q\"x");
  EXPECT_EQ(r.userAgent, "Bot \"quoted\" A");
}

TEST(LogParser, ReadsMillisecondsWhenTheLogHasThem) {
  host::LogTime time;
  ASSERT_TRUE(host::ParseLogTime("07/Dec/2026:21:34:55.042 +0100", time));
  EXPECT_EQ(time.millisecond, 42);
  EXPECT_EQ(time.Serial(), 261207213455042.0);
  host::LogTime utc;
  ASSERT_TRUE(host::ParseLogTime("07/Dec/2026:20:34:55.042 +0000", utc));
  EXPECT_EQ(time.UtcMilliseconds(), utc.UtcMilliseconds());
}

TEST(LogParser, DecodesThePathButNotTheQuery) {
  std::string path;
  std::string_view query;
  host::SplitTarget("/a%20b/%2e%2E/c%zz?x=%20&y", path, query);
  EXPECT_EQ(path, "/a b/../c%zz");
  EXPECT_EQ(query, "x=%20&y");
  host::SplitTarget("http://example.com/x?y=1", path, query);
  EXPECT_EQ(path, "/x");
  EXPECT_EQ(query, "y=1");
  host::SplitTarget("http://example.com", path, query);
  EXPECT_EQ(path, "/");
}

}  // namespace
