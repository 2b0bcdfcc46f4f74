// Format strings of nginx and Apache compiled and matched against the lines those servers
// write.
#include <gtest/gtest.h>

#include <string>

#include "input/LogFormat.h"
#include "input/LogParser.h"

namespace {

using host::FormatError;
using host::LineFault;
using host::LogFormat;
using host::LogRecord;
using host::ParseOutcome;

constexpr const char *kNginxCombined =
    "$remote_addr - $remote_user [$time_local] \"$request\" $status $body_bytes_sent "
    "\"$http_referer\" \"$http_user_agent\"";
constexpr const char *kApacheCombined =
    "%h %l %u %t \\\"%r\\\" %>s %b \\\"%{Referer}i\\\" \\\"%{User-agent}i\\\"";

// The column an error points at, or -1 when the format compiles.
long ErrorPosition(const std::string &format) {
  try {
    LogFormat::Compile(format);
  } catch (const FormatError &error) {
    return static_cast<long>(error.position);
  }
  return -1;
}

TEST(FormatCompiler, CombinedWrittenByNginxOrApacheReadsAsTheBuiltInParserReadsIt) {
  const std::string lines[] = {
      "83.149.9.216 - bob [17/May/2015:10:05:03 +0000] \"GET /a/b.png?x=1 HTTP/1.1\" 200 203023 "
      "\"http://ref/\" \"Agent/1\"",
      "10.0.0.1 - - [07/Dec/2026:21:34:55.042 +0100] \"POST /login HTTP/2.0\" 302 0 \"-\" "
      "\"curl \\\"quoted\\\" \\x41\"",
      "10.0.0.2 - - [07/Dec/2026:21:34:55 -0700] \"-\" 408 0 \"-\" \"-\""};
  const std::string_view kStatuses[] = {"200", "302", "408"};
  for (const char *format : {kNginxCombined, kApacheCombined, "combined"}) {
    const LogFormat compiled = LogFormat::Compile(format);
    for (size_t i = 0; i < std::size(lines); ++i) {
      const std::string &line = lines[i];
      LogRecord expected, got;
      const ParseOutcome want =
          host::ParseCommonLine(line, host::CommonLayout::kCombined, expected);
      ASSERT_EQ(compiled.Parse(line, got), want) << format << "\n" << line;
      EXPECT_EQ(got.client, expected.client);
      EXPECT_EQ(got.authUser, expected.authUser);
      EXPECT_EQ(got.time.Serial(), expected.time.Serial());
      EXPECT_EQ(got.time.UtcMilliseconds(), expected.time.UtcMilliseconds());
      EXPECT_EQ(got.method, expected.method);
      EXPECT_EQ(got.target, expected.target);
      EXPECT_EQ(got.protocol, expected.protocol);
      EXPECT_EQ(got.referrer, expected.referrer);
      EXPECT_EQ(got.userAgent, expected.userAgent) << format;
      // The status tells a redirect from a page.
      EXPECT_EQ(expected.status, kStatuses[i]);
      EXPECT_EQ(got.status, expected.status) << format;
    }
  }
}

TEST(FormatCompiler, ReadsEveryNginxVariableItKnowsAndDropsTheOthers) {
  const LogFormat format = LogFormat::Compile(
      "$host $server_name:$server_port $remote_addr/$realip_remote_addr $remote_user "
      "$time_iso8601 $msec \"$request_method $request_uri $server_protocol\" $uri ?$args "
      "\"$http_x_forwarded_for\" $request_time $upstream_addr $no_such_thing ${status}x "
      "\"$http_referer\" \"$http_user_agent\"");
  EXPECT_EQ(format.Kind(), "nginx");
  EXPECT_TRUE(format.HasForwardedChain());
  LogRecord r;
  ASSERT_EQ(format.Parse("shop.example default:8443 203.0.113.9/10.0.0.5 alice "
                         "2026-12-07T21:34:55+01:00 1796675695.042 \"PUT /cart?id=7 HTTP/1.1\" "
                         "/cart ?id=7 \"198.51.100.1, 10.0.0.5\" 0.004 10.0.0.9:8080 zzz 201x "
                         "\"https://shop.example/\" \"Mozilla/5.0 (X11)\"",
                         r),
            ParseOutcome::kRequest);
  EXPECT_EQ(r.vhost, "shop.example");  // $host wins over $server_name
  EXPECT_EQ(r.port, "8443");
  EXPECT_EQ(r.client, "203.0.113.9");  // $remote_addr wins over $realip_remote_addr
  EXPECT_EQ(r.authUser, "alice");
  EXPECT_EQ(r.method, "PUT");
  EXPECT_EQ(r.target, "/cart?id=7");  // $request_uri wins over $uri and $args
  EXPECT_EQ(r.protocol, "HTTP/1.1");
  EXPECT_EQ(r.forwardedFor, "198.51.100.1, 10.0.0.5");
  EXPECT_EQ(r.referrer, "https://shop.example/");
  EXPECT_EQ(r.userAgent, "Mozilla/5.0 (X11)");
  // $time_iso8601 and $msec each hold the whole time: the first counts, its offset keeps the
  // wall clock.
  EXPECT_EQ(r.time.zoneMinutes, 60);
  EXPECT_EQ(r.time.Serial(), 261207213455000.0);

  // Without $request_uri the target is $uri joined with $args; $is_args joins them in place.
  const LogFormat joined = LogFormat::Compile(
      "$remote_addr [$time_local] $request_method $uri$is_args$args|$uri|$args|");
  ASSERT_EQ(joined.Parse("1.2.3.4 [07/Dec/2026:21:34:55 +0000] GET /a b?x=1|/a b|x=1|", r),
            ParseOutcome::kRequest);
  EXPECT_EQ(r.target, "/a b?x=1");
  // Without a query nginx writes "-" for $args: it is no part of the path.
  ASSERT_EQ(joined.Parse("1.2.3.4 [07/Dec/2026:21:34:55 +0000] GET /a--|/a-|-|", r),
            ParseOutcome::kRequest);
  EXPECT_EQ(r.target, "/a-");
  const LogFormat parts = LogFormat::Compile("$remote_addr $time_local $request_method $uri $args");
  ASSERT_EQ(parts.Parse("1.2.3.4 07/Dec/2026:21:34:55 +0000 GET /p x=%20", r),
            ParseOutcome::kRequest);
  EXPECT_EQ(r.target, "/p?x=%20");
  const LogFormat host = LogFormat::Compile("$remote_addr $http_host [$time_local] \"$request\"");
  ASSERT_EQ(
      host.Parse("1.2.3.4 example.org:8080 [07/Dec/2026:21:34:55 +0000] \"GET / HTTP/1.1\"", r),
      ParseOutcome::kRequest);
  EXPECT_EQ(r.vhost, "example.org");
  EXPECT_EQ(r.port, "8080");
}

TEST(FormatCompiler, ReadsEveryApacheDirectiveWithItsModifiers) {
  const LogFormat format = LogFormat::Compile(
      "%v %V:%p %{canonical}p %{remote}p %a %{c}a %h %l %u %t \\\"%r\\\" %>s %<s %b %B %O %I %D "
      "%T %{ms}T %k %L %P %{tid}P %X %R %f %e %H %m %U%q %{X-Forwarded-For}i "
      "\\\"%!200,304{Referer}i\\\" \\\"%400,501{User-agent}i\\\" %{Cookie}C %{x}e %{n}n %{o}o "
      "%{Foo}^ti %%");
  EXPECT_EQ(format.Kind(), "Apache");
  LogRecord r;
  ASSERT_EQ(format.Parse("default shop.example:443 443 51234 203.0.113.9 10.0.0.5 host.name - "
                         "bob [07/Dec/2026:21:34:55 +0100] \"GET /x?y=1 HTTP/1.1\" 200 200 512 "
                         "512 700 80 1234 0 1 0 Y2xxx 4242 4243 + - /var/www/x - HTTP/1.1 GET "
                         "/x?y=1 198.51.100.1 \"-\" \"Agent \\\"A\\\"\" - - - - - %",
                         r),
            ParseOutcome::kRequest);
  EXPECT_EQ(r.vhost, "shop.example");  // %V wins over %v
  EXPECT_EQ(r.port, "443");
  EXPECT_EQ(r.client, "203.0.113.9");  // %a wins over %h and %{c}a
  EXPECT_EQ(r.authUser, "bob");
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.target, "/x?y=1");
  EXPECT_EQ(r.forwardedFor, "198.51.100.1");
  EXPECT_EQ(r.referrer, "-");
  EXPECT_EQ(r.userAgent, "Agent \"A\"");
  EXPECT_EQ(r.time.Serial(), 261207213455000.0);

