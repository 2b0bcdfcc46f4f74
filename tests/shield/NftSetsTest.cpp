// The nftables action: the scripts it gives nft, and a real nft in a network namespace.
#include "shield/NftSets.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "ShieldTesting.h"
#include "base/HostConfig.h"
#include "shield/ShieldActions.h"
#include "support/ChildProcess.h"
#include "support/HttpClient.h"
#include "support/NetworkNamespace.h"

namespace {

using host::ActiveShields;
using host::NftSets;
using host::ProcessRunner;
using host::Shield;
using shield_testing::MakeShield;
using testing_support::CanConnect;
using testing_support::NetworkNamespace;
using namespace std::chrono_literals;

ActiveShields Active(std::vector<Shield> shields) {
  ActiveShields active;
  for (Shield &shield : shields) {
    EXPECT_TRUE(ActiveShields::Normalize(shield));
    active.Raise(shield);
  }
  return active;
}

const char *kPreamble =
    "add table inet fd\n"
    "add set inet fd shielded4 { type ipv4_addr; flags timeout; }\n"
    "add set inet fd shielded6 { type ipv6_addr; flags timeout; }\n";

TEST(NftSets, StartMakesTheSetsHoldExactlyTheActiveAddresses) {
  const NftSets nft("fd", ProcessRunner(1s));
  const int64_t now = 1700000000;
  const ActiveShields active = Active({MakeShield("10.0.0.1", "a", "/x", "/d", now - 100, 3600),
                                       MakeShield("10.0.0.1", "a", "/y", "/d", now - 10, 3600),
                                       MakeShield("2001:DB8::1", "a", "/x", "/d", now, 315360000),
                                       MakeShield("10.0.0.2", "a", "/x", "/d", now - 3600, 3600)});
  EXPECT_EQ(nft.StartScript(active, now),
            std::string(kPreamble) +
                "flush set inet fd shielded4\nflush set inet fd shielded6\n"
                "add element inet fd shielded4 { 10.0.0.1 timeout 59m50s }\n"
                "add element inet fd shielded6 { 2001:db8::1 timeout 3650d }\n");
  EXPECT_EQ(nft.StartScript(ActiveShields(), now),
            std::string(kPreamble) + "flush set inet fd shielded4\nflush set inet fd shielded6\n");
}

TEST(NftSets, ChangeRenewsAddressesStillShieldedAndRemovesTheOthers) {
  const NftSets nft("fd", ProcessRunner(1s));
  const int64_t now = 1700000000;
  const ActiveShields active = Active({MakeShield("10.0.0.1", "a", "/x", "/d", now, 90061)});
  EXPECT_EQ(nft.ChangeScript({"10.0.0.1", "::1", "10.0.0.2", "10.0.0.1"}, active, now),
            std::string(kPreamble) +
                "add element inet fd shielded4 { 10.0.0.1 timeout 1s, 10.0.0.2 timeout 1s }\n"
                "add element inet fd shielded6 { ::1 timeout 1s }\n"
                "delete element inet fd shielded4 { 10.0.0.1, 10.0.0.2 }\n"
                "delete element inet fd shielded6 { ::1 }\n"
                "add element inet fd shielded4 { 10.0.0.1 timeout 1d1h1m1s }\n");
  EXPECT_EQ(NftSets::TableProblem("flowdeck_2"), "");
  EXPECT_EQ(NftSets::TableProblem("flow deck"), "a table name holds only letters, digits and '_'");
  EXPECT_EQ(NftSets::TableProblem("x; flush ruleset"),
            "a table name holds only letters, digits and '_'");
  EXPECT_EQ(NftSets::TableProblem("2x"), "a table name starts with a letter");
  EXPECT_EQ(NftSets::TableProblem(""), "a table name has 1 to 64 characters");
}

// A listening socket on the namespace's loopback; connections complete in its backlog.
class Listener {
 public:
  Listener(int family, const char *address) {
    fd_ = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage storage{};
    socklen_t size;
    if (family == AF_INET) {
      auto *v4 = reinterpret_cast<sockaddr_in *>(&storage);
      v4->sin_family = AF_INET;
      inet_pton(AF_INET, address, &v4->sin_addr);
      size = sizeof *v4;
    } else {
      auto *v6 = reinterpret_cast<sockaddr_in6 *>(&storage);
      v6->sin6_family = AF_INET6;
      inet_pton(AF_INET6, address, &v6->sin6_addr);
      size = sizeof *v6;
    }
    bind(fd_, reinterpret_cast<sockaddr *>(&storage), size);
    listen(fd_, 64);
    getsockname(fd_, reinterpret_cast<sockaddr *>(&storage), &size);
    port_ = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in *>(&storage)->sin_port
                                    : reinterpret_cast<sockaddr_in6 *>(&storage)->sin6_port);
  }
  ~Listener() { close(fd_); }
  int Port() const { return port_; }

 private:
  int fd_, port_ = 0;
};

std::string Ruleset() {
  std::string output;
  testing_support::RunProgram({"nft", "list", "ruleset"}, output);
  return output;
}

