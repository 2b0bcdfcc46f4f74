// The shield plug-in's directory stops taking new files mid-run.
#include <gtest/gtest.h>

#include "FaultTesting.h"
#include "PluginDirectory.h"
#include "ReadOnlyDirectory.h"
#include "Vantrel.h"

namespace {

using faults::Action;
using faults::LinesWith;
using testing_support::ReadLines;

class ReadOnlyShieldDirectory : public ::testing::Test {
 protected:
  ReadOnlyShieldDirectory() { common::SetPluginDirectory(dir.Path()); }
  ~ReadOnlyShieldDirectory() override { common::SetPluginDirectory(""); }

  void Stream(const faults::Fields &fields) {
    common::StreamFields view;
    for (size_t i = 0; i < fields.size(); ++i) view[i] = fields[i];
    plugin.Stream(view);
  }
  void SteadyHits(const std::string &key, int second) {
    for (int i = 0; i < 3; ++i) {
      Stream(faults::Request(key, faults::Serial(second, 100 * i), "/a/" + key + ".htm"));
    }
  }
  faults::Lines Errors() const { return ReadLines(dir.File("KvVantrelErrors.LOG")); }
  size_t Filed(const std::string &key) const {
    return LinesWith(ReadLines(dir.File("KvVantrel.xml")), "RESOURCE=\"/a/" + key + ".htm\"")
        .size();
  }

  testing_support::TempDir dir;
  vantrel::Vantrel plugin;
};

TEST_F(ReadOnlyShieldDirectory, AShieldWaitsForTheFileAndIsFiledOnceTheDirectoryTakesItAgain) {
  testing_support::WriteFile(dir.File("KvVantrel.CFG"), faults::TripwireDefinition());
  Stream(Action("CONFIG", faults::ShieldSettings("", false)));
  Stream(faults::Request("v0", "not a number", "/a/v0.htm"));  // the error log now exists
  ASSERT_EQ(Errors().size(), 1u);
  {
    // No temporary file can be made: the visitor is not shielded yet, so nothing was sent.
    faults::ReadOnlyDirectory readOnly(dir.Path());
    SteadyHits("v1", 1);
    Stream(Action("CYCLE"));
  }
  ASSERT_EQ(Errors().size(), 2u);
  EXPECT_NE(Errors()[1].find(" Error: 70 Permission denied: " + dir.File("KvVantrel.tmp") +
                             " (Permission denied)"),
            std::string::npos)
      << Errors()[1];
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvVantrel.xml")));
  Stream(Action("CYCLE"));
  EXPECT_EQ(Filed("v1"), 1u);

  // A temporary file left over can be written, but the new file cannot take the old one's
  // place: this shield was sent, and must reach the file later.
  testing_support::WriteFile(dir.File("KvVantrel.tmp"), "left over\r\n");
  {
    faults::ReadOnlyDirectory readOnly(dir.Path());
    SteadyHits("v2", 2);
    Stream(Action("CYCLE"));
    Stream(Action("CYCLE"));
  }
  ASSERT_EQ(Errors().size(), 4u);
  EXPECT_NE(Errors()[2].find("Permission denied: " + dir.File("KvVantrel.xml")), std::string::npos)
      << Errors()[2];
  EXPECT_EQ(Filed("v2"), 0u);
  Stream(Action("CYCLE"));
  Stream(Action("CYCLE"));
  EXPECT_EQ(Filed("v1"), 1u);
  EXPECT_EQ(Filed("v2"), 1u);
  EXPECT_EQ(Errors().size(), 4u);
}

}  // namespace
