// flowdeck follow on a real nginx or Apache with the example snippets, as a new user runs it: a
// script fetching the admin login once a second is deflected from that page only, for
// ShieldSeconds, while the people browsing beside it, and its own other pages, are served as
// before.
#include <gtest/gtest.h>

#include "FollowProcess.h"
#include "ShieldTesting.h"
#include "VisitorTraffic.h"
#include "support/ApacheServer.h"
#include "support/HttpClient.h"
#include "support/NginxServer.h"
#include "support/Port80.h"
#include "support/TempDir.h"

namespace {

using shield_testing::FollowProcess;
using shield_testing::VisitorTraffic;
using shield_testing::WaitUntil;
using testing_support::ReadFile;
using testing_support::WebServer;

constexpr const char *kScript = "127.0.0.66";
const std::vector<std::string> kPeople = {"127.0.0.67", "127.0.0.68", "127.0.0.69"};
constexpr const char *kBystander = "127.0.0.70";
const std::vector<std::string> kPages = {
    "/index.html",       "/shop/item-1.html", "/blog/post.html",  "/shop/cart.html",  "/about.html",
    "/shop/item-2.html", "/contact.html",     "/admin/login.php", "/shop/item-3.html"};
constexpr const char *kDeflected = "sorry, deflected";

// What the site serves for a target when nobody is deflected.
std::string RealPage(const std::string &target) {
  const std::string path = target.substr(0, target.find('?'));
  if (path == "/admin/login.php" || path == "/admin/log%69n.php" || path == "/admin/%6Cogin.php")
    return "real login";
  return "page " + path;
}

void WritePages(const WebServer &server) {
  for (const std::string &page : kPages) server.WritePage(page, RealPage(page));
  server.WritePage("/sorry/login.htm", kDeflected);
}

std::string Page(const WebServer &server, const std::string &visitor, const std::string &target) {
  return testing_support::PageSeen(visitor, server.Port(), "shop.test", target);
}

// How the site's server puts a new map in force.
struct MapAction {
  std::string settings;  // for flowdeck.conf
  std::string mapPath, entry;
  bool reloads = false;  // the server reads the map only when reloaded (nginx)
};

// The script is shielded within a cycle of its fourth try (the settings lower the hits a
// tripwire needs to 14 - 2 x 5 = 4), deflected for 4 s and served again after; nobody else is
// ever deflected, and the monitor shows the script locked, then unlocked.
void DeflectTheScriptForItsLifetime(WebServer &server, const MapAction &action) {
  testing_support::Port80 port80;
  if (!port80.NothingListens(shield_testing::kShieldServer)) {
    GTEST_SKIP() << "port 80 cannot be bound here: the shield requests cannot reach flowdeck";
  }
  testing_support::TempDir dir;
  WritePages(server);
  FollowProcess follow(dir.Path(),
                       "ShieldSeconds = 4\nNeverShield =\nPeriodBase = 14\n" + action.settings,
                       {server.AccessLog()});
  ASSERT_TRUE(follow.Start()) << follow.Output();
  ASSERT_TRUE(WaitUntil([&] { return testing_support::FileExists(action.mapPath); }, 10))
      << "written at start, before a shield";
  EXPECT_EQ(ReadFile(action.mapPath), "");
  ASSERT_TRUE(server.Start()) << server.Problem();

  VisitorTraffic traffic(server.Port(), "shop.test");
  traffic.AddSteady(
      kScript, {"/admin/login.php", "/admin/login.php?user=admin&try=2", "/admin/log%69n.php"});
  const std::vector<std::vector<double>> gaps = {
      {0.4, 1.9, 0.7, 2.6, 1.1, 0.3}, {1.3, 0.5, 2.2, 0.9, 1.7}, {2.1, 0.6, 1.4, 0.35, 2.8, 0.8}};
  for (size_t i = 0; i < kPeople.size(); ++i) {
    std::vector<std::string> pages(kPages.begin() + static_cast<long>(i * 2), kPages.end());
    pages.insert(pages.end(), kPages.begin(), kPages.begin() + static_cast<long>(i * 2));
    pages.back() += "?from=" + std::to_string(i);
    traffic.AddIrregular(kPeople[i], pages, gaps[i]);
  }
  std::vector<pid_t> workers = server.Workers();
  traffic.Start();

  ASSERT_TRUE(WaitUntil([&] { return ReadFile(action.mapPath) == action.entry; }, 30))
      << ReadFile(action.mapPath) << follow.Output() << follow.Events();
  if (action.reloads) {
    EXPECT_TRUE(server.WaitForNewWorkers(workers)) << "the server was not reloaded";
  }
  // In force: the tripwire however it is written, and only the tripwire of the script.
  for (const char *target : {"/admin/login.php", "/admin/login.php?user=x&b=%20",
                             "/admin/%6Cogin.php", "/admin/log%69n.php?try=9"}) {
    EXPECT_EQ(Page(server, kScript, target), kDeflected) << target;
  }
  EXPECT_EQ(Page(server, kScript, "/index.html"), "page /index.html");
  EXPECT_EQ(Page(server, kScript, "/shop/item-1.html?q=%2F"), "page /shop/item-1.html");
  // One try more each, so that no person comes near the hits a shield needs.
  for (const std::string &person : kPeople) {
    EXPECT_EQ(Page(server, person, "/admin/%6Cogin.php?user=x"), "real login") << person;
  }
  EXPECT_EQ(Page(server, kBystander, "/admin/login.php"), "real login");
  EXPECT_TRUE(WaitUntil([&] { return follow.Locked(kScript) == "True"; }, 5))
      << "the monitor's snapshot shows the script locked while it is shielded";

  workers = server.Workers();
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(action.mapPath).empty(); }, 15))
      << ReadFile(action.mapPath) << follow.Events();
  if (action.reloads) {
    EXPECT_TRUE(server.WaitForNewWorkers(workers));
  }
  EXPECT_EQ(Page(server, kScript, "/admin/login.php"), "real login");
  EXPECT_EQ(Page(server, kScript, "/admin/%6Cogin.php?user=x"), "real login");
  EXPECT_TRUE(WaitUntil([&] { return follow.Locked(kScript) == "False"; }, 5))
      << "unlocked in the monitor once lifted";
  traffic.Stop();
  ASSERT_TRUE(follow.Stop()) << follow.Output();

  const std::string events = follow.Events();
  EXPECT_NE(events.find(" 127.0.0.66 shop.test /admin/login.php -> /sorry/login.htm until "),
            std::string::npos)
      << events;
  EXPECT_NE(events.find(" lift "), std::string::npos) << events;
  EXPECT_NE(
      follow.Output().find("shields raised: 1, lifted: 1, refused: 0, in force at the end: 0"),
      std::string::npos)
      << follow.Output();
  for (const std::string &person : kPeople) {
    EXPECT_EQ(follow.Locked(person), "False") << person;
  }
  // The script's tries: served, then deflected, then served again; the people: always served.
  int phase = 0, deflected = 0;
  for (const VisitorTraffic::Visit &visit : traffic.Visits()) {
    if (visit.visitor != kScript) {
      EXPECT_EQ(visit.status, 200) << visit.visitor << " " << visit.target;
      EXPECT_EQ(visit.body, RealPage(visit.target)) << visit.visitor << " " << visit.target;
      continue;
    }
    const bool isDeflected = visit.body == kDeflected;
    if (isDeflected) {
      ++deflected;
    } else {
      EXPECT_EQ(visit.body, "real login") << visit.target;
    }
    if (phase == 0 && isDeflected) phase = 1;
    if (phase == 1 && !isDeflected) phase = 2;
    EXPECT_FALSE(phase == 2 && isDeflected) << "deflected again after the lift: " << visit.target;
  }
  EXPECT_GE(deflected, 2) << "the script's own tries were deflected while shielded";
}

