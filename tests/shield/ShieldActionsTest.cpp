// The actions as the run drives them: settings checked at once, one write and one reload per
// batch, nothing done twice at a restart, problems collected and never thrown.
#include "shield/MapFile.h"
#include "shield/ShieldActions.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <fstream>

#include "Posix.h"
#include "ShieldTesting.h"
#include "support/TempDir.h"

namespace {

using host::HostConfig;
using host::Shield;
using host::ShieldActions;
using shield_testing::MakeShield;
using testing_support::ReadFile;
using testing_support::TempDir;

std::string ConstructionError(const std::string &key, const std::string &value) {
  HostConfig config;
  config.Set(key, value, "test");
  try {
    ShieldActions actions(config);
  } catch (const std::runtime_error &error) {
    return error.what();
  }
  return "";
}

TEST(ShieldActions, NamesTheSettingItCannotUse) {
  EXPECT_EQ(ConstructionError("NginxMapFile", "/no/such/dir/shields.map"),
            "NginxMapFile = '/no/such/dir/shields.map': the directory /no/such/dir does not exist");
  EXPECT_EQ(ConstructionError("ApacheMapFile", "/no/such/dir/shields.map"),
            "ApacheMapFile = '/no/such/dir/shields.map': the directory /no/such/dir does not "
            "exist");
  EXPECT_EQ(ConstructionError("NftTable", "flow deck"),
            "NftTable = 'flow deck': a table name holds only letters, digits and '_'");
  EXPECT_EQ(ConstructionError("ShieldCommand", "/bin/x 'unclosed"),
            "ShieldCommand = '/bin/x 'unclosed': an unclosed '");
  TempDir dir;
  HostConfig config;
  config.Set("NginxMapFile", dir.File("shields.map"), "test");
  config.Set("NginxReload", "nginx -s \"reload", "test");
  EXPECT_THROW(ShieldActions{config}, std::runtime_error);
  EXPECT_FALSE(ShieldActions(HostConfig()).Configured());
  // Two maps in one file would overwrite each other's shields.
  HostConfig shared;
  shared.Set("NginxMapFile", dir.File("shields.map"), "test");
  shared.Set("ApacheAddressMapFile", dir.File("./shields.map"), "test");
  try {
    ShieldActions actions(shared);
    ADD_FAILURE() << "two maps in one file were taken";
  } catch (const std::runtime_error &error) {
    EXPECT_EQ(std::string(error.what()), "ApacheAddressMapFile = '" + dir.File("./shields.map") +
                                             "': the file of NginxMapFile too");
  }
  HostConfig addressOnly;
  addressOnly.Set("NginxAddressMapFile", dir.File("address.map"), "test");
  EXPECT_TRUE(ShieldActions(addressOnly).Configured());
}

class ShieldActionsFiles : public ::testing::Test {
 protected:
  ShieldActionsFiles() {
    config_.Set("NginxMapFile", dir_.File("nginx.map"), "test");
    config_.Set("NginxReload", "sh -c 'echo >> " + dir_.File("reloads") + "'", "test");
    config_.Set("NginxTest", "sh -c 'echo >> " + dir_.File("tests") + "'", "test");
    config_.Set("ApacheMapFile", dir_.File("apache.map"), "test");
  }
  ~ShieldActionsFiles() override { common::Posix() = common::RealPosix(); }

  int Reloads() const { return Lines("reloads"); }
  int Tests() const { return Lines("tests"); }
  int Lines(const std::string &name) const {
    const std::string log = ReadFile(dir_.File(name));
    return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
  }
  std::string Nginx() const { return ReadFile(dir_.File("nginx.map")); }
  std::string Apache() const { return ReadFile(dir_.File("apache.map")); }

