// An operator steering the shields of a running flowdeck follow in front of a real nginx with
// the example snippets: `flowdeck shields` lists them, `lift` and `allow` end them at once, a
// reload that widens NeverShield lifts what it now covers, a user without rights is refused,
// orders given while no follow runs are carried out at its next start, and a visitor that
// keeps its pace after its shield lapses is shielded again, each time for longer.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <simdjson.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <thread>

#include "FollowProcess.h"
#include "ShieldTesting.h"
#include "VisitorTraffic.h"
#include "support/HttpClient.h"
#include "support/NginxServer.h"
#include "support/Port80.h"
#include "support/TempDir.h"

namespace {

using shield_testing::FollowProcess;
using shield_testing::VisitorTraffic;
using shield_testing::WaitUntil;
using testing_support::ReadFile;

constexpr const char *kClient = "127.0.0.66";
constexpr const char *kLogin = "/admin/login.php";
constexpr const char *kRealLogin = "real login";
constexpr const char *kDeflected = "sorry, deflected";
// The map line of a shield of `address` on the login page.
std::string MapEntry(const std::string &address) {
  return "\"" + address + " shop.test /admin/login.php\" /sorry/login.htm;\n";
}

// Why a test of a follow that binds port 80 of the shield server cannot run here; empty when
// it can.
std::string CannotRun(testing_support::Port80 &port80) {
  if (!testing_support::NginxServer::Available()) return "nginx is not installed";
  if (!port80.NothingListens(shield_testing::kShieldServer))
    return "port 80 cannot be bound here: the shield requests cannot reach flowdeck";
  return "";
}

// A shop on a real nginx with the example snippets, and flowdeck follow on its access log
// acting on its map (reload and test commands of this nginx).
class SteeredSite {
 public:
  // `neverShield` and `settings` go into flowdeck.conf beside the nginx action.
  explicit SteeredSite(const std::string &settings, const std::string &neverShield = "")
      : map_(shield_testing::UseShieldSnippets(nginx_)),
        follow_(dir_.Path(), Settings(settings, neverShield), {nginx_.AccessLog()}) {
    nginx_.WritePage(kLogin, kRealLogin);
    nginx_.WritePage("/sorry/login.htm", kDeflected);
  }

  std::string Settings(const std::string &settings, const std::string &neverShield) const {
    return "NeverShield = " + neverShield + "\nNginxMapFile = " + map_ +
           "\nNginxReload = " + nginx_.ReloadCommand() + "\nNginxTest = " + nginx_.TestCommand() +
           "\n" + settings;
  }

  // flowdeck first, which writes the map nginx includes; "" when both run, else why not.
  std::string Start() {
    if (!follow_.Start()) return "flowdeck follow did not start: " + follow_.Output();
    if (!WaitUntil([&] { return testing_support::FileExists(map_); }, 10))
      return "no map at the start: " + follow_.Output();
    if (!nginx_.Start()) return "nginx did not start: " + nginx_.Problem();
    return "";
  }

  // What nginx answers the visitor for the login page.
  std::string Login(const std::string &visitor) const {
    return testing_support::PageSeen(visitor, nginx_.Port(), "shop.test", kLogin);
  }
  // Waits until the map holds the visitor's shield and nginx deflects it.
  bool WaitForDeflect(const std::string &visitor, double seconds) const {
    return WaitUntil([&] { return ReadFile(map_).find(MapEntry(visitor)) != std::string::npos; },
                     seconds) &&
           WaitForLoginPage(visitor, kDeflected, 10);
  }
  bool WaitForLogin(const std::string &visitor, double seconds) const {
    return WaitForLoginPage(visitor, kRealLogin, seconds);
  }

  FollowProcess &Follow() { return follow_; }
  testing_support::NginxServer &Nginx() { return nginx_; }
  const std::string &Map() const { return map_; }
  std::string Problems() const { return ReadFile(map_) + follow_.Output() + follow_.Events(); }

