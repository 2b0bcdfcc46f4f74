// The operator's hold on the shields: repeat offenders shielded longer and, past a bound, whole;
// lifts and shields by hand; the allow list and NeverShield lifting what they come to cover;
// orders written for the next start when no follow runs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "run/ShieldSteering.h"
#include "shield/ShieldKeeper.h"
#include "shield/SteerOrder.h"
#include "support/TempDir.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;

constexpr int64_t kStart = 1'796'644'800'000;  // 7 Dec 2026 12:00:00 UTC, in milliseconds
constexpr int64_t kSecond = 1000;

host::ShieldRequest Request(const std::string &address, const std::string &resource = "/login") {
  host::ShieldRequest request;
  request.address = address;
  request.host = "shop.example";
  request.resource = resource;
  request.deflect = "/sorry.htm";
  return request;
}

// A run directory whose command notes every raise and lift with its resource and lifetime.
struct SteeredRun {
  TempDir dir;
  host::HostConfig config;

  SteeredRun() {
    const std::string script = dir.File("note.sh");
    std::ofstream(script) << "#!/bin/sh\necho \"$FLOWDECK_EVENT $FLOWDECK_ADDRESS "
                             "[$FLOWDECK_HOST$FLOWDECK_RESOURCE] $FLOWDECK_SECONDS\" >> "
                          << dir.File("commands") << "\n";
    chmod(script.c_str(), 0755);
    config.Set("ShieldCommand", script, "test");
    config.Set("ShieldSeconds", "60", "test");
    config.Set("ShieldSecondsMax", "200", "test");
  }
  std::unique_ptr<host::ShieldKeeper> Keeper() {
    return std::make_unique<host::ShieldKeeper>(
        config, host::ShieldKeeper::Options{dir.Path(), true, true});
  }
  std::string Commands() { return ReadFile(dir.File("commands")); }
};

int64_t Lifetime(const host::ShieldChanges &changes) {
  EXPECT_EQ(changes.raised.size(), 1u);
  return changes.raised.empty() ? 0 : changes.raised[0].expiresAt - changes.raised[0].raisedAt;
}

TEST(RepeatOffenders, EachShieldLastsTwiceTheLastUpToTheCapAcrossARestartAndWithinTheMemory) {
  SteeredRun run;
  run.config.Set("OffenceMemory", "1000", "test");
  {
    auto keeper = run.Keeper();
    keeper->Start(kStart);
    EXPECT_EQ(Lifetime(keeper->Cycle({Request("203.0.113.9")}, kStart)), 60);
    EXPECT_EQ(keeper->Cycle({}, kStart + 60 * kSecond).lifted.size(), 1u);
    EXPECT_EQ(Lifetime(keeper->Cycle({Request("203.0.113.9")}, kStart + 70 * kSecond)), 120);
    // A lift by hand is no offence; a shield by hand is one.
    EXPECT_EQ(
        keeper
            ->Lift({host::AddressSelector::Parse("203.0.113.0/24"), "", ""}, kStart + 80 * kSecond)
            .lifted.size(),
        1u);
    host::ShieldChanges manual;
    host::Shield whole;
    whole.address = "203.0.113.9";
    whole.deflect = "/flowdeck-slow-down.html";
    EXPECT_EQ(keeper->RaiseByHand(whole, 0, kStart + 90 * kSecond, manual), "");
    EXPECT_EQ(Lifetime(manual), 200) << "240 s capped by ShieldSecondsMax";
    EXPECT_EQ(keeper->Offences("203.0.113.9", kStart + 90 * kSecond), 3);
    EXPECT_EQ(keeper->Tally().repeat, 2u);
    keeper->Finish();
  }
  {
    // Started again: the offences are known; the manual whole-address shield is still in force.
    auto keeper = run.Keeper();
    keeper->Start(kStart + 300 * kSecond);
    EXPECT_EQ(keeper->Offences("203.0.113.9", kStart + 300 * kSecond), 3);
    EXPECT_EQ(Lifetime(keeper->Cycle({Request("203.0.113.9")}, kStart + 300 * kSecond)), 200);
    // Past the memory (1000 s after each), an offence is forgotten, and so is its file line.
    EXPECT_EQ(keeper->Offences("203.0.113.9", kStart + 1071 * kSecond), 2);
    EXPECT_EQ(Lifetime(keeper->Cycle({Request("203.0.113.1")}, kStart + 1500 * kSecond)), 60);
    EXPECT_EQ(keeper->Offences("203.0.113.9", kStart + 1500 * kSecond), 0);
    keeper->Finish();
  }
  const std::string offences = ReadFile(run.dir.File("flowdeck-offences.tsv"));
  EXPECT_EQ(offences.find("203.0.113.9"), std::string::npos) << offences;
  EXPECT_NE(offences.find("203.0.113.1\n"), std::string::npos) << offences;
  // The shield of whole address reached the command without host and resource.
  EXPECT_NE(run.Commands().find("raise 203.0.113.9 [] 200\n"), std::string::npos) << run.Commands();
}

