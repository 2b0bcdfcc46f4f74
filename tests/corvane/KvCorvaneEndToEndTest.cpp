// The monitor as a host sees it: the built KvCorvane.so, loaded from a fresh directory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "MonitorTesting.h"
#include "StreamFields.h"
#include "support/PluginLoader.h"
#include "support/TempDir.h"

namespace {

using monitor_testing::Action;
using monitor_testing::AttributeOf;
using monitor_testing::LinesWith;
using monitor_testing::Lock;
using monitor_testing::Request;
using monitor_testing::Serial;
using monitor_testing::Settings;
using testing_support::Fields;
using testing_support::ReadLines;

class KvCorvaneEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin_.SetClock(&now_);
    object_ = plugin_.Create();
    ASSERT_NE(object_, nullptr);
  }
  void TearDown() override { plugin_.Destroy(object_); }

  void Stream(const Fields &fields) { ASSERT_EQ(plugin_.Stream(object_, fields), 0); }
  void Configure(const Settings &settings) { Stream(Action("CONFIG", settings.Text())); }
  int32_t Count() {
    int32_t count = -1;
    EXPECT_EQ(plugin_.Count(object_, &count), 0);
    return count;
  }
  // Runs a cycle and gives the snapshot's lines, once a parser has read it.
  std::vector<std::string> Cycle() {
    Stream(Action("CYCLE"));
    monitor_testing::ExpectWellFormedXml(dir_.File("KvCorvane.xml"));
    return ReadLines(dir_.File("KvCorvane.xml"));
  }
  void AdvanceSeconds(int seconds) { now_ += seconds / 86400.0; }

  testing_support::TempDir dir_;
  testing_support::LoadedPlugin plugin_{"KvCorvane.so", dir_.Path()};
  double now_ = testing_support::LocalDate(2004, 3, 5, 14, 10, 0);
  flowdeck_plugin *object_ = nullptr;
};

TEST_F(KvCorvaneEndToEnd, WritesTheWorkedExampleLineForLine) {
  Configure(Settings{});
  Stream(Request("k1", "40305140709250"));
  Stream(Request("k1", "40305140710250"));
  Fields last = Request("k1", "40305140721255", "/b");
  last[common::kQueryString] = "x=1&y=2";
  Stream(last);
  EXPECT_EQ(Cycle(), (std::vector<std::string>{
                         "<?xml version=\"1.0\"?>",
                         "<OVERMERE>",
                         "\t<USERS>",
                         "\t\t<USER KEY=\"k1\" CTRY=\"us\" AGNT=\"Mozilla/4.0 (compatible; MSIE "
                         "6.0)\" AUTH=\"\" RESADR=\"r1\" REMADR=\"a1\" RHOST=\"h1\" LVL=\"0\" "
                         "CONN=\"True\" STRT=\"3/5/2004 2:07:09 PM\" TIME=\"12s, 5ms\" REQS=\"3\" "
                         "BRSR=\"MSIE\" BRSRV=\"6.0\" LHOST=\"\" SVR=\"s1\" LINK=\"\" ULINK=\"\" "
                         "LCKD=\"False\">",
                         "\t\t\t<HITS>",
                         "\t\t\t\t<HIT TIME=\"\" PGS=\"2\" ACT=\"GET\" PTHIN=\"/a\" PTHTR=\"\" "
                         "QSTR=\"\" PORT=\"80\" ARRV=\"40305140710250\" SHLD=\"False\"/>",
                         "\t\t\t\t<HIT TIME=\"11s, 5ms\" PGS=\"1\" ACT=\"GET\" PTHIN=\"/b\" "
                         "PTHTR=\"\" QSTR=\"x=1&amp;y=2\" PORT=\"80\" ARRV=\"40305140721255\" "
                         "SHLD=\"False\"/>",
                         "\t\t\t</HITS>",
                         "\t\t</USER>",
                         "\t</USERS>",
                         "</OVERMERE>",
                     }));
  EXPECT_FALSE(testing_support::FileExists(dir_.File("KvCorvane.tmp")));
}