  // The request's parts in their own directives; %h alone is the client; %{c}a alone too.
  const LogFormat parts = LogFormat::Compile("%{c}a [%{%d/%b/%Y %T}t] %m %U%q %H");
  ASSERT_EQ(parts.Parse("10.0.0.5 [07/Dec/2026 21:34:55] POST /f?a=b HTTP/1.0", r),
            ParseOutcome::kRequest);
  EXPECT_EQ(r.client, "10.0.0.5");
  EXPECT_EQ(r.target, "/f?a=b");
  EXPECT_EQ(r.protocol, "HTTP/1.0");
  ASSERT_EQ(parts.Parse("10.0.0.5 [07/Dec/2026 21:34:55] POST /f HTTP/1.0", r),
            ParseOutcome::kRequest);
  EXPECT_EQ(r.target, "/f");
}

TEST(FormatCompiler, ReadsTimesInEveryFormAndPiecesOfOne) {
  ASSERT_EQ(setenv("TZ", "UTC", 1), 0);
  tzset();
  struct Case {
    const char *format, *line;
    double serial;
  } cases[] = {
      {"$remote_addr [$time_local] \"$request\"",
       "1.2.3.4 [07/Dec/2026:21:34:55 -0500] \"GET / HTTP/1.1\"", 261207213455000.0},
      {"$remote_addr $time_iso8601 \"$request\"", "1.2.3.4 2026-12-07T21:34:55Z \"GET / HTTP/1.1\"",
       261207213455000.0},
      {"$remote_addr $msec \"$request\"", "1.2.3.4 1796679295.5 \"GET / HTTP/1.1\"",
       261207213455500.0},
      {"%h %{%d/%b/%Y:%H:%M:%S}t.%{msec_frac}t %{%z}t \"%r\"",
       "1.2.3.4 07/Dec/2026:21:34:55.042 +0100 \"GET / HTTP/1.1\"", 261207213455042.0},
      {"%h %{sec}t \"%r\"", "1.2.3.4 1796679295 \"GET / HTTP/1.1\"", 261207213455000.0},
      {"%h %{msec}t \"%r\"", "1.2.3.4 1796679295123 \"GET / HTTP/1.1\"", 261207213455123.0},
      {"%h %{usec}t \"%r\"", "1.2.3.4 1796679295123456 \"GET / HTTP/1.1\"", 261207213455123.0},
      {"%h %{sec}t.%{usec_frac}t \"%r\"", "1.2.3.4 1796679295.123456 \"GET / HTTP/1.1\"",
       261207213455123.0},
      {"%h [%{begin:%c}t] \"%r\"", "1.2.3.4 [Mon Dec  7 21:34:55 2026] \"GET / HTTP/1.1\"",
       261207213455000.0},
      {"%h [%{end:%D %r %Z}t] \"%r\"", "1.2.3.4 [12/07/26 09:34:55 PM UTC] \"GET / HTTP/1.1\"",
       261207213455000.0},
      {"%h [%{%A, %B %e %Y %I:%M:%S %p %j}t] \"%r\"",
       "1.2.3.4 [Monday, December  7 2026 12:34:55 am 341] \"GET / HTTP/1.1\"", 261207003455000.0},
  };
  for (const Case &c : cases) {
    LogRecord r;
    ASSERT_EQ(LogFormat::Compile(c.format).Parse(c.line, r), ParseOutcome::kRequest)
        << c.format << "\n"
        << c.line << " " << static_cast<int>(r.fault);
    EXPECT_EQ(r.time.Serial(), c.serial) << c.format;
  }
  // A time without a zone is this machine's wall clock: kept as written, with the machine's
  // offset for the order of lines from several logs.
  ASSERT_EQ(setenv("TZ", "Europe/Berlin", 1), 0);
  tzset();
  for (const char *format :
       {"%h [%{%d/%b/%Y %H:%M:%S}t] \"%r\"", "$remote_addr [$time_iso8601] \"$request\""}) {
    LogRecord r;
    const std::string line = std::string(format).starts_with("%")
                                 ? "1.2.3.4 [07/Jul/2026 21:34:55] \"GET / HTTP/1.1\""
                                 : "1.2.3.4 [2026-07-07T21:34:55] \"GET / HTTP/1.1\"";
    ASSERT_EQ(LogFormat::Compile(format).Parse(line, r), ParseOutcome::kRequest) << format;
    EXPECT_EQ(r.time.Serial(), 260707213455000.0);
    EXPECT_EQ(r.time.zoneMinutes, 120);
  }
  unsetenv("TZ");
  tzset();
}

