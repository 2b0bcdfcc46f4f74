// A cycle whose files fail: nothing reported is lost, nothing is written twice, and a reader
// always finds a snapshot.
#include <gtest/gtest.h>

#include <cerrno>
#include <string_view>

#include "Clock.h"
#include "Corvane.h"
#include "MonitorTesting.h"
#include "PluginDirectory.h"
#include "Posix.h"
#include "support/TempDir.h"

namespace {

using monitor_testing::Action;
using monitor_testing::LinesWith;
using monitor_testing::Request;
using monitor_testing::Serial;
using monitor_testing::Settings;
using monitor_testing::View;
using testing_support::ReadLines;

// Lets a number of lines through to one file, then a few bytes more, then reports a full disk.
struct FailingFile {
  static inline std::string suffix;
  static inline int fd = -1;
  static inline int linesLeft = 0;

  static int Open(const char *path, int flags, mode_t mode) {
    const int opened = common::RealPosix().open(path, flags, mode);
    if (std::string_view(path).ends_with(suffix)) {
      fd = opened;
    } else if (opened == fd) {
      fd = -1;
    }
    return opened;
  }
  static ssize_t Write(int to, const void *buffer, size_t size) {
    if (to != fd) return common::RealPosix().write(to, buffer, size);
    if (linesLeft < 0) {
      errno = ENOSPC;
      return -1;
    }
    const char *bytes = static_cast<const char *>(buffer);
    size_t through = 0;
    while (through < size && linesLeft > 0) linesLeft -= bytes[through++] == '\n';
    linesLeft = -1;
    return common::RealPosix().write(to, buffer, std::min(size, through + 3));
  }
  static void Arm(std::string fileSuffix, int lines) {
    suffix = std::move(fileSuffix);
    fd = -1;
    linesLeft = lines;
    common::Posix().open = Open;
    common::Posix().write = Write;
  }
};

class CycleFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    common::SetPluginDirectory(dir_.Path());
    common::SetClock([](void *now) { return *static_cast<double *>(now); }, &now_);
  }
  void TearDown() override {
    common::Posix() = common::RealPosix();
    common::SetClock(nullptr, nullptr);
    common::SetPluginDirectory("");
  }
  void Stream(const testing_support::Fields &fields) { monitor_.Stream(View(fields)); }
  size_t ErrorCount() { return ReadLines(dir_.File("KvCorvaneErrors.LOG")).size(); }

  testing_support::TempDir dir_;
  double now_ = testing_support::LocalDate(2004, 3, 5, 14, 10, 0);
  corvane::Corvane monitor_;
};

TEST_F(CycleFailure, AFailedRenameLeavesTheLastSnapshotInPlace) {
  Stream(Action("CONFIG", Settings{}.Text()));
  Stream(Request("k1", Serial(0)));
  Stream(Action("CYCLE"));
  common::Posix().rename = [](const char *, const char *) {
    errno = EBUSY;
    return -1;
  };
  Stream(Request("k2", Serial(1)));
  Stream(Action("CYCLE"));
  EXPECT_EQ(LinesWith(ReadLines(dir_.File("KvCorvane.xml")), "<USER ").size(), 1u);
  EXPECT_EQ(LinesWith(ReadLines(dir_.File("KvCorvane.tmp")), "<USER ").size(), 2u);
  EXPECT_EQ(ErrorCount(), 0u);  // a snapshot that stays waiting is no error
  common::Posix() = common::RealPosix();
  Stream(Action("CYCLE"));
  EXPECT_EQ(LinesWith(ReadLines(dir_.File("KvCorvane.xml")), "<USER ").size(), 2u);
}

TEST_F(CycleFailure, ExportLinesThatReachedTheFileAreNotWrittenAgain) {
  Stream(Action("CONFIG", Settings::Alerting(dir_.Path()).Text()));
  for (int second = 0; second < 5; ++second) Stream(Request("k1", Serial(second)));
  FailingFile::Arm("KvCorvaneHits.Out", 2);
  Stream(Action("CYCLE"));
  EXPECT_EQ(ErrorCount(), 1u);
  EXPECT_EQ(ReadLines(dir_.File("KvCorvaneHits.Out")).size(), 2u);
  common::Posix() = common::RealPosix();
  Stream(Action("CYCLE"));
  const std::vector<std::string> lines = ReadLines(dir_.File("KvCorvaneHits.Out"));
  ASSERT_EQ(lines.size(), 5u);
  for (int second = 0; second < 5; ++second) {
    EXPECT_NE(lines[second].find(Serial(second)), std::string::npos) << lines[second];
  }
}

TEST_F(CycleFailure, AnAlertThatMissedTheFileIsRaisedAgain) {
  Stream(Action("CONFIG", Settings::Alerting(dir_.Path()).Text()));
  for (const char *key : {"k1", "k2"}) {
    for (int second = 0; second < 3; ++second) Stream(Request(key, Serial(second)));
  }
  FailingFile::Arm("KvCorvaneAlerts.Out", 1);
  Stream(Action("CYCLE"));
  EXPECT_EQ(ErrorCount(), 1u);
  common::Posix() = common::RealPosix();
  Stream(Action("CYCLE"));
  Stream(Action("CYCLE"));
  const std::vector<std::string> alerts = ReadLines(dir_.File("KvCorvaneAlerts.Out"));
  ASSERT_EQ(alerts.size(), 2u);
  EXPECT_NE(alerts[0].find("^k1^"), std::string::npos);
  EXPECT_NE(alerts[1].find("^k2^"), std::string::npos);
}

}  // namespace
