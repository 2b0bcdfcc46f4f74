// What flowdeck tells the operator: one time format everywhere it writes one, why `status` cannot
// read a run, figures with their units in aligned columns, its version, the setting or option a
// misspelt one meant, and the errors the plug-ins wrote.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>

#include "support/Port80.h"
#include "support/TempDir.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

struct Result {
  int status = -1;
  std::string out;  // standard output and error together
};

// Runs `prefix flowdeck arguments` through the shell; a replay takes port 80's turn.
Result Flowdeck(const std::string &arguments, const std::string &prefix = "", bool port = false) {
  std::optional<testing_support::Port80> port80;
  if (port) port80.emplace();
  const std::string command = prefix + " " + FLOWDECK_BIN + " " + arguments + " 2>&1";
  Result result;
  FILE *pipe = popen(command.c_str(), "r");
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// A log of a server in the zone `offset` ("+0530"): a person reading, and a script on the admin
// login every 4 seconds from 12:00:00.
std::string PacedLog(const char *offset = "+0530") {
  std::string log;
  char line[256];
  for (int s = 0; s <= 200; s += 4) {
    std::snprintf(line, sizeof line,
                  "203.0.113.66 - - [07/Dec/2026:12:%02d:%02d %s] \"GET /admin/login.php "
                  "HTTP/1.1\" 200 512 \"-\" \"curl/8.5.0\"\n",
                  s / 60, s % 60, offset);
    log += line;
    std::snprintf(line, sizeof line,
                  "198.51.100.7 - - [07/Dec/2026:12:%02d:%02d %s] \"GET /blog/%d.html "
                  "HTTP/1.1\" 200 512 \"-\" \"Mozilla/5.0\"\n",
                  s / 60, s % 60, offset, s * 7 % 13);
    log += line;
  }
  return log;
}

std::string Options(const TempDir &dir) {
  return "--out " + dir.File("out") + " --plugin " + FLOWDECK_PLUGIN_DIR + " --tripwires " +
         FLOWDECK_EXAMPLES + "/tripwires.cfg";
}

bool Matches(const std::string &text, const std::string &pattern) {
  return std::regex_search(text, std::regex(pattern));
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(OperatorMessages, OneTimeFormatWithTheLocalOffsetInTheOutputAndTheFiles) {
  testing_support::Port80 port80;
  if (!port80.NothingListens()) GTEST_SKIP() << "port 80 cannot be bound here: no shield is raised";
  TempDir dir;
  WriteFile(dir.File("access.log"), PacedLog());
  const Result run =
      Flowdeck("replay " + Options(dir) + " " + dir.File("access.log"), "TZ=Asia/Kolkata");
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string stamp = "2026-12-07T12:0[0-3]:[0-5][0-9]\\+05:30";
  std::smatch printed;
  ASSERT_TRUE(std::regex_search(
      run.out, printed,
      std::regex("shield: 203\\.0\\.113\\.66 on localhost/admin/login\\.php -> \\S+ \\((" + stamp +
                 ")\\)\n")))
      << run.out;
  EXPECT_TRUE(Matches(run.out,
                      "\n  203\\.0\\.113\\.66  localhost/admin/login\\.php  hits \\d+  "
                      "factor \\S+  at " +
                          stamp + "\n"))
      << run.out;
  EXPECT_TRUE(Matches(run.out, "\n  level [12]  203\\.0\\.113\\.66  rating \\S+  at " + stamp))
      << run.out;
  // None of the earlier forms: "12/7/2026 12:01:00 PM", "12/07/2026 12:01:00 PM", "...Z".
  EXPECT_FALSE(Matches(run.out, "[0-9]/2026|[0-9]Z\\b| [AP]M\\b")) << run.out;

  const std::string events = ReadFile(dir.File("out/flowdeck-shields.log"));
  EXPECT_TRUE(events.starts_with(printed[1].str() +
                                 " raise regularity 203.0.113.66 localhost /admin/login.php -> "))
      << "the line printed and the event log agree: " << events;
  EXPECT_TRUE(Matches(events, " until 2026-12-07T13:0[0-3]:[0-5][0-9]\\+05:30 offence 1\n"))
      << events;
  const std::string record = ReadFile(dir.File("out/flowdeck-shields.tsv"));
  EXPECT_NE(record.find("\n" + printed[1].str() + "\t2026-12-07T13:"), std::string::npos) << record;
  const Result status = Flowdeck("status " + dir.File("out"), "TZ=Asia/Kolkata");
  // The figures end with when they were written; then come the shields in force (none now: the
  // replayed shield's lifetime ended on the log's clock, long ago).
  EXPECT_TRUE(Matches(status.out,
                      "\nwritten \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\+05:30, "
                      "\\d+ seconds? ago\n\nshields in force:\nno shield in force\n$"))
      << status.out;

  // A log of another zone than the machine's: the plug-ins' times (on the log's clock) and
  // flowdeck's own name the same moments.
  WriteFile(dir.File("access.log"), PacedLog("+0000"));
  const Result utc =
      Flowdeck("replay " + Options(dir) + " " + dir.File("access.log"), "TZ=America/New_York");
  ASSERT_EQ(utc.status, 0) << utc.out;
  const std::string ny = "2026-12-07T07:0[0-3]:[0-5][0-9]-05:00";
  ASSERT_TRUE(std::regex_search(utc.out, printed, std::regex("\\((" + ny + ")\\)\n"))) << utc.out;
  EXPECT_NE(utc.out.find("  at " + printed[1].str() + "\n"), std::string::npos) << utc.out;
  EXPECT_TRUE(Matches(utc.out, "\n  level [12]  203\\.0\\.113\\.66  rating \\S+  at " + ny))
      << utc.out;
}

// Every figure on a line of its own: what it is, the value right-aligned in one column, its unit.
TEST(OperatorMessages, StatusAlignsItsFiguresAndGivesTheirUnits) {
  TempDir dir;
  WriteFile(dir.File("access.log"), PacedLog());
  ASSERT_EQ(
      Flowdeck("replay --quiet " + Options(dir) + " " + dir.File("access.log"), "", true).status,
      0);
  const Result status = Flowdeck("status " + dir.File("out"));
  ASSERT_EQ(status.status, 0) << status.out;
  std::vector<std::string> lines =
      Lines(status.out.substr(0, status.out.find("\n\nshields in force:\n")));
  ASSERT_GT(lines.size(), 20u) << status.out;
  ASSERT_TRUE(lines.back().starts_with("written ")) << status.out;
  lines.pop_back();
  EXPECT_TRUE(Matches(status.out, "^Log lines read  +102 lines\n")) << status.out;
  EXPECT_TRUE(Matches(status.out, "\nRequests streamed to the plug-ins  +102\n")) << status.out;
  EXPECT_TRUE(Matches(status.out,
                      "\nTime the cycles of each plug-in took: KvVantrel  +\\d+\\.\\d{3} "
                      "seconds\n"))
      << status.out;
  EXPECT_TRUE(Matches(status.out, "\nBytes of the followed logs not read yet  +0 bytes\n"))
      << status.out;
  // The values end in one column, whatever the unit after them.
  std::optional<size_t> valueEnd;
  for (std::string line : lines) {
    for (const char *unit : {" lines", " seconds", " bytes"}) {
      if (line.ends_with(unit)) line.resize(line.size() - std::string(unit).size());
    }
    ASSERT_TRUE(Matches(line, "\\S  +[-+0-9.a-zA-Z]+$")) << line;
    if (!valueEnd) valueEnd = line.size();
    EXPECT_EQ(line.size(), *valueEnd) << line << "\n" << status.out;
  }
}

// What cannot be read is said with its cause: missing, not a directory, not a run, not yet
// written, not readable by the user who asks.
TEST(OperatorMessages, StatusNamesWhyItCannotReadARun) {
  TempDir dir;
  const Result missing = Flowdeck("status " + dir.File("nowhere"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out,
            "flowdeck status: " + dir.File("nowhere") + ": No such file or directory\n");
  WriteFile(dir.File("file"), "x");
  EXPECT_EQ(Flowdeck("status " + dir.File("file")).out,
            "flowdeck status: " + dir.File("file") + ": not a run directory: Not a directory\n");
  std::filesystem::create_directory(dir.File("empty"));
  EXPECT_EQ(Flowdeck("status " + dir.File("empty")).out,
            "flowdeck status: " + dir.File("empty") +
                ": not a run directory (flowdeck.prom is written in the --out directory of a "
                "run)\n");
  std::filesystem::create_directory(dir.File("starting"));
  WriteFile(dir.File("starting/flowdeck-run.txt"), "ShieldCycleSeconds = 10\n");
  EXPECT_EQ(Flowdeck("status " + dir.File("starting")).out,
            "flowdeck status: " + dir.File("starting") +
                ": no figures yet (a follow writes flowdeck.prom after every cycle, a replay at "
                "its end)\n");

  // A run directory of another user, 0750 as flowdeck makes it.
  std::filesystem::create_directory(dir.File("run"));
  WriteFile(dir.File("run/flowdeck.prom"), "flowdeck_lines_read_total 5\n");
  chmod(dir.Path().c_str(), 0755);
  chmod(dir.File("run").c_str(), 0750);
  std::string asOther;
  if (geteuid() == 0) {
    // Root reads everything: ask as nobody.
    if (Flowdeck("--version", "setpriv --reuid=65534 --regid=65534 --clear-groups").status != 0) {
      GTEST_SKIP() << "cannot run flowdeck as nobody here: permission denied is untested";
    }
    asOther = "setpriv --reuid=65534 --regid=65534 --clear-groups";
  } else {
    chmod(dir.File("run").c_str(), 0);
  }
  const Result denied = Flowdeck("status " + dir.File("run"), asOther);
  chmod(dir.File("run").c_str(), 0750);
  EXPECT_EQ(denied.status, 1);
  EXPECT_EQ(denied.out, "flowdeck status: " + dir.File("run/flowdeck.prom") +
                            ": Permission denied (run it as the user the run wrote its files as, "
                            "or with sudo)\n");
}

TEST(OperatorMessages, VersionAndTheNamesAMisspellingMeant) {
  for (const char *option : {"--version", "-V"}) {
    const Result version = Flowdeck(option);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("flowdeck ") + FLOWDECK_PROJECT_VERSION + "\n");
  }
  const Result command = Flowdeck("replya x.log");
  EXPECT_EQ(command.status, 2);
  EXPECT_TRUE(command.out.starts_with(
      "flowdeck: unknown command 'replya'; did you mean 'replay'?\nusage: flowdeck"))
      << command.out;

  TempDir dir;
  WriteFile(dir.File("a.log"), PacedLog());
  WriteFile(dir.File("f.conf"), "# shields for a day\nShieldSecond = 86400\n");
  const Result setting = Flowdeck("replay " + Options(dir) + " --config " + dir.File("f.conf") +
                                  " " + dir.File("a.log"));
  EXPECT_EQ(setting.status, 2);
  EXPECT_NE(setting.out.find("f.conf:2: unknown setting 'ShieldSecond'; did you mean "
                             "'ShieldSeconds'?"),
            std::string::npos)
      << setting.out;
  const Result option =
      Flowdeck("follow " + Options(dir) + " --shieldcycle 5 " + dir.File("a.log"));
  EXPECT_EQ(option.status, 2);
  EXPECT_EQ(option.out,
            "flowdeck follow: unknown option --shieldcycle; did you mean '--shield-cycle'?\n"
            "Try 'flowdeck follow --help'.\n");
}

// A plug-in that fails goes on and writes why to its error log: each such line is counted.
TEST(OperatorMessages, TheErrorsThePluginsWroteAreCounted) {
  TempDir dir;
  WriteFile(dir.File("access.log"), PacedLog());
  // The monitor's exports go to a directory that is not there: an error at every cycle.
  WriteFile(dir.File("f.conf"), "FernwickPath = " + dir.File("gone") + "/\n");
  // Errors of an earlier run in the same directory are not this run's.
  std::filesystem::create_directory(dir.File("out"));
  WriteFile(dir.File("out/KvCorvaneErrors.LOG"), "old\r\nold\r\nold\r\n");
  const Result run = Flowdeck("replay --quiet " + Options(dir) + " --config " + dir.File("f.conf") +
                                  " " + dir.File("access.log"),
                              "", true);
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string errors = ReadFile(dir.File("out/KvCorvaneErrors.LOG"));
  const auto written = std::count(errors.begin(), errors.end(), '\n');
  ASSERT_GT(written, 0) << "the monitor wrote no error";
  EXPECT_NE(errors.find("Path not found"), std::string::npos) << errors;
  const std::string metrics = ReadFile(dir.File("out/flowdeck.prom"));
  EXPECT_NE(metrics.find("flowdeck_plugin_errors_total{plugin=\"KvCorvane\"} " +
                         std::to_string(written) + "\n"),
            std::string::npos)
      << metrics;
  EXPECT_NE(metrics.find("flowdeck_plugin_errors_total{plugin=\"KvVantrel\"} 0\n"),
            std::string::npos)
      << metrics;
  EXPECT_TRUE(Matches(Flowdeck("status " + dir.File("out")).out,
                      "\nErrors each plug-in wrote to its error log this run, a line each: "
                      "KvCorvane  +" +
                          std::to_string(written) + "\n"));
}

}  // namespace
