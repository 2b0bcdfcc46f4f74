// The files flowdeck replaces whole (the maps, the shield record, the run file) and the shield
// log it appends to, in a directory others may write in: each temporary file is a new one under
// a name no one can foresee, and nothing is written through a link or waits on a FIFO.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "Posix.h"
#include "base/Error.h"
#include "base/RunFiles.h"
#include "shield/MapFile.h"
#include "shield/ShieldBook.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using host::MapFile;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

struct Creation {
  std::string path;
  int flags;
};
std::vector<Creation> gCreations;
int gClashes = 0;  // creations to answer with EEXIST, as if the name were taken

int RecordingOpen(const char *path, int flags, mode_t mode) {
  if ((flags & O_CREAT) != 0) {
    gCreations.push_back({path, flags});
    if (gClashes > 0) {
      --gClashes;
      errno = EEXIST;
      return -1;
    }
  }
  return common::RealPosix().open(path, flags, mode);
}

class TemporaryFiles : public ::testing::Test {
 protected:
  TemporaryFiles() {
    gCreations.clear();
    gClashes = 0;
    common::Posix().open = RecordingOpen;
  }
  ~TemporaryFiles() override { common::Posix() = common::RealPosix(); }

  size_t Entries() const {
    const auto entries = fs::directory_iterator(dir_.Path());
    return static_cast<size_t>(std::distance(fs::begin(entries), fs::end(entries)));
  }

  TempDir dir_;
};