TEST(FollowDeflect, NginxDeflectsTheScriptFromTheTripwireForItsLifetimeOnly) {
  if (!testing_support::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  testing_support::NginxServer server;
  const std::string map = server.File("shields.map");
  server.SetHttpLines(shield_testing::SnippetWith("nginx-shields-http.conf", map));
  server.SetServerLines(shield_testing::ExampleWith("nginx-shields-server.conf", "", ""));
  DeflectTheScriptForItsLifetime(
      server, {"NginxMapFile = " + map + "\nNginxReload = " + server.ReloadCommand() +
                   "\nNginxTest = " + server.TestCommand() + "\n",
               map, "\"127.0.0.66 shop.test /admin/login.php\" /sorry/login.htm;\n", true});
}

TEST(FollowDeflect, ApacheDeflectsTheScriptFromTheTripwireForItsLifetimeOnly) {
  if (!testing_support::ApacheServer::Available()) {
    GTEST_SKIP() << "Apache with mod_rewrite is not installed";
  }
  testing_support::ApacheServer server;
  const std::string map = server.File("shields.map");
  server.SetLines(shield_testing::SnippetWith("apache-shields.conf", map));
  DeflectTheScriptForItsLifetime(
      server, {"ApacheMapFile = " + map + "\n", map,
               "127.0.0.66|shop.test|/admin/login.php /sorry/login.htm\n", false});
}

}  // namespace