TEST_F(KvCorvaneEndToEnd, ExportsEveryRequestAsOneLineUnderAFreeSeparator) {
  Settings settings;
  settings.fernwickActive = "1";
  settings.fernwickPath = dir_.File("fw-");  // joined to the file name as it stands
  Configure(settings);
  Stream(Request("k1", Serial(0)));
  Fields caret = Request("k2", Serial(1));
  caret[common::kUserAgent] = "a^b";
  Stream(caret);
  Fields threeTaken = Request("k3", Serial(2), "/^|");
  threeTaken[common::kCountry] = "~";
  Stream(threeTaken);
  Fields allTaken = threeTaken;
  allTaken[common::kLocalHost] = "#";
  Stream(allTaken);
  Stream(Request("k5", Serial(3), "/x\r\ny"));
  Cycle();
  Stream(Request("k6", Serial(4)));
  Cycle();
  EXPECT_EQ(ReadLines(dir_.File("fw-KvCorvaneHits.Out")),
            (std::vector<std::string>{
                "^GET^40305140000000^k1^us^r1^a1^h1^^/a^^^s1^80^Mozilla/4.0 (compatible; MSIE "
                "6.0)^",
                "|GET|40305140001000|k2|us|r1|a1|h1||/a|||s1|80|a^b|",
                "#GET#40305140002000#k3#~#r1#a1#h1##/^|###s1#80#Mozilla/4.0 (compatible; MSIE "
                "6.0)#",
                // all four taken: "#" all the same, escaped where a value holds it
                "#GET#40305140002000#k3#~#r1#a1#h1##/^|###s1#80#Mozilla/4.0 (compatible; MSIE "
                "6.0)#%23",
                "^GET^40305140003000^k5^us^r1^a1^h1^^/x  y^^^s1^80^Mozilla/4.0 (compatible; MSIE "
                "6.0)^",
                "^GET^40305140004000^k6^us^r1^a1^h1^^/a^^^s1^80^Mozilla/4.0 (compatible; MSIE "
                "6.0)^",
            }));
  EXPECT_FALSE(testing_support::FileExists(dir_.File("fw-KvCorvaneAlerts.Out")));
}

TEST_F(KvCorvaneEndToEnd, ALevelRisingZeroTwoOneTwoAlertsOnce) {
  const Settings settings = Settings::Alerting(dir_.Path());
  Configure(settings);
  std::vector<std::string> levels;
  // Gaps of 100 ms, then 300 (r = 1), 200 (r = 0.82), 500 (r = 0.94).
  Stream(Request("k1", Serial(9, 0)));
  Stream(Request("k1", Serial(9, 100)));
  levels.push_back(AttributeOf(LinesWith(Cycle(), "<USER ")[0], "LVL"));
  for (const std::string &serial : {Serial(9, 400), Serial(9, 600), Serial(10, 100)}) {
    Stream(Request("k1", serial));
    levels.push_back(AttributeOf(LinesWith(Cycle(), "<USER ")[0], "LVL"));
  }
  EXPECT_EQ(levels, (std::vector<std::string>{"0", "2", "1", "2"}));
  EXPECT_EQ(
      ReadLines(dir_.File("KvCorvaneAlerts.Out")),
      (std::vector<std::string>{
          "^03/05/2004 14:10:00^k1^us^^Mozilla/4.0 (compatible; MSIE 6.0)^r1^a1^h1^^s1^2^1"}));
}

