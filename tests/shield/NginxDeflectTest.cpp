// A real nginx with the example snippets: the shielded visitor is deflected from the shielded
// resource only, for as long as the shield lasts.
#include <gtest/gtest.h>

#include "HostConfig.h"
#include "ShieldActions.h"
#include "ShieldTesting.h"
#include "support/HttpClient.h"
#include "support/NginxServer.h"

namespace {

using host::HostConfig;
using host::Shield;
using host::ShieldActions;
using shield_testing::MakeShield;
using testing_support::HttpGet;
using testing_support::NginxServer;

class NginxDeflect : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
    server_ = std::make_unique<NginxServer>();
    server_->SetHttpLines(shield_testing::ExampleWith(
        "nginx-shields-http.conf", "/var/lib/flowdeck/maps/nginx-shields.map", MapPath()));
    server_->SetServerLines(shield_testing::ExampleWith("nginx-shields-server.conf", "", ""));
    server_->WritePage("/index.html", "home");
    server_->WritePage("/admin/login.php", "real login");
    server_->WritePage("/admin/log in.php", "real spaced login");
    server_->WritePage("/caf\xC3\xA9/menu.php", "real menu");
    server_->WritePage("/deflect.html", "deflected");
    server_->WritePage("/sorry page.html", "sorry");
    config_.Set("NginxMapFile", MapPath(), "test");
    config_.Set("NginxReload", server_->ReloadCommand(), "test");
    actions_ = std::make_unique<ShieldActions>(config_);
    // The map file exists before nginx reads the configuration that includes it.
    actions_->Start({}, kNow);
    ASSERT_TRUE(server_->Start()) << server_->Problem();
  }

  std::string MapPath() const { return server_->File("shields.map"); }

  // The page a visitor gets.
  std::string Page(const std::string &visitor, const std::string &target,
                   const std::string &host = "shop.test") const {
    return testing_support::PageSeen(visitor, server_->Port(), host, target);
  }

  // Applies a batch and waits until nginx answers with the new map only.
  void ApplyAndWait(std::vector<Shield> raised, std::vector<Shield> lifted) {
    const std::vector<pid_t> workers = server_->Workers();
    const int64_t reloads = actions_->Counts().reloads;
    actions_->Apply(std::move(raised), std::move(lifted), kNow);
    actions_->Drain();
    EXPECT_EQ(actions_->TakeProblems(), std::vector<std::string>());
    if (actions_->Counts().reloads > reloads) {
      EXPECT_TRUE(server_->WaitForNewWorkers(workers)) << "nginx kept its old workers";
    }
  }

  static constexpr int64_t kNow = 1700000000;
  HostConfig config_;
  std::unique_ptr<NginxServer> server_;
  std::unique_ptr<ShieldActions> actions_;
};

TEST_F(NginxDeflect, DeflectsTheShieldedResourceOfTheShieldedVisitorUntilLifted) {
  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php"), "real login");
  const std::vector<Shield> shields = {
      MakeShield("127.0.0.66", "shop.test", "/admin/login.php"),
      MakeShield("127.0.0.66", "shop.test", "/admin/log in.php", "/sorry page.html"),
      MakeShield("127.0.0.66", "shop.test", "/caf\xC3\xA9/menu.php")};
  ApplyAndWait(shields, {});
  EXPECT_EQ(actions_->Counts().mapWrites, 2);  // the empty map at start, then one per batch
  EXPECT_EQ(actions_->Counts().reloads, 1);

  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php?user=x&b=1"), "deflected");
  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php"), "deflected");
  EXPECT_EQ(Page("127.0.0.66", "/admin/%6Cogin.php"), "deflected");  // nginx decodes $uri
  EXPECT_EQ(Page("127.0.0.66", "/admin/log%20in.php?q=%20"), "sorry");
  EXPECT_EQ(Page("127.0.0.66", "/caf%C3%A9/menu.php"), "deflected");
  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php", "SHOP.test"), "deflected");
  // Its other pages, other hosts, and every other visitor: as before.
  EXPECT_EQ(Page("127.0.0.66", "/index.html"), "home");
  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php", "other.test"), "real login");
  EXPECT_EQ(Page("127.0.0.67", "/admin/login.php?user=x"), "real login");
  EXPECT_EQ(Page("127.0.0.67", "/admin/log%20in.php"), "real spaced login");
  EXPECT_EQ(Page("127.0.0.67", "/caf%C3%A9/menu.php"), "real menu");

  ApplyAndWait({}, {shields[0], shields[2]});
  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php?user=x"), "real login");
  EXPECT_EQ(Page("127.0.0.66", "/caf%C3%A9/menu.php"), "real menu");
  EXPECT_EQ(Page("127.0.0.66", "/admin/log%20in.php"), "sorry");
  EXPECT_EQ(actions_->Counts().reloads, 2);
  EXPECT_EQ(actions_->Counts().reloadFailures, 0);
}

TEST_F(NginxDeflect, HostileValuesNeitherBreakTheConfigurationNorDeflectAnybodyElse) {
  // Each tries to end its entry and add one that deflects 127.0.0.67 from the home page.
  const std::string injected = "\" /deflect.html; \"127.0.0.67 shop.test /index.html";
  const std::vector<Shield> shields = {
      MakeShield("127.0.0.66", "shop.test", "/a" + injected),
      MakeShield("127.0.0.66", "shop.test" + injected, "/admin/login.php"),
      MakeShield("127.0.0.66", "shop.test", "/b", "/deflect.html" + injected),
      MakeShield("127.0.0.66", "shop.test", "/c\r\n\"127.0.0.67 shop.test /index.html\" /x;"),
      MakeShield("127.0.0.66", "shop.test", "/d;}{ \\'#", "/deflect.html"),
      MakeShield("127.0.0.66", "shop.test", "/e", "/deflect.html;} server { listen 81;")};
  for (const Shield &shield : shields) {
    std::string why;
    EXPECT_TRUE(actions_->Acceptable(shield, why)) << why;
  }
  ApplyAndWait(shields, {});
  std::string output;
  EXPECT_TRUE(server_->TestConfiguration(output)) << output;
  // The reload took the new map: a plain shield raised with them is in force.
  ApplyAndWait({MakeShield("127.0.0.66", "shop.test", "/admin/login.php")}, {});
  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php"), "deflected");
  EXPECT_EQ(Page("127.0.0.67", "/index.html"), "home");
  // Written safely means written as they are: the odd paths themselves are deflected.
  EXPECT_EQ(Page("127.0.0.66", "/c%0D%0A%22127.0.0.67%20shop.test%20/index.html%22%20/x;"),
            "deflected");
  EXPECT_EQ(Page("127.0.0.66", "/d;%7D%7B%20%5C'%23"), "deflected");

  std::string why;
  const Shield variable = MakeShield("127.0.0.66", "shop.test", "/index.html", "/$request_uri");
  EXPECT_FALSE(actions_->Acceptable(variable, why));
  EXPECT_EQ(why, "NginxMapFile: its deflect path holds '$', which nginx would read as a variable");
  const Shield invalid = MakeShield("127.0.0.66 shop.test /index.html\" /x; \"127.0.0.67");
  EXPECT_FALSE(actions_->Acceptable(invalid, why));
  actions_->Apply({variable, invalid}, {}, kNow);
  actions_->Drain();
  EXPECT_EQ(actions_->Counts().skipped, 2);
  EXPECT_EQ(actions_->TakeProblems().size(), 2u);
  EXPECT_EQ(Page("127.0.0.66", "/index.html"), "home");
  EXPECT_TRUE(server_->TestConfiguration(output)) << output;
}

}  // namespace
