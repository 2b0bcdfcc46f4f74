// The shields of a run: in force for their lifetime, carried out once, lifted once, kept across
// a restart, and refused or spared where they must not act.
#include "shield/ShieldKeeper.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "support/LocalZone.h"
#include "support/TempDir.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;

constexpr int64_t kStart = 1'796'644'800'000;  // 7 Dec 2026 12:00:00 UTC, in milliseconds

host::ShieldRequest Request(const std::string &address, const std::string &resource = "/login",
                            const std::string &deflect = "/sorry.htm") {
  host::ShieldRequest request;
  request.address = address;
  request.host = "shop.example";
  request.resource = resource;
  request.deflect = deflect;
  return request;
}

// A run directory with a configuration whose command notes every raise and lift.
struct RunDirectory {
  TempDir dir;
  host::HostConfig config;

  RunDirectory() {
    const std::string script = dir.File("note.sh");
    std::ofstream(script) << "#!/bin/sh\necho \"$FLOWDECK_EVENT $FLOWDECK_ADDRESS "
                             "$FLOWDECK_RESOURCE $FLOWDECK_SECONDS\" >> "
                          << dir.File("commands") << "\n";
    chmod(script.c_str(), 0755);
    config.Set("ShieldCommand", script, "test");
    config.Set("ShieldSeconds", "60", "test");
    config.Set("NginxMapFile", dir.File("shields.map"), "test");
    config.Set("NginxReload", "/bin/true", "test");
    config.Set("NginxTest", "", "test");
  }
  host::ShieldKeeper Keeper(bool restore = true) {
    return host::ShieldKeeper(config, {dir.Path(), true, restore});
  }
  std::string Commands() { return ReadFile(dir.File("commands")); }
};

