// The definitions reader and matcher as flowdeck uses them: given a file and a trace of their
// own, with no plug-in directory and no settings of the plug-in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KvError.h"
#include "clsShieldedResources.h"
#include "support/TempDir.h"

namespace {

using testing_support::TempDir;
using vantrel::clsShieldedResources;
using vantrel::DefinitionsSettings;

std::string Element(const std::string &resource, const std::string &active = "True",
                    const std::string &sensitivity = "5") {
  return "<TRIPWIRE ACTIVE=\"" + active + "\" HOST=\"\" RESOURCE=\"" + resource +
         "\" DEFLECT=\"/d\" SENSITIVITY=\"" + sensitivity +
         "\" STRENGTH=\"2\" INVERSE=\"False\" CARRYPARAMETERS=\"False\" />";
}

// The trace lines the reader wrote, and whether it may write them.
std::vector<std::string> gTraced;
bool gTraceOn = false;
bool TraceSwitch() {
  return gTraceOn;
}
void KeepTraceLine(std::string_view line) {
  gTraced.emplace_back(line);
}

TEST(TripwireReader, AFileThatStopsAtAFailureKeepsTheDefinitionsBeforeIt) {
  TempDir dir;
  const std::string path = dir.File("tripwires.cfg");
  testing_support::WriteFile(path, "<TRIPWIRES>\n" + Element("/a/*.*") + "\n" +
                                       Element("/b/*.*", "False") + Element("/c/*") + "\n" +
                                       Element("/d/*.*", "yes") + "\n" + Element("/e/*.*") +
                                       "\n</TRIPWIRES>\n");
  clsShieldedResources definitions(DefinitionsSettings{path, nullptr, nullptr});
  EXPECT_EQ(definitions.Count(), 0) << "nothing is read before Read";
  try {
    definitions.Read();
    FAIL() << "an ACTIVE that is no boolean stops the reading";
  } catch (const common::KvError &error) {
    EXPECT_EQ(error.Number(), common::kTypeMismatch);
    EXPECT_EQ(error.Source(),
              "  Class: clsShieldedResources  Sub: Class_Initialize\r"
              "KvVantrel.clsShieldedResources");
  }
  ASSERT_EQ(definitions.Count(), 2);
  EXPECT_EQ(definitions.Item(2)->Resource(), "/c/*");
  EXPECT_EQ(definitions.ProtectedResourceIndex("shop", "/A/x.htm", ""), 1);
  EXPECT_EQ(definitions.ProtectedResourceIndex("shop", "/c/x", ""), 2);
  EXPECT_EQ(definitions.ProtectedResourceIndex("shop", "/e/x.htm", ""), 0) << "past the failure";

  // Mended, the file is read whole; a duplicate mask stops the next reading at itself.
  testing_support::WriteFile(path, Element("/a/*.*") + "\n" + Element("/e/*.*") + "\n");
  definitions.Cycle();
  EXPECT_EQ(definitions.Count(), 2);
  EXPECT_EQ(definitions.ProtectedResourceIndex("shop", "/e/x.htm", ""), 2);
  testing_support::WriteFile(path, Element("/e/*.*") + Element("/E/*.*") + Element("/f/*"));
  EXPECT_THROW(definitions.Cycle(), common::KvError);
  EXPECT_EQ(definitions.Count(), 1);
}

TEST(TripwireReader, ReadsOnlyTheFileItIsGivenAndTracesOnlyThroughItsOwnTrace) {
  TempDir dir;
  // A missing file is created empty where it was named.
  gTraced.clear();
  gTraceOn = false;
  clsShieldedResources missing(
      DefinitionsSettings{dir.File("new.cfg"), &TraceSwitch, &KeepTraceLine});
  missing.Read();
  EXPECT_EQ(missing.Count(), 0);
  EXPECT_TRUE(testing_support::FileExists(dir.File("new.cfg")));
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvVantrel.CFG")));
  EXPECT_TRUE(gTraced.empty()) << "the trace is off";
  // A file in a directory that is not there fails, and nothing is read.
  clsShieldedResources nowhere(DefinitionsSettings{dir.File("gone/x.cfg"), nullptr, nullptr});
  EXPECT_THROW(nowhere.Read(), common::KvError);
  EXPECT_EQ(nowhere.Count(), 0);

  // With the trace on, the lines go to the trace it was given, asked for line by line.
  testing_support::WriteFile(dir.File("new.cfg"), Element("/a/*.*"));
  gTraceOn = true;
  missing.Cycle();
  EXPECT_EQ(missing.ProtectedResourceIndex("shop", "/a/x.htm", ""), 1);
  ASSERT_EQ(gTraced.size(), 5u);
  EXPECT_EQ(gTraced[0], "Reading .CFG file");
  EXPECT_EQ(gTraced[1], "TripwireBuffer=" + Element("/a/*.*"));
  EXPECT_EQ(gTraced[3], "Done reading .CFG file");
  EXPECT_EQ(gTraced[4], "ContainsResource Mask=/a/*.*  PathInfo=/a/x.htm  PathTranslated=");
  gTraceOn = false;
  EXPECT_TRUE(missing.ContainsResource("/a/*", "/a/b", ""));
  EXPECT_EQ(gTraced.size(), 5u);
}

TEST(TripwireReader, AnElementIsReadAsTheFileReaderReadsIt) {
  EXPECT_EQ(clsShieldedResources::DefinitionOf(Element("/a/*.*", "False")), std::nullopt);
  const auto fields = clsShieldedResources::DefinitionOf(Element("/a/*.*", "-1", "2.5"));
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->resource, "/a/*.*");
  EXPECT_EQ(fields->deflect, "/d");
  EXPECT_EQ(fields->sensitivity, 2);
  EXPECT_FALSE(fields->inverse);
  try {
    clsShieldedResources::DefinitionOf(Element("/a/*.*", "True", "40000"));
    FAIL() << "a SENSITIVITY outside 16 bits";
  } catch (const common::KvError &error) {
    EXPECT_EQ(error.Number(), common::kOverflow);
  }
  // The reader takes an attribute behind the first NAME=" wherever it stands.
  EXPECT_EQ(clsShieldedResources::AttributeOf("<TRIPWIRE DESCRIPTION=\"HOST=\"x\" HOST=\"shop\" />",
                                              "HOST"),
            "x");
}

}  // namespace
