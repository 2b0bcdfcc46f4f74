// A real nginx with the example snippets: the shielded visitor is deflected from the shielded
// resource only, for as long as the shield lasts.
#include <gtest/gtest.h>

#include "ShieldTesting.h"
#include "base/HostConfig.h"
#include "shield/ShieldActions.h"
#include "support/HttpClient.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

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
    std::string http =
        shield_testing::SnippetWith("nginx-shields-http.conf", MapPath(), AddressMapPath());
    if (const size_t at = http.find("map_hash_bucket_size 4096"); !bucketSize_.empty()) {
      ASSERT_NE(at, std::string::npos);
      http.replace(at, 25, "map_hash_bucket_size " + bucketSize_);
    }
    server_->SetHttpLines(http);
    server_->SetServerLines(shield_testing::ExampleWith("nginx-shields-server.conf", "", ""));
    server_->WritePage("/index.html", "home");
    server_->WritePage("/admin/login.php", "real login");
    server_->WritePage("/admin/log in.php", "real spaced login");
    server_->WritePage("/caf\xC3\xA9/menu.php", "real menu");
    server_->WritePage("/deflect.html", "deflected");
    server_->WritePage("/sorry page.html", "sorry");
    config_.Set("NginxMapFile", MapPath(), "test");
    if (addressMap_) config_.Set("NginxAddressMapFile", AddressMapPath(), "test");
    config_.Set("NginxReload", server_->ReloadCommand(), "test");
    config_.Set("NginxTest", server_->TestCommand(), "test");
    actions_ = std::make_unique<ShieldActions>(config_);
    // The map file exists before nginx reads the configuration that includes it.
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

  // Applies a batch and waits until nginx answers with the new map only.
  void ApplyAndWait(std::vector<Shield> raised, std::vector<Shield> lifted) {
    const std::vector<pid_t> workers = server_->Workers();
    const int64_t reloads = actions_->Counts().reloads;
    actions_->Apply(std::move(raised), std::move(lifted), kNow);
    actions_->Drain();
    EXPECT_EQ(shield_testing::Texts(actions_->TakeProblems()), std::vector<std::string>());
    if (actions_->Counts().reloads > reloads) {
      EXPECT_TRUE(server_->WaitForNewWorkers(workers)) << "nginx kept its old workers";
    }
  }

  static constexpr int64_t kNow = 1700000000;
  std::string bucketSize_;  // when set, instead of the example's
  bool addressMap_ = true;  // NginxAddressMapFile set
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
  const Shield host = MakeShield("127.0.0.66", "shop.test" + injected, "/admin/login.php");
  EXPECT_FALSE(actions_->Acceptable(host, why));
  EXPECT_TRUE(why.starts_with("its host holds a character")) << why;
  actions_->Apply({variable, invalid, host}, {}, kNow);
  actions_->Drain();
  EXPECT_EQ(actions_->Counts().skipped, 3);
  EXPECT_EQ(actions_->TakeProblems().size(), 3u);
  EXPECT_EQ(Page("127.0.0.66", "/index.html"), "home");
  EXPECT_TRUE(server_->TestConfiguration(output)) << output;
}

// A whole-address shield: every page of the address, for any host and path, until it is lifted;
// every other visitor is served as before.
TEST_F(NginxDeflect, AWholeAddressShieldDeflectsEveryPageOfTheAddressUntilLifted) {
  const Shield whole = MakeShield("127.0.0.66", "", "", "/sorry page.html");
  const Shield resource = MakeShield("127.0.0.67", "shop.test", "/admin/login.php");
  ApplyAndWait({whole, resource}, {});
  EXPECT_EQ(actions_->Counts().reloads, 1);  // both maps, one reload
  EXPECT_EQ(testing_support::ReadFile(AddressMapPath()), "127.0.0.66 \"/sorry page.html\";\n");
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
  const Shield login = MakeShield("127.0.0.66", "shop.test", "/admin/login.php");
  ApplyAndWait({login}, {});
  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php"), "sorry");

  ApplyAndWait({}, {whole});
  EXPECT_EQ(testing_support::ReadFile(AddressMapPath()), "");
  EXPECT_EQ(Page("127.0.0.66", "/index.html"), "home");
  EXPECT_EQ(Page("127.0.0.66", "/caf%C3%A9/menu.php", "other.test"), "real menu");
  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php"), "deflected");  // its own shield stays
  EXPECT_EQ(actions_->Counts().reloads, 3);
  EXPECT_EQ(actions_->Counts().reloadFailures, 0);
}

