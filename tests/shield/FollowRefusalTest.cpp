// Shield requests that try to act through flowdeck on somebody else, end to end: sent to its
// port 80 as the shield plug-in sends them, or standing in the web server's log as a request
// from this machine. Each is refused, or written so safely that it deflects only what it names,
// and real nginx and Apache servers still load their configurations and reload.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "FollowProcess.h"
#include "ShieldTesting.h"
#include "support/ApacheServer.h"
#include "support/HttpClient.h"
#include "support/NginxServer.h"
#include "support/Port80.h"
#include "support/TempDir.h"

namespace {

using shield_testing::AppendTo;
using shield_testing::FollowProcess;
using shield_testing::LinesOf;
using shield_testing::ShieldRequestTarget;
using shield_testing::WaitUntil;
using testing_support::ReadFile;
using testing_support::WebServer;

struct Hostile {
  std::string address = "127.0.0.66", host = "shop.test", resource, deflect = "/deflect.html";
  bool refused = false;
};

// Each piece tries to end its entry in a map file and start one that deflects 127.0.0.67 from
// the home page, or to break the file's syntax.
const std::vector<std::pair<std::string, bool>> kPieces = {
    // the piece, and whether it holds white space, which no Apache map entry can carry
    {"\"/deflect.html;\"127.0.0.67|shop.test|/index.html", false},
    {";default/deflect.html;", false},
    {"{default/deflect.html;}", false},
    {"};server{listen", false},
    {"\r\n127.0.0.67|shop.test|/index.html /deflect.html\r\n", true},
    {" /deflect.html", true}};

std::vector<Hostile> HostileShields() {
  std::vector<Hostile> shields;
  for (size_t i = 0; i < kPieces.size(); ++i) {
    const auto &[piece, blank] = kPieces[i];
    const std::string resource = "/r" + std::to_string(i);
    shields.push_back({"127.0.0.66" + piece, "shop.test", resource, "/deflect.html", true});
    // No host name holds any of these pieces' characters.
    shields.push_back({"127.0.0.66", "shop.test" + piece, resource + "h", "/deflect.html", true});
    shields.push_back({"127.0.0.66", "shop.test", resource + piece, "/deflect.html", blank});
    // A control character in a deflect path is refused whatever the action.
    shields.push_back({"127.0.0.66", "shop.test", resource + "d", "/deflect.html" + piece,
                       blank || piece.find('\n') != std::string::npos});
  }
  shields.push_back({"300.1.2.3", "shop.test", "/r-invalid", "/deflect.html", true});
  shields.push_back({"127.0.0.66", "shop.test", "/admin/login.php", "/deflect.html", false});
  return shields;
}

std::string Page(const WebServer &server, const std::string &visitor, const std::string &target) {
  return testing_support::PageSeen(visitor, server.Port(), "shop.test", target);
}

TEST(FollowRefusal, HostileShieldRequestsAreRefusedOrWrittenSafelyAndTheServersKeepWorking) {
  if (!testing_support::NginxServer::Available() || !testing_support::ApacheServer::Available())
    GTEST_SKIP() << "nginx, or Apache with mod_rewrite, is not installed";
  testing_support::Port80 port80;
  if (!port80.NothingListens(shield_testing::kShieldServer))
    GTEST_SKIP() << "port 80 cannot be bound here";
  testing_support::NginxServer nginx;
  testing_support::ApacheServer apache;
  const std::string nginxMap = nginx.File("shields.map"), apacheMap = apache.File("shields.map");
  nginx.SetHttpLines(shield_testing::SnippetWith("nginx-shields-http.conf", nginxMap));
  nginx.SetServerLines(shield_testing::ExampleWith("nginx-shields-server.conf", "", ""));
  apache.SetLines(shield_testing::SnippetWith("apache-shields.conf", apacheMap));
  for (WebServer *server : std::initializer_list<WebServer *>{&nginx, &apache}) {
    server->WritePage("/index.html", "home");
    server->WritePage("/admin/login.php", "real login");
    server->WritePage("/r2{default/deflect.html;}", "real odd");
    server->WritePage("/deflect.html", "deflected");
  }
  testing_support::TempDir dir;
  const std::string log = dir.File("site.log");
  AppendTo(log, "");
  FollowProcess follow(dir.Path(),
                       "ShieldSeconds = 600\nNeverShield =\nNginxMapFile = " + nginxMap +
                           "\nNginxReload = " + nginx.ReloadCommand() + "\nNginxTest = " +
                           nginx.TestCommand() + "\nApacheMapFile = " + apacheMap +
                           "\nApacheReload = " + apache.ReloadCommand() + "\nTrace = True\n",
                       {log});
  ASSERT_TRUE(follow.Start()) << follow.Output();
  ASSERT_TRUE(WaitUntil([&] { return testing_support::FileExists(apacheMap); }, 10));
  ASSERT_TRUE(nginx.Start()) << nginx.Problem();
  ASSERT_TRUE(apache.Start()) << apache.Problem();

  // Every other one to port 80, the others through the log.
  const std::vector<Hostile> shields = HostileShields();
  size_t refused = 0;
  for (size_t i = 0; i < shields.size(); ++i) {
    const Hostile &shield = shields[i];
    const std::string target = follow.Keyed(
        ShieldRequestTarget(shield.address, shield.host, shield.resource, shield.deflect));
    if (i % 2 == 0) {
      EXPECT_TRUE(shield_testing::SendShieldRequest(target));
    } else {
      AppendTo(log, shield_testing::LogLine("127.0.0.1", target));
    }
    refused += shield.refused;
  }
  ASSERT_TRUE(WaitUntil(
      [&] { return LinesOf(follow.OutFile("flowdeck-shields.log")).size() == shields.size(); }, 10))
      << follow.Events();
  // The requests may have come in more than one cycle, so more than one map and reload: the
  // last is in force once both routes' shields deflect.
  const std::string odd = "/r2%7Bdefault/deflect.html;%7D";  // written as it came
  for (WebServer *server : std::initializer_list<WebServer *>{&nginx, &apache}) {
    EXPECT_TRUE(WaitUntil(
        [&] {
          return Page(*server, "127.0.0.66", "/admin/login.php") == "deflected" &&
                 Page(*server, "127.0.0.66", odd) == "deflected";
        },
        10))
        << "the maps that hold the hostile values are in force\n"
        << ReadFile(nginxMap) << ReadFile(apacheMap);
    EXPECT_EQ(Page(*server, "127.0.0.67", "/index.html"), "home");
    EXPECT_EQ(Page(*server, "127.0.0.67", "/admin/login.php"), "real login");
    EXPECT_EQ(Page(*server, "127.0.0.67", odd), "real odd");
    EXPECT_EQ(Page(*server, "127.0.0.66", "/index.html"), "home");
    std::string output;
    EXPECT_TRUE(server->TestConfiguration(output)) << output;
  }
  ASSERT_TRUE(follow.Stop()) << follow.Output();

  const std::string events = follow.Events(), said = follow.Output();
  EXPECT_NE(events.find(" refuse regularity 300.1.2.3 shop.test /r-invalid -> /deflect.html "
                        "(not an IPv4 or IPv6 address)"),
            std::string::npos)
      << events;
  EXPECT_NE(events.find(" refuse regularity 127.0.0.66 shop.test /r5%20/deflect.html -> "
                        "/deflect.html (ApacheMapFile: its resource holds white space"),
            std::string::npos)
      << events;
  EXPECT_EQ(said.find("Reload:"), std::string::npos) << "every reload succeeded\n" << said;
  EXPECT_NE(said.find("shields raised: " + std::to_string(shields.size() - refused) +
                      ", lifted: 0, refused: " + std::to_string(refused) +
                      ", in force at the end: " + std::to_string(shields.size() - refused)),
            std::string::npos)
      << said << events;
}

// A forged shield for the forger's own address may name any deflect path: none that leaves the
// site is acted on, and nginx's own files next to the site stay unseen. A reload that fails is
// said at error level with all its reasons, counted in the metrics and tried again at each
// cycle until nginx holds the map.
TEST(FollowRefusal, DeflectsOutOfTheSiteAreRefusedAndAFailedReloadIsTriedUntilItHolds) {
  if (!testing_support::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  testing_support::Port80 port80;
  if (!port80.NothingListens(shield_testing::kShieldServer))
    GTEST_SKIP() << "port 80 cannot be bound here";
  testing_support::NginxServer nginx;
  const std::string map = shield_testing::UseShieldSnippets(nginx);
  nginx.WritePage("/admin/login.php", "real login");
  nginx.WritePage("/deflect.html", "deflected");
  testing_support::WriteFile(nginx.File("secret.txt"), "secret");  // beside the document root
  testing_support::TempDir dir;
  const std::string log = dir.File("site.log"), broken = dir.File("broken");
  AppendTo(log, "");
  // Fails over two lines while `broken` is there.
  const std::string reload = dir.File("reload.sh");
  testing_support::WriteFile(reload, "#!/bin/sh\nif [ -e " + broken +
                                         " ]; then printf 'reload refused\\nsecond line\\n' "
                                         ">&2; exit 3; fi\nexec " +
                                         nginx.ReloadCommand() + "\n");
  chmod(reload.c_str(), 0755);
  FollowProcess follow(dir.Path(),
                       "ShieldSeconds = 600\nNeverShield =\nNginxMapFile = " + map +
                           "\nNginxReload = " + reload + "\nNginxTest = " + nginx.TestCommand() +
                           "\nTrace = True\n",
                       {log});
  ASSERT_TRUE(follow.Start()) << follow.Output();
  ASSERT_TRUE(WaitUntil([&] { return testing_support::FileExists(map); }, 10));
  ASSERT_TRUE(nginx.Start()) << nginx.Problem();
  testing_support::WriteFile(broken, "");

  const std::vector<Hostile> refused = {
      {"127.0.0.66", "shop.test", "/admin/login.php", "/../secret.txt"},
      {"127.0.0.66", "shop.test", "/admin/login.php", "/%2e%2e/secret.txt"},
      {"127.0.0.66", "shop.test", "/admin/login.php", "/..%2Fsecret.txt"},
      {"127.0.0.66", "shop.test", "/admin/login.php", "/..\\secret.txt"},
      {"127.0.0.66", "shop.test", "/admin/login.php", "//evil.test/x"},
      {"127.0.0.66", "shop.test", "/admin/login.php", "http://evil.test/x"},
      {"203.0.113.70", "a b", "/c"}};
  for (const Hostile &shield : refused) {
    EXPECT_TRUE(shield_testing::SendShieldRequest(follow.Keyed(
        ShieldRequestTarget(shield.address, shield.host, shield.resource, shield.deflect))));
  }
  // Its pair, which made the same nginx key, and the shield the forger could have asked for.
  AppendTo(
      log,
      shield_testing::LogLine("127.0.0.1", follow.Keyed(ShieldRequestTarget(
                                               "203.0.113.70", "a", "b /c", "/deflect.html"))) +
          shield_testing::LogLine(
              "127.0.0.1", follow.Keyed(ShieldRequestTarget("127.0.0.66", "shop.test",
                                                            "/admin/login.php", "/deflect.html"))));
  ASSERT_TRUE(WaitUntil(
      [&] { return LinesOf(follow.OutFile("flowdeck-shields.log")).size() == refused.size() + 2; },
      10))
      << follow.Events();
  ASSERT_TRUE(WaitUntil([&] { return follow.Metric("flowdeck_reload_failures_total") >= 2; }, 10))
      << follow.Output();
  EXPECT_NE(follow.Output().find("flowdeck follow: error: NginxReload: '" + reload +
                                 "' exited with status 3: reload refused | second line (tried "
                                 "again at the next shield cycle)\n"),
            std::string::npos)
      << follow.Output();
  EXPECT_NE(follow.Output().find("flowdeck follow: error: NginxReload: fails as before"),
            std::string::npos)
      << follow.Output();
  EXPECT_EQ(Page(nginx, "127.0.0.66", "/admin/login.php"), "real login") << "not reloaded yet";

  std::remove(broken.c_str());
  EXPECT_TRUE(
      WaitUntil([&] { return Page(nginx, "127.0.0.66", "/admin/login.php") == "deflected"; }, 10))
      << follow.Output();
  std::string output;
  EXPECT_TRUE(nginx.TestConfiguration(output)) << output;
  EXPECT_EQ(Page(nginx, "127.0.0.67", "/admin/login.php"), "real login");
  ASSERT_TRUE(follow.Stop()) << follow.Output();

  const std::string events = follow.Events(), said = follow.Output();
  EXPECT_NE(said.find("flowdeck follow: nginx map " + map + " is in force again after "),
            std::string::npos)
      << said;
  EXPECT_NE(events.find(" refuse regularity 127.0.0.66 shop.test /admin/login.php -> "
                        "/../secret.txt (its deflect path holds a '.' or '..' segment)"),
            std::string::npos)
      << events;
  EXPECT_NE(events.find(" refuse regularity 203.0.113.70 a%20b /c -> /deflect.html (its host"),
            std::string::npos)
      << events;
  EXPECT_NE(said.find("shields raised: 2, lifted: 0, refused: " + std::to_string(refused.size())),
            std::string::npos)
      << said;
  EXPECT_EQ(ReadFile(map),
            "\"203.0.113.70 a b /c\" /deflect.html;\n"
            "\"127.0.0.66 shop.test /admin/login.php\" /deflect.html;\n");
}

}  // namespace