TEST(NftSets, ShieldedAddressesCannotConnectUntilTheShieldEnds) {
  if (!NetworkNamespace::Inside()) {
    NetworkNamespace::Outcome outcome = NetworkNamespace::RunCurrentTest();
    if (!outcome.available) GTEST_SKIP() << outcome.output;
    EXPECT_TRUE(outcome.passed) << outcome.output;
    return;
  }
  // Here in a network namespace of our own: its firewall is ours to change.
  const Listener server4(AF_INET, "127.0.0.1"), server6(AF_INET6, "::1");
  const auto reaches = [&](const std::string &source) {
    return source.find(':') == std::string::npos
               ? CanConnect(source, "127.0.0.1", server4.Port(), 300)
               : CanConnect(source, "::1", server6.Port(), 300);
  };
  ASSERT_TRUE(reaches("127.0.0.66"));

  host::HostConfig config;
  config.Set("NftTable", "flowdeck", "test");
  host::ShieldActions actions(config);
  const int64_t now = time(nullptr);
  // A shield restored at start, and the operator's rule from the example, loaded after it.
  actions.Start({MakeShield("127.0.0.70", "shop.test", "/x", "/d", now - 100, 130)}, now);
  std::string output;
  ASSERT_EQ(testing_support::RunProgram(
                {"nft", "-f", std::string(FLOWDECK_EXAMPLES) + "/nftables-shields.nft"}, output),
            0)
      << output;
  EXPECT_FALSE(reaches("127.0.0.70"));

  const Shield shortOne = MakeShield("127.0.0.66", "shop.test", "/x", "/d", now, 2);
  const Shield longOne = MakeShield("::1", "shop.test", "/x", "/d", now, 315360000);
  actions.Apply({shortOne, longOne}, {}, now);
  actions.Drain();
  EXPECT_FALSE(reaches("127.0.0.66"));
  EXPECT_FALSE(reaches("::1"));
  EXPECT_TRUE(reaches("127.0.0.67"));
  EXPECT_TRUE(reaches("127.0.0.1"));

  // The element times out by itself; lifting it afterwards is no failure.
  std::this_thread::sleep_for(2500ms);
  EXPECT_TRUE(reaches("127.0.0.66"));
  actions.Apply({}, {shortOne, MakeShield("127.0.0.70", "shop.test", "/x", "/d", now - 100, 130)},
                time(nullptr));
  actions.Drain();
  EXPECT_TRUE(reaches("127.0.0.70"));
  EXPECT_FALSE(reaches("::1"));

  // An address two shields hold stays blocked until the second is lifted too.
  const Shield first = MakeShield("127.0.0.68", "shop.test", "/a", "/d", now, 600);
  const Shield second = MakeShield("127.0.0.68", "shop.test", "/b", "/d", now, 600);
  actions.Apply({first, second}, {}, now);
  actions.Apply({}, {first}, now);
  actions.Drain();
  EXPECT_FALSE(reaches("127.0.0.68"));
  actions.Apply({}, {second}, now);
  actions.Drain();
  EXPECT_TRUE(reaches("127.0.0.68"));

  // Nothing but valid addresses reaches nft.
  std::string why;
  const Shield hostile = MakeShield(
      "1.2.3.4 }; flush ruleset; add element inet flowdeck "
      "shielded4 { 127.0.0.67");
  EXPECT_FALSE(actions.Acceptable(hostile, why));
  actions.Apply({hostile}, {}, now);
  actions.Drain();
  EXPECT_TRUE(reaches("127.0.0.67"));
  EXPECT_NE(Ruleset().find("ip saddr @shielded4 drop"), std::string::npos) << Ruleset();

  // A new start makes the sets hold exactly what it is given.
  actions.Start({}, now);
  EXPECT_TRUE(reaches("::1"));
  EXPECT_EQ(shield_testing::Texts(actions.TakeProblems()),
            std::vector<std::string>{"shield for " + hostile.address +
                                     " shop.test /admin/login.php not acted on: '" +
                                     hostile.address + "' is not an IPv4 or IPv6 address"});
  EXPECT_EQ(actions.Counts().nftFailures, 0);
}

TEST(NftSets, AFailingNftIsReportedAndTheRunGoesOn) {
  if (!NetworkNamespace::Inside()) {
    NetworkNamespace::Outcome outcome = NetworkNamespace::RunCurrentTest();
    if (!outcome.available) GTEST_SKIP() << outcome.output;
    EXPECT_TRUE(outcome.passed) << outcome.output;
    return;
  }
  // The operator's table holds a set of the same name but another type.
  std::string output;
  ASSERT_EQ(testing_support::RunProgram(
                {"sh", "-c",
                 "nft add table inet flowdeck && nft add set inet flowdeck shielded4 "
                 "'{ type ipv6_addr; }'"},
                output),
            0)
      << output;
  host::HostConfig config;
  config.Set("NftTable", "flowdeck", "test");
  host::ShieldActions actions(config);
  actions.Start({}, 1700000000);
  actions.Apply({MakeShield()}, {}, 1700000000);
  actions.Drain();
  EXPECT_EQ(actions.Counts().nftRuns, 2);
  EXPECT_EQ(actions.Counts().nftFailures, 2);
  const std::vector<std::string> problems = shield_testing::Texts(actions.TakeProblems());
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_TRUE(problems[0].starts_with("NftTable: 'nft -f -' exited with status 1")) << problems[0];
}

}  // namespace
