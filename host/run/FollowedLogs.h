#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "input/LineSource.h"

namespace host {

// Says which followed logs cannot be read and why, so that a follow never watches nothing
// without a word: each such log at the start, again every `repeatSeconds` while it lasts, and
// once when it can be read again. A log that becomes unreadable during the run is named once
// that has lasted a moment (kGraceSeconds): a rotation leaves the name without a file for far
// less. When no followed log can be read, that is said at error level too.
class FollowedLogs {
 public:
  static constexpr double kGraceSeconds = 2;

  FollowedLogs(std::ostream &err, double repeatSeconds);

  // Looks at the logs as they stand at `now` (seconds on a clock that never steps) and says
  // what is due. The logs come in the same order at every look.
  void Look(const std::vector<LogStatus> &logs, double now);

  // Why a log cannot be read, as a person reads it: the system's text for `error`, with the
  // folder named when the file is missing because its folder is.
  static std::string Reason(const std::string &path, int error);

 private:
  // A problem that lasts: when it began and when it was last said.
  struct Problem {
    int error = 0;
    double since = 0;
    double said = -1;  // -1: not said yet
  };

  // Tracks `problem` to `error`; true when it is to be said now.
  bool Due(Problem &problem, int error, double now) const;

  std::ostream &err_;
  double repeatSeconds_;
  bool looked_ = false;
  std::vector<Problem> logs_;
  Problem none_;  // no log can be read
};

}  // namespace host
