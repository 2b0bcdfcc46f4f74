#include "TextFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "Posix.h"
#include "support/TempDir.h"

namespace {

constexpr common::Site kSite{"  Class: T  ", "T"};

// Lets the first `allowed` bytes through, then fails every write with ENOSPC.
size_t gBytesAllowed = 0;
ssize_t LimitedWrite(int fd, const void *buffer, size_t size) {
  if (gBytesAllowed == 0) {
    errno = ENOSPC;
    return -1;
  }
  size_t n = std::min(size, gBytesAllowed);
  gBytesAllowed -= n;
  return common::RealPosix().write(fd, buffer, n);
}

TEST(TextFile, WritesCrLfLinesAndReadsThemBack) {
  testing_support::TempDir dir;
  const std::string path = dir.File("a.txt");
  {
    common::TextWriter writer(kSite, path, common::TextWriter::Mode::kReplace);
    writer.WriteLine("one");
    writer.Write("tw");
    writer.WriteLine("o");
    writer.Close();
  }
  common::AppendLine(kSite, path, "three");
  EXPECT_EQ(testing_support::ReadFile(path), "one\r\ntwo\r\nthree\r\n");
  testing_support::WriteFile(path, "x\r\n\r\ny\nlast");
  common::TextReader reader(kSite, path);
  std::vector<std::string> lines;
  std::string line;
  while (reader.ReadLine(kSite, line)) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"x", "", "y", "last"}));
}

TEST(TextFile, NamesThePathAndCauseOfAFailure) {
  testing_support::TempDir dir;
  try {
    common::TextWriter writer(kSite, dir.File("no/such/dir.txt"),
                              common::TextWriter::Mode::kAppend);
    FAIL();
  } catch (const common::KvError &error) {
    EXPECT_EQ(error.Number(), 76);
    EXPECT_EQ(error.Description(),
              "Path not found: " + dir.File("no/such/dir.txt") + " (No such file or directory)");
    EXPECT_EQ(error.Source(), "KvTest.T");
  }
  EXPECT_FALSE(common::TextReader::TryOpen(dir.File("missing")).has_value());
}

TEST(TextFile, AFullDiskLeavesOnlyCompleteLinesAndCountsThem) {
  testing_support::TempDir dir;
  const std::string path = dir.File("export.out");
  common::AppendLine(kSite, path, "old");
  common::Posix().write = LimitedWrite;
  gBytesAllowed = 12;  // "line1\r\n" and half of "line2\r\n"
  size_t written = 99;
  try {
    common::TextWriter writer(kSite, path, common::TextWriter::Mode::kAppend);
    for (const char *text : {"line1", "line2", "line3"}) writer.WriteLine(text);
    try {
      writer.Close();
    } catch (const common::KvError &error) {
      written = writer.LinesWritten();
      EXPECT_EQ(error.Number(), 61);
    }
  } catch (...) {
    common::Posix() = common::RealPosix();
    throw;
  }
  common::Posix() = common::RealPosix();
  EXPECT_EQ(written, 1u);
  EXPECT_EQ(testing_support::ReadFile(path), "old\r\nline1\r\n");
}

TEST(TextFile, ReplacesAFileInOneStep) {
  testing_support::TempDir dir;
  testing_support::WriteFile(dir.File("new"), "new");
  testing_support::WriteFile(dir.File("old"), "old");
  common::ReplaceFile(kSite, dir.File("new"), dir.File("old"));
  EXPECT_EQ(testing_support::ReadFile(dir.File("old")), "new");
  EXPECT_FALSE(common::RemoveFile(dir.File("new")));
  EXPECT_THROW(common::ReplaceFile(kSite, dir.File("new"), dir.File("old")), common::KvError);
  // A missing file is created; a directory in the way is never moved, and the new file waits.
  testing_support::WriteFile(dir.File("new"), "newer");
  common::ReplaceFile(kSite, dir.File("new"), dir.File("missing"));
  EXPECT_EQ(testing_support::ReadFile(dir.File("missing")), "newer");
  std::filesystem::create_directory(dir.File("directory"));
  testing_support::WriteFile(dir.File("directory/kept"), "kept");
  testing_support::WriteFile(dir.File("new"), "newest");
  try {
    common::ReplaceFile(kSite, dir.File("new"), dir.File("directory"));
    ADD_FAILURE() << "a file was put over a directory";
  } catch (const common::KvError &error) {
    EXPECT_EQ(error.Number(), 75);
    EXPECT_NE(error.Description().find(dir.File("directory") + " (Is a directory)"),
              std::string::npos);
  }
  EXPECT_EQ(testing_support::ReadFile(dir.File("directory/kept")), "kept");
  EXPECT_EQ(testing_support::ReadFile(dir.File("new")), "newest");
}

}  // namespace