  static constexpr int64_t kNow = 1700000000;
  TempDir dir_;
  HostConfig config_;
};

TEST_F(ShieldActionsFiles, WritesAndReloadsOncePerBatch) {
  ShieldActions actions(config_);
  EXPECT_EQ(
      actions.Describe(),
      (std::vector<std::string>{
          "nginx map " + dir_.File("nginx.map") + ", reloaded by 'sh -c echo >> " +
              dir_.File("reloads") + "' once 'sh -c echo >> " + dir_.File("tests") + "' passes",
          "Apache map " + dir_.File("apache.map") + ", read by the web server itself"}));
  actions.Start({}, kNow);
  // Written before the first shield, so that the web server can include them.
  EXPECT_TRUE(testing_support::FileExists(dir_.File("nginx.map")));
  EXPECT_EQ(Apache(), "");
  EXPECT_EQ(Reloads(), 0);  // nothing was in force, nothing changed

  actions.Apply({MakeShield("127.0.0.66"), MakeShield("127.0.0.67"),
                 MakeShield("127.0.0.68", "shop.test", "/a")},
                {}, kNow);
  actions.Drain();
  EXPECT_EQ(Reloads(), 1);
  EXPECT_EQ(Apache(),
            "127.0.0.66|shop.test|/admin/login.php /deflect.html\n"
            "127.0.0.67|shop.test|/admin/login.php /deflect.html\n"
            "127.0.0.68|shop.test|/a /deflect.html\n");

  // Lifts come before raises: a shield lifted and raised again in one batch is in force.
  actions.Apply({MakeShield("127.0.0.66", "shop.test", "/admin/login.php", "/sorry.html")},
                {MakeShield("127.0.0.66"), MakeShield("127.0.0.67")}, kNow);
  actions.Drain();
  EXPECT_EQ(Reloads(), 2);
  EXPECT_EQ(Nginx(),
            "\"127.0.0.68 shop.test /a\" /deflect.html;\n"
            "\"127.0.0.66 shop.test /admin/login.php\" /sorry.html;\n");

  // A batch that changes nothing in the files costs no reload.
  actions.Apply({}, {MakeShield("127.0.0.99")}, kNow);
  actions.Drain();
  EXPECT_EQ(Reloads(), 2);
  const host::ShieldActionCounts counts = actions.Counts();
  EXPECT_EQ(counts.mapWrites, 6);  // both files at start, then two batches of two
  EXPECT_EQ(counts.reloads, 2);
  EXPECT_EQ(Tests(), 2) << "each reload is tested first";
  EXPECT_EQ(shield_testing::Texts(actions.TakeProblems()), std::vector<std::string>());
}

// Apache takes a changed map up by its date: however soon one write follows another, the date
// moves on.
TEST(MapFile, EachWriteDatesTheFileLaterThanTheOneBefore) {
  TempDir dir;
  host::MapFile map(dir.File("apache.map"));
  timespec last{};
  for (int write = 0; write < 20; ++write) {
    std::string content = "127.0.0." + std::to_string(write) + "|shop.test|/a /deflect.html\n";
    ASSERT_TRUE(map.Update(content).written);
    struct stat now {};
    ASSERT_EQ(stat(dir.File("apache.map").c_str(), &now), 0);
    EXPECT_TRUE(now.st_mtim.tv_sec > last.tv_sec ||
                (now.st_mtim.tv_sec == last.tv_sec && now.st_mtim.tv_nsec > last.tv_nsec))
        << "write " << write;
    last = now.st_mtim;
  }
}

TEST_F(ShieldActionsFiles, ARestartWithTheSameShieldsRewritesAndReloadsNothing) {
  const std::vector<Shield> active = {MakeShield("127.0.0.66"), MakeShield("::1")};
  {
    ShieldActions actions(config_);
    actions.Start({}, kNow);
    actions.Apply(active, {}, kNow);
    actions.Drain();
  }
  ASSERT_EQ(Reloads(), 1);
  const std::string before = Nginx();
  {
    ShieldActions actions(config_);
    // Restored in another order than they were raised: the same lines all the same.
    actions.Start({active[1], active[0]}, kNow + 60);
    EXPECT_EQ(actions.Counts().mapWrites, 0);
    EXPECT_EQ(Reloads(), 1);
    EXPECT_EQ(Nginx(), before);
    // One expired while flowdeck was down: lifted at start.
    actions.Apply({}, {active[1]}, kNow + 60);
    actions.Drain();
    EXPECT_EQ(Reloads(), 2);
  }
  EXPECT_EQ(Nginx(), "\"127.0.0.66 shop.test /admin/login.php\" /deflect.html;\n");
  {
    ShieldActions actions(config_);
    actions.Start({}, kNow + 7200);
    EXPECT_EQ(Nginx(), "");
    EXPECT_EQ(Reloads(), 3);
  }
}

TEST_F(ShieldActionsFiles, ReportsFailuresAndCatchesUpOnTheNextBatch) {
  config_.Set("NginxReload", "sh -c 'echo reload refused >&2; exit 1'", "test");
  ShieldActions actions(config_);
  actions.Start({}, kNow);
  // The map cannot be put in place once.
  common::Posix().rename = [](const char *, const char *) {
    errno = EACCES;
    return -1;
  };
  actions.Apply({MakeShield("127.0.0.66")}, {}, kNow);
  actions.Drain();
  common::Posix() = common::RealPosix();
  const std::vector<host::ShieldProblem> problems = actions.TakeProblems();
  EXPECT_EQ(shield_testing::Texts(problems),
            (std::vector<std::string>{"NginxMapFile: cannot replace " + dir_.File("nginx.map") +
                                          ": Permission denied (tried again at the next shield "
                                          "cycle)",
                                      "ApacheMapFile: cannot replace " + dir_.File("apache.map") +
                                          ": Permission denied (tried again at the next shield "
                                          "cycle)"}));
  for (const host::ShieldProblem &problem : problems) EXPECT_EQ(problem.level, host::Level::kError);
  EXPECT_FALSE(testing_support::FileExists(dir_.File("nginx.map.flowdeck-new")));
  actions.Apply({MakeShield("127.0.0.67")}, {}, kNow);
  actions.Drain();
  EXPECT_EQ(shield_testing::Texts(actions.TakeProblems()),
            (std::vector<std::string>{
                "NginxReload: 'sh -c echo reload refused >&2; exit 1' exited with status 1: "
                "reload refused (tried again at the next shield cycle)",
                "Apache map " + dir_.File("apache.map") +
                    " is in force again after 1 failed attempt(s)"}));
  EXPECT_EQ(Nginx(),
            "\"127.0.0.66 shop.test /admin/login.php\" /deflect.html;\n"
            "\"127.0.0.67 shop.test /admin/login.php\" /deflect.html;\n");
  const host::ShieldActionCounts counts = actions.Counts();
  EXPECT_EQ(counts.fileFailures, 2);
  EXPECT_EQ(counts.reloadFailures, 1);
}

TEST_F(ShieldActionsFiles, RefusesWhatAConfiguredActionCannotCarry) {
  ShieldActions actions(config_);
  std::string why;
  EXPECT_TRUE(actions.Acceptable(MakeShield("::FFFF:127.0.0.66", "SHOP.test"), why)) << why;
  EXPECT_FALSE(actions.Acceptable(MakeShield("127.0.0.666"), why));
  EXPECT_EQ(why, "'127.0.0.666' is not an IPv4 or IPv6 address");
  EXPECT_FALSE(actions.Acceptable(MakeShield("127.0.0.66", "shop.test", "/a b"), why));
  EXPECT_EQ(why,
            "ApacheMapFile: its resource holds white space or a NUL byte, which an Apache "
            "RewriteMap key cannot hold");
  EXPECT_FALSE(actions.Acceptable(MakeShield("127.0.0.66", "shop.test", "/a", "/$x"), why));
  EXPECT_EQ(why, "NginxMapFile: its deflect path holds '$', which nginx would read as a variable");
  // Without the map actions, the same values are no problem.
  HostConfig none;
  EXPECT_TRUE(ShieldActions(none).Acceptable(MakeShield("127.0.0.66", "h", "/a b", "/$x"), why));
  EXPECT_FALSE(ShieldActions(none).Acceptable(MakeShield("localhost"), why));
}

}  // namespace

