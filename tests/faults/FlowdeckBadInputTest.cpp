// The flowdeck command given logs and settings that are broken, hostile or not files at all.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include "support/Port80.h"
#include "support/TempDir.h"

namespace {

using testing_support::ReadLines;
using testing_support::TempDir;
using testing_support::WriteFile;

struct Result {
  int status = -1;  // the exit status; -1 when the program did not exit by itself
  std::string output;
};

// A log line of a client at second s after 12:00:00 on 7 Dec 2026.
std::string Line(int s, const std::string &path = "/") {
  char time[64];
  std::snprintf(time, sizeof time, "[07/Dec/2026:12:%02d:%02d +0000]", s / 60 % 60, s % 60);
  return "192.0.2.1 - - " + std::string(time) + " \"GET " + path +
         " HTTP/1.1\" 200 512 \"-\" \"curl/8.5.0\"\n";
}

std::string Options(const TempDir &dir) {
  return "--quiet --out " + dir.File("out") + " --plugin " + FLOWDECK_PLUGIN_DIR + " --tripwires " +
         FLOWDECK_EXAMPLES + "/tripwires.cfg ";
}

// Runs flowdeck to its end (10 seconds at most), standard output and error together. A run
// listens on port 80, so it takes the port's turn.
Result Flowdeck(const std::string &arguments) {
  const testing_support::Port80 port80;
  const std::string command =
      "timeout -s KILL 10 " + std::string(FLOWDECK_BIN) + " " + arguments + " 2>&1";
  Result result;
  FILE *pipe = popen(command.c_str(), "r");
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) && WEXITSTATUS(status) != 137 ? WEXITSTATUS(status) : -1;
  return result;
}

// "flowdeck follow" in the background, ended by SIGTERM.
class Follow {
 public:
  Follow(const TempDir &dir, const std::string &log) : output_(dir.File("follow.out")) {
    const std::string command = std::string(FLOWDECK_BIN) + " follow " + Options(dir) +
                                "--from-start --cycle 1 " + log + " >" + output_ + " 2>&1";
    pid_ = fork();
    if (pid_ == 0) {
      execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
  }
  ~Follow() {
    if (pid_ > 0) Stop();
  }
  Result Stop() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testing_support::ReadFile(output_)};
  }

 private:
  const testing_support::Port80 port80_;
  std::string output_;
  pid_t pid_ = -1;
};

