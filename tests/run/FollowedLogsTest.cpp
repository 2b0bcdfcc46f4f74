#include "run/FollowedLogs.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#include "support/TempDir.h"

namespace {

using host::FollowedLogs;
using host::LogStatus;

// What one look said, and nothing said before it.
std::string Said(FollowedLogs &followed, std::ostringstream &err,
                 const std::vector<LogStatus> &logs, double now) {
  err.str("");
  followed.Look(logs, now);
  return err.str();
}

size_t Count(const std::string &text, const std::string &part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Two logs, one missing at the start, the other readable until it is rotated into a file the
// run cannot read. Each problem is said at once at the start, and again each period while it
// lasts; one that begins later only after the grace (a rotation's gap says nothing); the end
// of one is said once; none readable is an error.
TEST(FollowedLogs, NamesEachUnreadableLogAtTheStartEveryPeriodAndWhenItIsBack) {
  std::ostringstream err;
  FollowedLogs followed(err, 10);
  std::vector<LogStatus> logs = {{"/logs/a.log", ENOENT, 0}, {"/logs/b.log", 0, 0}};

  const std::string start = Said(followed, err, logs, 100);
  // Each message one line (after the level journald takes, when standard error is the journal).
  EXPECT_EQ(Count(start, "\n"), 1u) << start;
  EXPECT_NE(
      start.find("flowdeck: warning: cannot read the followed log /logs/a.log: No such file "
                 "or directory (its folder /logs is missing too); it is read once it can be\n"),
      std::string::npos)
      << start;
  EXPECT_EQ(Said(followed, err, logs, 109.9), "") << "said again only after the period";
  EXPECT_EQ(Count(Said(followed, err, logs, 110), "/logs/a.log: No such file"), 1u);

  // b's name without a file for a moment, as in a rotation: nothing said.
  logs[1].error = ENOENT;
  EXPECT_EQ(Said(followed, err, logs, 111), "");
  logs[1].error = 0;
  EXPECT_EQ(Said(followed, err, logs, 111.5), "");

  // b's new file is not readable: said after the grace, with the error that none can be read.
  logs[1].error = EACCES;
  EXPECT_EQ(Said(followed, err, logs, 112), "");
  const std::string both = Said(followed, err, logs, 114);
  EXPECT_EQ(Count(both, "warning: cannot read the followed log /logs/b.log: Permission denied"), 1u)
      << both;
  EXPECT_EQ(Count(both, "error: none of the 2 followed logs can be read"), 1u) << both;
  EXPECT_EQ(Count(both, "/logs/a.log"), 0u) << "a is said on its own period";

  // a appears: said once, and the error ends; b is still said on its own period.
  logs[0].error = 0;
  const std::string back = Said(followed, err, logs, 115);
  EXPECT_EQ(Count(back, "\n"), 1u) << back;
  EXPECT_NE(back.find("flowdeck: the followed log /logs/a.log is readable again\n"),
            std::string::npos)
      << back;
  const std::string later = Said(followed, err, logs, 124);
  EXPECT_EQ(Count(later, "/logs/b.log: Permission denied"), 1u) << later;
  EXPECT_EQ(Count(later, "/logs/a.log"), 0u) << later;
  EXPECT_EQ(Count(later, "error:"), 0u) << later;
}

TEST(FollowedLogs, TheOneLogUnreadableIsAnErrorAndAMissingFileInAFolderThatIsThereSaysNoMore) {
  testing_support::TempDir dir;
  std::ostringstream err;
  FollowedLogs followed(err, 60);
  const std::string said = Said(followed, err, {{dir.File("access.log"), ENOENT, 0}}, 0);
  EXPECT_NE(said.find("warning: cannot read the followed log " + dir.File("access.log") +
                      ": No such file or directory; it is read once it can be"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("error: the one followed log cannot be read"), std::string::npos) << said;
  EXPECT_EQ(FollowedLogs::Reason("access.log", ENOENT), "No such file or directory");
}

}  // namespace