namespace {

// A reload that fails says why in full and at error level, is counted, and is tried again at
// every batch, changes or none, until the server holds the map; a map its test refuses is
// never reloaded.
TEST_F(ShieldActionsFiles, AFailedReloadIsSaidInFullAndTriedAgainUntilItSucceeds) {
  const std::string broken = dir_.File("broken");
  std::ofstream(broken) << "";
  // Fails over three lines of its standard error while the file `broken` is there.
  config_.Set("NginxReload",
              "sh -c 'echo >> " + dir_.File("reloads") + "; test -e " + broken +
                  " || exit 0; printf \"first\\n\\tsecond\\033[31m\\nthird\\n\" >&2; exit 2'",
              "test");
  config_.Set("ApacheMapFile", "", "test");
  ShieldActions actions(config_);
  actions.Start({}, kNow);
  actions.Apply({MakeShield("127.0.0.66")}, {}, kNow);
  actions.Drain();
  std::vector<host::ShieldProblem> problems = actions.TakeProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].level, host::Level::kError);
  EXPECT_NE(problems[0].text.find("NginxReload: 'sh -c "), std::string::npos);
  EXPECT_NE(
      problems[0].text.find("' exited with status 2: first | second?[31m | third (tried again "
                            "at the next shield cycle)"),
      std::string::npos)
      << problems[0].text;
  EXPECT_EQ(actions.Counts().reloadFailures, 1);

  // No change: tried again all the same, and said in short.
  actions.Apply({}, {}, kNow);
  actions.Drain();
  EXPECT_EQ(Reloads(), 2);
  EXPECT_EQ(shield_testing::Texts(actions.TakeProblems()),
            std::vector<std::string>{"NginxReload: fails as before (2 failed attempts in a row); "
                                     "tried again at the next shield cycle"});
  EXPECT_EQ(actions.Counts().reloadFailures, 2);

  std::remove(broken.c_str());
  actions.Apply({}, {}, kNow);
  actions.Drain();
  EXPECT_EQ(Reloads(), 3);
  problems = actions.TakeProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].level, host::Level::kNotice);
  EXPECT_EQ(problems[0].text,
            "nginx map " + dir_.File("nginx.map") + " is in force again after 2 failed attempt(s)");
  // In force: nothing is owed any more.
  actions.Apply({}, {}, kNow);
  actions.Drain();
  EXPECT_EQ(Reloads(), 3);
  EXPECT_EQ(Tests(), 3);
  EXPECT_EQ(actions.Counts().reloadFailures, 2);

  // The test refuses the next map: no reload, its whole output said, tried again.
  config_.Set("NginxTest",
              "sh -c 'test -e " + broken +
                  " || exit 0; echo \"[emerg] bad\" >&2; "
                  "echo \"test failed\" >&2; exit 1'",
              "test");
  std::ofstream(broken) << "";
  ShieldActions tested(config_);
  tested.Start({MakeShield("127.0.0.66")}, kNow);
  tested.Apply({MakeShield("127.0.0.67")}, {}, kNow);
  tested.Drain();
  EXPECT_EQ(Reloads(), 3);
  problems = tested.TakeProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].level, host::Level::kError);
  EXPECT_NE(problems[0].text.find("NginxTest: the web server refuses its configuration with the "
                                  "new nginx map, which is therefore not reloaded: 'sh -c "),
            std::string::npos)
      << problems[0].text;
  EXPECT_NE(problems[0].text.find("exited with status 1: [emerg] bad | test failed"),
            std::string::npos)
      << problems[0].text;
  EXPECT_EQ(tested.Counts().reloadFailures, 1);
  EXPECT_EQ(tested.Counts().reloads, 0);
  std::remove(broken.c_str());
  tested.Apply({}, {}, kNow);
  tested.Drain();
  EXPECT_EQ(Reloads(), 4);
  EXPECT_EQ(tested.Counts().reloads, 1);
}

}  // namespace

