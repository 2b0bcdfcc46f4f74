// Failures in the middle of a shield, forced through the file-call table and real sockets.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "InPluginDirectory.h"
#include "KvError.h"
#include "Posix.h"
#include "Vantrel.h"
#include "modVantrel.h"
#include "support/Port80.h"

namespace {

using testing_support::ReadLines;

// The write of any line that begins with this text fails as an I/O error.
std::string gFailingLine;
ssize_t FailingWrite(int fd, const void *buffer, size_t size) {
  if (size >= gFailingLine.size() &&
      std::memcmp(buffer, gFailingLine.data(), gFailingLine.size()) == 0) {
    errno = EIO;
    return -1;
  }
  return common::RealPosix().write(fd, buffer, size);
}

// Shuts down the sending side of this process's connection to port 80 as soon as it exists, so
// that the plug-in's send meets a closed connection.
int ShutConnectionThenOpen(const char *path, int flags, mode_t mode) {
  for (int fd = 3; fd < 1024; ++fd) {
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &size) == 0 &&
        peer.sin_family == AF_INET && peer.sin_port == htons(80)) {
      shutdown(fd, SHUT_WR);
    }
  }
  return common::RealPosix().open(path, flags, mode);
}

size_t OpenDescriptors() {
  size_t count = 0;
  if (DIR *fds = opendir("/proc/self/fd")) {
    while (readdir(fds) != nullptr) ++count;
    closedir(fds);
  }
  return count;
}

class FailurePaths : public vantrel_testing::InPluginDirectory {
 protected:
  ~FailurePaths() override { common::Posix() = common::RealPosix(); }

  void Stream(std::initializer_list<std::pair<size_t, std::string>> values) {
    common::StreamFields fields{};
    for (const auto &[index, text] : values) fields[index] = text;
    plugin.Stream(fields);
  }
  void SteadyHits(const std::string &path) {
    for (const char *serial : {"40305140709100", "40305140709200", "40305140709300"}) {
      Stream({{common::kAction, "GET"},
              {common::kArrivalSerial, serial},
              {common::kKey, "v"},
              {common::kServerName, "shop"},
              {common::kPathInfo, path}});
    }
  }

  vantrel::Vantrel plugin;
};

TEST_F(FailurePaths, AFailureAfterAShieldWasSentStillPutsItIntoTheTripwireFile) {
  Definitions(
      "<TRIPWIRE ACTIVE=\"1\" RESOURCE=\"/a/*.*\" DEFLECT=\"/x/*.htm\" SENSITIVITY=\"0\" "
      "STRENGTH=\"0\" INVERSE=\"0\" CARRYPARAMETERS=\"0\" />");
  Stream({{common::kAction, "CONFIG"}, {common::kUserAgent, ";/f/;x;Add;R;0.5;0;3;0;0;;True"}});
  SteadyHits("/a/1.htm");
  SteadyHits("/a/2.htm");
  gFailingLine = "\t\tShield sent to Flowdeck";
  common::Posix().write = FailingWrite;
  Stream({{common::kAction, "CYCLE"}});
  common::Posix() = common::RealPosix();
  const auto errors = ReadLines(dir.File("KvVantrelErrors.LOG"));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("Error: 75 "), std::string::npos);
  auto xml = ReadLines(dir.File("KvVantrel.xml"));
  ASSERT_EQ(xml.size(), 6u);
  EXPECT_NE(xml[3].find("RESOURCE=\"/a/1.htm\""), std::string::npos);
  EXPECT_EQ(xml[5], "</KELVARIN>");
  // The sent shield is marked; the record after it is shielded by the next cycle.
  Stream({{common::kAction, "CYCLE"}});
  xml = ReadLines(dir.File("KvVantrel.xml"));
  ASSERT_EQ(xml.size(), 7u);
  EXPECT_NE(xml[4].find("RESOURCE=\"/a/2.htm\""), std::string::npos);
}

TEST_F(FailurePaths, TheSocketIsClosedWhenTheShieldRequestFailsHalfWay) {
  TraceOn();
  gFailingLine = "\tSocket opened";
  common::Posix().write = FailingWrite;
  const size_t before = OpenDescriptors();
  try {
    vantrel::SendShieldToHost("", "/f/", "x", "Add", "1.2.3.4", "shop", "/a", "/b");
    ADD_FAILURE() << "the trace failure did not come through";
  } catch (const common::KvError &error) {
    EXPECT_EQ(error.Source().rfind("  Module: modVantrel  Sub: SendShieldToHost\r", 0), 0u);
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(FailurePaths, SendingOnAClosedConnectionRaisesNoSignal) {
  testing_support::Port80 port;
  if (!port.Listen()) GTEST_SKIP() << "127.0.0.1:80 cannot be bound here";
  port.AcceptOne();
  std::signal(SIGPIPE, SIG_DFL);
  TraceOn();
  common::Posix().open = ShutConnectionThenOpen;
  vantrel::SendShieldToHost("127.0.0.1", "/f/", "x", "Add", "1.2.3.4", "shop", "/a", "/b");
  common::Posix() = common::RealPosix();
  EXPECT_EQ(port.Received(), "");
  const auto trace = ReadLines(dir.File("KvVantrelTrace.LOG"));
  EXPECT_NE(std::find(trace.begin(), trace.end(), "\tSocket Connected"), trace.end());
}

}  // namespace
