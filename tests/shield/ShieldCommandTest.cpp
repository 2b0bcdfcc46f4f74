// The command action: every raise and lift reaches the program in its environment, and a
// program that fails or hangs holds nothing up.
#include "shield/ShieldCommand.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <thread>

#include "ShieldTesting.h"
#include "base/HostConfig.h"
#include "shield/ShieldActions.h"
#include "support/LocalZone.h"
#include "support/TempDir.h"

namespace {

using host::HostConfig;
using host::Shield;
using host::ShieldActions;
using host::ShieldCommand;
using shield_testing::MakeShield;
using testing_support::TempDir;
using namespace std::chrono_literals;

using Variables = std::map<std::string, std::string>;

TEST(ShieldCommand, GivesTheShieldInItsEnvironment) {
  const testing_support::LocalZone zone("Asia/Kolkata");
  EXPECT_EQ(ShieldCommand::Environment(
                "raise", MakeShield("2001:db8::1", "shop.test", "/a b", "/d", 1700000000, 600)),
            (std::vector<std::string>{
                "FLOWDECK_EVENT=raise", "FLOWDECK_ADDRESS=2001:db8::1", "FLOWDECK_HOST=shop.test",
                "FLOWDECK_RESOURCE=/a b", "FLOWDECK_DEFLECT=/d",
                "FLOWDECK_TIME=2023-11-15T03:43:20+05:30", "FLOWDECK_SECONDS=600"}));
  EXPECT_EQ(ShieldCommand::Refusal(MakeShield("::1", std::string("a\0b", 3))),
            "it holds a NUL byte, which an environment value cannot carry");
  EXPECT_EQ(ShieldCommand::Refusal(MakeShield("::1", "a'b;c\r\n$(x)")), "");
}

// A program that files its FLOWDECK_ variables, one file per run, and what makes it.
class RecordingCommand {
 public:
  explicit RecordingCommand(const std::string &extra = "") {
    testing_support::WriteFile(dir_.File("record.sh"),
                               "#!/bin/sh\nenv -0 > \"$1/run.$$\"\n" + extra);
    chmod(dir_.File("record.sh").c_str(), 0755);
  }
  std::string Setting() const { return dir_.File("record.sh") + " " + dir_.Path(); }

  // Each run's FLOWDECK_ variables, in the order the runs wrote them.
  std::vector<Variables> Runs() const {
    std::vector<std::pair<timespec, Variables>> runs;
    DIR *listing = opendir(dir_.Path().c_str());
    while (dirent *entry = readdir(listing)) {
      const std::string name = entry->d_name;
      if (!name.starts_with("run.")) continue;
      struct stat status {};
      stat(dir_.File(name).c_str(), &status);
      Variables variables;
      const std::string content = testing_support::ReadFile(dir_.File(name));
      for (size_t start = 0, end; start < content.size(); start = end + 1) {
        end = content.find('\0', start);
        const std::string entryText = content.substr(start, end - start);
        if (entryText.starts_with("FLOWDECK_"))
          variables[entryText.substr(0, entryText.find('='))] =
              entryText.substr(entryText.find('=') + 1);
      }
      runs.emplace_back(status.st_mtim, variables);
    }
    closedir(listing);
    std::sort(runs.begin(), runs.end(), [](const auto &a, const auto &b) {
      return std::tie(a.first.tv_sec, a.first.tv_nsec) < std::tie(b.first.tv_sec, b.first.tv_nsec);
    });
    std::vector<Variables> ordered;
    for (auto &run : runs) ordered.push_back(std::move(run.second));
    return ordered;
  }

 private:
  TempDir dir_;
};

TEST(ShieldCommand, RunsForEachRaiseAndLiftWithTheValuesAsTheyAre) {
  const testing_support::LocalZone zone("Asia/Kolkata");
  RecordingCommand command;
  HostConfig config;
  config.Set("ShieldCommand", command.Setting(), "test");
  ShieldActions actions(config);
  ASSERT_TRUE(actions.Configured());
  actions.Start({MakeShield("127.0.0.70")}, 1700000000);  // restored: raised before
  const Shield odd = MakeShield("2001:DB8::7", "Shop.Test", "/a'b\";c $(touch x)\r\n`id`", "/d e",
                                1700000000, 120);
  actions.Apply({odd}, {}, 1700000000);
  actions.Apply({}, {odd}, 1700000120);
  actions.Drain();
  const std::vector<Variables> runs = command.Runs();
  ASSERT_EQ(runs.size(), 2u);
  const Variables raise = {
      {"FLOWDECK_EVENT", "raise"},    {"FLOWDECK_ADDRESS", "2001:db8::7"},
      {"FLOWDECK_HOST", "shop.test"}, {"FLOWDECK_RESOURCE", "/a'b\";c $(touch x)\r\n`id`"},
      {"FLOWDECK_DEFLECT", "/d e"},   {"FLOWDECK_TIME", "2023-11-15T03:43:20+05:30"},
      {"FLOWDECK_SECONDS", "120"}};
  Variables lift = raise;
  lift["FLOWDECK_EVENT"] = "lift";
  EXPECT_EQ(runs[0], raise);
  EXPECT_EQ(runs[1], lift);
  EXPECT_EQ(actions.Counts().commandRuns, 2);
  EXPECT_EQ(shield_testing::Texts(actions.TakeProblems()), std::vector<std::string>());
}

TEST(ShieldCommand, AFailingOrHangingCommandIsReportedAndHoldsNothingUp) {
  // Fails for one address, hangs for another, and files the rest.
  RecordingCommand command(
      "case $FLOWDECK_ADDRESS in 127.0.0.71) echo 'no such user' >&2; exit 2;;"
      " 127.0.0.72) exec sleep 30;; esac\n");
  TempDir maps;
  HostConfig config;
  config.Set("ShieldCommand", command.Setting(), "test");
  config.Set("NginxMapFile", maps.File("shields.map"), "test");
  config.Set("NginxReload", "true", "test");
  config.Set("NginxTest", "", "test");
  ShieldActions actions(config, 1500ms);
  actions.Start({}, 1700000000);
  const auto start = std::chrono::steady_clock::now();
  actions.Apply({MakeShield("127.0.0.72")}, {}, 1700000000);
  actions.Apply({MakeShield("127.0.0.71"), MakeShield("127.0.0.73")}, {}, 1700000000);
  // The map file does not wait for the hanging command.
  std::string map;
  while (map.find("127.0.0.73") == std::string::npos &&
         std::chrono::steady_clock::now() - start < 5s) {
    std::this_thread::sleep_for(10ms);
    map = testing_support::ReadFile(maps.File("shields.map"));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_NE(map.find("127.0.0.73"), std::string::npos);
  actions.Drain();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

  const std::vector<Variables> runs = command.Runs();
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[2].at("FLOWDECK_ADDRESS"), "127.0.0.73");
  const std::string script = "'" + command.Setting() + "'";
  EXPECT_EQ(shield_testing::Texts(actions.TakeProblems()),
            (std::vector<std::string>{
                "ShieldCommand (raise 127.0.0.72 shop.test /admin/login.php): " + script +
                    " was still running after 1500 ms and was killed",
                "ShieldCommand (raise 127.0.0.71 shop.test /admin/login.php): " + script +
                    " exited with status 2: no such user"}));
  EXPECT_EQ(actions.Counts().commandRuns, 3);
  EXPECT_EQ(actions.Counts().commandFailures, 2);
  EXPECT_EQ(actions.Counts().commandTimeouts, 1);
}

}  // namespace