// Settings whose numbers were never loaded are all 0, which every visitor reaches: until a
// CONFIG has stored every field the monitor rates nobody above 0 and raises no alert.
TEST_F(KvCorvaneEndToEnd, SettingsNeverLoadedRateNobody) {
  auto steadyHits = [&](const std::string &key, int second) {
    for (int i = 0; i < 3; ++i) Stream(Request(key, Serial(second, 100 * i)));
  };
  auto levels = [&] {
    std::vector<std::string> found;
    for (const std::string &user : LinesWith(Cycle(), "<USER ")) {
      found.push_back(AttributeOf(user, "LVL"));
    }
    return found;
  };
  steadyHits("k1", 1);
  EXPECT_EQ(levels(), std::vector<std::string>{"0"}) << "rated before any CONFIG";
  // The thresholds and the export are stored; Sensitivity and what follows are missing.
  const Settings alerting = Settings::Alerting(dir_.Path());
  const std::string text = alerting.Text();
  Stream(Action("CONFIG",
                text.substr(0, text.find(alerting.fernwickPath) + alerting.fernwickPath.size())));
  EXPECT_EQ(ReadLines(dir_.File("KvCorvaneErrors.LOG")).size(), 1u);
  steadyHits("k2", 2);
  EXPECT_EQ(levels(), (std::vector<std::string>{"0", "0"}))
      << "rated after a CONFIG that stopped half-way";
  EXPECT_FALSE(testing_support::FileExists(dir_.File("KvCorvaneAlerts.Out")));
  EXPECT_EQ(ReadLines(dir_.File("KvCorvaneHits.Out")).size(), 3u);

  Configure(alerting);
  steadyHits("k3", 3);
  EXPECT_EQ(levels(), std::vector<std::string>{"2"});
  EXPECT_EQ(ReadLines(dir_.File("KvCorvaneAlerts.Out")).size(), 1u);
}

// Levels are reached exactly at their thresholds, and r is taken from exactly the fewest hits
// on. The thresholds are compared unrounded: one a little above 1 that rounds to 1 in 32 bits
// is not reached by a correlation of 1 (the shield plug-in compares in 32 bits and reaches it).
TEST_F(KvCorvaneEndToEnd, LevelsAreReachedExactlyAtTheirThresholdsComparedUnrounded) {
  struct Case {
    std::string base, increment, possible, certain, level;
  };
  const Case cases[] = {{"1.5", "0.5", "1", "0", "1"},  // possible 1.0, certain 1.5
                        {"1.5", "0.5", "2", "1", "2"},  // possible 0.5, certain 1.0
                        {"1.0000001192092896", "8.940696716308594E-08", "1", "1", "0"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.base + " " + c.possible + " " + c.certain);
    Settings settings;
    settings.thresholdBase = c.base;
    settings.thresholdIncrement = c.increment;
    settings.possibleStrength = c.possible;
    settings.certainStrength = c.certain;
    settings.periodBase = "5";  // fewest hits 5 - 1 * 1 = 4
    settings.periodIncrement = "1";
    settings.sensitivity = "1";
    Configure(settings);
    for (int i = 0; i < 4; ++i) Stream(Request("exact", Serial(1, 100 * i)));
    for (int i = 0; i < 3; ++i) Stream(Request("short", Serial(2, 100 * i)));
    const std::vector<std::string> users = LinesWith(Cycle(), "<USER ");
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(AttributeOf(users[0], "LVL"), c.level) << "r = 1 from exactly the fewest hits";
    EXPECT_EQ(AttributeOf(users[1], "LVL"), "0") << "r taken from one hit short of the fewest";
  }
}