TEST(FormatCompiler, TellsWhereAFormatCannotBeCompiled) {
  EXPECT_EQ(ErrorPosition("%h %l %u %t %Z \"%r\""), 12);   // unknown directive
  EXPECT_EQ(ErrorPosition("%h %t \"%r\" %"), 11);          // '%' at the end
  EXPECT_EQ(ErrorPosition("%h %t \"%r\" %{Referer"), 11);  // '%{' never closed
  EXPECT_EQ(ErrorPosition("%h [%{%d/%Q}t] \"%r\""), 9);    // unknown time conversion
  EXPECT_EQ(ErrorPosition("%h %{nothing}t \"%r\""), 5);    // a time format without a conversion
  EXPECT_EQ(ErrorPosition("$remote_addr $ [$time_local] \"$request\""), 13);
  EXPECT_EQ(ErrorPosition("$remote_addr ${time_local [x] \"$request\""), 13);
  EXPECT_EQ(ErrorPosition("$remote_addr$remote_user [$time_local] \"$request\""), 12);
  EXPECT_EQ(ErrorPosition("%h%u %t \"%r\""), 2);
  // A format without a client, a time or a request points past its end.
  EXPECT_EQ(ErrorPosition("[$time_local] \"$request\""), 24);
  EXPECT_EQ(ErrorPosition("$remote_addr \"$request\""), 23);
  EXPECT_EQ(ErrorPosition("$remote_addr [$time_local] $request_method"), 42);
  EXPECT_EQ(ErrorPosition("nginx"), 0);  // neither a preset nor a format
  // Columns are the operator's, quotes and blanks of a pasted nginx.conf string included.
  EXPECT_EQ(ErrorPosition("  '$remote_addr [$time_local] '\n  '\"$request\" $'"), 46);

  try {
    LogFormat::Compile("%h %t %Z");
    FAIL() << "compiled";
  } catch (const FormatError &error) {
    EXPECT_EQ(LogFormat::Describe("%h %t %Z", error),
              "column 7: unknown directive '%Z'\n  %h %t %Z\n        ^");
  }
  // Time fields end themselves, so nothing needs to stand after them.
  EXPECT_EQ(ErrorPosition("[$time_local]$remote_addr \"$request\""), -1);
  EXPECT_EQ(ErrorPosition("%{%s}t%h \"%r\""), -1);
  for (const char *preset : {"auto", "common", "Combined", "vhost_combined", "caddy", "TRAEFIK"}) {
    EXPECT_EQ(ErrorPosition(preset), -1) << preset;
  }
  EXPECT_EQ(LogFormat::Compile(" caddy ").Kind(), "caddy");
}

