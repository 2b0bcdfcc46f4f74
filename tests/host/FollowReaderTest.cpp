#include "FollowReader.h"

#include <gtest/gtest.h>

#include <cstdio>
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

}  // namespace
