// The definitions file as flowdeck hands it to the shield plug-in: checked first, a file with a
// fault refused at the start (exit status 2, its line and attribute named) and at a reload
// (SIGHUP or the file changed while following: the running tripwires stay, the error is said),
// so that the plug-in never reads one and never writes an error per request.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/ChildProcess.h"
#include "support/Port80.h"
#include "support/TempDir.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;

// A file of one active tripwire on line 3, one attribute's value set as `name`="value" says.
std::string Tripwire(const std::string &resource, const std::string &name = "",
                     const std::string &value = "") {
  std::string element = "<TRIPWIRE ACTIVE=\"True\" DESCRIPTION=\"trap\" HOST=\"\" RESOURCE=\"" +
                        resource +
                        "\" DEFLECT=\"/sorry/*.htm\" SENSITIVITY=\"5\" STRENGTH=\"2\" "
                        "INVERSE=\"False\" CARRYPARAMETERS=\"False\" />";
  if (!name.empty()) {
    const size_t start = element.find(" " + name + "=\"") + name.size() + 3;
    element.replace(start, element.find('"', start) - start, value);
  }
  return "<?xml version=\"1.0\"?>\n<TRIPWIRES>\n" + element + "\n</TRIPWIRES>\n";
}

// The file with SENSITIVITY misspelt, as it was found in a real one.
std::string Misspelt(const std::string &resource) {
  std::string text = Tripwire(resource);
  return text.replace(text.find("SENSITIVITY="), 12, "SENSITIVTY=");
}

std::string LineNow(const std::string &address, const std::string &path) {
  char time[64];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(time, sizeof time, "[%d/%b/%Y:%H:%M:%S %z]", &local);
  return address + " - - " + time + " \"GET " + path + " HTTP/1.1\" 200 5 \"-\" \"agent\"\n";
}

void Append(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::app) << text;
}