TEST(FormatCompiler, TakesFormatsPastedFromServerConfigurations) {
  // nginx.conf: single-quoted parts, a backslash-escaped quote inside a double-quoted part.
  const LogFormat nginx = LogFormat::Compile(
      "'$remote_addr - $remote_user [$time_local] \"$request\" '\n"
      "   '$status $body_bytes_sent \"$http_referer\" \\\"$http_user_agent\\\"'");
  LogRecord r;
  ASSERT_EQ(nginx.Parse("1.2.3.4 - - [07/Dec/2026:21:34:55 +0000] \"GET /x HTTP/1.1\" 200 5 \"-\" "
                        "\"UA\"",
                        r),
            ParseOutcome::kRequest);
  EXPECT_EQ(r.userAgent, "UA");
  // httpd.conf: \" inside the format, \t and %% as literals.
  const LogFormat apache = LogFormat::Compile("%h\\t%t \\\"%r\\\" 100%%");
  ASSERT_EQ(apache.Parse("1.2.3.4\t[07/Dec/2026:21:34:55 +0000] \"GET /y HTTP/1.1\" 100%", r),
            ParseOutcome::kRequest);
  EXPECT_EQ(r.target, "/y");
}

TEST(FormatCompiler, CountsBadLinesByKindAndNeverTakesAFieldOutOfAnother) {
  const LogFormat format = LogFormat::Compile(kNginxCombined);
  LogRecord r;
  struct Case {
    std::string line;
    LineFault fault;
  } cases[] = {
      {"", LineFault::kShape},
      {"garbage", LineFault::kShape},
      {"1.2.3.4 - - [07/Dec/2026:21:34:55 +0000] \"GET / HTTP/1.1\" 200", LineFault::kShape},
      {"1.2.3.4 - - [07/Dec/2026:25:34:55 +0000] \"GET / HTTP/1.1\" 200 1 \"-\" \"-\"",
       LineFault::kTime},
      {"1.2.3.4 - - [yesterday] \"GET / HTTP/1.1\" 200 1 \"-\" \"-\"", LineFault::kTime},
      {"1.2.3.4 - - [07/Dec/2026:21:34:55 +0000] \"GET / HTTP/1.1\" 200 1 \"-\" \"" +
           std::string(LogRecord::kMaxField + 1, 'a') + "\"",
       LineFault::kFieldTooLong},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(format.Parse(c.line, r), ParseOutcome::kMalformed) << c.line.substr(0, 80);
    EXPECT_EQ(r.fault, c.fault) << c.line.substr(0, 80);
  }
  // A quote escaped inside a field does not end it: the agent keeps its quote and the
  // referrer stays the referrer.
  ASSERT_EQ(format.Parse("1.2.3.4 - - [07/Dec/2026:21:34:55 +0000] \"GET / HTTP/1.1\" 200 1 "
                         "\"a\\\" \\\"b\" \"c\\x22 \\x22d\"",
                         r),
            ParseOutcome::kRequest);
  EXPECT_EQ(r.referrer, "a\" \"b");
  EXPECT_EQ(r.userAgent, "c\" \"d");
  // A request that is no HTTP request is a line without one, not a broken line.
  ASSERT_EQ(format.Parse("1.2.3.4 - - [07/Dec/2026:21:34:55 +0000] \"\\x16\\x03\\x01\" 400 0 "
                         "\"-\" \"-\"",
                         r),
            ParseOutcome::kNoRequest);
}

}  // namespace