TEST_F(KvCorvaneEndToEnd, SessionsEndAndVisitorsExpireByTheHostClock) {
  Configure(Settings{});
  EXPECT_EQ(Count(), 0);
  Stream(Request("k1", Serial(0)));
  Fields end = Request("k1", Serial(1));
  end[common::kAction] = "SESSION_END";
  Stream(end);
  Stream(Request("AB", Serial(2)));
  Stream(Request("ab", Serial(3), "/b"));  // the same visitor as "AB"
  EXPECT_EQ(Count(), 2);
  AdvanceSeconds(15);
  std::vector<std::string> users = LinesWith(Cycle(), "<USER ");
  ASSERT_EQ(users.size(), 2u);
  EXPECT_EQ(AttributeOf(users[0], "CONN"), "False");
  EXPECT_EQ(AttributeOf(users[1], "KEY"), "AB");
  EXPECT_EQ(AttributeOf(users[1], "REQS"), "2");
  AdvanceSeconds(1);
  EXPECT_EQ(Count(), 2);  // expired, but held until the next cycle
  users = LinesWith(Cycle(), "<USER ");
  ASSERT_EQ(users.size(), 1u);
  EXPECT_EQ(AttributeOf(users[0], "KEY"), "AB");
  end = Request("ab", Serial(20));
  end[common::kAction] = "SESSION_END";
  Stream(end);
  AdvanceSeconds(10);
  Stream(Request("AB", Serial(30), "/c"));  // within 15 seconds: a new list
  users = LinesWith(Cycle(), "<USER ");
  EXPECT_EQ(AttributeOf(users[0], "REQS"), "1");
  EXPECT_EQ(AttributeOf(users[0], "CONN"), "True");
  AdvanceSeconds(300);
  EXPECT_EQ(LinesWith(Cycle(), "<USER ").size(), 1u);
  AdvanceSeconds(1);
  EXPECT_EQ(LinesWith(Cycle(), "<USER ").size(), 0u);
  Stream(Request("k9", Serial(40)));
  Configure(Settings{});
  EXPECT_EQ(Count(), 0);
}

TEST_F(KvCorvaneEndToEnd, LocksFollowActionsAndAnyNumericLockValue) {
  Configure(Settings{});
  Stream(Request("k1", Serial(0)));
  Stream(Request("k2", Serial(1)));  // the same address a1
  Fields locking = Request("k3", Serial(2));
  locking[common::kRemoteAddr] = "a3";
  locking[common::kLocked] = "2";
  Stream(locking);
  Stream(Lock("LOCKED", "a1", "2"));
  Stream(Lock("LOCKED", "nobody", "1"));
  Stream(Lock("LOCKED", "a1", "1"));
  Stream(Lock("UNLOCKED", "a3", "1"));
  int second = 3;
  for (const char *value : {"300", "-1", "0.4", "abc", "1e9", "1.5"}) {
    Fields odd = Request("k4", Serial(second), "/" + std::to_string(second));
    odd[common::kLocked] = value;
    Stream(odd);
    ++second;
  }
  Fields lowerCase = Request("k4", Serial(second));
  lowerCase[common::kAction] = "cycle";
  Stream(lowerCase);
  Stream(Request("k5", "not a number"));
  const std::vector<std::string> lines = Cycle();
  std::vector<std::string> locks;
  for (const std::string &user : LinesWith(lines, "<USER "))
    locks.push_back(AttributeOf(user, "LCKD"));
  EXPECT_EQ(locks, (std::vector<std::string>{"True", "False", "False", "True"}));
  std::vector<std::string> shields;
  const std::vector<std::string> hits = LinesWith(lines, "<HIT ");
  for (size_t i = 3; i < hits.size(); ++i) shields.push_back(AttributeOf(hits[i], "SHLD"));
  EXPECT_EQ(shields,
            (std::vector<std::string>{"True", "True", "False", "False", "True", "True", "False"}));
  EXPECT_EQ(AttributeOf(hits.back(), "ACT"), "cycle");
  // The one failure: the serial that is no number. The visitor was not created.
  const std::vector<std::string> errors = ReadLines(dir_.File("KvCorvaneErrors.LOG"));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(std::regex_match(errors[0], std::regex("3/5/2004 2:10:00 PM Error: 13 Type mismatch "
                                                     "Error Source:   Class: Corvane  Sub: "
                                                     "Stream\rKvCorvane\\.Corvane")))
      << errors[0];
  EXPECT_EQ(Count(), 4);
}

