// The flowdeck command run as an operator runs it, on logs written here.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#include "support/Port80.h"
#include "support/TempDir.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;

struct Result {
  int status = -1;
  std::string output;  // standard output and error together
};

// Runs flowdeck; a replay listens on port 80, so it takes the port's turn unless the caller has.
Result Flowdeck(const std::string &arguments, bool takePort80 = true) {
  std::optional<testing_support::Port80> port80;
  if (takePort80) port80.emplace();
  std::string command = std::string(FLOWDECK_BIN) + " " + arguments + " 2>&1";
  Result result;
  FILE *pipe = popen(command.c_str(), "r");
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// A log line at second s after 12:00:00 on 7 Dec 2026.
std::string Line(const std::string &address, int s, const std::string &path,
                 const std::string &agent = "curl/8.5.0") {
  char time[64];
  std::snprintf(time, sizeof time, "[07/Dec/2026:%02d:%02d:%02d +0000]", 12 + s / 3600, s / 60 % 60,
                s % 60);
  return address + " - - " + time + " \"GET " + path + " HTTP/1.1\" 200 512 \"-\" \"" + agent +
         "\"\n";
}

// A person reading pages, and a script hitting the admin login every 4 seconds.
std::string PacedLog() {
  std::string log;
  int person = 0;
  const int gaps[] = {3, 17, 5, 41, 8, 2, 26, 11, 4, 33};
  for (int s = 0; s <= 200; s += 4) {
    while (person <= s) {
      log += Line("198.51.100.7", person, "/blog/post-" + std::to_string(person) + ".html",
                  "Mozilla/5.0 (X11; Linux x86_64)");
      person += gaps[(person / 3) % 10];
    }
    log += Line("203.0.113.66", s, "/admin/login.php");
  }
  return log;
}

bool CanBindPort80() {
  return testing_support::Port80().NothingListens();
}

std::string Options(const TempDir &dir) {
  return "--quiet --out " + dir.File("out") + " --plugin " + FLOWDECK_PLUGIN_DIR + " --tripwires " +
         FLOWDECK_EXAMPLES + "/tripwires.cfg";
}

TEST(Flowdeck, APacedVisitorIsShieldedAndRatedTwoAndAPersonIsNot) {
  TempDir dir;
  testing_support::WriteFile(dir.File("access.log"), PacedLog());
  Result run = Flowdeck("replay " + Options(dir) + " " + dir.File("access.log"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("shields:\n  203.0.113.66  localhost/admin/login.php  hits "),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("0 that do not parse"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("alerts raised: 1:\n  level 2  203.0.113.66  rating 1"),
            std::string::npos)
      << run.output;
  const std::string alerts = ReadFile(dir.File("out/KvCorvaneAlerts.Out"));
  EXPECT_NE(alerts.find("^203.0.113.66^"), std::string::npos) << alerts;
  EXPECT_NE(alerts.find("^2^"), std::string::npos) << alerts;
  EXPECT_EQ(alerts.find("198.51.100.7"), std::string::npos) << alerts;
  const std::string tripwires = ReadFile(dir.File("out/KvVantrel.xml"));
  EXPECT_NE(tripwires.find("REMOTEADDR=\"203.0.113.66\""), std::string::npos) << tripwires;
  if (!CanBindPort80()) GTEST_SKIP() << "port 80 cannot be bound here: the shield loop is untested";
  const std::string snapshot = ReadFile(dir.File("out/KvCorvane.xml"));
  EXPECT_NE(snapshot.find("REMADR=\"203.0.113.66\""), std::string::npos);
  size_t user = snapshot.find("REMADR=\"203.0.113.66\"");
  EXPECT_NE(snapshot.find("LCKD=\"True\"", user), std::string::npos)
      << "a shielded address is locked in the monitor";
}

// Every HIT line of one visitor in the snapshot, as "path SHLD" pairs.
std::vector<std::string> HitsOf(const std::string &snapshot, const std::string &address) {
  std::vector<std::string> hits;
  size_t at = snapshot.find("REMADR=\"" + address + "\"");
  const size_t end = snapshot.find("</USER>", at);
  while (at != std::string::npos && (at = snapshot.find("<HIT ", at)) < end) {
    auto value = [&](const std::string &name) {
      size_t start = snapshot.find(" " + name + "=\"", at) + name.size() + 3;
      return snapshot.substr(start, snapshot.find('"', start) - start);
    };
    hits.push_back(value("PTHIN") + " " + value("SHLD"));
    ++at;
  }
  return hits;
}

TEST(Flowdeck, EachPlugInCyclesOnItsOwnPeriodAndAShieldLocksTheVeryNextRequest) {
  TempDir dir;
  // The script also fetches /ping right after each try, so every hit has a HIT line of its own.
  std::string log;
  const int person[] = {1, 2, 9, 30, 33, 71, 90, 91, 130, 150, 177, 181, 190};
  for (int s = 0, next = 0; s <= 200; s += 4) {
    log += Line("203.0.113.66", s, "/admin/login.php") + Line("203.0.113.66", s, "/ping");
    for (; next < 13 && person[next] < s + 4; ++next) {
      log += Line("198.51.100.7", person[next], "/page-" + std::to_string(next) + ".html");
    }
  }
  testing_support::WriteFile(dir.File("access.log"), log);
  Result run = Flowdeck("replay " + Options(dir) + " --shield-cycle 1 --monitor-cycle 3600 " +
                        dir.File("access.log"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find(" of the shield plug-in (every 1 s), 1 of the monitor "
                            "(every 3600 s)"),
            std::string::npos)
      << run.output;
  if (!CanBindPort80()) GTEST_SKIP() << "port 80 cannot be bound here: the shield loop is untested";
  // No monitor cycle ran between the shield and the end, yet every request after the shield
  // reached the monitor locked, and only the shielded visitor's.
  const std::string snapshot = ReadFile(dir.File("out/KvCorvane.xml"));
  const std::vector<std::string> script = HitsOf(snapshot, "203.0.113.66");
  ASSERT_EQ(script.size(), 102u) << snapshot;
  const size_t firstLocked =
      std::find_if(script.begin(), script.end(), [](auto &hit) { return hit.ends_with(" True"); }) -
      script.begin();
  // The 20th try (at 76 s) makes the record shieldable; a cycle before the 21st shields it.
  EXPECT_EQ(firstLocked, 40u);
  for (size_t i = 0; i < script.size(); ++i) {
    EXPECT_EQ(script[i].ends_with(" True"), i >= firstLocked) << i << ": " << script[i];
  }
  for (const std::string &hit : HitsOf(snapshot, "198.51.100.7")) {
    EXPECT_TRUE(hit.ends_with(" False")) << hit;
  }
  Result both = Flowdeck("replay " + Options(dir) + " --cycle 7 " + dir.File("access.log"));
  EXPECT_NE(both.output.find(
                "cycles: 26 of the shield plug-in (every 7 s), 26 of the monitor (every 7 s)"),
            std::string::npos)
      << both.output;
}

TEST(Flowdeck, SummaryAndReportFindTheExportsWhereFernwickPathPutsThem) {
  TempDir dir;
  testing_support::WriteFile(dir.File("access.log"), PacedLog());
  std::filesystem::create_directory(dir.File("exports"));
  testing_support::WriteFile(dir.File("f.conf"), "FernwickPath = " + dir.File("exports/") + "\n");
  Result run = Flowdeck("replay " + Options(dir) + " --config " + dir.File("f.conf") +
                        " --report " + dir.File("report.html") + " " + dir.File("access.log"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("alerts raised: 1:\n  level 2  203.0.113.66"), std::string::npos)
      << run.output;
  EXPECT_FALSE(testing_support::FileExists(dir.File("out/KvCorvaneAlerts.Out")));
  const std::string page = ReadFile(dir.File("report.html"));
  EXPECT_NE(page.find("<dt>Alerts</dt><dd>1</dd>"), std::string::npos) << "the report lost them";
  EXPECT_NE(page.find("<dt>Cycles</dt><dd>shields 10 s, monitor 60 s</dd>"), std::string::npos);
  if (CanBindPort80()) {
    EXPECT_NE(page.find("<dt>Raised / lifted / refused</dt><dd>1 / 0 / 0</dd>"), std::string::npos);
  }
  // The report command finds them the same way from the run directory alone.
  Result again = Flowdeck("report --output " + dir.File("again.html") + " " + dir.File("out"));
  ASSERT_EQ(again.status, 0) << again.output;
  EXPECT_NE(ReadFile(dir.File("again.html")).find("<dt>Alerts</dt><dd>1</dd>"), std::string::npos);
}

// A site must not believe it is guarded when its tripwire file watches nothing.
TEST(Flowdeck, SaysHowManyTripwiresItWatchesAndWarnsWhenNone) {
  TempDir dir;
  testing_support::WriteFile(dir.File("a.log"), Line("1.2.3.4", 0, "/"));
  const std::string options = "--quiet --out " + dir.File("out") + " --plugin " +
                              FLOWDECK_PLUGIN_DIR + " " + dir.File("a.log") + " --tripwires ";
  auto run = [&](const std::string &file, const std::string &content) {
    testing_support::WriteFile(dir.File(file), content);
    return Flowdeck("replay " + options + dir.File(file)).output;
  };
  const std::string tripwire =
      "<TRIPWIRE ACTIVE=\"True\" DESCRIPTION=\"d\" HOST=\"\" RESOURCE=\"/a\" DEFLECT=\"\" "
      "SENSITIVITY=\"5\" STRENGTH=\"2\" INVERSE=\"False\" CARRYPARAMETERS=\"False\" />\n";
  std::string output = run("words.txt", "just a line of text\n");
  EXPECT_NE(output.find("warning: " + dir.File("words.txt") +
                        " holds no TRIPWIRE element: nothing is watched"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("watched: 0 active tripwires from " + dir.File("words.txt")),
            std::string::npos)
      << output;
  std::string off = tripwire;
  off.replace(off.find("True"), 4, "False");
  output = run("off.cfg", off + off);
  EXPECT_NE(output.find("no TRIPWIRE element of " + dir.File("off.cfg") + " is active"),
            std::string::npos)
      << output;
  std::string broken = tripwire;
  broken.replace(broken.find("True"), 4, "maybe");
  // A file the plug-in would stop reading at a failure is not handed over at all.
  testing_support::WriteFile(dir.File("broken.cfg"), tripwire + broken + tripwire);
  const Result refused = Flowdeck("replay " + options + dir.File("broken.cfg"));
  EXPECT_EQ(refused.status, 2) << refused.output;
  EXPECT_NE(refused.output.find(dir.File("broken.cfg") +
                                ":2: ACTIVE=\"maybe\" is neither True, False nor a number"),
            std::string::npos)
      << refused.output;
  output = Flowdeck("replay " + options + FLOWDECK_EXAMPLES + "/tripwires.cfg").output;
  EXPECT_EQ(output.find("warning"), std::string::npos) << output;
  EXPECT_NE(output.find("watched: 5 active tripwires from "), std::string::npos) << output;
}

// With the site's own web server on port 80, the shield plug-in's request lands there and in its
// log. A line there that asks for a shield without the key of this run's shield route is
// somebody else's (a local user, a forged fetch through a web application, or a run before):
// counted as forged, never acted on, and streamed as the visit it is.
TEST(Flowdeck, AShieldRequestInTheWebServersLogWithoutTheRoutesKeyIsForged) {
  TempDir dir;
  const std::string request =
      "/flowdeck/shield?A=add&B=203.0.113.50&C=1&D=localhost&E=/admin/x.php&F=/sorry/x.htm&G=1&H=0&"
      "I=1";
  const std::string guessed =
      "/flowdeck/shield?A=add&K=00000000000000000000000000000000&B=203.0."
      "113.51&C=1&D=localhost&E=/admin/x.php&F=/sorry/x.htm";
  testing_support::WriteFile(dir.File("access.log"), Line("127.0.0.1", 1, request) +
                                                         Line("127.0.0.1", 2, guessed) +
                                                         Line("198.51.100.9", 3, request) +
                                                         Line("203.0.113.50", 4, "/shop"));
  Result run = Flowdeck("replay " + Options(dir) + " " + dir.File("access.log"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("shields raised: 0,"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("forged shield requests (without the shield route's key), not acted "
                            "on: 3 (0 at the shield port, 3 in the web server's log)"),
            std::string::npos)
      << run.output;
  const std::string events = ReadFile(dir.File("out/flowdeck-shields.log"));
  EXPECT_NE(events.find(" forged web-server-log 203.0.113.51 localhost /admin/x.php -> "
                        "/sorry/x.htm (from 127.0.0.1, without the shield route's key)"),
            std::string::npos)
      << events;
  EXPECT_EQ(events.find(" raise "), std::string::npos) << events;
  EXPECT_NE(ReadFile(dir.File("out/flowdeck.prom"))
                .find("flowdeck_shield_requests_forged_total{route=\"web_server_log\"} 3"),
            std::string::npos);
  const std::string snapshot = ReadFile(dir.File("out/KvCorvane.xml"));
  EXPECT_NE(snapshot.find("REMADR=\"127.0.0.1\""), std::string::npos) << "streamed";
}

// The shield plug-in learns the key of the shield route and uses it; flowdeck itself never
// prints or writes it: only the plug-in's own trace holds it, while tracing is on.
TEST(Flowdeck, TheShieldRoutesKeyIsUsedAndNeverWrittenByFlowdeck) {
  if (!CanBindPort80()) GTEST_SKIP() << "port 80 cannot be bound here: the shield loop is untested";
  TempDir dir;
  testing_support::WriteFile(dir.File("access.log"), PacedLog());
  testing_support::WriteFile(dir.File("f.conf"), "Trace = True\n");
  Result run = Flowdeck("replay " + Options(dir) + " --config " + dir.File("f.conf") + " " +
                        dir.File("access.log"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("shields raised: 1,"), std::string::npos) << run.output;
  const std::string trace = ReadFile(dir.File("out/KvVantrelTrace.LOG"));
  const size_t at = trace.find("AddShieldURL=A=add&K=");
  ASSERT_NE(at, std::string::npos) << trace.substr(0, 2000);
  const std::string key = trace.substr(at + 21, 32);
  EXPECT_NE(trace.find("Data Sent=GET /flowdeck/shield?A=add&K=" + key + "&B=203.0.113.66"),
            std::string::npos);
  EXPECT_EQ(run.output.find(key), std::string::npos);
  for (const auto &entry : std::filesystem::directory_iterator(dir.File("out"))) {
    if (entry.path().filename() == "KvVantrelTrace.LOG") continue;
    EXPECT_EQ(ReadFile(entry.path().string()).find(key), std::string::npos) << entry.path();
  }
}

// Behind a load balancer every line carries the balancer's address: with TrustedProxies the
// visitor, the monitor's records and the shield are the client's.
TEST(Flowdeck, BehindTrustedProxiesTheVisitorIsTheRealClient) {
  TempDir dir;
  std::string log;
  for (int s = 0; s <= 200; s += 4) {
    std::string line = Line("10.0.0.5", s, "/admin/login.php");
    line.insert(line.size() - 1, " \"198.51.100.250, 203.0.113.77, 10.0.0.9\"");
    log += line;
  }
  testing_support::WriteFile(dir.File("access.log"), log);
  testing_support::WriteFile(dir.File("f.conf"), "TrustedProxies = 10.0.0.0/8\n");
  Result run = Flowdeck("replay " + Options(dir) + " --config " + dir.File("f.conf") +
                        " --log-format '$remote_addr - $remote_user [$time_local] \"$request\" "
                        "$status $body_bytes_sent \"$http_referer\" \"$http_user_agent\" "
                        "\"$http_x_forwarded_for\"' " +
                        dir.File("access.log"));
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string snapshot = ReadFile(dir.File("out/KvCorvane.xml"));
  EXPECT_NE(snapshot.find("REMADR=\"203.0.113.77\""), std::string::npos) << snapshot;
  EXPECT_EQ(snapshot.find("10.0.0.5"), std::string::npos) << "the balancer is no visitor";
  EXPECT_EQ(snapshot.find("198.51.100.250"), std::string::npos) << "a spoofed leftmost entry";
  if (!CanBindPort80()) GTEST_SKIP() << "port 80 cannot be bound here: the shield loop is untested";
  EXPECT_NE(ReadFile(dir.File("out/flowdeck-shields.log")).find(" raise regularity 203.0.113.77 "),
            std::string::npos)
      << run.output;
}

TEST(Flowdeck, ReportsLinesThatDoNotParseAndGoesOn) {
  TempDir dir;
  testing_support::WriteFile(dir.File("access.log"),
                             Line("1.2.3.4", 0, "/") + "garbage\n" + Line("1.2.3.4", 1, "/a") +
                                 "\x16\x03\x01\xff\xfe\n" + "1.2.3.4 - - [07/Dec/2026:12:00:02");
  Result run = Flowdeck("replay " + Options(dir) + " " + dir.File("access.log"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("lines read: 5 (2 requests, 0 without a request, 3 that do not parse)"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("access.log:2 " + dir.File("access.log") + ":4 " +
                            dir.File("access.log") + ":5"),
            std::string::npos)
      << run.output;
}

TEST(Flowdeck, SaysWhatIsWrongAndExitsTwo) {
  TempDir dir;
  Result missing = Flowdeck("replay " + Options(dir) + " " + dir.File("missing.log"));
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.output.find(dir.File("missing.log") + ": cannot read the log"),
            std::string::npos)
      << missing.output;
  testing_support::WriteFile(dir.File("bad.conf"), "Trace = True\nColour = red\n");
  testing_support::WriteFile(dir.File("a.log"), Line("1.2.3.4", 0, "/"));
  Result config = Flowdeck("replay " + Options(dir) + " --config " + dir.File("bad.conf") + " " +
                           dir.File("a.log"));
  EXPECT_EQ(config.status, 2);
  EXPECT_NE(config.output.find("bad.conf:2: unknown setting 'Colour'"), std::string::npos)
      << config.output;
  EXPECT_EQ(Flowdeck("replay --cycle 0 " + dir.File("a.log")).status, 2);
  EXPECT_EQ(Flowdeck("dance").status, 2);
  Result help = Flowdeck("replay --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("usage: flowdeck replay"), std::string::npos);
}

TEST(Flowdeck, TakesTheLogFormatFromTheConfigurationUnlessTheOptionNamesOne) {
  TempDir dir;
  // nginx writing the host in front and the time in ISO 8601.
  testing_support::WriteFile(
      dir.File("access.log"),
      "shop.example 198.51.100.7 2026-12-07T12:00:00+00:00 \"GET /a HTTP/1.1\"\n"
      "shop.example 198.51.100.7 2026-12-07T12:00:09+00:00 \"GET /b HTTP/1.1\"\n");
  testing_support::WriteFile(dir.File("flowdeck.conf"),
                             "LogFormat = $host $remote_addr $time_iso8601 \"$request\"\n");
  const std::string logAndConfig =
      " --config " + dir.File("flowdeck.conf") + " " + dir.File("access.log");
  Result configured = Flowdeck("replay " + Options(dir) + logAndConfig);
  ASSERT_EQ(configured.status, 0) << configured.output;
  EXPECT_NE(configured.output.find("lines read: 2 (2 requests"), std::string::npos)
      << configured.output;
  EXPECT_NE(ReadFile(dir.File("out/KvCorvane.xml")).find("SVR=\"shop.example\""),
            std::string::npos);
  Result overridden = Flowdeck("replay " + Options(dir) + " --log-format combined" + logAndConfig);
  ASSERT_EQ(overridden.status, 0) << overridden.output;
  EXPECT_NE(overridden.output.find("lines read: 2 (0 requests, 0 without a request, 2 that do not "
                                   "parse)"),
            std::string::npos)
      << overridden.output;

  testing_support::WriteFile(dir.File("flowdeck.conf"), "LogFormat = %h %t %Q\n");
  Result broken = Flowdeck("replay " + Options(dir) + logAndConfig);
  EXPECT_EQ(broken.status, 2);
  EXPECT_NE(broken.output.find("flowdeck.conf: LogFormat: column 7: unknown directive '%Q'"),
            std::string::npos)
      << broken.output;
}

TEST(Flowdeck, GoesOnWhenPort80IsTakenAndStillRecordsTheShield) {
  testing_support::Port80 port80;
  if (!port80.NothingListens()) GTEST_SKIP() << "port 80 cannot be bound here";
  ASSERT_TRUE(port80.Listen(16));
  TempDir dir;
  testing_support::WriteFile(dir.File("access.log"), PacedLog());
  Result run = Flowdeck("replay " + Options(dir) + " " + dir.File("access.log"), false);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("cannot listen on 127.0.0.1:80"), std::string::npos) << run.output;
  EXPECT_NE(ReadFile(dir.File("out/KvVantrel.xml")).find("203.0.113.66"), std::string::npos);
}

TEST(Flowdeck, ReplaysTheRealLogsToTheirEnd) {
  const std::filesystem::path logs = FLOWDECK_ACCESS_LOGS;
  if (!std::filesystem::exists(logs)) GTEST_SKIP() << "no real logs at " << logs;
  for (const auto &entry : std::filesystem::directory_iterator(logs)) {
    if (entry.path().extension() != ".log") continue;
    TempDir dir;
    Result run = Flowdeck("replay " + Options(dir) + " " + entry.path().string());
    EXPECT_EQ(run.status, 0) << entry.path() << run.output;
    EXPECT_NE(run.output.find("lines read: "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(" 0 at 2\n"), std::string::npos)
        << entry.path() << ": nobody in a real log is paced\n"
        << run.output;
  }
}

}  // namespace