TEST(RepeatOffenders, PastWholeAddressAfterEveryShieldCoversTheWholeAddress) {
  SteeredRun run;
  run.config.Set("WholeAddressAfter", "1", "test");
  auto keeper = run.Keeper();
  keeper->Start(kStart);
  host::ShieldChanges first = keeper->Cycle({Request("2001:DB8::7")}, kStart);
  ASSERT_EQ(first.raised.size(), 1u);
  EXPECT_EQ(first.raised[0].resource, "/login") << "the first offence keeps to its resource";
  keeper->Cycle({}, kStart + 60 * kSecond);
  host::ShieldChanges second =
      keeper->Cycle({Request("2001:db8::7", "/admin")}, kStart + 61 * kSecond);
  ASSERT_EQ(second.raised.size(), 1u);
  EXPECT_TRUE(second.raised[0].WholeAddress());
  EXPECT_EQ(second.raised[0].deflect, "/sorry.htm");
  EXPECT_NE(second.raised[0].figures.find("offence 2: the whole address"), std::string::npos);
  // While it is in force, another resource of the address changes nothing.
  EXPECT_TRUE(
      keeper->Cycle({Request("2001:db8::7", "/cart")}, kStart + 62 * kSecond).raised.empty());
  EXPECT_EQ(keeper->Tally().wholeAddress, 1u);
  EXPECT_EQ(keeper->Tally().repeated, 1u);
  keeper->Finish();
  EXPECT_NE(run.Commands().find("raise 2001:db8::7 [] 120\n"), std::string::npos) << run.Commands();
}

