#include "input/FollowReader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "support/TempDir.h"

namespace {

void Append(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::app) << text;
}

std::vector<std::string> Drain(host::FollowReader &reader) {
  std::vector<std::string> lines;
  std::string_view line;
  bool tooLong = false;
  for (int round = 0; round < 2; ++round) {
    while (reader.Next(line, tooLong)) lines.emplace_back(line);
    reader.Poll();
  }
  return lines;
}

TEST(FollowReader, FollowsAppendsRotationAndTruncationLikeTailF) {
  testing_support::TempDir dir;
  const std::string log = dir.File("access.log");
  Append(log, "old\n");
  host::FollowReader reader(log, false);  // starts at the end
  EXPECT_TRUE(Drain(reader).empty());
  Append(log, "one\ntw");
  EXPECT_EQ(Drain(reader), std::vector<std::string>{"one"});  // half a line waits
  Append(log, "o\n");
  EXPECT_EQ(Drain(reader), std::vector<std::string>{"two"});
  // Rotation: the old file gets its last line, then a new file takes the name.
  Append(log, "last of old\n");
  std::rename(log.c_str(), dir.File("access.log.1").c_str());
  EXPECT_EQ(Drain(reader), std::vector<std::string>{"last of old"});
  Append(log, "first of new\n");
  EXPECT_EQ(Drain(reader), std::vector<std::string>{"first of new"});
  // Truncation (to less than was read): read again from the start.
  std::ofstream(log, std::ios::trunc) << "new\n";
  EXPECT_EQ(Drain(reader), std::vector<std::string>{"new"});
}

// A log missing at the start, or in a missing folder, is named as such and read from its
// beginning once it is there; a rotation into something that cannot be read is named, and the
// old file read on to its end without losing the half line it was in.
TEST(FollowReader, SaysWhyALogCannotBeReadAndReadsItOnceItCan) {
  testing_support::TempDir dir;
  const std::string log = dir.File("late.log"), deep = dir.File("later/access.log");
  host::FollowReader late(log, false), deeper(deep, false);
  EXPECT_EQ(late.Error(), ENOENT);
  EXPECT_EQ(deeper.Error(), ENOENT);
  EXPECT_TRUE(Drain(late).empty());
  Append(log, "first\n");
  EXPECT_EQ(Drain(late), std::vector<std::string>{"first"}) << "all of a log that came later";
  EXPECT_EQ(late.Error(), 0);
  std::filesystem::create_directory(dir.File("later"));
  Append(deep, "one\n");
  EXPECT_EQ(Drain(deeper), std::vector<std::string>{"one"});
  EXPECT_EQ(deeper.Error(), 0);

  Append(log, "half ");
  EXPECT_TRUE(Drain(late).empty());
  std::rename(log.c_str(), dir.File("late.log.1").c_str());
  std::filesystem::create_directory(log);  // a directory where the new log should be
  EXPECT_TRUE(Drain(late).empty());
  EXPECT_EQ(late.Error(), EISDIR);
  Append(dir.File("late.log.1"), "line\n");
  EXPECT_EQ(Drain(late), std::vector<std::string>{"half line"});
  std::filesystem::remove(log);
  Append(log, "new\n");
  EXPECT_EQ(Drain(late), std::vector<std::string>{"new"});
  EXPECT_EQ(late.Error(), 0);
  EXPECT_EQ(late.LineNumber(), 3u) << "lines of every file under the name";
}

}  // namespace