// Values that would take a visitor out of the site or make two keys one: none reaches the map,
// the site's other files stay unseen, and nginx still takes the map.
TEST_F(NginxDeflect, NoDeflectLeavesTheSiteAndNoTwoShieldsMakeOneKey) {
  testing_support::WriteFile(server_->File("secret.txt"), "secret");
  const std::vector<Shield> refused = {
      MakeShield("127.0.0.66", "shop.test", "/admin/login.php", "/../secret.txt"),
      MakeShield("127.0.0.66", "shop.test", "/admin/login.php", "/%2e%2e/secret.txt"),
      MakeShield("127.0.0.66", "shop.test", "/admin/login.php", "//evil.test/x"),
      MakeShield("127.0.0.66", "shop.test", "/admin/login.php", "http://evil.test/x"),
      MakeShield("127.0.0.66", "shop.test", "/admin/login.php", "/..%2fsecret.txt"),
      MakeShield("127.0.0.66", "shop.test", "/admin/login.php", "/..\\secret.txt"),
      MakeShield("203.0.113.70", "a b", "/c")};
  for (const Shield &shield : refused) {
    std::string why;
    EXPECT_FALSE(actions_->Acceptable(shield, why)) << shield.deflect;
    EXPECT_TRUE(why.starts_with("its ")) << why;
  }
  // Keys that nginx would take for one: a host or path in other letters (one line, the first
  // shield's deflect path its value), an address written otherwise (the same shield, renewed).
  const std::vector<Shield> accepted = {
      MakeShield("203.0.113.70", "a", "b /c"),
      MakeShield("127.0.0.66", "shop.test", "/admin/login.php"),
      MakeShield("127.0.0.66", "SHOP.TEST", "/Admin/Login.php", "/sorry page.html"),
      MakeShield("2001:db8::1", "shop.test", "/x"),
      MakeShield("2001:DB8:0::1", "shop.test", "/x", "/sorry page.html")};
  std::vector<Shield> all = refused;
  all.insert(all.end(), accepted.begin(), accepted.end());
  const std::vector<pid_t> workers = server_->Workers();
  actions_->Apply(all, {}, kNow);
  actions_->Drain();
  EXPECT_TRUE(server_->WaitForNewWorkers(workers));
  EXPECT_EQ(actions_->Counts().skipped, static_cast<int64_t>(refused.size()));
  EXPECT_EQ(actions_->TakeProblems().size(), refused.size());
  EXPECT_EQ(actions_->Counts().reloadFailures, 0);
  EXPECT_EQ(testing_support::ReadFile(MapPath()),
            "\"203.0.113.70 a b /c\" /deflect.html;\n"
            "\"127.0.0.66 shop.test /admin/login.php\" /deflect.html;\n"
            "\"2001:db8::1 shop.test /x\" \"/sorry page.html\";\n");
  std::string output;
  EXPECT_TRUE(server_->TestConfiguration(output)) << output;
  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php"), "deflected");
  EXPECT_EQ(Page("127.0.0.66", "/ADMIN/login.php"), "deflected");
  EXPECT_EQ(Page("127.0.0.67", "/admin/login.php"), "real login");
}

// A map nginx refuses (here a key longer than its hash buckets) is never reloaded: nginx -s
// reload would answer 0 all the same. The refusal is said with nginx's whole reason, counted,
// and tried again at each batch until the map is one nginx takes.
class NginxSmallBuckets : public NginxDeflect {
 protected:
  void SetUp() override {
    bucketSize_ = "64";
    addressMap_ = false;  // the map of resources alone: nginx refuses it, not the other
    NginxDeflect::SetUp();
  }
};

TEST_F(NginxSmallBuckets, AMapNginxRefusesIsNotReloadedAndIsTriedAgain) {
  const Shield login = MakeShield("127.0.0.66", "shop.test", "/admin/login.php");
  const Shield longer = MakeShield("127.0.0.66", "shop.test", "/" + std::string(200, 'x'));
  const std::vector<pid_t> workers = server_->Workers();
  const std::string held = testing_support::ReadFile(MapPath());
  actions_->Apply({login, longer}, {}, kNow);
  actions_->Drain();
  std::vector<host::ShieldProblem> problems = actions_->TakeProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].level, host::Level::kError);
  EXPECT_TRUE(problems[0].text.starts_with(
      "NginxTest: the web server refuses its configuration with the new nginx map, which is "
      "therefore not reloaded: '/usr/sbin/nginx -p "))
      << problems[0].text;
  // Both lines nginx wrote, the reason and its end.
  EXPECT_NE(problems[0].text.find("exited with status 1: nginx: [emerg] could not build map_hash, "
                                  "you should increase map_hash_bucket_size: 64 | nginx: "
                                  "configuration file " +
                                  server_->ConfigPath() + " test failed"),
            std::string::npos)
      << problems[0].text;
  EXPECT_EQ(actions_->Counts().reloadFailures, 1);
  EXPECT_EQ(actions_->Counts().reloads, 0);
  EXPECT_EQ(server_->Workers(), workers) << "nginx was not asked to reload";
  // A restart of nginx in the meantime finds the map it holds, not the one it refused.
  EXPECT_EQ(testing_support::ReadFile(MapPath()), held);
  std::string output;
  EXPECT_TRUE(server_->TestConfiguration(output)) << output;
  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php"), "real login");

  actions_->Apply({}, {}, kNow);
  actions_->Drain();
  EXPECT_EQ(shield_testing::Texts(actions_->TakeProblems()),
            std::vector<std::string>{"NginxTest: fails as before (2 failed attempts in a row); "
                                     "tried again at the next shield cycle"});
  EXPECT_EQ(actions_->Counts().reloadFailures, 2);

  actions_->Apply({}, {longer}, kNow);
  actions_->Drain();
  EXPECT_TRUE(server_->WaitForNewWorkers(workers));
  problems = actions_->TakeProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].level, host::Level::kNotice);
  EXPECT_EQ(actions_->Counts().reloads, 1);
  EXPECT_EQ(Page("127.0.0.66", "/admin/login.php"), "deflected");
  EXPECT_EQ(Page("127.0.0.67", "/admin/login.php"), "real login");
}

}  // namespace
