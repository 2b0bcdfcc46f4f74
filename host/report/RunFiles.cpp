#include "RunFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "Posix.h"

namespace report {

namespace {

// Writes all of text; false with errno set when it cannot.
bool WriteAll(int fd, const std::string &text) {
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = common::Posix().write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;
    if (n <= 0) return false;
    written += static_cast<size_t>(n);
  }
  return true;
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
                                                 kShieldEvents};
  return names;
}

RunInfo ReadRunInfo(const std::string &directory) {
  RunInfo info;
  std::ifstream in(directory + "/" + RunFiles::kRunInfo);
  std::string line;
  while (std::getline(in, line)) {
    const size_t equals = line.find(" = ");
    if (equals != std::string::npos) info[line.substr(0, equals)] = line.substr(equals + 3);
  }
  return info;
}

void WriteRunInfo(const std::string &directory, const RunInfo &info) {
  std::string text;
  for (const auto &[key, value] : info) text += key + " = " + value + "\n";
  WriteFileAtomically(directory + "/" + RunFiles::kRunInfo, text, "the run file");
}

void WriteFileAtomically(const std::string &path, const std::string &text,
                         const std::string &what) {
  const std::string temporary = path + "." + std::to_string(getpid()) + ".tmp";
  const int fd =
      common::Posix().open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool done = fd >= 0 && WriteAll(fd, text);
  int errnum = errno;
  if (fd >= 0 && common::Posix().close(fd) != 0 && done) done = false, errnum = errno;
  if (done && common::Posix().rename(temporary.c_str(), path.c_str()) != 0) {
    done = false;
    errnum = errno;
  }
  if (done) return;
  if (fd >= 0) common::Posix().unlink(temporary.c_str());
  throw std::runtime_error("cannot write " + what + " " + path + ": " + std::strerror(errnum));
}

}  // namespace report
