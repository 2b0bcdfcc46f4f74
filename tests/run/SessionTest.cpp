// A session over the recording plug-ins: the run directory it prepares, which requests reach the
// plug-ins and which are counted instead, a clock that never goes back, and a reload that hands
// the plug-ins their settings anew only when theirs changed.
#include "run/Session.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "RecordingRun.h"
#include "support/TempDir.h"

namespace {

using testing_support::FileExists;
using testing_support::RecordedCall;
using testing_support::RecordedCalls;
using testing_support::ScriptedSource;
using testing_support::TempDir;

// A parsed request line at the start of the run.
struct Line {
  host::LogRecord record;
  Line(const std::string &client, const std::string &target) : client_(client), target_(target) {
    record.client = client_;
    record.method = "GET";
    record.target = target_;
    record.protocol = "HTTP/1.1";
    record.status = "200";
    record.time = {2026, 12, 7, 12, 0, 0, 0, 0};
  }

 private:
  std::string client_, target_;
};

std::vector<std::string> Actions(const std::vector<RecordedCall> &calls) {
  std::vector<std::string> actions;
  for (const RecordedCall &call : calls) actions.push_back(call.action + " " + call.address);
  return actions;
}

std::string ThrownBy(const host::SessionOptions &options) {
  std::ostringstream out, err;
  try {
    host::Session session(options, host::HostConfig(), out, err);
  } catch (const std::runtime_error &error) {
    return error.what();
  }
  return "";
}

TEST(Session, PreparesItsRunDirectoryOrSaysWhyNot) {
  TempDir dir;
  std::ostringstream out, err;
  {
    // Made when missing, parents and all, closed to others: it holds visitors' addresses.
    const std::string run = dir.File("a/b/run");
    host::Session session(testing_support::RecordingOptions(run), host::HostConfig(), out, err);
    struct stat status {};
    ASSERT_EQ(stat(run.c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(status.st_mode & 0027, 0u);
    EXPECT_TRUE(FileExists(run + "/RecordingShield.so"));
    EXPECT_TRUE(FileExists(run + "/RecordingMonitor.so"));
    EXPECT_EQ(session.ExportPrefix(), run + "/");
  }
  // A fresh start clears what a run before left; a restore carries on from it. Files that are
  // not a run's own are left alone either way.
  for (const bool restore : {true, false}) {
    const std::string run = dir.File(restore ? "restored" : "fresh");
    ASSERT_EQ(mkdir(run.c_str(), 0750), 0);
    testing_support::WriteFile(run + "/KvVantrelErrors.LOG", "before\n");
    testing_support::WriteFile(run + "/notes.txt", "mine\n");
    host::SessionOptions options = testing_support::RecordingOptions(run);
    options.restore = restore;
    host::Session session(options, host::HostConfig(), out, err);
    EXPECT_EQ(FileExists(run + "/KvVantrelErrors.LOG"), restore) << run;
    EXPECT_TRUE(FileExists(run + "/notes.txt")) << run;
  }
  // A file in the way, and plug-ins given the wrong way round.
  testing_support::WriteFile(dir.File("plain"), "");
  EXPECT_NE(ThrownBy(testing_support::RecordingOptions(dir.File("plain")))
                .find("cannot create the output directory"),
            std::string::npos);
  host::SessionOptions swapped = testing_support::RecordingOptions(dir.File("swapped"));
  std::swap(swapped.shieldPlugin, swapped.monitorPlugin);
  EXPECT_NE(ThrownBy(swapped).find("KvVantrel.Vantrel"), std::string::npos);
}

TEST(Session, RequestsAreStreamedIgnoredOrTakenAsTheShieldPluginsOwn) {
  TempDir dir;
  std::ostringstream out, err;
  host::HostConfig config;
  config.Set("IgnoreAddresses", "192.0.2.128/25", "the test");
  host::Session session(testing_support::RecordingOptions(dir.Path()), config, out, err);
  session.UseHostClock(ScriptedSource::At(0));
  session.Configure();
  const std::string keyed =
      testing_support::KeyedShieldTarget(dir.Path(), "B=203.0.113.9&D=shop.example&E=%2F");
  ASSERT_FALSE(keyed.empty());

  session.Request(Line("192.0.2.1", "/").record);    // streamed
  session.Request(Line("192.0.2.200", "/").record);  // ignored
  session.Request(Line("192.0.2.127", "/").record);  // just outside the ignored range
  // Without the key, or with it from elsewhere than this machine: forged, and streamed as the
  // visitor's request it is.
  session.Request(Line("192.0.2.2", "/flowdeck/shield?A=add&B=203.0.113.9").record);
  session.Request(Line("192.0.2.3", keyed).record);
  // With the key from this machine: the plug-in's own, kept for the next cycle, not streamed.
  session.Request(Line("127.0.0.1", keyed).record);
  session.Settle();

  const std::vector<std::string> streamed{"CONFIG ", "GET 192.0.2.1", "GET 192.0.2.127",
                                          "GET 192.0.2.2", "GET 192.0.2.3"};
  EXPECT_EQ(Actions(RecordedCalls(dir.Path(), "shield", ScriptedSource::kStart)), streamed);
  EXPECT_EQ(Actions(RecordedCalls(dir.Path(), "monitor", ScriptedSource::kStart)), streamed);
  EXPECT_EQ(session.Requests(), 4u);
  EXPECT_EQ(session.Ignored(), 1u);
  EXPECT_EQ(session.LoggedForgedRequests(), 2u);
  EXPECT_EQ(session.LoggedShieldRequests(), 1u);
  EXPECT_FALSE(session.Shields().Shielded("203.0.113.9"));
  session.ShieldCycle();
  EXPECT_TRUE(session.Shields().Shielded("203.0.113.9"));
}

TEST(Session, TheClockNeverGoesBack) {
  TempDir dir;
  std::ostringstream out, err;
  host::Session session(testing_support::RecordingOptions(dir.Path()), host::HostConfig(), out,
                        err);
  session.UseHostClock(ScriptedSource::At(10));
  session.AdvanceClock(ScriptedSource::At(9));
  EXPECT_EQ(session.Clock(), ScriptedSource::At(10).local);
  EXPECT_EQ(session.UtcMilliseconds(), ScriptedSource::At(10).utcMilliseconds);
  // Each form on its own: a local clock that stepped back leaves the UTC one to move on.
  session.AdvanceClock({ScriptedSource::At(5).local, ScriptedSource::At(20).utcMilliseconds});
  EXPECT_EQ(session.Clock(), ScriptedSource::At(10).local);
  EXPECT_EQ(session.UtcMilliseconds(), ScriptedSource::At(20).utcMilliseconds);
  session.AdvanceClock(ScriptedSource::At(30));
  EXPECT_EQ(session.Clock(), ScriptedSource::At(30).local);
}

TEST(Session, AReloadHandsThePluginsTheirSettingsAnewOnlyWhenTheirsChanged) {
  TempDir dir;
  std::ostringstream out, err;
  host::HostConfig config;
  host::Session session(testing_support::RecordingOptions(dir.Path()), config, out, err);
  session.UseHostClock(ScriptedSource::At(0));
  session.Configure();
  auto configs = [&](const std::string &role) {
    session.Settle();
    const std::vector<RecordedCall> calls = RecordedCalls(dir.Path(), role, ScriptedSource::kStart);
    return std::count_if(calls.begin(), calls.end(),
                         [](const RecordedCall &call) { return call.action == "CONFIG"; });
  };

  // flowdeck's own settings keep every visitor; the log's format waits for a restart.
  config.Set("ShieldSeconds", "60", "the test");
  config.Set("LogFormat", "combined", "the test");
  const std::string kept = session.Reload(config, "");
  EXPECT_NE(kept.find("LogFormat changed"), std::string::npos) << kept;
  EXPECT_NE(kept.find("every visitor is kept"), std::string::npos) << kept;
  EXPECT_EQ(configs("shield"), 1);
  EXPECT_EQ(configs("monitor"), 1);

  // A setting only the monitor reads still goes to both.
  config.Set("Sensitivity", "7", "the test");
  const std::string afresh = session.Reload(config, "");
  EXPECT_NE(afresh.find("start their visitors afresh"), std::string::npos) << afresh;
  EXPECT_EQ(configs("shield"), 2);
  EXPECT_EQ(configs("monitor"), 2);
  EXPECT_NE(testing_support::ReadFile(dir.File("monitor-config.txt")).find(";7;"),
            std::string::npos);
}

}  // namespace