TEST_F(KvCorvaneEndToEnd, KeepsTheLatest500HitsAndShowsTheCut) {
  Configure(Settings{});
  for (int second = 0; second <= 500; ++second) Stream(Request("k1", Serial(second)));
  const std::vector<std::string> lines = Cycle();
  const std::string user = LinesWith(lines, "<USER ")[0];
  EXPECT_EQ(AttributeOf(user, "REQS"), "&gt;500");
  EXPECT_EQ(AttributeOf(user, "STRT"), "3/5/2004 2:00:01 PM");  // the oldest hit held
  EXPECT_EQ(AttributeOf(user, "TIME"), "8m, 20s");              // from the first hit ever
  EXPECT_EQ(AttributeOf(LinesWith(lines, "<HIT ")[0], "PGS"), "500");
}

TEST_F(KvCorvaneEndToEnd, TracesEachStepWhenAskedTo) {
  Settings settings;
  settings.trace = "1";
  settings.fernwickActive = "1";
  settings.fernwickPath = dir_.Path() + "/";
  Configure(settings);
  Stream(Request("k1", Serial(0)));
  Stream(Request("k1", Serial(1), "/b"));
  Stream(Lock("LOCKED", "a1", "1"));
  Stream(Lock("UNLOCKED", "a1", "0"));
  Cycle();
  const std::vector<std::string> trace = ReadLines(dir_.File("KvCorvaneTrace.LOG"));
  ASSERT_EQ(trace.size(), 16u + 22u);  // the settings first
  EXPECT_EQ(trace[0], "clsConfig - Initialize complete");
  EXPECT_EQ(std::vector<std::string>(trace.begin() + 16, trace.end()),
            (std::vector<std::string>{"Cycle Started",
                                      "\tUsers purged",
                                      "XML Files are open for reading and writing",
                                      "\tLooping to check 0 users",
                                      "\tXML file complete",
                                      "Adding New User for KEY=k1",
                                      "Adding Hit",
                                      "Adding Hit",
                                      "Process lock Persist=1",
                                      "Process unlock Persist=0",
                                      "Cycle Started",
                                      "\tUsers purged",
                                      "XML Files are open for reading and writing",
                                      "\tLooping to check 1 users",
                                      "\tUser #1",
                                      "\tPearsonsR=0",
                                      "\tUser Record Written",
                                      "\tLooping to write 2 hits",
                                      "\tHit Record Written",
                                      "\tHit Record Written",
                                      "\tXML file complete",
                                      "\tWriting 2 hit records."}));
}

// Whatever bytes a request carries, a parser reads the snapshot back to them.
TEST_F(KvCorvaneEndToEnd, SnapshotStaysWellFormedWhateverTheValues) {
  Configure(Settings{});
  Fields hostile = Request("k1", Serial(0), "/p<a>&");
  hostile[common::kUserAgent] = std::string("x\" LCKD=\"True\t\r\n\x01 caf\xC3\xA9 \xE9");
  hostile[common::kQueryString] = "q=\"1\"&r=<2>";
  Stream(hostile);
  Cycle();
  if (std::system("command -v python3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
  const std::string read = dir_.File("read.txt");
  const std::string script =
      "import sys, xml.etree.ElementTree as t\n"
      "u = t.parse(sys.argv[1]).getroot().find('USERS/USER')\n"
      "h = u.find('HITS/HIT')\n"
      "open(sys.argv[2], 'wb').write(b'\\n'.join(v.encode() for v in "
      "(u.get('AGNT'), u.get('LCKD'), h.get('PTHIN'), h.get('QSTR'))))\n";
  testing_support::WriteFile(dir_.File("read.py"), script);
  ASSERT_EQ(std::system(
                ("python3 " + dir_.File("read.py") + " " + dir_.File("KvCorvane.xml") + " " + read)
                    .c_str()),
            0);
  EXPECT_EQ(testing_support::ReadFile(read),
            "x\" LCKD=\"True\t\r\n\xEF\xBF\xBD caf\xC3\xA9 \xC3\xA9\nFalse\n/p<a>&\nq=1&r=<2>");
}

}  // namespace
