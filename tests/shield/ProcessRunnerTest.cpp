// The programs the shield actions run: no shell, their own environment, a time limit.
#include "shield/ProcessRunner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "shield/CommandWords.h"
#include "support/TempDir.h"

namespace {

using host::ProcessOutcome;
using host::ProcessRunner;
using host::SplitCommandWords;
using namespace std::chrono_literals;

using Words = std::vector<std::string>;

TEST(CommandWords, SplitsAtBlanksAndKeepsQuotedBlanks) {
  EXPECT_EQ(SplitCommandWords("nginx -s reload"), (Words{"nginx", "-s", "reload"}));
  EXPECT_EQ(SplitCommandWords("  /usr/bin/x\t a  "), (Words{"/usr/bin/x", "a"}));
  EXPECT_EQ(SplitCommandWords("'/opt/my scripts/x' \"a b\"c ''"),
            (Words{"/opt/my scripts/x", "a bc", ""}));
  // Nothing a shell would read is special here.
  EXPECT_EQ(SplitCommandWords("x $(id) ;|&"), (Words{"x", "$(id)", ";|&"}));
  EXPECT_THROW(SplitCommandWords("x 'y"), std::invalid_argument);
  EXPECT_THROW(SplitCommandWords("   "), std::invalid_argument);
}

TEST(ProcessRunner, ReportsExitStatusAndTheFirstLineOfOutput) {
  const ProcessRunner runner(10s);
  ProcessOutcome ok = runner.Run({"true"});
  EXPECT_TRUE(ok.Succeeded()) << ok.problem;
  EXPECT_EQ(ok.exitStatus, 0);

  ProcessOutcome failed = runner.Run({"sh", "-c", "echo; echo 'it broke' >&2; exit 3"});
  EXPECT_TRUE(failed.started);
  EXPECT_EQ(failed.exitStatus, 3);
  EXPECT_EQ(failed.problem,
            "'sh -c echo; echo 'it broke' >&2; exit 3' exited with status 3: it broke");

  ProcessOutcome signalled = runner.Run({"sh", "-c", "kill -TERM $$"});
  EXPECT_EQ(signalled.problem, "'sh -c kill -TERM $$' was ended by signal 15 (Terminated)");

  ProcessOutcome missing = runner.Run({"no-such-program-flowdeck"});
  EXPECT_FALSE(missing.started);
  EXPECT_EQ(missing.problem,
            "cannot run 'no-such-program-flowdeck': 'no-such-program-flowdeck' is not on PATH");
  ProcessOutcome notRunnable = runner.Run({"/etc"});
  EXPECT_FALSE(notRunnable.started);
  EXPECT_EQ(notRunnable.problem, "cannot run '/etc': Permission denied");
}

TEST(ProcessRunner, PassesValuesAsTheyAreWithoutAShell) {
  const ProcessRunner runner(10s);
  const std::string hostile = "a'b\"c;d|e$(touch /tmp/flowdeck-pwned)`id`\r\nf g";
  ProcessOutcome argument = runner.Run({"printf", "%s", hostile});
  EXPECT_EQ(argument.output, hostile);
  ProcessOutcome variable =
      runner.Run({"sh", "-c", "printf %s \"$FLOWDECK_X\""}, {"FLOWDECK_X=" + hostile});
  EXPECT_EQ(variable.output, hostile);
  EXPECT_FALSE(testing_support::FileExists("/tmp/flowdeck-pwned"));
  // The given variables win over inherited ones; the others are inherited.
  setenv("FLOWDECK_TEST_INHERITED", "from flowdeck", 1);
  ProcessOutcome merged = runner.Run(
      {"sh", "-c", "printf '%s|%s' \"$HOME\" \"$FLOWDECK_TEST_INHERITED\""}, {"HOME=/nowhere"});
  EXPECT_EQ(merged.output, "/nowhere|from flowdeck");
  unsetenv("FLOWDECK_TEST_INHERITED");
}

TEST(ProcessRunner, FeedsLargeInputWhileReadingOutput) {
  const ProcessRunner runner(20s);
  std::string input;
  for (int i = 0; i < 50000; ++i) input += "line " + std::to_string(i) + "\n";
  // cat answers while it reads: with input and output both larger than a pipe holds, a runner
  // that wrote everything before reading would wait for ever.
  ProcessOutcome echoed = runner.Run({"cat"}, {}, input);
  EXPECT_TRUE(echoed.Succeeded()) << echoed.problem;
  EXPECT_EQ(echoed.output, input.substr(0, echoed.output.size()));
  EXPECT_EQ(echoed.output.size(), 4096u);
  // A program that reads nothing: its closed pipe must not end flowdeck with SIGPIPE.
  ProcessOutcome ignored = runner.Run({"sh", "-c", "exec 0<&-; sleep 0.2"}, {}, input);
  EXPECT_TRUE(ignored.Succeeded()) << ignored.problem;
}

bool Gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string skip, state;
  if (!(stat >> skip >> skip >> state)) return true;
  return state == "Z";
}

TEST(ProcessRunner, KillsAProgramAndWhatItStartedAtTheTimeLimit) {
  testing_support::TempDir dir;
  const ProcessRunner runner(300ms);
  const auto start = std::chrono::steady_clock::now();
  ProcessOutcome hung =
      runner.Run({"sh", "-c", "sleep 30 & echo $! > " + dir.File("pid") + "; echo waiting; wait"});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(hung.timedOut);
  EXPECT_EQ(hung.output, "waiting\n");
  EXPECT_EQ(hung.problem.substr(hung.problem.find("was")),
            "was still running after 300 ms and was killed");
  EXPECT_LT(took, 3s);
  const pid_t background = std::atoi(testing_support::ReadFile(dir.File("pid")).c_str());
  ASSERT_GT(background, 0);
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!Gone(background) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(Gone(background)) << "the program's own child outlived the time limit";

  // A program that leaves a child holding its output behind is done when it exits.
  const auto detachedStart = std::chrono::steady_clock::now();
  ProcessOutcome detached = ProcessRunner(10s).Run({"sh", "-c", "sleep 3 & echo started"});
  EXPECT_TRUE(detached.Succeeded()) << detached.problem;
  EXPECT_LT(std::chrono::steady_clock::now() - detachedStart, 2s);
}

TEST(ProcessRunner, LeavesNoOtherDescriptorOpenInTheProgram) {
  const int fd = open("/dev/null", O_RDONLY);  // as a plug-in might: without close-on-exec
  ASSERT_GE(fd, 0);
  const int high = dup2(fd, 57);
  close(fd);
  ProcessOutcome listing = ProcessRunner(10s).Run({"ls", "/proc/self/fd"});
  close(high);
  EXPECT_EQ(listing.output.find("57"), std::string::npos) << listing.output;
  EXPECT_NE(listing.output.find("0\n1\n2\n"), std::string::npos) << listing.output;
}

}  // namespace
