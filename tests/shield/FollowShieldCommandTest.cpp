// ShieldCommand through flowdeck follow: each raise and lift reaches the program with the
// shield in its environment, and a program that fails or hangs holds up neither the run nor
// the other actions.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

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

// A program that notes each run's environment, fails for 203.0.113.1 and hangs (until the
// time limit kills it) when 203.0.113.2 is raised.
void WriteCommand(const std::string &path, const std::string &notes) {
  testing_support::WriteFile(
      path,
      "#!/bin/sh\n"
      "printf '%s|%s|%s|%s|%s|%s|%s\\n' \"$FLOWDECK_EVENT\" \"$FLOWDECK_ADDRESS\" "
      "\"$FLOWDECK_HOST\" \"$FLOWDECK_RESOURCE\" \"$FLOWDECK_DEFLECT\" \"$FLOWDECK_TIME\" "
      "\"$FLOWDECK_SECONDS\" >> " +
          notes +
          "\n"
          "case \"$FLOWDECK_EVENT $FLOWDECK_ADDRESS\" in\n"
          "  *' 203.0.113.1') echo 'no such chain' >&2; exit 3 ;;\n"
          "  'raise 203.0.113.2') exec sleep 60 ;;\n"
          "esac\n");
  chmod(path.c_str(), 0755);
}

std::vector<std::string> Sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST(FollowShieldCommand, SeesEachRaiseAndLiftAndAFailingOrHangingOneHoldsNothingUp) {
  testing_support::Port80 port80;
  testing_support::TempDir dir;
  const std::string log = dir.File("site.log"), notes = dir.File("notes.txt");
  const std::string map = dir.File("shields.map");
  WriteCommand(dir.File("on-shield"), notes);
  AppendTo(log, "");
  FollowProcess follow(
      dir.Path(),
      "ShieldSeconds = 2\nNeverShield =\nShieldCommand = " + dir.File("on-shield") +
          "\nNginxMapFile = " + map + "\nNginxReload = true\nNginxTest =\nTrace = True\n",
      {log});
  ASSERT_TRUE(follow.Start()) << follow.Output();

  // Shield requests that reached the site's own web server, from this machine: the same shield
  // asked for twice, the second time with the host in other letters.
  auto request = [&](const std::string &address, const std::string &host) {
    return LogLine("127.0.0.1", follow.Keyed(ShieldRequestTarget(address, host, "/admin/log in.php",
                                                                 "/sorry/login.htm")));
  };
  AppendTo(log, request("203.0.113.1", "shop.test") + request("203.0.113.2", "shop.test") +
                    request("2001:DB8:0::7", "Shop.Test") + request("2001:DB8:0::7", "SHOP.test"));
  ASSERT_TRUE(WaitUntil([&] { return LinesOf(notes).size() >= 2; }, 10))
      << follow.Output() << follow.Events();
  EXPECT_EQ(LinesOf(map).size(), 3u) << ReadFile(map);
  // While the command hangs, the run goes on: it streams, lifts, and the map follows.
  AppendTo(log, LogLine("198.51.100.9", "/index.html"));
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(map).empty(); }, 10))
      << ReadFile(map) << follow.Events();
  EXPECT_TRUE(WaitUntil([&] { return follow.Metric("flowdeck_requests_streamed_total") >= 1; }, 5));
  EXPECT_EQ(LinesOf(notes).size(), 2u) << "the hanging command holds up only the commands";

  // The time limit ends the hang; the commands queued behind it run then.
  ASSERT_TRUE(WaitUntil([&] { return LinesOf(notes).size() >= 6; }, 20)) << ReadFile(notes);
  ASSERT_TRUE(follow.Stop()) << follow.Output();
  const std::vector<std::string> notesNow = LinesOf(notes);
  ASSERT_EQ(notesNow.size(), 6u) << ReadFile(notes);
  EXPECT_TRUE(notesNow[0].starts_with("raise|203.0.113.1|")) << notesNow[0];
  EXPECT_TRUE(notesNow[1].starts_with("raise|203.0.113.2|")) << notesNow[1];
  const std::string events = follow.Events();
  ASSERT_NE(events.find(" until "), std::string::npos) << events;
  const std::string raisedAt = events.substr(0, events.find(' '));
  const std::string rest = "|shop.test|/admin/log in.php|/sorry/login.htm|" + raisedAt + "|2";
  EXPECT_EQ(Sorted(notesNow), Sorted({"raise|203.0.113.1" + rest, "raise|203.0.113.2" + rest,
                                      "raise|2001:db8::7" + rest, "lift|203.0.113.1" + rest,
                                      "lift|203.0.113.2" + rest, "lift|2001:db8::7" + rest}))
      << ReadFile(notes) << events;

  const std::string output = follow.Output();
  EXPECT_NE(output.find("ShieldCommand (raise 203.0.113.1 shop.test /admin/log in.php): '" +
                        dir.File("on-shield") + "' exited with status 3: no such chain"),
            std::string::npos)
      << output;
  EXPECT_NE(
      output.find("ShieldCommand (raise 203.0.113.2 shop.test /admin/log in.php): '" +
                  dir.File("on-shield") + "' was still running after 10000 ms and was killed"),
      std::string::npos)
      << output;
  EXPECT_NE(output.find("shields raised: 3, lifted: 3, refused: 0, in force at the end: 0"),
            std::string::npos)
      << output;
}

}  // namespace
