// The flowdeck command run as an operator runs it, on logs written here.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#include "support/Port80Lock.h"
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
  std::optional<testing_support::Port80Lock> port80;
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
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(80);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  bool ok = bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  close(fd);
  return ok;
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
  testing_support::Port80Lock port80;
  if (!CanBindPort80()) GTEST_SKIP() << "port 80 cannot be bound here";
  int holder = socket(AF_INET, SOCK_STREAM, 0);
  int yes = 1;
  setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(80);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(listen(holder, 16), 0);
  TempDir dir;
  testing_support::WriteFile(dir.File("access.log"), PacedLog());
  Result run = Flowdeck("replay " + Options(dir) + " " + dir.File("access.log"), false);
  close(holder);
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
