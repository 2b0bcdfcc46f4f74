#include "base/RunFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>

#include "OwnFiles.h"
#include "Posix.h"
#include "base/Error.h"

namespace host {

namespace {

// The largest file flowdeck copies into a run directory (a plug-in, the tripwires) or reads
// back whole from it (the run file).
constexpr size_t kLargestFile = 256u << 20;

// Takes away what everyone else may do with a regular file of flowdeck's: exports written by an
// earlier version were readable by all. Best effort, never through a symbolic link.
void KeepFromOthers(const std::string &path) {
  const int fd = common::Posix().open(path.c_str(), O_RDONLY, 0);
  if (fd < 0) return;
  struct stat file {};
  if (fstat(fd, &file) == 0 && S_ISREG(file.st_mode) && (file.st_mode & S_IRWXO) != 0) {
    fchmod(fd, file.st_mode & 07770);
  }
  common::Posix().close(fd);
}

}  // namespace

RunFiles::RunFiles(std::string directory, std::string exportPrefix)
    : directory_(std::move(directory)), exportPrefix_(std::move(exportPrefix)) {
  if (exportPrefix_.empty()) exportPrefix_ = directory_ + "/";
}

RunFiles RunFiles::Of(const std::string &directory, const RunInfo &info) {
  const auto prefix = info.find(kExportPath);
  return RunFiles(directory, prefix == info.end() ? "" : prefix->second);
}

const std::vector<std::string> &RunFiles::FreshStartNames() {
  static const std::vector<std::string> names = {kShields,
                                                 "KvVantrel.tmp",
                                                 "KvVantrelTrace.LOG",
                                                 "KvVantrelErrors.LOG",
                                                 kSnapshot,
                                                 "KvCorvane.tmp",
                                                 "KvCorvaneTrace.LOG",
                                                 "KvCorvaneErrors.LOG",
                                                 kHits,
                                                 kAlerts,
                                                 kRunInfo,
                                                 kShieldRecord,
                                                 kShieldEvents,
                                                 kOffences};
  return names;
}

const std::vector<std::string> &RunFiles::WrittenNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> all = FreshStartNames();
    all.insert(all.end(), {kDefinitions, "KvVantrel.so", "KvCorvane.so", kMetrics, kAllowList});
    return all;
  }();
  return names;
}

void RunFiles::CheckWritable(const std::string &directory) {
  for (const std::string &name : WrittenNames()) {
    const std::string path = directory + "/" + name;
    if (std::string refusal = common::WriteRefusal(path); !refusal.empty()) {
      throw Error(path + " " + refusal,
                  "flowdeck writes this name itself; move it away or choose another --out");
    }
    KeepFromOthers(path);
  }
}

RunInfo ReadRunInfo(const std::string &directory) {
  RunInfo info;
  const std::optional<std::string> text =
      common::ReadRegularFile(directory + "/" + RunFiles::kRunInfo, kLargestFile);
  if (!text) return info;
  for (size_t start = 0; start < text->size();) {
    size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    const std::string_view line = std::string_view(*text).substr(start, end - start);
    const size_t equals = line.find(" = ");
    if (equals != std::string::npos) {
      info[std::string(line.substr(0, equals))] = std::string(line.substr(equals + 3));
    }
    start = end + 1;
  }
  return info;
}

void WriteRunInfo(const std::string &directory, const RunInfo &info) {
  std::string text;
  for (const auto &[key, value] : info) text += key + " = " + value + "\n";
  WriteFileAtomically(directory + "/" + RunFiles::kRunInfo, text, "the run file");
}

void WriteFileAtomically(const std::string &path, const std::string &text, const std::string &what,
                         mode_t mode, Durability durability) {
  common::WholeFile how;
  how.mode = mode;
  how.sync = durability == Durability::kSurvivesCrash;
  if (const common::FileFailure failure = common::WriteWholeFile(path, text, how)) {
    throw Error("cannot write " + what + " " + path, failure.cause);
  }
}

std::string AppendToFile(const std::string &path, std::string_view text) {
  const int fd =
      common::Posix().open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kRunFileMode);
  bool done = fd >= 0 && common::WriteAll(fd, text);
  int errnum = errno;
  if (fd >= 0 && common::Posix().close(fd) != 0 && done) done = false, errnum = errno;
  if (done) return "";
  return "cannot append to " + path + ": " + common::OpenFailure(errnum);
}

void CopyFileAtomically(const std::string &from, const std::string &to, const std::string &what) {
  const std::optional<std::string> content = common::ReadRegularFile(from, kLargestFile, true);
  if (!content) {
    throw Error(from, "cannot read: " + common::OpenFailure(errno));
  }
  WriteFileAtomically(to, *content, what);
}

}  // namespace host
