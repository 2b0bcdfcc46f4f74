#include "base/Say.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace {

// Under systemd, standard error is the journal's stream and JOURNAL_STREAM names it: each line
// then carries its level for journald. (Elsewhere lines are plain; the command tests see them.)
TEST(Say, GivesJournaldTheLevelOfEachLine) {
  struct stat info {};
  ASSERT_EQ(fstat(STDERR_FILENO, &info), 0);
  const std::string stream = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
  setenv("JOURNAL_STREAM", stream.c_str(), 1);
  std::ostringstream err;
  host::Say(err, host::Level::kWarning, "a warning");
  host::Say(err, host::Level::kInfo, "news");
  EXPECT_EQ(err.str(), "<4>flowdeck: warning: a warning\n<6>flowdeck: news\n");
  EXPECT_EQ(err.str().find('\x1b'), std::string::npos) << "no colour";

  // Once main names the command, every line says it; a failure that ends the command is an
  // error to journald, said without the word.
  err.str("");
  host::SayAs("follow");
  host::Say(err, host::Level::kWarning, "a warning");
  host::Say(err, host::Level::kError, "an error");
  host::Say(err, host::Level::kFailure, "cannot read x");
  host::Say(err, host::Level::kNotice, "news");
  host::SayAs("");
  EXPECT_EQ(err.str(),
            "<4>flowdeck follow: warning: a warning\n<3>flowdeck follow: error: an error\n"
            "<3>flowdeck follow: cannot read x\n<5>flowdeck follow: news\n");
  err.str("");
  host::Say(err, host::Level::kFailure, "unknown command");
  EXPECT_EQ(err.str(), "<3>flowdeck: unknown command\n") << "before a command is named";
}

}  // namespace