// Waits up to 10 seconds for a file to hold a number of lines.
bool WaitForLines(const std::string &path, size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ReadLines(path).size() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

bool Has(const Result &result, const std::string &text) {
  return result.output.find(text) != std::string::npos;
}

TEST(FlowdeckBadInput, GarbageAnEndlessLineAndCutLogsAreCountedAndSkipped) {
  TempDir dir;
  const Result none = Flowdeck("replay " + Options(dir) + "/dev/null");
  EXPECT_EQ(none.status, 0) << none.output;
  EXPECT_TRUE(Has(none, "lines read: 0 (0 requests")) << none.output;

  // A megabyte of random bytes, NUL, CR and quotes among them, between three good lines.
  std::mt19937 random(7);
  std::string garbage(1, '\0');
  for (int i = 0; i < (1 << 20); ++i) garbage.push_back(static_cast<char>(random()));
  garbage.push_back('\n');
  WriteFile(dir.File("garbage.log"), Line(0) + garbage + Line(1) + garbage + Line(2));
  const Result noise = Flowdeck("replay " + Options(dir) + dir.File("garbage.log"));
  EXPECT_EQ(noise.status, 0) << noise.output;
  EXPECT_TRUE(Has(noise, " (3 requests, ")) << noise.output.substr(0, 400);
  EXPECT_TRUE(Has(noise, "first lines that do not parse: " + dir.File("garbage.log") + ":2 "))
      << noise.output.substr(0, 400);

  // A 10 MB line is one line that does not parse; the log ends in the middle of a line.
  const std::string endless = "192.0.2.1 - - [07/Dec/2026:12:00:01 +0000] \"GET /" +
                              std::string(10 << 20, 'a') + " HTTP/1.1\" 200 5 \"-\" \"x\"\n";
  const std::string cut = Line(3).substr(0, 40);
  WriteFile(dir.File("long.log"), Line(0) + endless + Line(2) + cut);
  const Result longLine = Flowdeck("replay " + Options(dir) + dir.File("long.log"));
  EXPECT_EQ(longLine.status, 0) << longLine.output;
  EXPECT_TRUE(Has(longLine, "lines read: 4 (2 requests, 0 without a request, 2 that do not parse)"))
      << longLine.output;
  EXPECT_TRUE(Has(longLine, dir.File("long.log") + ":2 " + dir.File("long.log") + ":4"))
      << longLine.output;

  // A compressed log cut short: the lines before the cut are read, the cut one is reported.
  std::string many;
  for (int s = 0; s < 2000; ++s) many += Line(s, "/page/" + std::to_string(s));
  WriteFile(dir.File("many.log"), many);
  ASSERT_EQ(
      std::system(("gzip -c " + dir.File("many.log") + " | head -c 6000 >" + dir.File("cut.log.gz"))
                      .c_str()),
      0);
  const Result gz = Flowdeck("replay " + Options(dir) + dir.File("cut.log.gz"));
  EXPECT_EQ(gz.status, 0) << gz.output;
  EXPECT_TRUE(Has(gz, " 1 that do not parse)")) << gz.output;
}

TEST(FlowdeckBadInput, FollowSkipsAnEndlessLineOutlivesItsFileAndStopsOnSigterm) {
  TempDir dir;
  const std::string log = dir.File("access.log");
  const std::string endless = "192.0.2.1 - - [07/Dec/2026:12:00:01 +0000] \"GET /" +
                              std::string(10 << 20, 'a') + " HTTP/1.1\" 200 5 \"-\" \"x\"\n";
  WriteFile(log, Line(0) + endless + Line(2));
  Follow follow(dir, log);
  ASSERT_TRUE(WaitForLines(dir.File("out/KvCorvaneHits.Out"), 2));
  std::FILE *append = std::fopen(log.c_str(), "a");
  std::fputs(Line(3).c_str(), append);
  std::fclose(append);
  ASSERT_TRUE(WaitForLines(dir.File("out/KvCorvaneHits.Out"), 3));
  std::remove(log.c_str());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // a few polls of a missing file
  const Result stopped = follow.Stop();
  EXPECT_EQ(stopped.status, 0) << stopped.output;
  EXPECT_TRUE(Has(stopped, "lines read: 4 (3 requests, 0 without a request, 1 that do not parse)"))
      << stopped.output;
  EXPECT_TRUE(Has(stopped, "first lines that do not parse: " + log + ":2\n")) << stopped.output;
}

// Root reads every file, so "cannot read" is shown with what no user can read as a log: a
// directory. A FIFO is read like a pipe, as a shell's <(zcat log) hands one over.
TEST(FlowdeckBadInput, ADirectoryIsNoLogAndAFifoIsReadLikeAPipe) {
  TempDir dir;
  for (const char *command : {"replay ", "follow "}) {
    const Result result = Flowdeck(command + Options(dir) + dir.Path());
    EXPECT_EQ(result.status, 2) << command << result.output;
    EXPECT_TRUE(Has(result, dir.Path() + ": cannot read: Is a directory")) << result.output;
  }
  const std::string fifo = dir.File("access.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    // Opening without waiting fails until a reader has the FIFO open; give up after 10 s.
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 1000; ++tries) {
      fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(fd, 0) << "flowdeck never opened the FIFO";
    const std::string lines = Line(0) + "\x16\x03\x01 not http\n" + Line(1);
    EXPECT_EQ(write(fd, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    close(fd);
  });
  const Result piped = Flowdeck("replay " + Options(dir) + fifo);
  writer.join();
  EXPECT_EQ(piped.status, 0) << piped.output;
  EXPECT_TRUE(Has(piped, "lines read: 3 (2 requests, 0 without a request, 1 that do not parse)"))
      << piped.output;
}

TEST(FlowdeckBadInput, EachBadSettingIsNamedWithFileAndLineAndExitsTwo) {
  TempDir dir;
  WriteFile(dir.File("access.log"), Line(0));
  const struct {
    std::string content, message;
  } cases[] = {
      {"# tuned\nTrace = False\nColour = red\n", "bad.conf:3: unknown setting 'Colour'"},
      {"\n\nPeriodBase = 99999\n", "bad.conf:3: PeriodBase = '99999': out of range"},
      {"FernwickActive = yes\n", "bad.conf:1: FernwickActive = 'yes': expected True or False"},
      {"Server = a;b\n", "bad.conf:1: Server = 'a;b': a value cannot hold ';'"},
      {std::string("\x7f\x45\x4c\x46\x02\x01\x01\0\0\n", 10), "bad.conf:1: expected 'key = value'"},
  };
  for (const auto &[content, message] : cases) {
    WriteFile(dir.File("bad.conf"), content);
    const Result result = Flowdeck("replay " + Options(dir) + "--config " + dir.File("bad.conf") +
                                   " " + dir.File("access.log"));
    EXPECT_EQ(result.status, 2) << result.output;
    EXPECT_TRUE(Has(result, message)) << result.output;
  }
}

}  // namespace