TEST(AllowList, AnEntryLiftsWhatItCoversSparesUntilItsExpiryAndNeverShieldWidenedLiftsToo) {
  SteeredRun run;
  auto keeper = run.Keeper();
  keeper->Start(kStart);
  keeper->Cycle({Request("198.51.100.4"), Request("198.51.100.5"), Request("192.0.2.8")}, kStart);
  host::ShieldChanges allowed = keeper->Allow({*host::AddressSelector::Parse("198.51.100.4/31"), 0,
                                               kStart / kSecond + 30, "partner's monitor"},
                                              kStart + kSecond);
  EXPECT_EQ(allowed.lifted.size(), 2u);
  EXPECT_EQ(allowed.unlock, (std::vector<std::string>{"198.51.100.4", "198.51.100.5"}));
  // While the entry lasts its addresses are spared, and counted so.
  const host::ShieldChanges spared =
      keeper->Cycle({Request("198.51.100.5", "/x")}, kStart + 29 * kSecond);
  EXPECT_TRUE(spared.raised.empty());
  EXPECT_TRUE(spared.unspared.empty()) << "out of reach while the entry lasts";
  EXPECT_EQ(keeper->Tally().allowed, 1u);
  const host::ShieldChanges lapsed =
      keeper->Cycle({Request("198.51.100.5", "/y")}, kStart + 30 * kSecond);
  EXPECT_EQ(lapsed.raised.size(), 1u) << "the entry lapsed at its expiry";
  // The visitor it spared is judged afresh from then on, once.
  ASSERT_EQ(lapsed.unspared.size(), 1u);
  EXPECT_EQ(lapsed.unspared[0].address + lapsed.unspared[0].resource, "198.51.100.5/x");
  EXPECT_TRUE(keeper->Cycle({}, kStart + 31 * kSecond).unspared.empty());
  EXPECT_TRUE(keeper->Allowed().Entries().empty());
  EXPECT_FALSE(keeper->Disallow(*host::AddressSelector::Parse("198.51.100.4/31"), kStart));

  // A reload that widens NeverShield lifts the shields it now covers.
  run.config.Set("NeverShield", "127.0.0.1, 192.0.2.0/24", "test");
  host::ShieldChanges widened = keeper->Reconfigure(run.config, kStart + 31 * kSecond);
  ASSERT_EQ(widened.lifted.size(), 1u);
  EXPECT_EQ(widened.lifted[0].address, "192.0.2.8");
  EXPECT_EQ(widened.unlock, std::vector<std::string>{"192.0.2.8"});
  EXPECT_EQ(keeper->Tally().liftedCovered, 3u);
  // Spared by NeverShield, then out of its reach after a reload narrows it: the pace test is
  // told to judge the visitor afresh.
  EXPECT_TRUE(keeper->Cycle({Request("192.0.2.8", "/y")}, kStart + 32 * kSecond).raised.empty());
  run.config.Set("NeverShield", "127.0.0.1", "test");
  keeper->Reconfigure(run.config, kStart + 33 * kSecond);
  const host::ShieldChanges narrowed = keeper->Cycle({}, kStart + 34 * kSecond);
  ASSERT_EQ(narrowed.unspared.size(), 1u);
  EXPECT_EQ(narrowed.unspared[0].address, "192.0.2.8");
  EXPECT_TRUE(keeper->Cycle({}, kStart + 35 * kSecond).unspared.empty()) << "told once";
  keeper->Finish();
  const std::string events = ReadFile(run.dir.File("flowdeck-shields.log"));
  EXPECT_NE(events.find(" allow manual 198.51.100.4/31 - - -> - (until "), std::string::npos)
      << events;
  EXPECT_NE(events.find(": partner's monitor)\n"), std::string::npos);
  EXPECT_NE(events.find(" allow-lapse manual 198.51.100.4/31 "), std::string::npos);
  EXPECT_NE(events.find("spare regularity 198.51.100.5 shop.example /x -> /sorry.htm (allow list)"),
            std::string::npos);
  EXPECT_NE(events.find("lift regularity 192.0.2.8 shop.example /login -> /sorry.htm (NeverShield "
                        "covers it now)"),
            std::string::npos);
}

// With no follow running, orders are written in the run's files and carried out through every
// action when the next follow starts.
TEST(SteerFiles, OrdersWithoutAFollowAreCarriedOutAtTheNextStart) {
  SteeredRun run;
  {
    auto keeper = run.Keeper();
    keeper->Start(kStart);
    keeper->Cycle({Request("198.51.100.4"), Request("198.51.100.9")}, kStart);
    keeper->Finish();
  }
  std::ofstream(run.dir.File("flowdeck-run.txt")) << "ShieldsRaised = 2\n";
  const int64_t now = kStart / kSecond + 10;
  auto order = [](std::vector<std::string> words) { return host::SteerOrder::Parse(words); };
  host::ControlReply lifted =
      host::SteerFiles(run.dir.Path(), order({"lift", "198.51.100.4"}), now);
  EXPECT_EQ(lifted.status, 0);
  EXPECT_EQ(lifted.out, "lifted: 198.51.100.4 on shop.example/login\nno follow runs on " +
                            run.dir.Path() + ": the next one to start carries this out\n");
  EXPECT_EQ(host::SteerFiles(run.dir.Path(), order({"lift", "198.51.100.4"}), now).status, 3)
      << "lifted already";
  EXPECT_EQ(host::SteerFiles(run.dir.Path(), order({"shield", "192.0.2.1"}), now).status, 0);
  EXPECT_EQ(
      host::SteerFiles(run.dir.Path(), order({"allow", "198.51.100.9", "--for", "1h"}), now).status,
      0);
  const std::string listed =
      host::SteerFiles(run.dir.Path(), order({"shields", "--json"}), now).out;
  EXPECT_NE(listed.find("\"address\": \"192.0.2.1\", \"host\": \"\", \"resource\": \"\", "
                        "\"deflect\": \"/flowdeck-slow-down.html\", \"source\": \"manual\""),
            std::string::npos)
      << listed;
  EXPECT_NE(listed.find("\"lifts\": null, \"offences\": 1}"), std::string::npos) << listed;
  EXPECT_EQ(listed.find("198.51.100.4"), std::string::npos) << listed;

  auto keeper = run.Keeper();
  host::ShieldChanges start = keeper->Start(kStart + 20 * kSecond);
  keeper->Finish();
  EXPECT_EQ(start.raised.size(), 1u);
  EXPECT_EQ(start.lifted.size(), 2u) << "lifted by hand, and covered by the allow list";
  EXPECT_TRUE(keeper->Shielded("192.0.2.1"));
  EXPECT_EQ(keeper->Active().size(), 1u);
  EXPECT_EQ(keeper->Active()[0].raisedAt, kStart / kSecond + 20) << "in force from the start";
  EXPECT_EQ(keeper->Active()[0].expiresAt - keeper->Active()[0].raisedAt, 60);
  const std::string commands = run.Commands();
  EXPECT_NE(commands.find("lift 198.51.100.4 [shop.example/login] 60\n"), std::string::npos)
      << commands;
  EXPECT_NE(commands.find("lift 198.51.100.9 [shop.example/login] 60\n"), std::string::npos);
  EXPECT_NE(commands.find("raise 192.0.2.1 [] 60\n"), std::string::npos);
  EXPECT_NE(
      ReadFile(run.dir.File("flowdeck-shields.log")).find("(by hand while flowdeck was down)"),
      std::string::npos);
  // Never written in a directory that holds no run.
  TempDir other;
  EXPECT_THROW(host::SteerFiles(other.Path(), order({"lift", "--all"}), now), std::runtime_error);
  EXPECT_THROW(host::SteerFiles(other.File("none"), order({"shields"}), now), std::runtime_error);
}

