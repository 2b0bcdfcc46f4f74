#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>

#include "Clock.h"
#include "KvError.h"
#include "Logs.h"
#include "PluginDirectory.h"
#include "support/TempDir.h"

namespace {

using common::Guard;
using common::KvError;
using common::Site;

constexpr Site kStreamSite{"  Class: Corvane  ", "Corvane"};
constexpr Site kCycleSite{"  Class: Corvane  ", "Corvane"};
constexpr Site kModuleSite{"  Module: modKvGlobal  ", ""};

// The error a body raises; a failure of the test when it raises none.
KvError Raised(const std::function<void()> &body) {
  try {
    body();
  } catch (const KvError &error) {
    return error;
  }
  ADD_FAILURE() << "nothing was raised";
  return KvError(0, "", "");
}

double FixedClock(void *) {
  return common::MakeDateTime(2026, 12, 7, 21, 21, 55);
}

class ErrorLog : public testing::Test {
 protected:
  void SetUp() override {
    common::SetPluginDirectory(dir.Path());
    common::SetClock(FixedClock, nullptr);
  }
  void TearDown() override {
    common::SetClock(nullptr, nullptr);
    common::SetPluginDirectory("");
  }
  testing_support::TempDir dir;
};

TEST_F(ErrorLog, ChainsLocationsOuterFirstThroughThreeLevels) {
  common::RunStream(kStreamSite, [] {
    Guard(kCycleSite, "Sub: ProcessCycle", [] {
      Guard(kModuleSite, "Function: GetDateFromSerial", [] { common::Raise(kModuleSite, 13); });
    });
  });
  EXPECT_EQ(testing_support::ReadFile(dir.File("KvTestErrors.LOG")),
            "12/7/2026 9:21:55 PM Error: 13 Type mismatch Error Source:   Class: Corvane  "
            "Sub: Stream\r  Class: Corvane  Sub: ProcessCycle\r  Module: modKvGlobal  "
            "Function: GetDateFromSerial\rKvTest\r\n");
}

TEST_F(ErrorLog, AppendsOneCompleteLinePerFailedCall) {
  common::RunStream(kStreamSite, [] { common::Raise(kStreamSite, 5); });
  common::RunStream(kStreamSite, [] {});
  common::RunStream(kStreamSite, [] { throw std::bad_alloc(); });
  auto lines = testing_support::ReadLines(dir.File("KvTestErrors.LOG"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "12/7/2026 9:21:55 PM Error: 5 Invalid procedure call or argument Error Source:   "
            "Class: Corvane  Sub: Stream\rKvTest.Corvane");
  EXPECT_EQ(lines[1],
            "12/7/2026 9:21:55 PM Error: 7 Out of memory Error Source:   Class: Corvane  "
            "Sub: Stream\rKvTest.Corvane");
}

TEST_F(ErrorLog, AppendingBehindTheSourceKeepsTheInnerSegmentsFirst) {
  const KvError error = Raised([] {
    try {
      Guard(kModuleSite, "Function: PearsonsR", [] { common::Raise(kModuleSite, 6); });
    } catch (KvError &inner) {
      inner.Append("  Class: Vantrel  ", "Sub: ProcessCycle");
      throw;
    }
  });
  EXPECT_EQ(error.Number(), 6);
  EXPECT_EQ(error.Source(),
            "  Module: modKvGlobal  Function: PearsonsR\rKvTest\r  Class: Vantrel  Sub: "
            "ProcessCycle");
}

TEST_F(ErrorLog, AnUnwritableLogReachesTheCaller) {
  ASSERT_EQ(chmod(dir.Path().c_str(), 0500), 0);
  if (access(dir.File("probe").c_str(), F_OK) == 0 || geteuid() == 0) {
    // root writes anyway: point the plug-in at a directory that does not exist instead.
    common::SetPluginDirectory(dir.File("missing"));
  }
  const KvError error =
      Raised([] { common::RunStream(kStreamSite, [] { common::Raise(kStreamSite, 5); }); });
  EXPECT_EQ(error.Number(), 76);
  EXPECT_NE(error.Description().find("KvTestErrors.LOG"), std::string::npos);
  chmod(dir.Path().c_str(), 0700);
}

}  // namespace