TEST_F(TemporaryFiles, AreCreatedNewUnderUnforeseeableNamesEvenWhenANameIsTaken) {
  MapFile map(dir_.File("nginx.map"));
  std::string content = "a 1;\n";
  ASSERT_EQ(map.Update(content).problem, "");
  gClashes = 1;
  content = "b 2;\n";
  ASSERT_EQ(map.Update(content).problem, "");
  host::WriteFileAtomically(dir_.File("flowdeck-run.txt"), "A = 1\n", "the run file");
  host::WriteFileAtomically(dir_.File("flowdeck-run.txt"), "A = 2\n", "the run file");

  ASSERT_EQ(gCreations.size(), 5u);  // one of them clashed and was made again
  std::set<std::string> names;
  for (const Creation &creation : gCreations) {
    EXPECT_EQ(creation.flags & (O_CREAT | O_EXCL), O_CREAT | O_EXCL) << creation.path;
    names.insert(creation.path);
    const bool besideMap = creation.path.starts_with(dir_.File("nginx.map.flowdeck-new."));
    const bool besideRun = creation.path.starts_with(dir_.File("flowdeck-run.txt."));
    EXPECT_TRUE(besideMap || besideRun) << creation.path;
    // 12 random letters and digits after the prefix.
    const size_t prefix = besideMap ? dir_.File("nginx.map.flowdeck-new.").size()
                                    : dir_.File("flowdeck-run.txt.").size();
    EXPECT_GE(creation.path.size(), prefix + 12) << creation.path;
  }
  EXPECT_EQ(names.size(), 5u) << "a temporary name was used twice";
  EXPECT_EQ(ReadFile(dir_.File("nginx.map")), "b 2;\n");
  EXPECT_EQ(ReadFile(dir_.File("flowdeck-run.txt")), "A = 2\n");
  EXPECT_EQ(Entries(), 2u) << "no temporary file is left";
  struct stat info {};
  ASSERT_EQ(stat(dir_.File("nginx.map").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u) << "the web server reads the map as its own user";
  ASSERT_EQ(stat(dir_.File("flowdeck-run.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST_F(TemporaryFiles, ALinkOrAFifoPutInDuringTheRunIsReportedAndNotWrittenThrough) {
  WriteFile(dir_.File("target"), "kept\n");
  MapFile map(dir_.File("apache.map"));
  std::string content = "a b\n";
  ASSERT_EQ(map.Update(content).problem, "");
  fs::remove(dir_.File("apache.map"));
  fs::create_symlink(dir_.File("target"), dir_.File("apache.map"));
  content = "c d\n";
  EXPECT_EQ(map.Update(content).problem, "refusing to replace " + dir_.File("apache.map") +
                                             ": it is a symbolic link, which flowdeck does not "
                                             "follow");
  EXPECT_THROW(MapFile{dir_.File("apache.map")}, std::runtime_error);

  fs::create_symlink(dir_.File("target"), dir_.File("flowdeck-shields.tsv"));
  try {
    host::WriteFileAtomically(dir_.File("flowdeck-shields.tsv"), "x\n", "the shield record");
    ADD_FAILURE() << "a link under the record's name must be refused";
  } catch (const std::runtime_error &error) {
    EXPECT_EQ(std::string(error.what()),
              "cannot write the shield record " + dir_.File("flowdeck-shields.tsv") +
                  ": is a symbolic link, which flowdeck does not follow");
  }
  fs::create_symlink(dir_.File("target"), dir_.File("flowdeck-shields.log"));
  EXPECT_EQ(host::AppendToFile(dir_.File("flowdeck-shields.log"), "raise\n"),
            "cannot append to " + dir_.File("flowdeck-shields.log") +
                ": a symbolic link stands there, which flowdeck does not follow");
  EXPECT_EQ(ReadFile(dir_.File("target")), "kept\n");

  // A FIFO neither holds the shield log's append nor the record's read back at a restart.
  ASSERT_EQ(mkfifo(dir_.File("fifo.log").c_str(), 0600), 0);
  EXPECT_EQ(host::AppendToFile(dir_.File("fifo.log"), "raise\n"),
            "cannot append to " + dir_.File("fifo.log") +
                ": not a regular file (a FIFO, socket or device)");
  host::ShieldBook book(dir_.File("fifo.log"));
  EXPECT_TRUE(book.Restore(1700000000).empty());
  EXPECT_EQ(book.Size(), 0u);
}

int gSyncs = 0;
int gSyncFailure = 0;  // the errno a flush to disk fails with; 0: it succeeds

int CountingSync(int fd) {
  ++gSyncs;
  if (gSyncFailure == 0) return common::RealPosix().fsync(fd);
  errno = gSyncFailure;
  return -1;
}

// The state a restart reads back is on disk before it takes its name; what is written again
// soon (a map, the run file) is not flushed. A failed step leaves the old file and no
// temporary one, and is reported with the file's name.
TEST_F(TemporaryFiles, TheRecordsARestartReadsAreFlushedAndAFailedStepLeavesTheOldFile) {
  gSyncs = 0;
  gSyncFailure = 0;
  common::Posix().fsync = CountingSync;
  host::ShieldBook book(dir_.File("flowdeck-shields.tsv"));
  host::Shield shield;
  shield.address = "192.0.2.1";
  ASSERT_TRUE(book.Raise(shield, 1700000000, 600));
  book.Save();
  EXPECT_EQ(gSyncs, 1) << "the shields in force are flushed";
  const std::string saved = ReadFile(dir_.File("flowdeck-shields.tsv"));
  MapFile map(dir_.File("nginx.map"));
  std::string content = "a 1;\n";
  ASSERT_EQ(map.Update(content).problem, "");
  host::WriteFileAtomically(dir_.File("flowdeck-run.txt"), "A = 1\n", "the run file");
  EXPECT_EQ(gSyncs, 1) << "a map and the run file are not";

  gSyncFailure = EIO;
  try {
    host::WriteFileAtomically(dir_.File("flowdeck-shields.tsv"), "x\n", "the shield record",
                              host::kRunFileMode, host::Durability::kSurvivesCrash);
    ADD_FAILURE() << "a record that did not reach the disk must not take the name";
  } catch (const host::Error &error) {
    EXPECT_EQ(std::string(error.what()), "cannot write the shield record " +
                                             dir_.File("flowdeck-shields.tsv") +
                                             ": Input/output error");
  }
  EXPECT_EQ(ReadFile(dir_.File("flowdeck-shields.tsv")), saved);

  // A write that takes nothing is a full disk, for the map as for the run file.
  common::Posix().write = [](int, const void *, size_t) -> ssize_t { return 0; };
  content = "b 2;\n";
  const std::string problem = map.Update(content).problem;
  EXPECT_TRUE(problem.starts_with("cannot write " + dir_.File("nginx.map.flowdeck-new.")))
      << problem;
  EXPECT_TRUE(problem.ends_with(": No space left on device")) << problem;
  EXPECT_THROW(host::WriteFileAtomically(dir_.File("flowdeck-run.txt"), "A = 2\n", "the run file"),
               host::Error);
  common::Posix() = common::RealPosix();
  EXPECT_EQ(ReadFile(dir_.File("nginx.map")), "a 1;\n");
  EXPECT_EQ(ReadFile(dir_.File("flowdeck-run.txt")), "A = 1\n");
  EXPECT_EQ(Entries(), 3u) << "no temporary file is left";
}

}  // namespace
