// An operator shields an address by hand on a running follow: from then on a real nginx with the
// example snippets deflects every page of that address, on every host, while everybody else is
// served; lifted by hand, it is served again.
#include <gtest/gtest.h>

#include "FollowProcess.h"
#include "ShieldTesting.h"
#include "support/ChildProcess.h"
#include "support/HttpClient.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace {

using shield_testing::FollowProcess;
using shield_testing::WaitUntil;
using testing_support::ReadFile;

constexpr const char *kShielded = "127.0.0.66";
constexpr const char *kOther = "127.0.0.67";
constexpr const char *kDeflected = "429 slow down";

struct Command {
  int status = -1;
  std::string output;
};

Command Flowdeck(const std::vector<std::string> &words) {
  Command command;
  std::vector<std::string> argv{FLOWDECK_BIN};
  argv.insert(argv.end(), words.begin(), words.end());
  command.status = testing_support::RunProgram(argv, command.output, 20);
  return command;
}

TEST(FollowWholeAddress, AShieldByHandDeflectsEveryPageOfTheAddressUntilLiftedByHand) {
  if (!testing_support::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  testing_support::NginxServer nginx;
  const std::string map = nginx.File("shields.map"), addressMap = nginx.File("address.map");
  nginx.SetHttpLines(shield_testing::SnippetWith("nginx-shields-http.conf", map, addressMap));
  // The slow-down page from the document root, answered with 429 as the snippet answers it.
  nginx.SetServerLines(shield_testing::ExampleWith("nginx-shields-server.conf",
                                                   "/usr/share/flowdeck/html", nginx.Root()));
  for (const char *page : {"/index.html", "/shop/cart.html", "/admin/login.php"})
    nginx.WritePage(page, std::string("page ") + page);
  nginx.WritePage("/flowdeck-slow-down.html", "slow down");
  testing_support::TempDir dir;
  FollowProcess follow(dir.Path(),
                       "NeverShield =\nNginxMapFile = " + map + "\nNginxAddressMapFile = " +
                           addressMap + "\nNginxReload = " + nginx.ReloadCommand() +
                           "\nNginxTest = " + nginx.TestCommand() + "\n",
                       {nginx.AccessLog()});
  // nginx first: a reload the follow's start tried before nginx ran would be tried again at a
  // cycle, and could pass for the shield's.
  testing_support::WriteFile(map, "");  // as the package creates it
  ASSERT_TRUE(nginx.Start()) << nginx.Problem();
  ASSERT_TRUE(follow.Start()) << follow.Output();
  // The page a visitor is served, "429 " before it when it is answered so.
  auto page = [&](const char *visitor, const char *host, const char *target) {
    const testing_support::HttpResponse answer =
        testing_support::HttpGet(visitor, nginx.Port(), host, target);
    if (answer.status == 429) return "429 " + answer.body;
    return answer.status == 200 ? answer.body : std::to_string(answer.status) + answer.problem;
  };
  EXPECT_EQ(page(kShielded, "shop.test", "/index.html"), "page /index.html");

  const std::string out = dir.File("out");
  const Command shielded = Flowdeck({"shield", out, kShielded});
  ASSERT_EQ(shielded.status, 0) << shielded.output;
  EXPECT_NE(shielded.output.find("shielded: 127.0.0.66 on the whole address -> "
                                 "/flowdeck-slow-down.html until "),
            std::string::npos)
      << shielded.output;
  EXPECT_EQ(shielded.output.find("no follow runs"), std::string::npos) << "the follow answered";
  ASSERT_TRUE(WaitUntil([&] { return !ReadFile(addressMap).empty(); }, 5)) << follow.Output();
  EXPECT_EQ(ReadFile(map), "") << "no resource is shielded";
  // Reloaded gracefully: the worker of the old map may serve a request or two until it is gone.
  for (const char *host : {"shop.test", "blog.test"}) {
    for (const char *target : {"/index.html", "/shop/cart.html?x=1", "/admin/login.php"}) {
      EXPECT_TRUE(WaitUntil([&] { return page(kShielded, host, target) == kDeflected; }, 5))
          << host << target;
      const std::string path = std::string(target).substr(0, std::string(target).find('?'));
      EXPECT_EQ(page(kOther, host, target), "page " + path) << host << target;
    }
  }
  const Command listed = Flowdeck({"shields", out});
  EXPECT_EQ(listed.status, 0);
  EXPECT_NE(listed.output.find("127.0.0.66  -     whole address  /flowdeck-slow-down.html  manual"),
            std::string::npos)
      << listed.output;
  EXPECT_TRUE(WaitUntil([&] { return follow.Locked(kShielded) == "True"; }, 5));

  const Command lifted = Flowdeck({"lift", out, "127.0.0.0/24"});
  ASSERT_EQ(lifted.status, 0) << lifted.output;
  EXPECT_EQ(lifted.output, "lifted: 127.0.0.66 on the whole address\n");
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(addressMap).empty(); }, 5));
  EXPECT_TRUE(WaitUntil(
      [&] { return page(kShielded, "shop.test", "/index.html") == "page /index.html"; }, 10));
  EXPECT_TRUE(WaitUntil([&] { return follow.Locked(kShielded) == "False"; }, 5));
  EXPECT_EQ(Flowdeck({"lift", out, kShielded}).status, 3) << "nothing left to lift";
  ASSERT_TRUE(follow.Stop()) << follow.Output();
  EXPECT_NE(follow.Output().find("shields by hand: 1 raised, 1 lifted"), std::string::npos)
      << follow.Output();
}

}  // namespace
