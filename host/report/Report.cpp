#include "Report.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>

#include "AlertReader.h"
#include "HtmlPage.h"
#include "Posix.h"
#include "ShieldReader.h"
#include "SnapshotReader.h"

namespace report {

namespace {

namespace fs = std::filesystem;

// 128 random bits in hexadecimal: the page's script and style carry it, injected markup cannot.
std::string NewNonce() {
  std::random_device random;
  std::string nonce;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
    nonce += part;
  }
  return nonce;
}

std::string LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::runtime_error WriteError(const std::string &path, int errnum) {
  return std::runtime_error("cannot write the report " + path + ": " + std::strerror(errnum));
}

void WriteAll(int fd, const std::string &text, const std::string &path) {
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = common::Posix().write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw WriteError(path, n < 0 ? errno : ENOSPC);
    written += static_cast<size_t>(n);
  }
}

void WriteFileAtomically(const std::string &path, const std::string &text) {
  const std::string temporary = path + "." + std::to_string(getpid()) + ".tmp";
  const int fd =
      common::Posix().open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw WriteError(path, errno);
  try {
    WriteAll(fd, text, path);
  } catch (...) {
    common::Posix().close(fd);
    common::Posix().unlink(temporary.c_str());
    throw;
  }
  if (common::Posix().close(fd) != 0 ||
      common::Posix().rename(temporary.c_str(), path.c_str()) != 0) {
    const int errnum = errno;
    common::Posix().unlink(temporary.c_str());
    throw WriteError(path, errnum);
  }
}

}  // namespace

RunData ReadRun(const std::string &directory) {
  std::error_code error;
  if (!fs::is_directory(directory, error)) {
    throw DirectoryError(directory + ": not a directory" +
                         (error ? " (" + error.message() + ")" : std::string()));
  }
  if (access(directory.c_str(), R_OK | X_OK) != 0) {
    throw DirectoryError(directory + ": cannot read the directory: " + std::strerror(errno));
  }
  RunData run;
  run.directory = fs::absolute(directory, error).lexically_normal().string();
  if (run.directory.size() > 1 && run.directory.back() == '/') run.directory.pop_back();
  const std::string base = run.directory + "/";
  run.snapshot = ReadSnapshot(base + "KvCorvane.xml", run.visitors);
  run.alertFile = ReadAlerts(base + "KvCorvaneAlerts.Out", run.alerts, run.foreignAlertLines);
  run.shieldFile = ReadShields(base + "KvVantrel.xml", run.shields);
  return run;
}

std::string RenderReport(const RunData &run) {
  return HtmlPage(run, NewNonce(), LocalNow()).Render();
}

void WriteReport(const std::string &directory, const std::string &outputFile) {
  WriteFileAtomically(outputFile, RenderReport(ReadRun(directory)));
}

}  // namespace report
