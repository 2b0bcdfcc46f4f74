#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CallScript.h"
#include "StringPool.h"
#include "clsUsers.h"

namespace fuzzing {

// What the visitor monitor must hold after a script's calls, worked out beside it: the core's
// visitor collection fed the same requests at the same times, whose visitors the fuzz target
// can read, and the export line every exported request must give.
class MonitorModel {
 public:
  // Follows one call that the monitor has just made; monitorCount is its count of visitors
  // after the call.
  void Follow(const ScriptedCall &call, int32_t monitorCount);
  // Every visitor holds between 1 and 500 hits, and the monitor holds as many as the model.
  void CheckVisitors(int32_t monitorCount) const;
  // The export lines of the requests taken while the export was on, in order.
  const std::vector<std::string> &ExportLines() const noexcept { return exportLines_; }

 private:
  void AddRequest(const ScriptedCall &call);

  corvane::StringPool pool_;
  corvane::clsUsers users_{pool_};
  std::vector<std::string> exportLines_;
};

}  // namespace fuzzing
