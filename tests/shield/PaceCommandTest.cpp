// The pace test as an operator meets it: a replay --apply with the nginx map action shields a
// client whose delay is drawn at random (marked pace), a client on a fixed timer once (marked
// regularity, and not again by the pace test), never an exempted resource, and nobody when the
// test is switched off.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <regex>

#include "support/ChildProcess.h"
#include "support/Port80.h"
#include "support/TempDir.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;

std::string Line(const std::string &address, double seconds, const std::string &path) {
  const int s = static_cast<int>(seconds);
  char time[64];
  std::snprintf(time, sizeof time, "[07/Dec/2026:%02d:%02d:%02d +0000]", 12 + s / 3600, s / 60 % 60,
                s % 60);
  return address + " - - " + time + " \"GET " + path + " HTTP/1.1\" 200 512 \"-\" \"agent\"\n";
}

// A client whose every delay is drawn from 5 to 15 s, one on a 6 s timer, and the same random
// client's twin on a resource its definition exempts.
std::string Traffic() {
  std::mt19937 random(42);
  std::uniform_real_distribution<double> delay(5, 15);
  std::vector<std::pair<double, std::string>> lines;
  double t = 0;
  for (int i = 0; i < 40; ++i, t += delay(random)) {
    lines.emplace_back(t, Line("203.0.113.20", t, "/api/price?item=9"));
    lines.emplace_back(t + 0.5, Line("203.0.113.21", t + 0.5, "/admin/health.txt"));
  }
  for (int i = 0; i < 40; ++i)
    lines.emplace_back(3 + 6 * i, Line("203.0.113.30", 3 + 6 * i, "/wp-login.php"));
  std::stable_sort(lines.begin(), lines.end(),
                   [](const auto &a, const auto &b) { return a.first < b.first; });
  std::string log;
  for (const auto &line : lines) log += line.second;
  return log;
}

struct Replayed {
  int status = -1;
  std::string output, map, events;
};

Replayed Replay(const TempDir &dir, const std::string &settings) {
  testing_support::WriteFile(dir.File("flowdeck.conf"),
                             "NginxMapFile = " + dir.File("shields.map") +
                                 "\nNginxReload = /bin/true\nNginxTest =\n" + settings);
  testing_support::WriteFile(dir.File("access.log"), Traffic());
  std::filesystem::remove_all(dir.File("out"));
  Replayed run;
  testing_support::Port80 port80;
  run.status = testing_support::RunProgram(
      {FLOWDECK_BIN, "replay", "--apply", "--quiet", "--config", dir.File("flowdeck.conf"), "--out",
       dir.File("out"), "--plugin", FLOWDECK_PLUGIN_DIR, "--tripwires",
       FLOWDECK_EXAMPLES "/tripwires.cfg", dir.File("access.log")},
      run.output);
  run.map = ReadFile(dir.File("shields.map"));
  run.events = ReadFile(dir.File("out/flowdeck-shields.log"));
  return run;
}

size_t Count(const std::string &text, const std::string &part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(PaceCommand, ShieldsARandomizedClientOnceMarkedPaceAndATimerOnceMarkedRegularity) {
  TempDir dir;
  Replayed run = Replay(dir, "");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Count(run.events, " raise pace 203.0.113.20 localhost /api/price -> /sorry/price.htm"),
            1u)
      << run.events;
  // Delays drawn from 5 to 15 s scatter about 0.29 of their mean: the figures say so.
  EXPECT_TRUE(std::regex_search(
      run.events, std::regex(" raise pace 203\\.0\\.113\\.20 .* until \\S+ offence 1 \\(hits "
                             "\\d+, mean gap \\d+\\.\\d{3} s, spread "
                             "0\\.[123]\\d\\d\\)\n")))
      << run.events;
  EXPECT_NE(run.output.find("  pace  at "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("  even, "), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("steady"), std::string::npos) << run.output;
  EXPECT_NE(run.map.find("\"203.0.113.20 localhost /api/price\" /sorry/price.htm;"),
            std::string::npos)
      << "the pace shield acts through nginx with the definition's deflect path\n"
      << run.map;
  EXPECT_EQ(run.events.find("203.0.113.21"), std::string::npos) << "an exempted resource";
  EXPECT_NE(run.output.find("shields of the pace test (gaps too even for a person's): 1\n  "
                            "203.0.113.20  localhost/api/price  pace"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(Count(run.output, "203.0.113.20  localhost/api/price"), 1u)
      << "listed once, as the pace test's\n"
      << run.output;
  EXPECT_EQ(ReadFile(dir.File("out/KvVantrel.xml")).find("203.0.113.20"), std::string::npos)
      << "the plug-in's file is its own";
  if (testing_support::Port80().NothingListens()) {
    EXPECT_EQ(Count(run.events, " raise "), 2u) << run.events;
    EXPECT_EQ(Count(run.events, " raise regularity 203.0.113.30 localhost /wp-login.php"), 1u)
        << "the timer is the plug-in's, and the pace test does not shield it again\n"
        << run.events;
  }
  Replayed off = Replay(dir, "PaceTest = False\n");
  ASSERT_EQ(off.status, 0) << off.output;
  EXPECT_EQ(off.events.find(" pace "), std::string::npos) << off.events;
  EXPECT_EQ(off.map.find("203.0.113.20"), std::string::npos) << off.map;
}

}  // namespace
