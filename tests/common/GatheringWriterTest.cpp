#include "GatheringWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "Posix.h"
#include "support/TempDir.h"

namespace {

constexpr common::Site kSite{"  Class: T  ", "T"};

// A disk that takes a few bytes per call, now and then none (interrupted), and after
// `bytesLeft` no more.
struct StingyDisk {
  static inline size_t bytesPerCall = 0;
  static inline size_t bytesLeft = 0;
  static inline int calls = 0;

  static ssize_t Writev(int fd, const iovec *pieces, int count) {
    if (++calls % 5 == 0) {
      errno = EINTR;
      return -1;
    }
    if (bytesLeft == 0) {
      errno = ENOSPC;
      return -1;
    }
    // Only the first bytes of the pieces, which may end inside one.
    std::string head;
    for (int i = 0; i < count && head.size() < bytesPerCall; ++i) {
      head.append(static_cast<const char *>(pieces[i].iov_base), pieces[i].iov_len);
    }
    head.resize(std::min({head.size(), bytesPerCall, bytesLeft}));
    bytesLeft -= head.size();
    return common::RealPosix().write(fd, head.data(), head.size());
  }
};

class GatheringWriterTest : public ::testing::Test {
 protected:
  void TearDown() override { common::Posix() = common::RealPosix(); }
  testing_support::TempDir dir_;
};

// Many more pieces than one call takes, written a few bytes at a time, pieces cut anywhere:
// the file holds them whole and in order.
TEST_F(GatheringWriterTest, WritesEveryPieceInOrderHoweverTheCallsCutThem) {
  std::vector<std::string> pieces;
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    pieces.push_back(std::string(static_cast<size_t>(i % 13), 'a' + i % 26) + std::to_string(i));
    expected += pieces.back();
  }
  for (size_t perCall : {size_t{1} << 30, size_t{7}}) {
    common::Posix().writev = StingyDisk::Writev;
    StingyDisk::bytesPerCall = perCall;
    StingyDisk::bytesLeft = 2 * expected.size();
    const std::string path = dir_.File("f" + std::to_string(perCall));
    common::GatheringWriter writer(kSite, path);
    for (const std::string &piece : pieces) writer.Add(piece);
    writer.Add("");
    writer.Close();
    EXPECT_EQ(testing_support::ReadFile(path), expected) << perCall << " bytes a call";
  }
}

TEST_F(GatheringWriterTest, AFullDiskIsRaisedWithThePathAndTheFileKeepsWhatReachedIt) {
  const std::string path = dir_.File("full.xml");
  common::Posix().writev = StingyDisk::Writev;
  StingyDisk::bytesPerCall = 4;
  StingyDisk::bytesLeft = 10;
  common::GatheringWriter writer(kSite, path);
  writer.Add("first line\r\n");
  writer.Add("second line\r\n");
  try {
    writer.Close();
    FAIL() << "the full disk went unnoticed";
  } catch (const common::KvError &error) {
    EXPECT_EQ(error.Number(), 61);
    EXPECT_NE(error.Description().find(path), std::string::npos) << error.Description();
  }
  EXPECT_EQ(testing_support::ReadFile(path), "first line");
  try {
    common::GatheringWriter(kSite, dir_.File("no/such/dir.xml"));
    FAIL() << "a file that cannot be created went unnoticed";
  } catch (const common::KvError &error) {
    EXPECT_EQ(error.Number(), 76);
  }
}

}  // namespace
