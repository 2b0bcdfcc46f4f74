#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace host {

// The lines each plug-in appends to its error log in the run directory (KvVantrelErrors.LOG,
// KvCorvaneErrors.LOG) while the run lasts: a plug-in that fails a call says so there and goes
// on. Read from where the last reading stopped, once a cycle, never per request.
class PluginErrorLogs {
 public:
  struct Log {
    std::string plugin;  // "KvVantrel"
    std::string path;
    uint64_t lines = 0;  // written since the run started
    off_t read = 0;      // bytes of the file taken into account
    ino_t inode = 0;     // the file they were read from; 0: none
  };

  // `fresh`: the run removed the logs of any earlier one when it started, so all they hold is
  // its own; otherwise (a follow that carries on) counting starts where each log ends now.
  PluginErrorLogs(const std::string &runDirectory, bool fresh);

  // Counts the lines appended since the last call. A log that was removed, replaced or cut
  // short is counted afresh from its start.
  void Update();

  const std::vector<Log> &Logs() const { return logs_; }

 private:
  static void Read(Log &log, bool count);

  std::vector<Log> logs_;
};

}  // namespace host