 private:
  // A reload leaves the old worker answering as before for a moment: an answer counts when the
  // one worker there before and after it is the only one (this nginx runs one).
  bool WaitForLoginPage(const std::string &visitor, const std::string &page, double seconds) const {
    return WaitUntil(
        [&] {
          return nginx_.Workers().size() == 1 && Login(visitor) == page &&
                 nginx_.Workers().size() == 1;
        },
        seconds);
  }

  testing_support::NginxServer nginx_;
  testing_support::TempDir dir_;
  std::string map_;
  FollowProcess follow_;
};

// The Unix time of an RFC 3339 time with an offset ("2026-12-09T17:49:30+01:00"); 0 when it
// is none.
std::time_t UnixTime(const std::string &text) {
  std::tm time{};
  const char *offset = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &time);
  char sign = 0;
  int hours = 0, minutes = 0;
  if (offset == nullptr || std::sscanf(offset, "%c%2d:%2d", &sign, &hours, &minutes) != 3 ||
      (sign != '+' && sign != '-'))
    return 0;
  return timegm(&time) - (sign == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
}

// One shield of `flowdeck shields --json`.
struct Listed {
  std::string address, host, resource, deflect, source, raised, lifts;
  int64_t offences = -1;
};

// The shields of the JSON listing; "" when it reads, else what is wrong with it. Every shield
// has exactly the eight fields.
std::string ReadListing(const std::string &json, std::vector<Listed> &shields) {
  simdjson::dom::parser parser;
  simdjson::dom::element document;
  simdjson::dom::array list;
  if (parser.parse(json).get(document) != simdjson::SUCCESS) return "not JSON";
  if (document["shields"].get_array().get(list) != simdjson::SUCCESS) return "no shields array";
  for (simdjson::dom::element item : list) {
    simdjson::dom::object object;
    if (item.get_object().get(object) != simdjson::SUCCESS) return "a shield is no object";
    if (object.size() != 8) return "a shield has " + std::to_string(object.size()) + " fields";
    Listed shield;
    const std::pair<const char *, std::string *> texts[] = {
        {"address", &shield.address}, {"host", &shield.host},     {"resource", &shield.resource},
        {"deflect", &shield.deflect}, {"source", &shield.source}, {"raised", &shield.raised},
        {"lifts", &shield.lifts}};
    for (const auto &[name, value] : texts) {
      std::string_view text;
      // A shield raised by hand while no follow runs lifts when the next start says.
      if (value == &shield.lifts && object[name].is_null()) continue;
      if (object[name].get_string().get(text) != simdjson::SUCCESS)
        return std::string("no text ") + name;
      *value = text;
    }
    if (object["offences"].get_int64().get(shield.offences) != simdjson::SUCCESS)
      return "no number offences";
    shields.push_back(std::move(shield));
  }
  return "";
}

// A "raise" line of the event log: "T raise SOURCE ADDRESS HOST RESOURCE -> DEFLECT until U
// offence N (FIGURES)".
struct Raise {
  std::time_t at = 0, until = 0;
  int offence = 0;
  std::string source, line;
};

std::vector<Raise> RaisesOf(const std::string &events, const std::string &address) {
  std::vector<Raise> raises;
  std::istringstream lines(events);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string at, event, source, who, host, resource, arrow, deflect, until, untilTime, offence;
    Raise raise;
    words >> at >> event >> source >> who >> host >> resource >> arrow >> deflect >> until >>
        untilTime >> offence >> raise.offence;
    if (event != "raise" || who != address || until != "until" || offence != "offence") continue;
    raise.at = UnixTime(at);
    raise.until = UnixTime(untilTime);
    raise.source = source;
    raise.line = line;
    raises.push_back(std::move(raise));
  }
  return raises;
}