// A host in other letters is the same host, as every action keys it: asked again so, the
// shield is neither raised twice nor lifted by the actions while the run still holds it.
TEST(ShieldKeeper, AHostInOtherLettersIsTheSameShield) {
  RunDirectory run;
  host::ShieldKeeper keeper = run.Keeper(false);
  keeper.Start(kStart);
  host::ShieldRequest upper = Request("203.0.113.9");
  upper.host = "Shop.Example";
  ASSERT_EQ(keeper.Cycle({upper}, kStart + 1000).raised.size(), 1u);
  EXPECT_TRUE(keeper.Cycle({Request("203.0.113.9")}, kStart + 20'000).raised.empty());
  EXPECT_EQ(keeper.Tally().repeated, 1u);
  EXPECT_EQ(keeper.Cycle({}, kStart + 61'000).lifted.size(), 1u);
  EXPECT_EQ(keeper.InForce(), 0u);
  keeper.Finish();
  EXPECT_EQ(run.Commands(), "raise 203.0.113.9 /login 60\nlift 203.0.113.9 /login 60\n");
}

TEST(ShieldKeeper, KeepsAShieldForItsLifetimeAcrossARestartAndActsOnItOnce) {
  const testing_support::LocalZone zone("Asia/Kolkata");
  RunDirectory run;
  {
    host::ShieldKeeper keeper = run.Keeper();
    EXPECT_TRUE(keeper.Start(kStart).lock.empty());
    host::ShieldChanges raised = keeper.Cycle({Request("203.0.113.9")}, kStart + 1000);
    ASSERT_EQ(raised.raised.size(), 1u);
    EXPECT_EQ(raised.lock, std::vector<std::string>{"203.0.113.9"});
    EXPECT_EQ(raised.raised[0].expiresAt, kStart / 1000 + 61);
    EXPECT_TRUE(keeper.Shielded("203.0.113.9"));
    EXPECT_FALSE(keeper.Shielded("203.0.113.90"));
    // The plug-in asks again (its records start afresh after a restart): nothing happens twice.
    EXPECT_TRUE(keeper.Cycle({Request("203.0.113.9")}, kStart + 2000).raised.empty());
    EXPECT_EQ(keeper.Tally().repeated, 1u);
    keeper.Finish();
  }
  EXPECT_EQ(run.Commands(), "raise 203.0.113.9 /login 60\n");
  EXPECT_NE(ReadFile(run.dir.File("shields.map")).find("203.0.113.9"), std::string::npos);
  EXPECT_NE(ReadFile(run.dir.File("flowdeck-shields.tsv"))
                .find("\n2026-12-07T17:30:01+05:30\t2026-12-07T17:31:01+05:30\tregularity\t"),
            std::string::npos);
  {
    // Started again within the lifetime: in force at once, locked when the visitor comes back,
    // the map file as it was, and no second raise.
    host::ShieldKeeper keeper = run.Keeper();
    host::ShieldChanges restored = keeper.Start(kStart + 30'000);
    EXPECT_EQ(restored.lock, std::vector<std::string>{"203.0.113.9"});
    EXPECT_TRUE(keeper.Shielded("203.0.113.9"));
    EXPECT_EQ(keeper.Tally().restored, 1u);
    EXPECT_TRUE(keeper.Cycle({}, kStart + 60'000).lifted.empty()) << "one second still to go";
    host::ShieldChanges lifted = keeper.Cycle({}, kStart + 61'000);
    ASSERT_EQ(lifted.lifted.size(), 1u);
    EXPECT_EQ(lifted.unlock, std::vector<std::string>{"203.0.113.9"});
    EXPECT_FALSE(keeper.Shielded("203.0.113.9"));
    keeper.Finish();
  }
  EXPECT_EQ(run.Commands(), "raise 203.0.113.9 /login 60\nlift 203.0.113.9 /login 60\n");
  EXPECT_EQ(ReadFile(run.dir.File("shields.map")).find("203.0.113.9"), std::string::npos);
  const std::string events = ReadFile(run.dir.File("flowdeck-shields.log"));
  EXPECT_NE(events.find("2026-12-07T17:30:01+05:30 raise regularity 203.0.113.9 shop.example "
                        "/login -> /sorry.htm until 2026-12-07T17:31:01+05:30 offence 1\n"),
            std::string::npos)
      << events;
  EXPECT_NE(events.find("2026-12-07T17:31:01+05:30 lift regularity 203.0.113.9"),
            std::string::npos);
}

TEST(ShieldKeeper, LiftsAtStartWhatExpiredWhileNothingRanAndAFreshRunForgetsIt) {
  RunDirectory run;
  {
    host::ShieldKeeper keeper = run.Keeper();
    keeper.Start(kStart);
    keeper.Cycle({Request("198.51.100.4")}, kStart);
    keeper.Cycle({Request("198.51.100.4", "/admin")}, kStart + 1000);
    keeper.Finish();
  }
  {
    host::ShieldKeeper fresh = run.Keeper(false);  // a replay starts afresh
    EXPECT_TRUE(fresh.Start(kStart + 1000).lock.empty());
    EXPECT_FALSE(fresh.Shielded("198.51.100.4"));
  }
  host::ShieldKeeper keeper = run.Keeper();
  host::ShieldChanges start = keeper.Start(kStart + 3'600'000);
  EXPECT_EQ(start.lifted.size(), 2u);
  EXPECT_TRUE(start.lock.empty());
  EXPECT_FALSE(keeper.Shielded("198.51.100.4"));
  keeper.Finish();
  // The address's second shield lasts twice as long as its first.
  EXPECT_EQ(run.Commands(),
            "raise 198.51.100.4 /login 60\nraise 198.51.100.4 /admin 120\n"
            "lift 198.51.100.4 /login 60\nlift 198.51.100.4 /admin 120\n");
}

TEST(ShieldKeeper, RefusesWhatNoActionCanCarryAndSparesNeverShield) {
  RunDirectory run;
  host::ShieldKeeper keeper = run.Keeper();
  keeper.Start(kStart);
  host::ShieldChanges changes = keeper.Cycle(
      {Request("1.2.3"), Request("203.0.113.7; rm -rf /"), Request("203.0.113.8", "/a", "/$host"),
       Request("127.0.0.1"), Request("::1"), Request("2001:db8::7")},
      kStart);
  ASSERT_EQ(changes.raised.size(), 1u);
  EXPECT_EQ(changes.raised[0].address, "2001:db8::7");
  EXPECT_EQ(keeper.Tally().refused, 3u);
  EXPECT_EQ(keeper.Tally().spared, 2u);
  EXPECT_EQ(keeper.Tally().sparedShields,
            (std::vector<std::string>{"127.0.0.1 shop.example/login (NeverShield)",
                                      "::1 shop.example/login (NeverShield)"}));
  EXPECT_FALSE(keeper.Shielded("127.0.0.1")) << "NeverShield is not locked either";
  keeper.Finish();
  EXPECT_EQ(run.Commands(), "raise 2001:db8::7 /login 60\n");
  const std::string events = ReadFile(run.dir.File("flowdeck-shields.log"));
  EXPECT_NE(events.find("refuse regularity 1.2.3 shop.example /login -> /sorry.htm (not an IPv4 "),
            std::string::npos)
      << events;
  EXPECT_NE(events.find("spare regularity 127.0.0.1"), std::string::npos) << events;
}

// A deflect path that leaves the site, or a host that would move the parts of a key, is refused
// whether or not an action is configured: a run that records only may act after a restart.
TEST(ShieldKeeper, RefusesDeflectsOutOfTheSiteAndHostsThatSplitKeysWithOrWithoutActions) {
  for (const bool withActions : {true, false}) {
    RunDirectory run;
    if (!withActions) run.config = host::HostConfig();
    host::ShieldKeeper keeper = run.Keeper(false);
    keeper.Start(kStart);
    host::ShieldRequest spaced = Request("203.0.113.70", "/c");
    spaced.host = "a b";
    host::ShieldRequest split = Request("203.0.113.70", "b /c");
    split.host = "a";
    host::ShieldChanges changes = keeper.Cycle(
        {Request("203.0.113.7", "/a", "/../../../../etc/passwd"),
         Request("203.0.113.7", "/b", "/%2E%2e/x"), Request("203.0.113.7", "/c", "//evil.test/"),
         Request("203.0.113.7", "/d", "http://evil.test/"), Request("203.0.113.7", "/e", "/a%2fb"),
         Request("203.0.113.7", "/f", "/a\\b"), spaced, split,
         Request("203.0.113.7", "/g", "/a/.../b")},
        kStart);
    ASSERT_EQ(changes.raised.size(), 2u) << withActions;
    EXPECT_EQ(changes.raised[0].resource, "b /c");
    EXPECT_EQ(changes.raised[1].deflect, "/a/.../b");
    EXPECT_EQ(keeper.Tally().refused, 7u);
    keeper.Finish();
    const std::string events = ReadFile(run.dir.File("flowdeck-shields.log"));
    EXPECT_NE(events.find(" refuse regularity 203.0.113.7 shop.example /a -> "
                          "/../../../../etc/passwd (its deflect path holds a '.' or '..' "
                          "segment)\n"),
              std::string::npos)
        << events;
    EXPECT_NE(events.find(" refuse regularity 203.0.113.70 a%20b /c -> /sorry.htm (its host holds "
                          "a character no host name or address holds"),
              std::string::npos)
        << events;
    if (withActions) {
      EXPECT_EQ(run.Commands(), "raise 203.0.113.70 b /c 60\nraise 203.0.113.7 /g 60\n");
      EXPECT_EQ(ReadFile(run.dir.File("shields.map")),
                "\"203.0.113.70 a b /c\" /sorry.htm;\n\"203.0.113.7 shop.example /g\" /a/.../b;\n");
    }
  }
}

TEST(ShieldBook, RecordLinesCarryAnyValueAndBadLinesAreDropped) {
  host::Shield shield;
  shield.address = "203.0.113.1";
  shield.host = "h\tost";
  shield.resource = "/a%20b\r\nc";
  shield.deflect = "";
  shield.raisedAt = 5;
  shield.expiresAt = 65;
  shield.source = "pace";
  const std::string line = host::ShieldBook::RecordLine(shield);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  host::Shield back;
  ASSERT_TRUE(host::ShieldBook::ParseRecordLine(line, back));
  EXPECT_EQ(back.host, shield.host);
  EXPECT_EQ(back.resource, shield.resource);
  EXPECT_EQ(back.deflect, "");
  EXPECT_EQ(back.source, "pace");
  EXPECT_EQ(back.expiresAt, 65);
  for (const char *bad : {"", "5\t65\tpace", "x\t65\ts\ta\th\tr\td", "5\t65\ts\t\th\tr\td"}) {
    EXPECT_FALSE(host::ShieldBook::ParseRecordLine(bad, back)) << bad;
  }
  TempDir dir;
  testing_support::WriteFile(dir.File("record"),
                             "# comment\n" + line + "\nnot a shield\n" + line + "\n");
  host::ShieldBook book(dir.File("record"));
  EXPECT_TRUE(book.Restore(10).empty());
  EXPECT_EQ(book.Size(), 1u);
  EXPECT_EQ(book.UnreadRecordLines(), 1u);
}

// A record an earlier version wrote (Unix seconds) is taken over, and written anew in this
// version's form.
TEST(ShieldBook, ARecordOfAnEarlierVersionIsRestored) {
  const testing_support::LocalZone zone("America/New_York");
  TempDir dir;
  const std::string old =
      "1796644801\t1796644861\tregularity\t203.0.113.9\tshop.example\t/login\t/sorry.htm\n";
  testing_support::WriteFile(dir.File("record"), "# flowdeck: the shields in force.\n" + old);
  host::ShieldBook book(dir.File("record"));
  EXPECT_TRUE(book.Restore(1796644830).empty());
  ASSERT_EQ(book.Size(), 1u);
  EXPECT_TRUE(book.Shielded("203.0.113.9"));
  EXPECT_EQ(book.UnreadRecordLines(), 0u);
  const host::Shield shield = book.Active().at(0);
  EXPECT_EQ(shield.raisedAt, 1796644801);
  EXPECT_EQ(shield.expiresAt, 1796644861);
  EXPECT_EQ(host::ShieldBook::RecordLine(shield),
            "2026-12-07T07:00:01-05:00\t2026-12-07T07:01:01-05:00\tregularity\t203.0.113.9\t"
            "shop.example\t/login\t/sorry.htm");
  // One whose lifetime passed while nothing ran is handed back to be lifted.
  host::ShieldBook later(dir.File("record"));
  EXPECT_EQ(later.Restore(1796644900).size(), 1u);
  EXPECT_EQ(later.Size(), 0u);
}

}  // namespace
