// NftTable through flowdeck follow, in a network namespace of the test's own: a shielded address
// cannot reach the site at all for the shield's lifetime, and every other address can.
#include <gtest/gtest.h>

#include "FollowProcess.h"
#include "support/ChildProcess.h"
#include "support/HttpClient.h"
#include "support/NetworkNamespace.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace {

using shield_testing::FollowProcess;
using shield_testing::ShieldRequestTarget;
using shield_testing::WaitUntil;
using testing_support::CanConnect;
using testing_support::NetworkNamespace;

std::string ShieldedSet() {
  std::string output;
  testing_support::RunProgram({"nft", "list", "set", "inet", "flowdeck", "shielded4"}, output);
  return output;
}

TEST(FollowBlock, AShieldedAddressCannotConnectUntilItsLifetimeEnds) {
  if (!NetworkNamespace::Inside()) {
    NetworkNamespace::Outcome outcome = NetworkNamespace::RunCurrentTest();
    if (!outcome.available) GTEST_SKIP() << outcome.output;
    EXPECT_TRUE(outcome.passed) << outcome.output;
    return;
  }
  // Here the firewall and port 80 are the namespace's own: no other test shares them.
  if (!testing_support::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  std::string output;
  ASSERT_EQ(testing_support::RunProgram(
                {"nft", "-f", std::string(FLOWDECK_EXAMPLES) + "/nftables-shields.nft"}, output),
            0)
      << output;
  testing_support::NginxServer server;
  server.WritePage("/index.html", "home");
  ASSERT_TRUE(server.Start()) << server.Problem();
  const auto reaches = [&](const char *source) {
    return CanConnect(source, "127.0.0.1", server.Port(), 300);
  };
  ASSERT_TRUE(reaches("127.0.0.66"));

  testing_support::TempDir dir;
  FollowProcess follow(dir.Path(),
                       "ShieldSeconds = 3\nNeverShield =\nNftTable = flowdeck\nTrace = True\n",
                       {server.AccessLog()});
  ASSERT_TRUE(follow.Start()) << follow.Output();
  // The shield request, sent as the shield plug-in sends it, to flowdeck's port 80.
  ASSERT_TRUE(shield_testing::SendShieldRequest(
      follow.Keyed(ShieldRequestTarget("127.0.0.66", "localhost", "/index.html", "/d.htm"))));
  ASSERT_TRUE(WaitUntil([&] { return !reaches("127.0.0.66"); }, 10))
      << follow.Output() << follow.Events() << ShieldedSet();
  EXPECT_NE(ShieldedSet().find("127.0.0.66 timeout 3s"), std::string::npos) << ShieldedSet();
  EXPECT_TRUE(reaches("127.0.0.67"));
  EXPECT_EQ(testing_support::HttpGet("127.0.0.67", server.Port(), "localhost", "/index.html").body,
            "home");
  EXPECT_FALSE(reaches("127.0.0.66"));

  EXPECT_TRUE(WaitUntil([&] { return reaches("127.0.0.66"); }, 10));
  EXPECT_TRUE(WaitUntil([&] { return follow.Events().find(" lift ") != std::string::npos; }, 5))
      << follow.Events();
  ASSERT_TRUE(follow.Stop()) << follow.Output();
  EXPECT_EQ(ShieldedSet().find("127.0.0.66"), std::string::npos) << ShieldedSet();
  EXPECT_NE(
      follow.Output().find("shields raised: 1, lifted: 1, refused: 0, in force at the end: 0"),
      std::string::npos)
      << follow.Output();
}

}  // namespace
