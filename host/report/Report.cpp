#include "report/Report.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>

#include "base/RunFiles.h"
#include "report/AlertReader.h"
#include "report/HtmlPage.h"
#include "report/ShieldEventReader.h"
#include "report/ShieldReader.h"
#include "report/ShieldRows.h"
#include "report/SnapshotReader.h"

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

}  // namespace

RunData ReadRun(const std::string &directory) {
  std::error_code error;
  if (!fs::is_directory(directory, error)) {
    throw DirectoryError(
        directory, "not a directory" + (error ? " (" + error.message() + ")" : std::string()));
  }
  if (access(directory.c_str(), R_OK | X_OK) != 0) {
    throw DirectoryError(directory,
                         std::string("cannot read the directory: ") + std::strerror(errno));
  }
  RunData run;
  run.directory = fs::absolute(directory, error).lexically_normal().string();
  if (run.directory.size() > 1 && run.directory.back() == '/') run.directory.pop_back();
  run.info = host::ReadRunInfo(run.directory);
  const host::RunFiles files = host::RunFiles::Of(run.directory, run.info);
  run.snapshot = ReadSnapshot(files.In(host::RunFiles::kSnapshot), run.visitors);
  run.alertFile = ReadAlerts(files.Alerts(), run.alerts, run.foreignAlertLines);
  run.shieldFile = ReadShields(files.In(host::RunFiles::kShields), run.shields);
  if (run.shieldFile.Read()) {
    ShieldLog log = ReadShieldLog(files.In(host::RunFiles::kShieldEvents));
    JoinRaises(run.shields, std::move(log.raises));
    run.spared = std::move(log.spared);
    run.sparedNotListed = log.sparedNotListed;
    run.unreadShieldEvents = log.unreadLines;
    run.raisesLeftOut = log.raisesLeftOut;
    MergeJudgements(run.shields);
    std::stable_sort(run.shields.begin(), run.shields.end(), [](const Shield &a, const Shield &b) {
      return a.at.value_or(INT64_MIN) > b.at.value_or(INT64_MIN);
    });
  }
  return run;
}

std::string RenderReport(const RunData &run) {
  return HtmlPage(run, NewNonce(), LocalNow()).Render();
}

void WriteReport(const std::string &directory, const std::string &outputFile) {
  host::WriteFileAtomically(outputFile, RenderReport(ReadRun(directory)), "the report");
}

}  // namespace report