bool WaitFor(const std::string &path, const std::string &text, double seconds = 10) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (ReadFile(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

size_t Count(const std::string &text, const std::string &part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(TripwireFile, AFaultEndsTheRunAtTheStartWithItsLineAndAttributeBeforeThePluginSeesIt) {
  testing_support::Port80 port80;
  TempDir dir;
  struct Case {
    std::string text, said;
  };
  const Case cases[] = {
      {Misspelt("/trap/*.*"), ":3: SENSITIVTY is no TRIPWIRE attribute"},
      {Tripwire("/trap/*.*", "SENSITIVITY", "five"), ":3: SENSITIVITY=\"five\" is not a number"},
      {Tripwire("/trap/"), ":3: RESOURCE=\"/trap/\" never fits a request"},
      {Tripwire("/trap/*.*", "DEFLECT", "/so*ry/*.htm"), ":3: DEFLECT=\"/so*ry/*.htm\" is refused"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::string tripwires = dir.File("bad" + std::to_string(i) + ".cfg");
    const std::string out = dir.File("out" + std::to_string(i));
    testing_support::WriteFile(tripwires, cases[i].text);
    std::string output;
    const int status = testing_support::RunProgram(
        {FLOWDECK_BIN, "replay", "--out", out, "--plugin", FLOWDECK_PLUGIN_DIR, "--tripwires",
         tripwires, FLOWDECK_EXAMPLES "/sample.log"},
        output);
    EXPECT_EQ(status, 2) << output;
    EXPECT_NE(output.find(tripwires + cases[i].said), std::string::npos) << output;
    EXPECT_FALSE(std::filesystem::exists(out + "/KvVantrel.CFG")) << "handed over";
    EXPECT_FALSE(std::filesystem::exists(out + "/KvVantrelErrors.LOG"));
  }
  // follow alike, before it follows anything.
  const std::string log = dir.File("site.log");
  Append(log, "");
  std::string output;
  const int status = testing_support::RunProgram(
      {FLOWDECK_BIN, "follow", "--out", dir.File("out-follow"), "--plugin", FLOWDECK_PLUGIN_DIR,
       "--tripwires", dir.File("bad0.cfg"), log},
      output, 30);
  EXPECT_EQ(status, 2) << output;
  EXPECT_NE(output.find(dir.File("bad0.cfg") + cases[0].said), std::string::npos) << output;
}

TEST(TripwireFile, TheExamplesAreHandedOverUnchangedAndTheSampleGivesThePluginNoError) {
  testing_support::Port80 port80;
  TempDir dir;
  std::string output;
  const int status = testing_support::RunProgram(
      {FLOWDECK_BIN, "replay", "--quiet", "--out", dir.File("out"), "--plugin", FLOWDECK_PLUGIN_DIR,
       "--tripwires", FLOWDECK_EXAMPLES "/tripwires.cfg", FLOWDECK_EXAMPLES "/sample.log"},
      output);
  ASSERT_EQ(status, 0) << output;
  EXPECT_EQ(ReadFile(dir.File("out/KvVantrel.CFG")), ReadFile(FLOWDECK_EXAMPLES "/tripwires.cfg"));
  EXPECT_EQ(ReadFile(dir.File("out/KvVantrelErrors.LOG")), "");
}

TEST(TripwireFile, AFaultAtAReloadKeepsTheRunningTripwiresWhichStillShield) {
  testing_support::Port80 port80;
  TempDir dir;
  const std::string log = dir.File("site.log"), output = dir.File("output");
  const std::string tripwires = dir.File("tripwires.cfg"), copy = dir.File("out/KvVantrel.CFG");
  Append(log, "");
  // Four hits at any pace shield: the plug-in's own test, nothing of flowdeck's.
  testing_support::WriteFile(dir.File("flowdeck.conf"),
                             "Server = 127.0.0.2\nPeriodBase = 4\nPeriodIncrement = 0\n"
                             "ThresholdBase = -2\nThresholdIncrement = 0\nNeverShield =\n"
                             "PaceTest = False\n");
  const std::string running = Tripwire("/trap/*.*");
  testing_support::WriteFile(tripwires, running);
  testing_support::ChildProcess follow(
      {FLOWDECK_BIN, "follow", "--cycle", "1", "--config", dir.File("flowdeck.conf"), "--out",
       dir.File("out"), "--plugin", FLOWDECK_PLUGIN_DIR, "--tripwires", tripwires, log},
      output);
  ASSERT_TRUE(follow.Started()) << follow.Problem();
  ASSERT_TRUE(WaitFor(output, "watching 1 active tripwire")) << ReadFile(output);

  // SIGHUP with a misspelt attribute (and another mask): refused as a whole.
  testing_support::WriteFile(tripwires, Misspelt("/elsewhere/*.*"));
  kill(follow.Pid(), SIGHUP);
  EXPECT_TRUE(WaitFor(output,
                      "error: the settings and tripwires were not reloaded, the running "
                      "ones stay: " +
                          tripwires + ":3: SENSITIVTY is no TRIPWIRE attribute"))
      << ReadFile(output);
  for (int i = 0; i < 5; ++i) {
    Append(log, LineNow("198.51.100.9", "/trap/a.htm"));
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  EXPECT_TRUE(WaitFor(output, "shield: 198.51.100.9 on localhost/trap/a.htm -> /sorry/a.htm"))
      << ReadFile(output);
  EXPECT_EQ(ReadFile(copy), running);

  // Changed without a signal: the same, said once.
  testing_support::WriteFile(tripwires, Tripwire("/trap/*.*", "DEFLECT", "/so*ry/x.htm"));
  const std::string changed = tripwires +
                              " changed and is not used, the running tripwires stay: " + tripwires +
                              ":3: DEFLECT=\"/so*ry/x.htm\" is refused by the plug-in";
  EXPECT_TRUE(WaitFor(output, changed)) << ReadFile(output);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(Count(ReadFile(output), changed), 1u) << ReadFile(output);
  EXPECT_EQ(ReadFile(copy), running);

  // Mended: handed over without a signal.
  const std::string mended = Tripwire("/elsewhere/*.*");
  testing_support::WriteFile(tripwires, mended);
  EXPECT_TRUE(WaitFor(output, tripwires + " changed: its tripwires are read at the next shield "
                                          "cycle"))
      << ReadFile(output);
  EXPECT_EQ(ReadFile(copy), mended);
  EXPECT_EQ(Count(ReadFile(output), "watching 1 active tripwire"), 2u) << ReadFile(output);

  const int status = follow.Stop(SIGTERM);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(output);
  EXPECT_EQ(ReadFile(dir.File("out/KvVantrelErrors.LOG")), "") << "an error per request";
}

}  // namespace
