// Other programs read the snapshot and the tripwire file while the plug-ins replace them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "FaultTesting.h"

namespace {

using faults::Action;
using faults::PluginObject;
using testing_support::ReadFile;
using testing_support::TempDir;

std::string ReadAll(int fd) {
  std::string content;
  char buffer[1 << 14];
  for (off_t at = 0;;) {
    const ssize_t n = pread(fd, buffer, sizeof buffer, at);
    if (n <= 0) return content;
    content.append(buffer, static_cast<size_t>(n));
    at += n;
  }
}

// Reads a file over and over in a thread of its own until stopped, and counts the reads that
// found no file or only part of one.
class BusyReader {
 public:
  BusyReader(std::string path, std::string lastLine)
      : path_(std::move(path)), lastLine_(std::move(lastLine)), thread_([this] { Run(); }) {}
  ~BusyReader() { Stop(); }

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  int reads = 0, missing = 0, partial = 0;
  // The number of lines holding the mark never fell from one read to the next.
  bool neverShrank = true;

 private:
  void Run() {
    size_t marks = 0;
    while (!stop_) {
      const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) {
        ++missing;
        continue;
      }
      const std::string content = ReadAll(fd);
      close(fd);
      ++reads;
      if (!content.starts_with("<?xml version=\"1.0\"?>\r\n") || !content.ends_with(lastLine_)) {
        ++partial;
      }
      const size_t now = faults::Occurrences(content, "<TRIPWIRE ");
      neverShrank = neverShrank && now >= marks;
      marks = now;
    }
  }

  std::string path_;
  std::string lastLine_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(ReplacedWhileRead, ReadersOfTheSnapshotFindTheOldOrTheNewWholeFile) {
  TempDir dir;
  PluginObject monitor("KvCorvane.so", dir.Path());
  ASSERT_EQ(monitor.Stream(Action("CONFIG", faults::MonitorSettings(dir.Path() + "/", false))), 0);
  const std::string snapshot = dir.File("KvCorvane.xml");
  const int held = open(snapshot.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  const std::string first = ReadAll(held);
  monitor.SteadyHits("k1", 1);
  ASSERT_EQ(monitor.Stream(Action("CYCLE")), 0);
  EXPECT_EQ(ReadAll(held), first) << "a reader that holds the file keeps the old one whole";
  close(held);
  EXPECT_NE(ReadFile(snapshot), first);

  BusyReader reader(snapshot, "</OVERMERE>\r\n");
  for (int i = 0; i < 300; ++i) {
    monitor.Stream(faults::Request("v" + std::to_string(i), faults::Serial(2 + i / 10), "/b"));
    ASSERT_EQ(monitor.Stream(Action("CYCLE")), 0);
  }
  reader.Stop();
  EXPECT_GT(reader.reads, 0);
  EXPECT_EQ(reader.missing, 0);
  EXPECT_EQ(reader.partial, 0);
}

TEST(ReplacedWhileRead, ReadersOfTheTripwireFileFindTheOldOrTheNewWholeFile) {
  TempDir dir;
  testing_support::WriteFile(dir.File("KvVantrel.CFG"), faults::TripwireDefinition());
  PluginObject shield("KvVantrel.so", dir.Path());
  ASSERT_EQ(shield.Stream(Action("CONFIG", faults::ShieldSettings("", false))), 0);
  shield.SteadyHits("v0", 1);
  ASSERT_EQ(shield.Stream(Action("CYCLE")), 0);
  const std::string tripwires = dir.File("KvVantrel.xml");
  const int held = open(tripwires.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  const std::string first = ReadAll(held);
  shield.SteadyHits("v1", 2);
  ASSERT_EQ(shield.Stream(Action("CYCLE")), 0);
  EXPECT_EQ(ReadAll(held), first) << "a reader that holds the file keeps the old one whole";
  close(held);
  EXPECT_EQ(faults::Occurrences(ReadFile(tripwires), "<TRIPWIRE "), 2u);

  BusyReader reader(tripwires, "</KELVARIN>\r\n");
  for (int i = 0; i < 150; ++i) {
    shield.SteadyHits("w" + std::to_string(i), 3 + i);  // one shield, one new file per cycle
    ASSERT_EQ(shield.Stream(Action("CYCLE")), 0);
  }
  reader.Stop();
  EXPECT_GT(reader.reads, 0);
  EXPECT_EQ(reader.missing, 0);
  EXPECT_EQ(reader.partial, 0);
  EXPECT_TRUE(reader.neverShrank);
  EXPECT_EQ(faults::Occurrences(ReadFile(tripwires), "<TRIPWIRE "), 152u);
}

}  // namespace
