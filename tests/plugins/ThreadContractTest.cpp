// What plugin.h promises about threads, held against the built plug-ins: an object's visitors
// follow it from thread to thread, the settings stay with the thread that sent CONFIG.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/PluginLoader.h"
#include "support/TempDir.h"

namespace {

using testing_support::Fields;
using testing_support::LoadedPlugin;
using testing_support::ReadLines;
using testing_support::TempDir;
using Lines = std::vector<std::string>;

// Runs calls on a thread of their own; the join orders them before whatever follows.
void OnAnotherThread(const std::function<void()> &calls) {
  std::thread(calls).join();
}

Fields Action(const std::string &action, const std::string &settings = "") {
  Fields fields{};
  fields[0] = action;
  fields[13] = settings;
  return fields;
}

// One object of a plug-in loaded from a directory of the test's own, on a fixed clock.
class PluginObject {
 public:
  PluginObject(const std::string &fileName, const TempDir &dir) : plugin_(fileName, dir.Path()) {
    plugin_.SetClock(&now_);
    object_ = plugin_.Create();
  }
  ~PluginObject() { plugin_.Destroy(object_); }

  void Stream(const Fields &fields) const { EXPECT_EQ(plugin_.Stream(object_, fields), 0); }
  // Three GETs of a visitor 100 ms apart on one path: steady enough for any threshold.
  void SteadyHits(const std::string &key, int second) const {
    for (int i = 0; i < 3; ++i) {
      Fields fields = Action("GET");
      fields[1] = "403051400" + std::to_string(10 + second) + std::to_string(100 + 100 * i);
      fields[2] = key;
      fields[5] = "10.0.0.7";
      fields[8] = "/a/p.htm";
      fields[11] = "shop";
      Stream(fields);
    }
  }
  int32_t Count() const {
    int32_t count = -1;
    EXPECT_EQ(plugin_.Count(object_, &count), 0);
    return count;
  }

 private:
  double now_ = testing_support::LocalDate(2004, 3, 5, 14, 0, 0);
  LoadedPlugin plugin_;
  flowdeck_plugin *object_ = nullptr;
};

size_t LinesWith(const Lines &lines, const std::string &text) {
  return static_cast<size_t>(
      std::count_if(lines.begin(), lines.end(),
                    [&](const std::string &line) { return line.find(text) != std::string::npos; }));
}

TEST(ThreadContract, ShieldSettingsStayWithTheThreadThatSentConfig) {
  TempDir dir;
  testing_support::WriteFile(dir.File("KvVantrel.CFG"),
                             "<TRIPWIRE ACTIVE=\"1\" HOST=\"shop\" RESOURCE=\"/a/*.*\" "
                             "DEFLECT=\"/x/*.htm\" SENSITIVITY=\"0\" STRENGTH=\"0\" "
                             "INVERSE=\"0\" CARRYPARAMETERS=\"0\" />\r\n");
  const std::string settings =
      ";/flowdeck/;filter.dll;AddShield;RemoveShield;0.5;0;3;0;False;/tmp/;";
  const PluginObject shield("KvVantrel.so", dir);
  shield.Stream(Action("CONFIG", settings + "True"));
  OnAnotherThread([&] {
    shield.SteadyHits("v1", 1);
    shield.Stream(Action("CYCLE"));
  });
  EXPECT_EQ(LinesWith(ReadLines(dir.File("KvVantrel.xml")), "<TRIPWIRE "), 0u)
      << "a thread without settings shielded";
  EXPECT_EQ(LinesWith(ReadLines(dir.File("KvVantrelTrace.LOG")), "Cycle Started"), 1u)
      << "a thread without settings traced";
  // The hits went with the object; this thread's settings judge them.
  shield.Stream(Action("CYCLE"));
  EXPECT_EQ(LinesWith(ReadLines(dir.File("KvVantrel.xml")), "<TRIPWIRE "), 1u);
  // A CONFIG sent on the other thread configures that thread.
  OnAnotherThread([&] {
    shield.Stream(Action("CONFIG", settings + "False"));
    shield.SteadyHits("v2", 2);
    shield.Stream(Action("CYCLE"));
  });
  EXPECT_EQ(LinesWith(ReadLines(dir.File("KvVantrel.xml")), "<TRIPWIRE "), 2u);
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvVantrelErrors.LOG")));
}

TEST(ThreadContract, MonitorSettingsStayWithTheThreadThatSentConfig) {
  TempDir dir;
  const PluginObject monitor("KvCorvane.so", dir);
  // Export on; three steady hits rate a visitor 2 and raise an alert.
  monitor.Stream(
      Action("CONFIG", "srv;url;uri;add;remove;1;0.1;3;0;1;" + dir.Path() + "/;0;5;1;0"));
  OnAnotherThread([&] {
    monitor.SteadyHits("k1", 1);
    monitor.Stream(Action("CYCLE"));
  });
  EXPECT_EQ(monitor.Count(), 1);
  EXPECT_EQ(LinesWith(ReadLines(dir.File("KvCorvane.xml")), " LVL=\"0\" "), 1u)
      << "a thread without settings rated";
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvCorvaneAlerts.Out")));
  // The visitor went with the object; this thread's settings rate it and raise its alert. Its
  // requests came on a thread that exports nothing.
  monitor.Stream(Action("CYCLE"));
  EXPECT_EQ(LinesWith(ReadLines(dir.File("KvCorvane.xml")), " LVL=\"2\" "), 1u);
  EXPECT_EQ(ReadLines(dir.File("KvCorvaneAlerts.Out")).size(), 1u);
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvCorvaneHits.Out")));
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvCorvaneErrors.LOG")));
}

}  // namespace