TEST(SteerOrder, ReadsEachCommandsOptionsAndRefusesWhatCannotBeMeant) {
  const host::SteerOrder shield = host::SteerOrder::Parse(
      {"shield", "2001:DB8::1", "--host", "Shop.example", "--resource", "/a b", "--seconds", "2h"});
  EXPECT_EQ(shield.target->text, "2001:db8::1");
  EXPECT_EQ(shield.host, "shop.example") << "hosts are keyed in lower case";
  EXPECT_EQ(shield.seconds, 7200);
  EXPECT_EQ(shield.deflect, "/flowdeck-slow-down.html");
  EXPECT_EQ(host::SteerOrder::Parse(shield.Words()).Words(), shield.Words());
  const host::SteerOrder allow =
      host::SteerOrder::Parse({"allow", "10.0.0.0/8", "--for", "1w", "--why", "our \"crawler\""});
  EXPECT_EQ(allow.forSeconds, 604800);
  EXPECT_EQ(host::SteerOrder::Parse(allow.Words()).why, "our \"crawler\"");
  EXPECT_EQ(host::SteerOrder::Parse({"lift", "10.1.2.3/32"}).target->text, "10.1.2.3");
  for (const std::vector<std::string> &bad : std::vector<std::vector<std::string>>{
           {"lift"},
           {"lift", "--all", "--host", "a"},
           {"lift", "10.0.0.1", "10.0.0.2"},
           {"lift", "10.0.0.1/33"},
           {"lift", "example.com"},
           {"shield", "10.0.0.0/8"},
           {"shield", "10.0.0.1", "--host", "a"},
           {"shield", "10.0.0.1", "--deflect", "/../etc/passwd"},
           {"shield", "10.0.0.1", "--deflect", "//evil.example/"},
           {"shield", "10.0.0.1", "--host", "a b", "--resource", "/x"},
           {"shield", "10.0.0.1", "--host", "a", "--resource", "/l\x01\nin"},
           {"lift", "10.0.0.1", "--host", "a\tb"},
           {"lift", "10.0.0.1", "--host", "-6:shield 0:--all", "--resource", "/x"},
           {"lift", "10.0.0.1", "--host", "shop.example/x", "--resource", "/x"},
           {"shield", "10.0.0.1", "--seconds", "0"},
           {"shield", "10.0.0.1", "--seconds", "5 m"},
           {"allow", "--list", "10.0.0.1"},
           {"allow", "--remove", "10.0.0.1", "--for", "1h"},
           {"allow"},
           {"shields", "10.0.0.1"},
           {"shields", "--jsn"},
           {"unshield", "10.0.0.1"}}) {
    EXPECT_THROW(host::SteerOrder::Parse(bad), host::OrderError) << ::testing::PrintToString(bad);
  }
}

}  // namespace