namespace {

class ShieldActionsAddressFiles : public ShieldActionsFiles {
 protected:
  ShieldActionsAddressFiles() {
    config_.Set("NginxAddressMapFile", dir_.File("nginx-address.map"), "test");
    config_.Set("ApacheAddressMapFile", dir_.File("apache-address.map"), "test");
  }
  std::string NginxAddress() const { return ReadFile(dir_.File("nginx-address.map")); }
  std::string ApacheAddress() const { return ReadFile(dir_.File("apache-address.map")); }

  static Shield Whole(const std::string &address, const std::string &deflect = "/sorry.html") {
    return MakeShield(address, "", "", deflect);
  }
};

// Whole-address shields fill the maps of addresses, the others those of resources, and nginx
// is tested and reloaded once for both of its files.
TEST_F(ShieldActionsAddressFiles, EachShieldReachesItsOwnMapAndABatchReloadsOnce) {
  ShieldActions actions(config_);
  const std::string reload = "reloaded by 'sh -c echo >> " + dir_.File("reloads") +
                             "' once 'sh -c echo >> " + dir_.File("tests") + "' passes";
  EXPECT_EQ(actions.Describe(),
            (std::vector<std::string>{
                "nginx map " + dir_.File("nginx.map") + ", " + reload,
                "nginx address map " + dir_.File("nginx-address.map") +
                    " (whole-address shields), " + reload,
                "Apache map " + dir_.File("apache.map") + ", read by the web server itself",
                "Apache address map " + dir_.File("apache-address.map") +
                    " (whole-address shields), read by the web server itself"}));
  actions.Start({}, kNow);
  EXPECT_EQ(actions.Counts().mapWrites, 4);
  EXPECT_EQ(NginxAddress(), "");
  std::string why;
  EXPECT_TRUE(actions.Acceptable(Whole("2001:DB8::7"), why)) << why;

  // Host or resource missing alone: a shield of a resource all the same.
  actions.Apply({Whole("2001:DB8::7"), MakeShield("127.0.0.67"), MakeShield("127.0.0.68", "", "/a"),
                 MakeShield("127.0.0.69", "shop.test", "")},
                {}, kNow);
  actions.Drain();
  EXPECT_EQ(Reloads(), 1);
  EXPECT_EQ(Tests(), 1);
  EXPECT_EQ(NginxAddress(), "2001:db8::7 /sorry.html;\n");
  EXPECT_EQ(ApacheAddress(), "2001:db8::7 /sorry.html\n");
  EXPECT_EQ(Nginx(),
            "\"127.0.0.67 shop.test /admin/login.php\" /deflect.html;\n"
            "\"127.0.0.68  /a\" /deflect.html;\n"
            "\"127.0.0.69 shop.test \" /deflect.html;\n");
  EXPECT_EQ(Apache(),
            "127.0.0.67|shop.test|/admin/login.php /deflect.html\n"
            "127.0.0.68||/a /deflect.html\n"
            "127.0.0.69|shop.test| /deflect.html\n");

  // A change to the map of addresses alone: written and reloaded, the other left as it is.
  const int64_t writes = actions.Counts().mapWrites;
  actions.Apply({Whole("127.0.0.70")}, {Whole("2001:db8::7")}, kNow);
  actions.Drain();
  EXPECT_EQ(Reloads(), 2);
  EXPECT_EQ(actions.Counts().mapWrites, writes + 2);
  EXPECT_EQ(NginxAddress(), "127.0.0.70 /sorry.html;\n");
  EXPECT_EQ(ApacheAddress(), "127.0.0.70 /sorry.html\n");
  EXPECT_EQ(Lines("nginx.map"), 3);
  // One lifted of each kind: both files, one reload.
  actions.Apply({}, {Whole("127.0.0.70"), MakeShield("127.0.0.67")}, kNow);
  actions.Drain();
  EXPECT_EQ(Reloads(), 3);
  EXPECT_EQ(NginxAddress(), "");
  EXPECT_EQ(ApacheAddress(), "");
  EXPECT_EQ(Apache(),
            "127.0.0.68||/a /deflect.html\n"
            "127.0.0.69|shop.test| /deflect.html\n");
  EXPECT_EQ(actions.Counts().skipped, 0);
  EXPECT_EQ(shield_testing::Texts(actions.TakeProblems()), std::vector<std::string>());
}

// nginx refuses the new maps: neither is reloaded, both go back to what nginx holds, and both
// are tried again until nginx takes them.
TEST_F(ShieldActionsAddressFiles, ARefusedTestPutsBothMapsBack) {
  const std::string broken = dir_.File("broken");
  config_.Set("NginxTest", "sh -c 'test ! -e " + broken + "'", "test");
  ShieldActions actions(config_);
  actions.Start({MakeShield("127.0.0.66")}, kNow);
  const std::string nginx = Nginx();
  std::ofstream(broken) << "";
  actions.Apply({Whole("127.0.0.70"), MakeShield("127.0.0.67")}, {}, kNow);
  actions.Drain();
  const std::vector<host::ShieldProblem> problems = actions.TakeProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_TRUE(
      problems[0].text.starts_with("NginxTest: the web server refuses its configuration "
                                   "with the new nginx maps, which is therefore not "
                                   "reloaded"))
      << problems[0].text;
  EXPECT_EQ(Reloads(), 0);
  EXPECT_EQ(Nginx(), nginx);
  EXPECT_EQ(NginxAddress(), "");
  EXPECT_EQ(ApacheAddress(), "127.0.0.70 /sorry.html\n");  // Apache has no test

  std::remove(broken.c_str());
  actions.Apply({}, {}, kNow);
  actions.Drain();
  EXPECT_EQ(Reloads(), 1);
  EXPECT_EQ(NginxAddress(), "127.0.0.70 /sorry.html;\n");
  EXPECT_EQ(Lines("nginx.map"), 2);
  EXPECT_EQ(shield_testing::Texts(actions.TakeProblems()),
            std::vector<std::string>{"nginx maps " + dir_.File("nginx.map") + " and " +
                                     dir_.File("nginx-address.map") +
                                     " are in force again after 1 failed attempt(s)"});
}

// A server with a map of resources only cannot deflect a whole address: said once a run with
// the setting to add, each such shield counted as skipped, and the other actions carry it.
TEST_F(ShieldActionsFiles, AServerWithoutAMapOfAddressesLeavesWholeAddressesToTheOthers) {
  config_.Set("ShieldCommand",
              "sh -c 'echo \"$FLOWDECK_EVENT $FLOWDECK_ADDRESS [$FLOWDECK_HOST] "
              "[$FLOWDECK_RESOURCE] $FLOWDECK_DEFLECT\" >> " +
                  dir_.File("commands") + "'",
              "test");
  ShieldActions actions(config_);
  actions.Start({MakeShield("127.0.0.70", "", "", "/sorry.html")}, kNow);
  const std::string told = " cannot deflect whole-address shields (the first: 127.0.0.70): set ";
  const std::string rest =
      " and include that map as the example snippets show; until then the other actions carry "
      "them, and each is counted as skipped";
  const std::vector<host::ShieldProblem> problems = actions.TakeProblems();
  EXPECT_EQ(shield_testing::Texts(problems),
            (std::vector<std::string>{"nginx" + told + "NginxAddressMapFile" + rest,
                                      "Apache" + told + "ApacheAddressMapFile" + rest}));
  for (const host::ShieldProblem &problem : problems)
    EXPECT_EQ(problem.level, host::Level::kWarning);
  std::string why;
  EXPECT_TRUE(actions.Acceptable(MakeShield("127.0.0.71", "", "", "/sorry.html"), why)) << why;
  actions.Apply({MakeShield("127.0.0.71", "", "", "/sorry.html"), MakeShield("127.0.0.72")}, {},
                kNow);
  actions.Apply({}, {MakeShield("127.0.0.71", "", "", "/sorry.html")}, kNow);
  actions.Drain();
  EXPECT_EQ(shield_testing::Texts(actions.TakeProblems()), std::vector<std::string>());
  EXPECT_EQ(actions.Counts().skipped, 2);  // the restored one and the raised one
  EXPECT_EQ(Nginx(), "\"127.0.0.72 shop.test /admin/login.php\" /deflect.html;\n");
  EXPECT_EQ(Apache(), "127.0.0.72|shop.test|/admin/login.php /deflect.html\n");
  EXPECT_EQ(ReadFile(dir_.File("commands")),
            "raise 127.0.0.71 [] [] /sorry.html\n"
            "raise 127.0.0.72 [shop.test] [/admin/login.php] /deflect.html\n"
            "lift 127.0.0.71 [] [] /sorry.html\n");
}

}  // namespace
