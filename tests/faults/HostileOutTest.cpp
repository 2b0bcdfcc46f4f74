// What someone else put in flowdeck's run directory or beside its maps: a symbolic link that
// would carry a write elsewhere, a FIFO that would hold an open forever, a directory. The run
// refuses it by name, writes nothing through it and never hangs; what flowdeck makes is for
// its own user and group alone, whatever umask it was started with.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/Port80.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

// Every name that flowdeck or its plug-ins write in --out.
const std::vector<std::string> kWrittenNames = {
    "flowdeck-shields.log", "KvVantrel.so",       "KvCorvane.so",        "flowdeck-shields.tsv",
    "flowdeck.prom",        "flowdeck-run.txt",   "KvVantrel.CFG",       "KvVantrel.xml",
    "KvVantrel.tmp",        "KvVantrelTrace.LOG", "KvVantrelErrors.LOG", "KvCorvane.xml",
    "KvCorvane.tmp",        "KvCorvaneHits.Out",  "KvCorvaneAlerts.Out", "KvCorvaneTrace.LOG",
    "KvCorvaneErrors.LOG"};

constexpr const char *kSecret = "not flowdeck's\n";

// Something that is not a regular file, put where flowdeck writes, and whether it is still
// there as it was put, with whatever it leads to.
struct Intruder {
  const char *kind;
  std::function<void(const std::string &path, const std::string &target)> put;
  std::function<bool(const std::string &path, const std::string &target)> intact;
};

const std::vector<Intruder> &Intruders() {
  static const std::vector<Intruder> intruders = {
      {"symbolic link",
       [](const std::string &path, const std::string &target) {
         WriteFile(target, kSecret);
         fs::create_symlink(target, path);
       },
       [](const std::string &path, const std::string &target) {
         return fs::is_symlink(path) && ReadFile(target) == kSecret;
       }},
      {"FIFO", [](const std::string &path, const std::string &) { mkfifo(path.c_str(), 0600); },
       [](const std::string &path, const std::string &) {
         return fs::is_fifo(fs::symlink_status(path));
       }},
      {"directory",
       [](const std::string &path, const std::string &) {
         fs::create_directory(path);
         WriteFile(path + "/kept", kSecret);
       },
       [](const std::string &path, const std::string &) {
         return fs::is_directory(fs::symlink_status(path)) && ReadFile(path + "/kept") == kSecret;
       }},
  };
  return intruders;
}

// A log of one visitor hitting the admin login every 2 seconds: the sample tripwires shield it.
std::string SteadyLog() {
  std::string log;
  for (int s = 0; s < 40; s += 2) {
    log += "203.0.113.66 - - [07/Dec/2026:12:00:" + std::string(s < 10 ? "0" : "") +
           std::to_string(s) +
           " +0000] \"GET /admin/login.php HTTP/1.1\" 200 512 \"-\" \"curl/8.5.0\"\n";
  }
  return log;
}

// A directory of a test's own: the log, flowdeck.conf (the maps in maps/), the run in out/.
class Scene {
 public:
  Scene() {
    fs::create_directory(dir_.File("maps"));
    WriteFile(dir_.File("access.log"), SteadyLog());
    WriteFile(dir_.File("flowdeck.conf"), "NginxMapFile = " + NginxMap() +
                                              "\nNginxReload =\nNginxTest =\n"
                                              "ApacheMapFile = " +
                                              dir_.File("maps/apache.map") + "\n");
  }
  std::string Out() const { return dir_.File("out"); }
  std::string Out(const std::string &name) const { return dir_.File("out/" + name); }
  std::string NginxMap() const { return dir_.File("maps/nginx.map"); }
  std::string File(const std::string &name) const { return dir_.File(name); }

  std::vector<std::string> Command(const std::string &command) const {
    return {FLOWDECK_BIN,
            command,
            "--quiet",
            "--config",
            dir_.File("flowdeck.conf"),
            "--out",
            Out(),
            "--plugin",
            FLOWDECK_PLUGIN_DIR,
            "--tripwires",
            std::string(FLOWDECK_EXAMPLES) + "/tripwires.cfg"};
  }

  // `flowdeck replay --apply` under a umask, to its end (10 s at most: -1 when it hangs).
  int Replay(std::string &output, const char *umask = "022",
             const std::vector<std::string> &more = {}) const {
    std::vector<std::string> argv = {"sh", "-c", std::string("umask ") + umask + " && exec \"$@\"",
                                     "sh"};
    for (const std::string &arg : Command("replay")) argv.push_back(arg);
    argv.push_back("--apply");
    argv.insert(argv.end(), more.begin(), more.end());
    argv.push_back(dir_.File("access.log"));
    const testing_support::Port80 port80;
    return testing_support::RunProgram(argv, output, 10);
  }

 private:
  TempDir dir_;
};

std::string Mode(const std::string &path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return "missing";
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(info.st_mode & 07777));
  return text;
}