// Runs `argv` as user and group nobody (65534) without other groups, to its end; its exit
// status (-1 when it did not exit), with both its streams in `output`.
int RunAsNobody(const std::vector<std::string> &argv, std::string &output) {
  std::vector<char *> args;
  for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
  args.push_back(nullptr);
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    // Only calls a forked child of a threaded process may make.
    if (dup2(ends[1], STDOUT_FILENO) < 0 || dup2(ends[1], STDERR_FILENO) < 0 ||
        setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
      _exit(126);
    execv(args[0], args.data());
    _exit(127);
  }
  close(ends[1]);
  char buffer[4096];
  for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) != 0;) {
    if (n > 0) output.append(buffer, static_cast<size_t>(n));
    if (n < 0 && errno != EINTR) break;
  }
  close(ends[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(FollowSteering, ListsAShieldAndLiftsItAtOnce) {
  testing_support::Port80 port80;
  if (const std::string why = CannotRun(port80); !why.empty()) GTEST_SKIP() << why;
  // A long lifetime: the lift by hand is what ends it.
  SteeredSite site("ShieldSeconds = 600\n");
  ASSERT_EQ(site.Start(), "");
  FollowProcess &follow = site.Follow();
  VisitorTraffic traffic(site.Nginx().Port(), "shop.test");
  traffic.AddSteady(kClient, {kLogin});
  traffic.Start();
  ASSERT_TRUE(site.WaitForDeflect(kClient, 60)) << site.Problems();

  std::string output;
  ASSERT_EQ(follow.Steer({"shields"}, output), 0) << output;
  EXPECT_NE(output.find("ADDRESS"), std::string::npos) << output;
  for (const char *shown : {kClient, "shop.test", kLogin, "/sorry/login.htm", "1 shield(s)"})
    EXPECT_NE(output.find(shown), std::string::npos) << shown << "\n" << output;

  ASSERT_EQ(follow.Steer({"shields", "--json"}, output), 0) << output;
  std::vector<Listed> listed;
  ASSERT_EQ(ReadListing(output, listed), "") << output;
  ASSERT_EQ(listed.size(), 1u) << output;
  EXPECT_EQ(listed[0].address, kClient);
  EXPECT_EQ(listed[0].host, "shop.test");
  EXPECT_EQ(listed[0].resource, kLogin);
  EXPECT_EQ(listed[0].deflect, "/sorry/login.htm");
  EXPECT_TRUE(listed[0].source == "pace" || listed[0].source == "regularity") << output;
  EXPECT_EQ(listed[0].offences, 1);
  const std::time_t raised = UnixTime(listed[0].raised);
  EXPECT_GT(raised, std::time(nullptr) - 120) << output;
  EXPECT_EQ(UnixTime(listed[0].lifts) - raised, 600) << output;
  EXPECT_EQ(follow.Locked(kClient), "True");

  // The lift: answered by the running follow, and carried out through nginx at once.
  double seconds = 0;
  ASSERT_EQ(follow.Steer({"lift", kClient}, output, &seconds), 0) << output;
  RecordProperty("lift_seconds", std::to_string(seconds));
  std::printf("flowdeck lift took %.3f s\n", seconds);
  EXPECT_EQ(output, "lifted: 127.0.0.66 on shop.test/admin/login.php\n");
  EXPECT_TRUE(WaitUntil([&] { return ReadFile(site.Map()).empty(); }, 2)) << site.Problems();
  EXPECT_TRUE(site.WaitForLogin(kClient, 3)) << site.Problems();
  EXPECT_TRUE(WaitUntil([&] { return follow.Locked(kClient) == "False"; }, 5))
      << "unlocked in the monitor once lifted";
  EXPECT_EQ(follow.Steer({"shields"}, output), 0);
  EXPECT_EQ(output, "no shield in force\n");
  EXPECT_NE(follow.Events().find(" lift "), std::string::npos) << follow.Events();
  EXPECT_NE(follow.Events().find(" 127.0.0.66 shop.test /admin/login.php -> /sorry/login.htm "
                                 "(by hand)"),
            std::string::npos)
      << follow.Events();

  // Nothing left to lift, nor anything in another range or on another resource.
  EXPECT_EQ(follow.Steer({"lift", kClient}, output), 3) << output;
  EXPECT_NE(output.find("no shield in force matches"), std::string::npos) << output;
  EXPECT_EQ(follow.Steer({"lift", "198.51.100.0/24"}, output), 3) << output;
  EXPECT_EQ(follow.Steer({"lift", "127.0.0.66", "--resource", "/wp-login.php"}, output), 3);
  EXPECT_EQ(follow.Steer({"lift", "not-an-address"}, output), 2) << output;
  traffic.Stop();
  ASSERT_TRUE(follow.Stop()) << follow.Output();
  EXPECT_EQ(RaisesOf(follow.Events(), kClient).size(), 1u)
      << "judged afresh after the lift, on new hits only: " << follow.Events();
}

TEST(FollowSteering, AnAllowedClientIsSparedWhileItsEntryLastsAndShieldedAfter) {
  testing_support::Port80 port80;
  if (const std::string why = CannotRun(port80); !why.empty()) GTEST_SKIP() << why;
  // 14 - 2 x 5 = 4 hits make it shieldable: several judgements fall within the entry's 8 s.
  SteeredSite site("ShieldSeconds = 600\nPeriodBase = 14\n");
  ASSERT_EQ(site.Start(), "");
  FollowProcess &follow = site.Follow();
  VisitorTraffic traffic(site.Nginx().Port(), "shop.test");
  traffic.AddSteady(kClient, {kLogin});
  traffic.Start();
  ASSERT_TRUE(site.WaitForDeflect(kClient, 30)) << site.Problems();

  std::string output;
  ASSERT_EQ(follow.Steer({"allow", "127.0.0.64/30", "--for", "8s", "--why", "the office"}, output),
            0)
      << output;
  EXPECT_NE(output.find("allowed: 127.0.0.64/30 until "), std::string::npos) << output;
  EXPECT_NE(output.find("lifted: 127.0.0.66 on shop.test/admin/login.php\n"), std::string::npos)
      << output;
  const std::time_t allowed = std::time(nullptr);
  EXPECT_TRUE(site.WaitForLogin(kClient, 3)) << site.Problems();
  ASSERT_EQ(follow.Steer({"allow", "--list"}, output), 0) << output;
  EXPECT_NE(output.find("127.0.0.64/30"), std::string::npos) << output;
  EXPECT_NE(output.find("the office"), std::string::npos) << output;

  // While it lasts the client keeps its pace and is judged, spared, and served.
  EXPECT_TRUE(WaitUntil(
      [&] {
        return follow.Events().find(" spare ") != std::string::npos &&
               follow.Events().find("(allow list)") != std::string::npos;
      },
      7))
      << follow.Events();
  while (std::time(nullptr) < allowed + 7) {
    EXPECT_EQ(site.Login(kClient), kRealLogin);
    EXPECT_EQ(ReadFile(site.Map()), "");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  // After it: shielded again on the pace it kept.
  EXPECT_TRUE(site.WaitForDeflect(kClient, 20)) << site.Problems();
  EXPECT_NE(follow.Events().find(" allow-lapse manual 127.0.0.64/30 "), std::string::npos)
      << follow.Events();
  ASSERT_EQ(follow.Steer({"allow", "--list"}, output), 0) << output;
  EXPECT_EQ(output, "the allow list is empty\n");
  EXPECT_EQ(follow.Steer({"allow", "--remove", "127.0.0.64/30"}, output), 3) << output;
  traffic.Stop();
  ASSERT_TRUE(follow.Stop()) << follow.Output();
  const std::vector<Raise> raises = RaisesOf(follow.Events(), kClient);
  ASSERT_EQ(raises.size(), 2u) << follow.Events();
  EXPECT_GE(raises[1].at, allowed + 7) << follow.Events();
  EXPECT_EQ(raises[1].offence, 2) << "a lift by the allow list is no offence, the raise is";
}

TEST(FollowSteering, AReloadThatWidensNeverShieldLiftsWhatItNowCovers) {
  testing_support::Port80 port80;
  if (const std::string why = CannotRun(port80); !why.empty()) GTEST_SKIP() << why;
  SteeredSite site("ShieldSeconds = 600\nPeriodBase = 14\n");
  ASSERT_EQ(site.Start(), "");
  FollowProcess &follow = site.Follow();
  VisitorTraffic traffic(site.Nginx().Port(), "shop.test");
  traffic.AddSteady(kClient, {kLogin});
  traffic.Start();
  ASSERT_TRUE(site.WaitForDeflect(kClient, 30)) << site.Problems();

  ASSERT_TRUE(
      follow.Reload(site.Settings("ShieldSeconds = 600\nPeriodBase = 14\n", "127.0.0.0/8, ::1")));
  EXPECT_TRUE(site.WaitForLogin(kClient, 10)) << site.Problems();
  EXPECT_EQ(ReadFile(site.Map()), "");
  EXPECT_TRUE(WaitUntil([&] { return follow.Locked(kClient) == "False"; }, 5));
  EXPECT_NE(follow.Events().find(" lift "), std::string::npos);
  EXPECT_NE(follow.Events().find("127.0.0.66 shop.test /admin/login.php -> /sorry/login.htm "
                                 "(NeverShield covers it now)"),
            std::string::npos)
      << follow.Events();
  EXPECT_TRUE(WaitUntil(
      [&] {
        return follow.Output().find("1 shield(s) that NeverShield now covers lifted") !=
               std::string::npos;
      },
      5))
      << follow.Output();
  // Its pace goes on: judged again, spared, served.
  EXPECT_TRUE(
      WaitUntil([&] { return follow.Events().find("(NeverShield)") != std::string::npos; }, 15))
      << follow.Events();
  EXPECT_EQ(site.Login(kClient), kRealLogin);
  traffic.Stop();
  ASSERT_TRUE(follow.Stop()) << follow.Output();
  EXPECT_EQ(RaisesOf(follow.Events(), kClient).size(), 1u) << follow.Events();
}

TEST(FollowSteering, AUserWithoutRightsIsRefused) {
  testing_support::Port80 port80;
  if (!port80.NothingListens(shield_testing::kShieldServer)) GTEST_SKIP() << "port 80 is taken";
  if (geteuid() != 0) GTEST_SKIP() << "becoming user nobody needs root";
  testing_support::TempDir dir;
  const std::string log = dir.File("site.log");
  shield_testing::AppendTo(log, "");
  FollowProcess follow(dir.Path(), "NeverShield =\n", {log});
  ASSERT_TRUE(follow.Start()) << follow.Output();
  std::string output;
  ASSERT_EQ(follow.Steer({"shield", "203.0.113.9", "--host", "shop.test", "--resource", kLogin,
                          "--seconds", "300"},
                         output),
            0)
      << output;
  EXPECT_NE(output.find("shielded: 203.0.113.9 on shop.test/admin/login.php -> "
                        "/flowdeck-slow-down.html until "),
            std::string::npos)
      << output;

  // Nobody may pass through the directories, as through /var/lib/flowdeck.
  ASSERT_EQ(chmod(dir.Path().c_str(), 0711), 0);
  ASSERT_EQ(chmod(follow.RunDirectory().c_str(), 0751), 0);
  const std::string flowdeck = shield_testing::FlowdeckBinary();
  const std::string socket = follow.RunDirectory() + "/flowdeck.sock";
  output.clear();
  EXPECT_EQ(RunAsNobody({flowdeck, "shields", follow.RunDirectory()}, output), 1) << output;
  EXPECT_NE(output.find("run as the run's user, a member of its group, or with sudo"),
            std::string::npos)
      << output;
  EXPECT_EQ(output.find("203.0.113.9"), std::string::npos) << output;

  // Past a socket whose mode was widened, the follow itself refuses, before reading a byte.
  ASSERT_EQ(chmod(socket.c_str(), 0666), 0);
  for (const std::vector<std::string> &words :
       {std::vector<std::string>{flowdeck, "shields", follow.RunDirectory(), "--json"},
        {flowdeck, "lift", follow.RunDirectory(), "203.0.113.9"},
        {flowdeck, "allow", follow.RunDirectory(), "203.0.113.0/24"}}) {
    output.clear();
    EXPECT_EQ(RunAsNobody(words, output), 1) << words[1] << ": " << output;
    EXPECT_NE(output.find("refused; run as the run's user"), std::string::npos)
        << words[1] << ": " << output;
    EXPECT_EQ(output.find("203.0.113.9"), std::string::npos) << output;
  }
  ASSERT_EQ(follow.Steer({"shields"}, output), 0) << output;
  EXPECT_NE(output.find("203.0.113.9"), std::string::npos) << "still in force: " << output;
  ASSERT_EQ(follow.Steer({"allow", "--list"}, output), 0) << output;
  EXPECT_EQ(output, "the allow list is empty\n");
  // The metrics file is written from time to time: wait for one that holds every answer.
  EXPECT_TRUE(WaitUntil(
      [&] {
        return follow.Metric("flowdeck_control_requests_total{outcome=\"refused\"}") == 3 &&
               follow.Metric("flowdeck_control_requests_total{outcome=\"answered\"}") >= 3;
      },
      5))
      << ReadFile(dir.File("metrics.prom"));
  ASSERT_TRUE(follow.Stop()) << follow.Output();
}

TEST(FollowSteering, OrdersGivenWhileNoFollowRunsAreCarriedOutAtItsStart) {
  testing_support::Port80 port80;
  if (const std::string why = CannotRun(port80); !why.empty()) GTEST_SKIP() << why;
  SteeredSite site("ShieldSeconds = 600\nPeriodBase = 14\n");
  ASSERT_EQ(site.Start(), "");
  FollowProcess &follow = site.Follow();
  {
    VisitorTraffic traffic(site.Nginx().Port(), "shop.test");
    traffic.AddSteady(kClient, {kLogin});
    traffic.Start();
    ASSERT_TRUE(site.WaitForDeflect(kClient, 30)) << site.Problems();
  }
  ASSERT_TRUE(follow.Stop()) << follow.Output();

  std::string output;
  ASSERT_EQ(follow.Steer({"lift", kClient}, output), 0) << output;
  EXPECT_NE(output.find("lifted: 127.0.0.66 on shop.test/admin/login.php\n"), std::string::npos)
      << output;
  EXPECT_NE(output.find("no follow runs on " + follow.RunDirectory() +
                        ": the next one to start carries this out"),
            std::string::npos)
      << output;
  ASSERT_EQ(follow.Steer({"shield", "127.0.0.77", "--host", "shop.test", "--resource", kLogin,
                          "--deflect", "/sorry/login.htm"},
                         output),
            0)
      << output;
  ASSERT_EQ(follow.Steer({"shields", "--json"}, output), 0) << output;
  std::vector<Listed> listed;
  ASSERT_EQ(ReadListing(output.substr(0, output.rfind("}\n") + 2), listed), "") << output;
  ASSERT_EQ(listed.size(), 1u) << "the lifted one is gone, the raised one waits: " << output;
  EXPECT_EQ(listed[0].address, "127.0.0.77");
  EXPECT_EQ(listed[0].source, "manual");
  // Nothing acts while nobody runs: nginx deflects as before.
  EXPECT_EQ(site.Login(kClient), kDeflected) << site.Problems();
  EXPECT_EQ(site.Login("127.0.0.77"), kRealLogin);

  ASSERT_TRUE(follow.Start()) << follow.Output();
  EXPECT_TRUE(site.WaitForLogin(kClient, 10)) << site.Problems();
  EXPECT_TRUE(site.WaitForDeflect("127.0.0.77", 10)) << site.Problems();
  EXPECT_EQ(ReadFile(site.Map()), MapEntry("127.0.0.77"));
  const std::string events = follow.Events();
  EXPECT_NE(events.find(" lift "), std::string::npos) << events;
  EXPECT_NE(events.find("127.0.0.66 shop.test /admin/login.php -> /sorry/login.htm "
                        "(by hand while flowdeck was down)"),
            std::string::npos)
      << events;
  EXPECT_NE(events.find(" raise manual 127.0.0.77 shop.test /admin/login.php -> "
                        "/sorry/login.htm until "),
            std::string::npos)
      << events;
  ASSERT_EQ(follow.Steer({"shields", "--json"}, output), 0) << output;
  listed.clear();
  ASSERT_EQ(ReadListing(output, listed), "") << output;
  ASSERT_EQ(listed.size(), 1u) << output;
  EXPECT_EQ(UnixTime(listed[0].lifts) - UnixTime(listed[0].raised), 600)
      << "the lifetime of a first offence: " << output;
  ASSERT_TRUE(follow.Stop()) << follow.Output();
}

// The client keeps its pace through its first lifetime (6 s), with flowdeck stopped and
// started again in it when `restart`: shielded again after 20 hits of its own after the lapse
// (after the restart, when there was one), for 12 s. Another client, which stopped once shielded,
// is not shielded again.
void ShieldTheRepeatOffenderLonger(bool restart) {
  SteeredSite site("ShieldSeconds = 6\nShieldSecondsFactor = 2\n");
  ASSERT_EQ(site.Start(), "");
  FollowProcess &follow = site.Follow();
  constexpr const char *kQuitter = "127.0.0.71";
  VisitorTraffic keeper(site.Nginx().Port(), "shop.test"),
      quitter(site.Nginx().Port(), "shop.test");
  keeper.AddSteady(kClient, {kLogin});
  quitter.AddSteady(kQuitter, {kLogin});
  keeper.Start();
  quitter.Start();
  ASSERT_TRUE(WaitUntil([&] { return !RaisesOf(follow.Events(), kClient).empty(); }, 60))
      << site.Problems();
  const Raise first = RaisesOf(follow.Events(), kClient)[0];
  EXPECT_EQ(first.offence, 1) << first.line;
  EXPECT_EQ(first.until - first.at, 6) << first.line;
  if (restart) {
    ASSERT_TRUE(follow.Stop()) << follow.Output();
    ASSERT_LT(std::time(nullptr), first.until) << "stopped within the first lifetime";
    ASSERT_TRUE(follow.Start()) << follow.Output();
  }
  ASSERT_TRUE(WaitUntil([&] { return !RaisesOf(follow.Events(), kQuitter).empty(); }, 30))
      << site.Problems();
  quitter.Stop();
  ASSERT_TRUE(WaitUntil([&] { return RaisesOf(follow.Events(), kClient).size() >= 2; }, 60))
      << site.Problems();
  EXPECT_NE(follow.Events().find(" lift " + first.source +
                                 " 127.0.0.66 shop.test /admin/login.php -> /sorry/login.htm\n"),
            std::string::npos)
      << "lifted at the end of its lifetime: " << follow.Events();
  const Raise second = RaisesOf(follow.Events(), kClient)[1];
  EXPECT_EQ(second.offence, 2) << second.line;
  EXPECT_EQ(second.until - second.at, 12) << second.line;
  // Judged on hits after the lapse only: 19 gaps of a second at least. A plug-in started
  // afresh counts from its start, the hits of the restored shield's remaining life too.
  EXPECT_GE(second.at - first.until, restart ? 0 : 15) << follow.Events();
  std::string output;
  ASSERT_EQ(follow.Steer({"shields", "--json"}, output), 0) << output;
  std::vector<Listed> listed;
  ASSERT_EQ(ReadListing(output, listed), "") << output;
  ASSERT_EQ(listed.size(), 1u) << output;
  EXPECT_EQ(listed[0].address, kClient);
  EXPECT_EQ(listed[0].offences, 2);
  EXPECT_EQ(UnixTime(listed[0].lifts) - UnixTime(listed[0].raised), 12) << output;
  EXPECT_TRUE(site.WaitForDeflect(kClient, 5)) << site.Problems();
  keeper.Stop();
  ASSERT_TRUE(follow.Stop()) << follow.Output();
  EXPECT_EQ(RaisesOf(follow.Events(), kQuitter).size(), 1u) << follow.Events();
}

TEST(FollowSteering, ARepeatOffenderIsShieldedAgainForTwiceAsLong) {
  testing_support::Port80 port80;
  if (const std::string why = CannotRun(port80); !why.empty()) GTEST_SKIP() << why;
  ShieldTheRepeatOffenderLonger(false);
}

TEST(FollowSteering, ARepeatOffenderIsShieldedAgainForTwiceAsLongAcrossARestart) {
  testing_support::Port80 port80;
  if (const std::string why = CannotRun(port80); !why.empty()) GTEST_SKIP() << why;
  ShieldTheRepeatOffenderLonger(true);
}

}  // namespace
