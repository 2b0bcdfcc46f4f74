#include "MonitorModel.h"

#include <array>

#include "Clock.h"
#include "Convert.h"
#include "OutputChecks.h"
#include "modCorvane.h"

namespace fuzzing {

namespace {

constexpr common::Site kSite{"  Fuzz  ", ""};
constexpr std::array<size_t, 15> kExported = {
    common::kAction,       common::kArrivalSerial,  common::kKey,         common::kCountry,
    common::kResolvedAddr, common::kRemoteAddr,     common::kRemoteHost,  common::kAuthUser,
    common::kPathInfo,     common::kPathTranslated, common::kQueryString, common::kServerName,
    common::kServerPort,   common::kUserAgent,      common::kLocalHost};

// The line of a request: the first of "^|~#" that no value holds before each value, line
// breaks as blanks; when the values hold all four, "#" with each "#" in them as "%23".
bool ExportLineOf(const ScriptedCall &call, std::string &line) {
  std::string joined;
  for (size_t field : kExported) joined += call.fields[field];
  char separator = '\0';
  for (char candidate : std::string_view("^|~#")) {
    if (joined.find(candidate) == std::string::npos) {
      separator = candidate;
      break;
    }
  }
  const bool escaped = separator == '\0';
  if (escaped) separator = '#';
  line.clear();
  for (size_t field : kExported) {
    line.push_back(separator);
    for (char c : call.fields[field]) {
      if (escaped && c == '#') {
        line.append("%23");
      } else {
        line.push_back(c == '\r' || c == '\n' ? ' ' : c);
      }
    }
  }
  return true;
}

}  // namespace

void MonitorModel::Follow(const ScriptedCall &call, int32_t monitorCount) {
  const std::string_view action = call.Action();
  if (action == "CYCLE") {
    users_.Purge(common::Now());
  } else if (action == "CONFIG") {
    if (monitorCount == 0) users_.Clear();
  } else if (action != "LOCKED" && action != "UNLOCKED") {
    AddRequest(call);
  }
}

void MonitorModel::AddRequest(const ScriptedCall &call) {
  const common::StreamFields view = call.View();
  try {
    users_.AddTransaction(view, common::TextToDouble(kSite, view[common::kArrivalSerial]));
  } catch (const common::KvError &) {
    return;  // the monitor neither records nor exports a request it cannot take
  }
  std::string line;
  if (corvane::gConfig().FernwickActive() && ExportLineOf(call, line)) {
    exportLines_.push_back(std::move(line));
  }
}

void MonitorModel::CheckVisitors(int32_t monitorCount) const {
  for (int32_t i = 1; i <= users_.Count(); ++i) {
    const int32_t hits = users_.Item(i).Hits().Count();
    Require(hits >= 1 && hits <= corvane::clsHits::kCapacity,
            "a visitor holds between 1 and 500 hits");
  }
  Require(users_.Count() == monitorCount, "the monitor holds the visitors its requests made");
}

}  // namespace fuzzing
