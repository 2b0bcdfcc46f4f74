#include "run/FollowedLogs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>

#include "base/Say.h"

namespace host {

FollowedLogs::FollowedLogs(std::ostream &err, double repeatSeconds)
    : err_(err), repeatSeconds_(repeatSeconds) {}

bool FollowedLogs::Due(Problem &problem, int error, double now) const {
  if (error != problem.error) {
    // A new problem, or another reason for it: said after the grace, or at once at the start.
    problem = Problem{error, looked_ ? now : -std::numeric_limits<double>::infinity(), -1};
  }
  if (error == 0) return false;
  const bool due = problem.said < 0 ? now - problem.since >= std::min(kGraceSeconds, repeatSeconds_)
                                    : now - problem.said >= repeatSeconds_;
  if (due) problem.said = now;
  return due;
}

void FollowedLogs::Look(const std::vector<LogStatus> &logs, double now) {
  logs_.resize(logs.size());
  bool noneReadable = !logs.empty();
  for (size_t i = 0; i < logs.size(); ++i) {
    const LogStatus &log = logs[i];
    noneReadable = noneReadable && log.error != 0;
    const bool wasSaid = logs_[i].error != 0 && logs_[i].said >= 0;
    if (Due(logs_[i], log.error, now)) {
      Say(err_, Level::kWarning,
          "cannot read the followed log " + log.path + ": " + Reason(log.path, log.error) +
              "; it is read once it can be");
    } else if (log.error == 0 && wasSaid) {
      Say(err_, Level::kNotice, "the followed log " + log.path + " is readable again");
    }
  }
  if (Due(none_, noneReadable ? 1 : 0, now)) {
    Say(err_, Level::kError,
        logs.size() == 1 ? "the one followed log cannot be read: no request is seen until it can"
                         : "none of the " + std::to_string(logs.size()) +
                               " followed logs can be read: no request is seen until one can");
  }
  looked_ = true;
}

std::string FollowedLogs::Reason(const std::string &path, int error) {
  std::string reason = std::strerror(error);
  if (error != ENOENT) return reason;
  std::string folder = std::filesystem::path(path).parent_path().string();
  if (folder.empty()) return reason;
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0 && errno == ENOENT) {
    reason += " (its folder " + folder + " is missing too)";
  }
  return reason;
}

}  // namespace host