bool WaitUntil(const std::function<bool()> &condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

TEST(HostileOut, EachNameFlowdeckWritesRefusesALinkAFifoAndADirectoryByName) {
  for (const Intruder &intruder : Intruders()) {
    for (const std::string &name : kWrittenNames) {
      SCOPED_TRACE(std::string(intruder.kind) + " at " + name);
      const Scene scene;
      fs::create_directory(scene.Out());
      intruder.put(scene.Out(name), scene.File("target"));
      std::string output;
      EXPECT_EQ(scene.Replay(output), 1) << output;
      EXPECT_NE(output.find(scene.Out(name) + " is a "), std::string::npos) << output;
      EXPECT_TRUE(intruder.intact(scene.Out(name), scene.File("target")));
      const char *snapshot = name == "KvCorvane.xml" ? "KvCorvaneHits.Out" : "KvCorvane.xml";
      EXPECT_FALSE(fs::exists(scene.Out(snapshot))) << "the run went on";
    }
  }
}

TEST(HostileOut, AMapThatIsNoRegularFileIsRefusedAndTheOldTemporaryNameIsNoTrap) {
  for (const Intruder &intruder : Intruders()) {
    SCOPED_TRACE(intruder.kind);
    {
      const Scene scene;
      intruder.put(scene.NginxMap(), scene.File("target"));
      std::string output;
      EXPECT_EQ(scene.Replay(output), 1) << output;
      EXPECT_NE(output.find("refusing to replace " + scene.NginxMap() + ": it is a "),
                std::string::npos)
          << output;
      EXPECT_TRUE(intruder.intact(scene.NginxMap(), scene.File("target")));
    }
    // The temporary file flowdeck once wrote under a fixed name: now it is not its name.
    const Scene scene;
    const std::string fixed = scene.NginxMap() + ".flowdeck-new";
    intruder.put(fixed, scene.File("target"));
    std::string output;
    ASSERT_EQ(scene.Replay(output), 0) << output;
    EXPECT_TRUE(intruder.intact(fixed, scene.File("target")));
    EXPECT_NE(ReadFile(scene.NginxMap()).find("203.0.113.66"), std::string::npos);
    const auto beside = fs::directory_iterator(scene.File("maps"));
    const auto besideMap = std::distance(fs::begin(beside), fs::end(beside));
    EXPECT_EQ(besideMap, 3) << "the two maps and the intruder, no temporary file left";
  }
}

TEST(HostileOut, FilesAre0640AndTheRunDirectory0750WhateverTheUmaskMapsAre0644) {
  for (const char *umask : {"000", "022"}) {
    SCOPED_TRACE(std::string("umask ") + umask);
    const Scene scene;
    std::string output;
    ASSERT_EQ(scene.Replay(output, umask, {"--metrics", scene.File("node.prom")}), 0) << output;
    EXPECT_EQ(Mode(scene.Out()), "0750");
    size_t files = 0;
    for (const auto &entry : fs::directory_iterator(scene.Out())) {
      EXPECT_EQ(Mode(entry.path()), "0640") << entry.path();
      ++files;
    }
    EXPECT_GE(files, 11u);
    EXPECT_NE(ReadFile(scene.Out("KvVantrel.xml")).find("203.0.113.66"), std::string::npos);
    // Read by the web server and node_exporter, as users of their own.
    EXPECT_EQ(Mode(scene.NginxMap()), "0644");
    EXPECT_EQ(Mode(scene.File("maps/apache.map")), "0644");
    EXPECT_EQ(Mode(scene.File("node.prom")), "0644");
  }
  // Files an earlier flowdeck left readable by everyone are taken back.
  const Scene scene;
  fs::create_directory(scene.Out());
  WriteFile(scene.Out("KvCorvaneHits.Out"), "");
  chmod(scene.Out("KvCorvaneHits.Out").c_str(), 0644);
  std::string output;
  ASSERT_EQ(scene.Replay(output), 0) << output;
  EXPECT_EQ(Mode(scene.Out("KvCorvaneHits.Out")), "0640");
}

TEST(HostileOut, DuringAFollowALinkIsNotWrittenThroughAndSigintEndsIt) {
  const Scene scene;
  // FIFOs where flowdeck once made its temporary maps.
  mkfifo((scene.NginxMap() + ".flowdeck-new").c_str(), 0600);
  mkfifo((scene.File("maps/apache.map") + ".flowdeck-new").c_str(), 0600);
  std::vector<std::string> argv = scene.Command("follow");
  for (const char *arg : {"--cycle", "1", "--from-start"}) argv.push_back(arg);
  argv.push_back(scene.File("access.log"));
  const testing_support::Port80 port80;
  testing_support::ChildProcess follow(argv, scene.File("follow.out"));
  ASSERT_TRUE(follow.Started()) << follow.Problem();
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(scene.Out("flowdeck.prom")); }))
      << ReadFile(scene.File("follow.out"));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(scene.NginxMap())));

  // Links put in place of the metrics and the hit export while it runs.
  WriteFile(scene.File("target"), kSecret);
  for (const char *name : {"flowdeck.prom", "KvCorvaneHits.Out"}) {
    fs::remove(scene.Out(name));
    fs::create_symlink(scene.File("target"), scene.Out(name));
  }
  std::FILE *log = std::fopen(scene.File("access.log").c_str(), "a");
  std::fputs(SteadyLog().c_str(), log);
  std::fclose(log);
  EXPECT_TRUE(WaitUntil([&] {
    return ReadFile(scene.File("follow.out"))
               .find("cannot write the metrics " + scene.Out("flowdeck.prom") +
                     ": is a symbolic link") != std::string::npos;
  })) << ReadFile(scene.File("follow.out"));
  EXPECT_TRUE(WaitUntil([&] {
    return ReadFile(scene.Out("KvCorvaneErrors.LOG")).find(scene.Out("KvCorvaneHits.Out")) !=
           std::string::npos;
  })) << ReadFile(scene.Out("KvCorvaneErrors.LOG"));

  const int status = follow.Stop(SIGINT, 10);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n"
                                                             << ReadFile(scene.File("follow.out"));
  EXPECT_EQ(ReadFile(scene.File("target")), kSecret);
  EXPECT_TRUE(fs::is_symlink(scene.Out("flowdeck.prom")));
}

}  // namespace
