// The shield plug-in loaded from its shared object into a fresh directory, as a host runs it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/PluginLoader.h"
#include "support/Port80.h"
#include "support/TempDir.h"

namespace {

using testing_support::Fields;
using testing_support::ReadLines;
using Lines = std::vector<std::string>;

constexpr char kScripts[] =
    "<TRIPWIRE ACTIVE=\"True\" DESCRIPTION=\"Script probes\" HOST=\"\" RESOURCE=\"/scripts/*.*\" "
    "DEFLECT=\"/sorry/*.htm\" SENSITIVITY=\"3\" STRENGTH=\"2\" INVERSE=\"False\" "
    "CARRYPARAMETERS=\"False\" />";

// A definition line for a mask, with the sensitivity and deflect template given.
std::string Tripwire(const std::string &mask, int sensitivity, const std::string &deflect) {
  return "<TRIPWIRE ACTIVE=\"1\" HOST=\"shop\" RESOURCE=\"" + mask + "\" DEFLECT=\"" + deflect +
         "\" SENSITIVITY=\"" + std::to_string(sensitivity) +
         "\" STRENGTH=\"0\" INVERSE=\"0\" CARRYPARAMETERS=\"1\" />";
}

// Server;URL;filter;add;remove;threshold base;increment;period base;increment;Fernwick;path;trace
std::string Config(const std::string &server, const std::string &thresholdAndPeriod,
                   bool trace = true) {
  return server + ";/flowdeck/;filter.dll;AddShield;RemoveShield;" + thresholdAndPeriod +
         ";False;/tmp/;" + (trace ? "True" : "False");
}

class Shield {
 public:
  Shield() : plugin_("KvVantrel.so", dir_.Path()) {
    plugin_.SetClock(&now);
    object_ = plugin_.Create();
  }
  ~Shield() { plugin_.Destroy(object_); }

  void Definitions(const std::string &lines) {
    testing_support::WriteFile(File("KvVantrel.CFG"), lines);
  }
  void Action(const std::string &action, const std::string &userAgent = "") {
    Fields fields{};
    fields[0] = action;
    fields[13] = userAgent;
    EXPECT_EQ(plugin_.Stream(object_, fields), 0);
  }
  void Request(const std::string &serial, const std::string &path, const std::string &key = "v1",
               const std::string &method = "GET") {
    Fields fields{};
    fields[0] = method;
    fields[1] = serial;
    fields[2] = key;
    fields[4] = "host7.example";
    fields[5] = "10.0.0.7";
    fields[8] = path;
    fields[11] = "shop";
    EXPECT_EQ(plugin_.Stream(object_, fields), 0);
  }
  // Four hits on a path at even gaps of 100 ms, from the given second on.
  void SteadyHits(const std::string &path, int second) {
    for (int i = 0; i < 4; ++i) {
      Request("4030514" + std::to_string(1000 + second).substr(1) + std::to_string(100 + i * 100),
              path);
    }
  }
  // Another object of the same thread comes and goes.
  void CreateAndDestroyAnother() const { plugin_.Destroy(plugin_.Create()); }
  std::string File(const std::string &name) const { return dir_.File(name); }
  Lines Read(const std::string &name) const { return ReadLines(File(name)); }
  void ForgetTrace() const { std::remove(File("KvVantrelTrace.LOG").c_str()); }

  double now = testing_support::LocalDate(2004, 3, 5, 14, 7, 9);

