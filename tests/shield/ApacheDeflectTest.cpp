// A real Apache with the example snippet: the shielded visitor is deflected from the shielded
// resource only, and Apache reads each new map by itself.
#include <gtest/gtest.h>

#include "ShieldTesting.h"
#include "base/HostConfig.h"
#include "shield/ShieldActions.h"
#include "support/ApacheServer.h"
#include "support/HttpClient.h"
#include "support/TempDir.h"

namespace {

using host::HostConfig;
using host::Shield;
using host::ShieldActions;
using shield_testing::MakeShield;
using testing_support::ApacheServer;
using testing_support::HttpGet;

class ApacheDeflect : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ApacheServer::Available()) GTEST_SKIP() << "Apache with mod_rewrite is not installed";
    server_ = std::make_unique<ApacheServer>();
    server_->SetLines(
        shield_testing::SnippetWith("apache-shields.conf", MapPath(), AddressMapPath()));
    server_->WritePage("/index.html", "home");
    server_->WritePage("/admin/login.php", "real login");
    server_->WritePage("/caf\xC3\xA9/menu.php", "real menu");
    server_->WritePage("/a\"b;c{d}e'f", "real odd");
    server_->WritePage("/deflect.html", "deflected");
    server_->WritePage("/sorry.html", "sorry");
    config_.Set("ApacheMapFile", MapPath(), "test");
    config_.Set("ApacheAddressMapFile", AddressMapPath(), "test");
    actions_ = std::make_unique<ShieldActions>(config_);
    // Apache refuses a configuration whose map file is missing: it is written at start.
    actions_->Start({}, kNow);
    ASSERT_TRUE(server_->Start()) << server_->Problem();
  }

  std::string MapPath() const { return server_->File("shields.map"); }
  std::string AddressMapPath() const { return server_->File("address-shields.map"); }

  // The page a visitor gets.
  std::string Page(const std::string &visitor, const std::string &target,
                   const std::string &host = "shop.test") const {
    return testing_support::PageSeen(visitor, server_->Port(), host, target);
  }

  void ApplyAndWait(std::vector<Shield> raised, std::vector<Shield> lifted) {
    actions_->Apply(std::move(raised), std::move(lifted), kNow);
    actions_->Drain();
  }

  static constexpr int64_t kNow = 1700000000;
  HostConfig config_;
  std::unique_ptr<ApacheServer> server_;
  std::unique_ptr<ShieldActions> actions_;
};

TEST_F(ApacheDeflect, DeflectsTheShieldedResourceOfTheShieldedVisitorUntilLifted) {
  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php"), "real login");
  const std::vector<Shield> shields = {
      MakeShield("127.0.0.66", "shop.test", "/admin/login.php"),
      MakeShield("127.0.0.66", "shop.test", "/caf\xC3\xA9/menu.php"),
      MakeShield("127.0.0.66", "shop.test", "/a\"b;c{d}e'f")};
  ApplyAndWait(shields, {});
  EXPECT_EQ(shield_testing::Texts(actions_->TakeProblems()), std::vector<std::string>());
  EXPECT_EQ(actions_->Counts().reloads, 0);  // Apache reads the changed file itself

  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php?user=x&b=1"), "deflected");
  EXPECT_EQ(Page("127.0.0.66", "/admin/%6Cogin.php"), "deflected");
  EXPECT_EQ(Page("127.0.0.66", "/caf%C3%A9/menu.php?x=%20"), "deflected");
  EXPECT_EQ(Page("127.0.0.66", "/a%22b;c%7Bd%7De'f"), "deflected");
  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php", "SHOP.test"), "deflected");
  EXPECT_EQ(Page("127.0.0.66", "/index.html"), "home");
  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php", "other.test"), "real login");
  EXPECT_EQ(Page("127.0.0.67", "/admin/login.php?user=x"), "real login");
  EXPECT_EQ(Page("127.0.0.67", "/caf%C3%A9/menu.php"), "real menu");
  EXPECT_EQ(Page("127.0.0.67", "/a%22b;c%7Bd%7De'f"), "real odd");

  ApplyAndWait({}, {shields[0], shields[1]});
  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php?user=x"), "real login");
  EXPECT_EQ(Page("127.0.0.66", "/caf%C3%A9/menu.php"), "real menu");
  EXPECT_EQ(Page("127.0.0.66", "/a%22b;c%7Bd%7De'f"), "deflected");
}

