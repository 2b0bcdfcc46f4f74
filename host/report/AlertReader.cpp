#include "report/AlertReader.h"

#include <stdio.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace report {

namespace {

constexpr size_t kFields = 12;  // the time stamp and eleven values
constexpr std::string_view kSeparators = "^|~#";

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    fields.push_back(text.substr(start, end - start));
    if (end == std::string_view::npos) return fields;
    start = end + 1;
  }
}

std::optional<int> LevelFrom(std::string_view text) {
  if (text.size() != 1 || text[0] < '0' || text[0] > '9') return std::nullopt;
  return text[0] - '0';
}

}  // namespace

std::optional<Alert> ParseAlertLine(std::string_view line) {
  if (line.empty() || kSeparators.find(line[0]) == std::string_view::npos) return std::nullopt;
  const std::vector<std::string_view> fields = Split(line.substr(1), line[0]);
  if (fields.size() != kFields) return std::nullopt;
  // Only the 24-hour stamp "mm/dd/yyyy hh:nn:ss" is an alert's.
  const std::optional<Moment> at = MomentFromDateText(fields[0]);
  const std::optional<int> level = LevelFrom(fields[10]);
  if (fields[0].size() != 19 || !at || !level) return std::nullopt;
  Alert alert;
  alert.at = *at;
  alert.key = fields[1];
  alert.country = fields[2];
  alert.authUser = fields[3];
  alert.userAgent = fields[4];
  alert.resolvedAddr = fields[5];
  alert.remoteAddr = fields[6];
  alert.remoteHost = fields[7];
  alert.localHost = fields[8];
  alert.serverName = fields[9];
  alert.level = *level;
  alert.correlation = fields[11];
  return alert;
}

Source ReadAlerts(const std::string &path, std::vector<Alert> &alerts, int64_t &foreignLines) {
  alerts.clear();
  foreignLines = 0;
  Source source;
  source.path = path;
  std::FILE *file = std::fopen(path.c_str(), "rbe");
  if (file == nullptr) {
    if (errno != ENOENT) {
      source.state = Source::State::kFailed;
      source.problem = std::strerror(errno);
    }
    return source;
  }
  source.state = Source::State::kRead;
  char *buffer = nullptr;
  size_t capacity = 0;
  ssize_t length;
  while ((length = getline(&buffer, &capacity, file)) >= 0) {
    std::string_view line(buffer, static_cast<size_t>(length));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.empty()) continue;
    if (std::optional<Alert> alert = ParseAlertLine(line)) {
      alerts.push_back(std::move(*alert));
    } else {
      ++foreignLines;
    }
  }
  if (std::ferror(file)) {
    alerts.clear();
    source.state = Source::State::kFailed;
    source.problem = std::strerror(errno);
  }
  std::free(buffer);
  std::fclose(file);
  return source;
}

}  // namespace report