 private:
  testing_support::TempDir dir_;
  testing_support::LoadedPlugin plugin_;
  flowdeck_plugin *object_ = nullptr;
};

bool Contains(const Lines &lines, const std::string &line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(ShieldEndToEnd, WorkedExampleTracesWritesAndSendsTheShield) {
  testing_support::Port80 port;
  if (!port.Listen()) GTEST_SKIP() << "127.0.0.1:80 cannot be bound here";
  port.AcceptOne();
  Shield shield;
  shield.Definitions(std::string(kScripts) + "\r\n");
  shield.Action("CONFIG", Config("127.0.0.1", "0.9;0.1;10;2"));
  for (const char *serial :
       {"40305140709000", "40305140709100", "40305140709400", "40305140709600"}) {
    shield.Request(serial, "/scripts/run.exe");
  }
  shield.ForgetTrace();
  shield.Action("CYCLE");
  const std::string request =
      "GET /flowdeck/filter.dll?AddShield&B=10.0.0.7&C=1&D=shop&E=/scripts/run.exe"
      "&F=/sorry/run.htm&G=1&H=0&I=1\r\n";
  EXPECT_EQ(port.Received(), request);
  const Lines expectedTrace = {
      "Cycle Started",
      "\tUsers purged",
      "Reading .CFG file",
      std::string("TripwireBuffer=") + kScripts,
      "\tShielded Resource Added, Description=Script probes  Host=  Resource=/scripts/*.*  "
      "Deflect=/sorry/*.htm  Sensitivity=3  Strength=2  Inverse=False  CarryParameters=False",
      "Done reading .CFG file",
      "\tResources updated",
      "\tLooping to check 1 users",
      "\tUser #1 Resource #1 IsShielded=False",
      "\t\tHits.Count=4 Sensitivity Count=4",
      "\t\tPearsonsR=0.821994960308075 Strength=0.7",
      "XML Files are open for reading and writing",
      "\t\tShielded resource written to XML file",
      "WSAPI Started",
      "\tSocket opened",
      "GetAddress of 127.0.0.1 is 16777343",
      "\tSocket Connected",
      "\tData Sent=" + request.substr(0, request.size() - 2),
      "",
      "\t\tShield sent to Flowdeck",
      "XML file closed and renamed",
      "Cycle complete"};
  EXPECT_EQ(shield.Read("KvVantrelTrace.LOG"), expectedTrace);
  const Lines expectedXml = {
      "<?xml version=\"1.0\"?>",
      "<KELVARIN>",
      "\t<TRIPWIRES>",
      "\t\t<TRIPWIRE DATETIME=\"03/05/2004 02:07:09 PM\" REMOTEADDR=\"10.0.0.7\" "
      "RESOLVEDADDR=\"host7.example\" HOST=\"shop\" HITS=\"4\" FACTOR=\"0.821994960308075\" "
      "RESOURCE=\"/scripts/run.exe\" DEFLECT=\"/sorry/*.htm\" SENSITIVITY=\"3\" STRENGTH=\"2\" "
      "DESCRIPTION=\"Script probes\" INVERSE=\"0\" CARRYPARAMETERS=\"0\" />",
      "\t</TRIPWIRES>",
      "</KELVARIN>"};
  EXPECT_EQ(shield.Read("KvVantrel.xml"), expectedXml);
  // A shielded record is only reported from then on.
  shield.Request("40305140709700", "/scripts/run.exe");
  shield.ForgetTrace();
  shield.Action("CYCLE");
  const Lines again = shield.Read("KvVantrelTrace.LOG");
  EXPECT_EQ(again.back(), "\tUser #1 Resource #1 IsShielded=True");
  EXPECT_EQ(shield.Read("KvVantrel.xml").size(), 6u);
}

TEST(ShieldEndToEnd, VisitorsExpireByTheHostsClockAndConfigAndDestructionStartAfresh) {
  Shield shield;
  shield.Definitions(kScripts);
  shield.Action("CONFIG", Config("", "2;0;10;2"));  // a threshold no record reaches
  shield.Request("40305140709000", "/scripts/a.exe");
  shield.Request("40305140709000", "/scripts/a.exe", "V1");  // the same visitor
  shield.Request("40305140709000", "/public/a.exe", "v2");   // under no tripwire
  shield.Request("40305140709000", "/scripts/a.exe", "v3", "SESSION_END");
  auto visitorsAfterCycle = [&](int seconds) {
    shield.now = testing_support::LocalDate(2004, 3, 5, 14, 7, 9) + seconds / 86400.0;
    shield.ForgetTrace();
    shield.Action("CYCLE");
    const Lines trace = shield.Read("KvVantrelTrace.LOG");
    return Contains(trace, "\tLooping to check 1 users")   ? 1
           : Contains(trace, "\tLooping to check 0 users") ? 0
                                                           : -1;
  };
  EXPECT_EQ(visitorsAfterCycle(300), 1);
  EXPECT_EQ(visitorsAfterCycle(301), 0);
  shield.Request("40305140709000", "/scripts/a.exe");
  EXPECT_EQ(visitorsAfterCycle(301), 1);
  shield.Action("CONFIG", Config("", "2;0;10;2"));
  EXPECT_TRUE(Contains(shield.Read("KvVantrelTrace.LOG"), "\tLooping to check 0 users"));
  // Destroying any object forgets the thread's configuration: tracing is off until a CONFIG.
  shield.CreateAndDestroyAnother();
  shield.ForgetTrace();
  shield.Action("CYCLE");
  EXPECT_FALSE(testing_support::FileExists(shield.File("KvVantrelTrace.LOG")));
}

// Settings whose numbers were never loaded are all 0, which every record passes: until a
// CONFIG has stored every field, and again once another object took them with it, a cycle
// judges nobody.
TEST(ShieldEndToEnd, SettingsNeverLoadedOrReleasedShieldNobody) {
  Shield shield;
  shield.Definitions(kScripts);
  auto shields = [&] {
    const Lines xml = shield.Read("KvVantrel.xml");
    return std::count_if(xml.begin(), xml.end(), [](const std::string &line) {
      return line.find("<TRIPWIRE ") != std::string::npos;
    });
  };
  shield.SteadyHits("/scripts/a.exe", 1);
  shield.Action("CYCLE");
  EXPECT_EQ(shields(), 0) << "shielded before any CONFIG";
  // Every field up to the missing Trace is stored, the thresholds among them.
  shield.Action("CONFIG", "a;b;c;d;e;0.5;0;3;0;False;/tmp/");
  EXPECT_EQ(shield.Read("KvVantrelErrors.LOG").size(), 1u);
  shield.Action("CYCLE");
  EXPECT_EQ(shields(), 0) << "shielded after a CONFIG that stopped half-way";

  shield.Action("CONFIG", Config("", "0.5;0;3;0", false));
  shield.SteadyHits("/scripts/a.exe", 2);
  shield.Action("CYCLE");
  EXPECT_EQ(shields(), 1);
  shield.CreateAndDestroyAnother();
  shield.SteadyHits("/scripts/b.exe", 3);
  shield.Action("CYCLE");
  EXPECT_EQ(shields(), 1) << "shielded with the settings another object released";
  shield.Action("CONFIG", Config("", "0.5;0;3;0", false));
  shield.SteadyHits("/scripts/b.exe", 4);
  shield.Action("CYCLE");
  EXPECT_EQ(shields(), 2);
  EXPECT_EQ(shield.Read("KvVantrelErrors.LOG").size(), 1u);
}

// A record with exactly the fewest hits and a correlation exactly at the threshold is shielded.
// The threshold is compared in 32 bits: one a little above 1 that rounds to 1 is reached by a
// correlation of 1 (the monitor compares unrounded and does not reach it).
TEST(ShieldEndToEnd, TheFewestHitsAndTheThresholdAreReachedExactly) {
  for (const std::string thresholds : {"1.5;0.5", "1.0000001192092896;8.940696716308594E-08"}) {
    SCOPED_TRACE(thresholds);
    Shield shield;
    shield.Definitions(
        "<TRIPWIRE ACTIVE=\"1\" HOST=\"shop\" RESOURCE=\"/a/*.*\" DEFLECT=\"/x/y.htm\" "
        "SENSITIVITY=\"1\" STRENGTH=\"1\" INVERSE=\"0\" CARRYPARAMETERS=\"0\" />");
    // Fewest hits 5 - 1 * 1 = 4; threshold ThresholdBase - ThresholdIncrement * 1.
    shield.Action("CONFIG", Config("", thresholds + ";5;1"));
    shield.SteadyHits("/a/1.htm", 1);  // 4 hits: r = 1
    for (const char *serial : {"40305140702000", "40305140702100", "40305140702200"}) {
      shield.Request(serial, "/a/2.htm");  // steady too, one hit short
    }
    shield.ForgetTrace();
    shield.Action("CYCLE");
    const Lines trace = shield.Read("KvVantrelTrace.LOG");
    EXPECT_TRUE(Contains(trace, "\t\tHits.Count=4 Sensitivity Count=4"));
    EXPECT_TRUE(Contains(trace, "\t\tHits.Count=3 Sensitivity Count=4"));
    EXPECT_TRUE(Contains(trace, "\t\tPearsonsR=1 Strength=1"));
    const Lines xml = shield.Read("KvVantrel.xml");
    ASSERT_EQ(xml.size(), 6u);
    EXPECT_NE(xml[3].find("HITS=\"4\" FACTOR=\"1\" RESOURCE=\"/a/1.htm\""), std::string::npos);
  }
}

TEST(ShieldEndToEnd, EditedDefinitionsReachNewRecordsAndRemovedOnesDropTheirRecords) {
  Shield shield;
  shield.Definitions(Tripwire("/a/*.*", 0, "/x/y.htm"));
  shield.Action("CONFIG", Config("", "2;0;10;2"));
  shield.Request("40305140709000", "/a/1.htm");
  // The same tripwire with another sensitivity: the open record keeps the old one.
  shield.Definitions(Tripwire("/A/*.*", 4, "/x/y.htm") + "\r\n" +
                     Tripwire("/b/*.*", 4, "/x/y.htm"));
  shield.ForgetTrace();
  shield.Action("CYCLE");
  EXPECT_TRUE(Contains(shield.Read("KvVantrelTrace.LOG"), "\t\tHits.Count=1 Sensitivity Count=10"));
  shield.Request("40305140709000", "/b/1.htm");
  shield.ForgetTrace();
  shield.Action("CYCLE");
  Lines trace = shield.Read("KvVantrelTrace.LOG");
  EXPECT_TRUE(Contains(trace, "\t\tHits.Count=1 Sensitivity Count=2"));
  shield.Definitions(Tripwire("/b/*.*", 4, "/x/y.htm"));
  shield.ForgetTrace();
  shield.Action("CYCLE");
  trace = shield.Read("KvVantrelTrace.LOG");
  EXPECT_TRUE(Contains(trace, "\tUser #1 Resource #1 IsShielded=False"));
  EXPECT_FALSE(Contains(trace, "\tUser #1 Resource #2 IsShielded=False"));
  EXPECT_TRUE(Contains(trace, "\t\tHits.Count=1 Sensitivity Count=2"));
}

TEST(ShieldEndToEnd, CarriesOverOnlyTheOldTripwireLinesAndDropsALeftoverTemporaryFile) {
  Shield shield;
  shield.Definitions(Tripwire("/a/*.*", 0, "/x/*.htm"));
  const std::string old = "\t\t<TRIPWIRE HOST=\"old\" />";
  testing_support::WriteFile(shield.File("KvVantrel.xml"),
                             "<?xml version=\"1.0\"?>\r\n<TRIPWIRES>\r\n" + old +
                                 "\r\n<TRIPWIRE\r\nforeign <TRIPWIRE kept too\r\n");
  testing_support::WriteFile(shield.File("KvVantrel.tmp"), "\t\t<TRIPWIRE HOST=\"stale\" />\r\n");
  shield.Action("CONFIG", Config("", "0;0;3;0", false));
  shield.SteadyHits("/a/1.htm", 1);
  shield.Action("CYCLE");
  const Lines xml = shield.Read("KvVantrel.xml");
  ASSERT_EQ(xml.size(), 8u);
  EXPECT_EQ(xml[3], old);
  EXPECT_EQ(xml[4], "foreign <TRIPWIRE kept too");
  EXPECT_NE(xml[5].find("RESOURCE=\"/a/1.htm\" DEFLECT=\"/x/*.htm\""), std::string::npos);
  EXPECT_NE(xml[5].find("CARRYPARAMETERS=\"1\" />"), std::string::npos);
  EXPECT_FALSE(testing_support::FileExists(shield.File("KvVantrel.tmp")));
}

TEST(ShieldEndToEnd, BadInputEndsInOneErrorLineEach) {
  Shield shield;
  shield.Definitions(kScripts);
  shield.Request("not a number", "/scripts/a.exe");
  shield.Request("not a number", "/public/a.exe");  // converted only under a tripwire
  shield.Action("CONFIG", "a;b;c;d;e;0.5;0.1;10;2;False");
  shield.Definitions(std::string(kScripts) + "\r\n" + Tripwire("/SCRIPTS/*.*", 0, ""));
  shield.Action("CYCLE");
  const std::string start = "3/5/2004 2:07:09 PM Error: ";
  const std::string stream = " Error Source:   Class: Vantrel  Sub: Stream\r";
  const Lines expected = {
      start + "13 Type mismatch" + stream + "KvVantrel.Vantrel",
      start + "9 Subscript out of range" + stream + "  Class: clsConfig  Sub: Initialize\r" +
          "KvVantrel.clsConfig",
      start + "457 This key is already associated with an element of this collection" + stream +
          "  Class: clsShieldedResources  Sub: Cycle\r"
          "  Class: clsShieldedResources  Sub: Class_Initialize\r"
          "KvVantrel.clsShieldedResources\r  Class: Vantrel  Sub: ProcessCycle"};
  EXPECT_EQ(shield.Read("KvVantrelErrors.LOG"), expected);
}

TEST(ShieldEndToEnd, OneBadRecordIsSkippedAndReportedOnceWhileTheOthersAreShielded) {
  Shield shield;
  // 40 x 1000 overflows the hit count of /a; /b's template has no separator.
  shield.Definitions(Tripwire("/a/*.*", 40, "/x/*.htm") + Tripwire("/b/*.*", 0, "*.htm") +
                     Tripwire("/c/*.*", 0, "/x/*.htm"));
  shield.Action("CONFIG", Config("", "0.9;0;3;1000", false));
  shield.SteadyHits("/a/1.htm", 1);
  shield.SteadyHits("/b/1.htm", 2);
  shield.SteadyHits("/c/1.htm", 3);
  shield.Action("CYCLE");
  const Lines errors = shield.Read("KvVantrelErrors.LOG");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("Error: 6 Overflow Error Source:   Class: Vantrel  Sub: Stream\r"
                           "KvVantrel.Vantrel\r  Class: Vantrel  Sub: ProcessCycle"),
            std::string::npos);
  const Lines xml = shield.Read("KvVantrel.xml");
  ASSERT_EQ(xml.size(), 6u);
  EXPECT_NE(xml[3].find("RESOURCE=\"/c/1.htm\""), std::string::npos);
  // The skipped records stay unshielded and are judged again.
  shield.Definitions(Tripwire("/b/*.*", 0, "*.htm") + Tripwire("/c/*.*", 0, "/x/*.htm"));
  shield.Action("CYCLE");
  const Lines second = shield.Read("KvVantrelErrors.LOG");
  ASSERT_EQ(second.size(), 2u);
  EXPECT_NE(second[1].find("Error: 5 Invalid procedure call or argument Error Source:   "
                           "Class: Vantrel  Sub: Stream\r  Module: modVantrel  "
                           "Function: BuildDeflectString\rKvVantrel\r  Class: Vantrel  "
                           "Sub: ProcessCycle"),
            std::string::npos);
  EXPECT_EQ(shield.Read("KvVantrel.xml").size(), 6u);
}

TEST(ShieldEndToEnd, VisitorTextIsEncodedInTheRequestAndEscapedInTheFile) {
  testing_support::Port80 port;
  if (!port.Listen()) GTEST_SKIP() << "127.0.0.1:80 cannot be bound here";
  port.AcceptOne();
  Shield shield;
  shield.Definitions(kScripts);
  shield.Action("CONFIG", Config("127.0.0.1", "0.9;0;3;0", false));
  shield.SteadyHits("/scripts/run&B=1 x<\"y\">.exe", 1);
  shield.Action("CYCLE");
  EXPECT_EQ(port.Received(),
            "GET /flowdeck/filter.dll?AddShield&B=10.0.0.7&C=1&D=shop"
            "&E=/scripts/run%26B%3D1%20x%3C%22y%22%3E.exe"
            "&F=/sorry/run%26B%3D1%20x%3C%22y%22%3E.htm&G=1&H=0&I=1\r\n");
  const Lines xml = shield.Read("KvVantrel.xml");
  ASSERT_EQ(xml.size(), 6u);
  EXPECT_NE(xml[3].find("RESOURCE=\"/scripts/run&amp;B=1 x&lt;&quot;y&quot;&gt;.exe\""),
            std::string::npos);
  if (std::system("command -v xmllint >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "xmllint is missing: the file was not checked for well-formedness";
  }
  EXPECT_EQ(std::system(("xmllint --noout " + shield.File("KvVantrel.xml")).c_str()), 0);
}

TEST(ShieldEndToEnd, AnUnansweredConnectGivesUpAfterTwoSeconds) {
  testing_support::Port80 port;
  if (!port.Listen(0)) GTEST_SKIP() << "127.0.0.1:80 cannot be bound here";
  port.FillBacklog();
  Shield shield;
  shield.Definitions(kScripts);
  shield.Action("CONFIG", Config("127.0.0.1", "0.9;0;3;0"));
  shield.SteadyHits("/scripts/a.exe", 1);
  const auto start = std::chrono::steady_clock::now();
  shield.Action("CYCLE");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  const Lines trace = shield.Read("KvVantrelTrace.LOG");
  EXPECT_TRUE(Contains(trace, "\tConnect Failed for port:20480 Address:16777343 Family:2"));
  EXPECT_TRUE(Contains(trace, "\t\tShield sent to Flowdeck"));
}

TEST(ShieldEndToEnd, ARefusedOrUnknownServerIsTracedAndTheRecordStillMarked) {
  testing_support::Port80 port;
  if (!port.NothingListens()) GTEST_SKIP() << "something else listens on 127.0.0.1:80";
  Shield shield;
  shield.Definitions(kScripts);
  shield.Action("CONFIG", Config("127.0.0.1", "0.9;0;3;0"));
  shield.SteadyHits("/scripts/a.exe", 1);
  shield.Action("CYCLE");
  Lines trace = shield.Read("KvVantrelTrace.LOG");
  EXPECT_TRUE(Contains(trace, "\tConnect Failed for port:20480 Address:16777343 Family:2"));
  shield.Action("CONFIG", Config("", "0.9;0;3;0"));
  shield.SteadyHits("/scripts/a.exe", 2);
  shield.ForgetTrace();
  shield.Action("CYCLE");
  trace = shield.Read("KvVantrelTrace.LOG");
  EXPECT_TRUE(Contains(trace, "GetAddress of  is -1"));
  EXPECT_TRUE(Contains(trace, "\tINVALID ADDRESS"));
  EXPECT_EQ(shield.Read("KvVantrel.xml").size(), 7u);
  EXPECT_TRUE(shield.Read("KvVantrelErrors.LOG").empty());
}

}  // namespace
