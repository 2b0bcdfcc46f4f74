#pragma once

#include "support/WellFormedXml.h"

#include <sys/resource.h>

#include <csignal>
#include <string>
#include <string_view>
#include <vector>

#include "support/PluginLoader.h"
#include "support/TempDir.h"

namespace faults {

using testing_support::Fields;
using Lines = std::vector<std::string>;

// The serial of 5 March 2004 14:00:00 plus some seconds and milliseconds.
std::string Serial(int seconds, int milliseconds = 0);

// A GET of visitor `key` from address `address`, on host "shop".
Fields Request(const std::string &key, const std::string &serial, const std::string &path,
               const std::string &address = "10.0.0.7");
// A control action; the text goes where "CONFIG" reads its settings.
Fields Action(const std::string &action, const std::string &text = "");

// The shield plug-in's settings: 3 steady hits shield a visitor; shield requests go to server.
std::string ShieldSettings(const std::string &server, bool trace);
// The monitor's settings: export on into exportDirectory (with its "/"); three steady hits
// rate a visitor 2 and raise an alert.
std::string MonitorSettings(const std::string &exportDirectory, bool trace);
// A definitions file line watching the masks under /a/ on host "shop".
std::string TripwireDefinition();

// One object of a plug-in, loaded from its shared object copied into a directory, on a clock
// the test moves.
class PluginObject {
 public:
  PluginObject(const std::string &fileName, const std::string &directory);
  ~PluginObject();
  PluginObject(const PluginObject &) = delete;
  PluginObject &operator=(const PluginObject &) = delete;

  // What the host gets back: 0 for success.
  int Stream(const Fields &fields) const { return plugin_.Stream(object_, fields); }
  // Three requests 100 ms apart on one path: enough for a shield and a level 2.
  void SteadyHits(const std::string &key, int second, const std::string &path = "/a/p.htm");

  double now;

 private:
  testing_support::LoadedPlugin plugin_;
  flowdeck_plugin *object_ = nullptr;
};

// While it lives, no file this process writes can grow past a size: a write beyond it fails
// with EFBIG, as on a full disk. The hard limit stays, so the limit can be lifted again.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes);
  ~FileSizeLimit() { Lift(); }
  FileSizeLimit(const FileSizeLimit &) = delete;
  FileSizeLimit &operator=(const FileSizeLimit &) = delete;
  void Lift();

 private:
  rlimit saved_{};
  void (*savedHandler_)(int) = SIG_DFL;
  bool active_ = false;
};

// Moves a directory away and puts a regular file under its name, so that every file call into
// it fails; puts the directory back when asked or at the latest when it goes.
class DirectoryReplacedByFile {
 public:
  explicit DirectoryReplacedByFile(std::string directory);
  ~DirectoryReplacedByFile() { Restore(); }
  DirectoryReplacedByFile(const DirectoryReplacedByFile &) = delete;
  DirectoryReplacedByFile &operator=(const DirectoryReplacedByFile &) = delete;
  void Restore();

 private:
  std::string directory_;
  bool replaced_ = false;
};

// The lines that hold a text.
Lines LinesWith(const Lines &lines, std::string_view text);
// How often a text occurs in a file's content.
size_t Occurrences(const std::string &content, std::string_view text);
// Parses an XML file with xmllint or Python; skips the calling test when neither exists.
using testing_support::ExpectWellFormedXml;

}  // namespace faults
