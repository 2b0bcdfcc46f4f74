#include <gtest/gtest.h>

#include "InPluginDirectory.h"
#include "KvError.h"
#include "clsShieldedResources.h"

namespace {

using vantrel::clsShieldedResources;

class DefinitionsFile : public vantrel_testing::InPluginDirectory {
 protected:
  // The error that reading the file gives, with the number of definitions read before it.
  std::pair<int32_t, std::string> ReadingFails(const std::string &text, int32_t kept) {
    Definitions("");
    clsShieldedResources definitions(vantrel::PluginDefinitions());
    definitions.Read();
    Definitions(text);
    try {
      definitions.Cycle();
    } catch (const common::KvError &error) {
      EXPECT_EQ(definitions.Count(), kept) << text;
      return {error.Number(), error.Source()};
    }
    return {0, ""};
  }
};

constexpr char kActive[] =
    "<TRIPWIRE ACTIVE=\"True\" RESOURCE=\"/a/*.*\" SENSITIVITY=\"2.5\" STRENGTH=\"3.5\" "
    "INVERSE=\"-1\" CARRYPARAMETERS=\"false\" />";

TEST_F(DefinitionsFile, ReadsActiveElementsInFileOrderAndCreatesAMissingFile) {
  {
    clsShieldedResources empty(vantrel::PluginDefinitions());
    empty.Read();
    EXPECT_EQ(empty.Count(), 0);
    EXPECT_TRUE(testing_support::FileExists(dir.File("KvVantrel.CFG")));
  }
  Definitions(std::string("<TRIPWIRES>\r\n<TRIPWIRE ACTIVE=\"0\" />  ") + kActive +
              "<TRIPWIRE ACTIVE=\"1\" HOST=\"Shop\" RESOURCE=\"/b\" DESCRIPTION=\"B\" "
              "DEFLECT=\"/d\" SENSITIVITY=\"-4\" STRENGTH=\"0\" INVERSE=\"False\" "
              "CARRYPARAMETERS=\"True\"/>\r\n<!-- TRIPWIRE -->\r\n");
  TraceOn();
  clsShieldedResources definitions(vantrel::PluginDefinitions());
  definitions.Read();
  ASSERT_EQ(definitions.Count(), 2);
  const auto &a = *definitions.Item(1);
  EXPECT_EQ(a.Sensitivity(), 2);
  EXPECT_EQ(a.Strength(), 4);
  EXPECT_TRUE(a.Inverse());
  EXPECT_FALSE(a.CarryParameters());
  EXPECT_EQ(definitions.Item(2)->Host(), "Shop");
  EXPECT_EQ(definitions.ItemByHostAndResource("SHOP", "/B"), definitions.Item(2));
  EXPECT_EQ(definitions.ItemByHostAndResource("", "/A/*.*"), definitions.Item(1));
  EXPECT_EQ(definitions.ItemByHostAndResource("shop", "/a/*.*"), nullptr);
  EXPECT_THROW(definitions.Item(3), common::KvError);
  const auto trace = testing_support::ReadLines(dir.File("KvVantrelTrace.LOG"));
  ASSERT_GE(trace.size(), 7u);
  EXPECT_EQ(trace[trace.size() - 7], "Reading .CFG file");
  EXPECT_EQ(trace[trace.size() - 6], "TripwireBuffer=<TRIPWIRE ACTIVE=\"0\" />");
  EXPECT_EQ(trace[trace.size() - 4],
            "\tShielded Resource Added, Description=  Host=  Resource=/a/*.*  Deflect=  "
            "Sensitivity=2  Strength=4  Inverse=True  CarryParameters=False");
  EXPECT_EQ(trace.back(), "Done reading .CFG file");
}

TEST_F(DefinitionsFile, AFailureEndsTheReadingAndKeepsWhatWasRead) {
  const std::string chain =
      "  Class: clsShieldedResources  Sub: Cycle\r"
      "  Class: clsShieldedResources  Sub: Class_Initialize\rKvVantrel.clsShieldedResources";
  EXPECT_EQ(ReadingFails(std::string(kActive) + "\r\n  <TRIPWIRE ACTIVE=\"1\"", 1),
            std::make_pair(5, chain));
  EXPECT_EQ(ReadingFails("<TRIPWIRE ACTIVE=\"1\"", 0).first, 13);
  EXPECT_EQ(ReadingFails(std::string(kActive) + "<TRIPWIRE ACTIVE=\"1\" RESOURCE=\"/b\" />", 1),
            std::make_pair(13, chain));
  EXPECT_EQ(ReadingFails("<TRIPWIRE ACTIVE=\"yes\" />", 0).first, 13);
  EXPECT_EQ(ReadingFails("<TRIPWIRE ACTIVE=\"1\" SENSITIVITY=\"40000\" />", 0).first, 6);
  EXPECT_EQ(ReadingFails(std::string(kActive) + "\r\n" + kActive, 1), std::make_pair(457, chain));
}

TEST_F(DefinitionsFile, ACycleDropsRemovedDefinitionsWhileHoldersKeepTheOldOnes) {
  Definitions(kActive);
  clsShieldedResources definitions(vantrel::PluginDefinitions());
  definitions.Read();
  const auto held = definitions.Item(1);
  Definitions("");
  definitions.Cycle();
  EXPECT_EQ(definitions.Count(), 0);
  EXPECT_EQ(definitions.ItemByHostAndResource("", "/a/*.*"), nullptr);
  EXPECT_EQ(held->Resource(), "/a/*.*");
  EXPECT_EQ(definitions.ProtectedResourceIndex("shop", "/a/x.htm", ""), 0);
}

}  // namespace
