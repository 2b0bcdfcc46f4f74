// flowdeck follow stopped and started again on the same --out, as a service is on an upgrade
// or a reboot: the shields in force stay in force without being applied twice, and those whose
// lifetime passed while it was down are lifted as it starts.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "FollowProcess.h"
#include "support/Port80.h"
#include "support/TempDir.h"

namespace {

using shield_testing::AppendTo;
using shield_testing::FollowProcess;
using shield_testing::LinesOf;
using shield_testing::LogLine;
using shield_testing::ShieldRequestTarget;
using shield_testing::WaitUntil;
using testing_support::ReadFile;

// A program that appends its arguments, and the event and address of a shield, to `notes`.
std::string NoteCommand(const testing_support::TempDir &dir, const std::string &name) {
  const std::string path = dir.File(name);
  testing_support::WriteFile(path, "#!/bin/sh\necho \"$* $FLOWDECK_EVENT $FLOWDECK_ADDRESS\" >> " +
                                       dir.File(name + ".txt") + "\n");
  chmod(path.c_str(), 0755);
  return path;
}

// The Unix time a shield's lifetime ends, from its "until" in the event log (RFC 3339 with an
// offset); 0 when none.
std::time_t Until(const std::string &events) {
  const size_t at = events.find(" until ");
  std::tm until{};
  const char *offset = at == std::string::npos
                           ? nullptr
                           : strptime(events.c_str() + at + 7, "%Y-%m-%dT%H:%M:%S", &until);
  char sign = 0;
  int hours = 0, minutes = 0;
  if (offset == nullptr || std::sscanf(offset, "%c%2d:%2d", &sign, &hours, &minutes) != 3 ||
      (sign != '+' && sign != '-'))
    return 0;
  return timegm(&until) - (sign == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
}

TEST(FollowRestart, KeepsShieldsInForceWithoutActingTwiceAndLiftsThoseThatExpiredMeanwhile) {
  testing_support::Port80 port80;
  testing_support::TempDir dir;
  const std::string log = dir.File("site.log"), map = dir.File("shields.map");
  const std::string reload = NoteCommand(dir, "reload"), command = NoteCommand(dir, "command");
  AppendTo(log, "");
  FollowProcess follow(
      dir.Path(),
      "ShieldSeconds = 5\nNeverShield =\nNginxMapFile = " + map + "\nNginxReload = " + reload +
          " nginx\nNginxTest =\nShieldCommand = " + command + " shield\nTrace = True\n",
      {log});
  ASSERT_TRUE(follow.Start()) << follow.Output();
  AppendTo(
      log,
      LogLine("127.0.0.1", follow.Keyed(ShieldRequestTarget("203.0.113.5", "shop.test",
                                                            "/admin/a.php", "/sorry/a.htm"))) +
          LogLine("127.0.0.1", follow.Keyed(ShieldRequestTarget("2001:db8::5", "shop.test",
                                                                "/wp-login.php", "/sorry/b.htm"))) +
          LogLine("198.51.100.20", "/before-the-restart.html"));
  ASSERT_TRUE(WaitUntil([&] { return LinesOf(dir.File("command.txt")).size() == 2; }, 10))
      << follow.Output();
  const std::string inForce = ReadFile(map);
  EXPECT_EQ(LinesOf(map).size(), 2u) << inForce;
  EXPECT_EQ(ReadFile(dir.File("reload.txt")), "nginx  \n");
  ASSERT_TRUE(follow.Stop()) << follow.Output();
  EXPECT_EQ(ReadFile(map), inForce) << "a stop lifts nothing";

  // Started again within the lifetime: the same map, no reload, no second raise, and the
  // visitor locked in the monitor when it comes back.
  ASSERT_TRUE(follow.Start()) << follow.Output();
  AppendTo(log, LogLine("203.0.113.5", "/index.html"));
  EXPECT_TRUE(WaitUntil([&] { return follow.Locked("203.0.113.5") == "True"; }, 5))
      << ReadFile(follow.OutFile("KvCorvane.xml"));
  EXPECT_EQ(ReadFile(map), inForce);
  EXPECT_NE(ReadFile(follow.OutFile("KvCorvaneHits.Out")).find("/before-the-restart.html"),
            std::string::npos)
      << "the exports of the run before are kept";
  ASSERT_TRUE(follow.Stop()) << follow.Output();
  EXPECT_EQ(ReadFile(dir.File("reload.txt")), "nginx  \n");
  EXPECT_EQ(ReadFile(dir.File("command.txt")),
            "shield raise 203.0.113.5\nshield raise 2001:db8::5\n")
      << "the second run was stopped before the shields' lifetime ended";
  EXPECT_NE(follow.Output().find("in force at the end: 2 (2 carried over from the last run)"),
            std::string::npos)
      << follow.Output();

  // Started again after it: both lifted at once, by every action.
  const std::time_t until = Until(follow.Events());
  ASSERT_GT(until, 0) << follow.Events();
  ASSERT_TRUE(WaitUntil([&] { return std::time(nullptr) > until; }, 10));
  ASSERT_TRUE(follow.Start()) << follow.Output();
  EXPECT_TRUE(WaitUntil([&] { return ReadFile(map).empty(); }, 5)) << ReadFile(map);
  EXPECT_TRUE(WaitUntil([&] { return LinesOf(dir.File("command.txt")).size() == 4; }, 5));
  ASSERT_TRUE(follow.Stop()) << follow.Output();
  std::vector<std::string> commands = LinesOf(dir.File("command.txt"));
  ASSERT_EQ(commands.size(), 4u) << ReadFile(dir.File("command.txt"));
  std::sort(commands.begin() + 2, commands.end());
  EXPECT_EQ(commands[2], "shield lift 2001:db8::5");
  EXPECT_EQ(commands[3], "shield lift 203.0.113.5");
  EXPECT_EQ(ReadFile(dir.File("reload.txt")), "nginx  \nnginx  \n");
  const std::string events = follow.Events();
  EXPECT_NE(events.find(" lift regularity 203.0.113.5 shop.test /admin/a.php -> /sorry/a.htm "
                        "(expired while flowdeck was down)"),
            std::string::npos)
      << events;
  EXPECT_NE(
      follow.Output().find("shields raised: 0, lifted: 2, refused: 0, in force at the end: 0"),
      std::string::npos)
      << follow.Output();
}

}  // namespace
