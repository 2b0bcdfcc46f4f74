#include "input/LogReader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "support/TempDir.h"

namespace {

std::vector<std::string> ReadAll(const std::string &path, std::vector<bool> *cut = nullptr) {
  host::LogReader reader(path);
  std::vector<std::string> lines;
  std::string_view line;
  bool tooLong = false;
  while (reader.Next(line, tooLong)) {
    lines.emplace_back(line);
    if (cut != nullptr) cut->push_back(tooLong);
  }
  return lines;
}

TEST(LogReader, ReadsPlainAndGzipFilesAlike) {
  testing_support::TempDir dir;
  testing_support::WriteFile(dir.File("a.log"), "one\r\ntwo\n\nthree");
  const std::vector<std::string> expected = {"one", "two", "", "three"};
  EXPECT_EQ(ReadAll(dir.File("a.log")), expected);
  gzFile gz = gzopen(dir.File("a.log.gz").c_str(), "wb");
  gzputs(gz, "one\r\ntwo\n\nthree");
  gzclose(gz);
  EXPECT_EQ(ReadAll(dir.File("a.log.gz")), expected);
  EXPECT_THROW(host::LogReader(dir.File("missing.log")), std::runtime_error);
}

TEST(LogReader, CutsAnOverLongLineAndGoesOn) {
  testing_support::TempDir dir;
  std::string huge(10 << 20, 'x');
  testing_support::WriteFile(dir.File("a.log"), "first\n" + huge + "\nlast\n");
  std::vector<bool> cut;
  auto lines = ReadAll(dir.File("a.log"), &cut);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "first");
  EXPECT_EQ(lines[1].size(), host::LogReader::kMaxLine);
  EXPECT_EQ(lines[2], "last");
  EXPECT_EQ(cut, (std::vector<bool>{false, true, false}));
}

}  // namespace