// A whole-address shield: every page of the address, for any host and path, until it is lifted;
// every other visitor is served as before.
TEST_F(ApacheDeflect, AWholeAddressShieldDeflectsEveryPageOfTheAddressUntilLifted) {
  const Shield whole = MakeShield("127.0.0.66", "", "", "/sorry.html");
  const Shield resource = MakeShield("127.0.0.67", "shop.test", "/admin/login.php");
  ApplyAndWait({whole, resource}, {});
  EXPECT_EQ(shield_testing::Texts(actions_->TakeProblems()), std::vector<std::string>());
  EXPECT_EQ(testing_support::ReadFile(AddressMapPath()), "127.0.0.66 /sorry.html\n");
  for (const auto &[host, target] :
       std::vector<std::pair<std::string, std::string>>{{"shop.test", "/index.html"},
                                                        {"shop.test", "/admin/login.php?user=x"},
                                                        {"other.test", "/caf%C3%A9/menu.php"},
                                                        {"SHOP.test", "/no/such/page"}}) {
    EXPECT_EQ(Page("127.0.0.66", target, host), "sorry") << host << target;
  }
  EXPECT_EQ(Page("127.0.0.67", "/index.html"), "home");
  EXPECT_EQ(Page("127.0.0.67", "/admin/login.php"), "deflected");
  EXPECT_EQ(Page("127.0.0.68", "/admin/login.php", "other.test"), "real login");
  // Shielded both ways: the whole address answers first.
  ApplyAndWait({MakeShield("127.0.0.66", "shop.test", "/admin/login.php")}, {});
  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php"), "sorry");

  ApplyAndWait({}, {whole});
  EXPECT_EQ(testing_support::ReadFile(AddressMapPath()), "");
  EXPECT_EQ(Page("127.0.0.66", "/index.html"), "home");
  EXPECT_EQ(Page("127.0.0.66", "/caf%C3%A9/menu.php", "other.test"), "real menu");
  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php"), "deflected");  // its own shield stays
}

TEST_F(ApacheDeflect, RefusesWhatWouldDeflectAnybodyElseAndApacheKeepsWorking) {
  // Each tries to make a line of its own that deflects 127.0.0.67 from the home page.
  const std::string line = "127.0.0.67|shop.test|/index.html /deflect.html";
  const std::vector<Shield> refused = {
      MakeShield("127.0.0.66", "shop.test", "/a\n" + line),
      MakeShield("127.0.0.66", "shop.test", "/a\r\n" + line),
      MakeShield("127.0.0.66", "shop.test\n" + line, "/x"),
      MakeShield("127.0.0.66", "shop.test", "/x", "/deflect.html\n" + line),
      MakeShield("127.0.0.66", "shop.test", "/x y", "/deflect.html"),
      // Apache reads a line in pieces of 1024 bytes: the second would be a line of its own.
      MakeShield("127.0.0.66", "shop.test", "/" + std::string(1002, 'a') + line.substr(0, 32)),
      MakeShield("127.0.0.66", "shop.test|/index.html", "/x")};
  for (const Shield &shield : refused) {
    std::string why;
    EXPECT_FALSE(actions_->Acceptable(shield, why)) << shield.resource;
    // The host and the deflect path are checked for every action first.
    EXPECT_TRUE(why.starts_with("ApacheMapFile: ") || why.starts_with("its host") ||
                why.starts_with("its deflect path"))
        << why;
  }
  ApplyAndWait(refused, {});
  EXPECT_EQ(actions_->Counts().skipped, static_cast<int64_t>(refused.size()));
  ApplyAndWait({MakeShield("127.0.0.66", "shop.test", "/admin/login.php")}, {});
  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php"), "deflected");
  EXPECT_EQ(Page("127.0.0.67", "/index.html"), "home");
  EXPECT_EQ(Page("127.0.0.66", "/index.html"), "home");
  std::string output;
  EXPECT_TRUE(server_->TestConfiguration(output)) << output;
}

}  // namespace
