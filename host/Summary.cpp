#include "Summary.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <ostream>
#include <string>

namespace host {

namespace fs = std::filesystem;

namespace {

// The value of NAME="..." in a line the plug-ins wrote, with the XML entities they use undone.
std::string Attribute(const std::string &line, const std::string &name) {
  const std::string key = " " + name + "=\"";
  size_t start = line.find(key);
  if (start == std::string::npos) return "";
  start += key.size();
  size_t end = line.find('"', start);
  std::string raw = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
  std::string value;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '&') {
      value.push_back(raw[i]);
      continue;
    }
    size_t semi = raw.find(';', i);
    std::string entity = semi == std::string::npos ? "" : raw.substr(i + 1, semi - i - 1);
    if (entity == "amp")
      value.push_back('&');
    else if (entity == "lt")
      value.push_back('<');
    else if (entity == "gt")
      value.push_back('>');
    else if (entity == "quot")
      value.push_back('"');
    else if (entity.starts_with("#") && entity.size() > 1 && entity.size() < 5)
      value.push_back(static_cast<char>(std::stoi(entity.substr(1))));
    else {
      value.push_back('&');
      continue;
    }
    i = semi;
  }
  return value;
}

void PrintShields(std::ostream &out, const std::string &dir) {
  std::ifstream in(fs::path(dir) / "KvVantrel.xml");
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    if (line.find("<TRIPWIRE ") == std::string::npos) continue;
    if (count++ == 0) out << "shields:\n";
    out << "  " << Attribute(line, "REMOTEADDR") << "  " << Attribute(line, "HOST")
        << Attribute(line, "RESOURCE") << "  hits " << Attribute(line, "HITS") << "  factor "
        << Attribute(line, "FACTOR") << "  at " << Attribute(line, "DATETIME") << "\n";
  }
  if (count == 0) out << "shields: none\n";
}

void PrintLevels(std::ostream &out, const std::string &dir) {
  std::ifstream in(fs::path(dir) / "KvCorvane.xml");
  std::array<uint64_t, 3> levels{};
  std::string line;
  while (std::getline(in, line)) {
    if (line.find("<USER ") == std::string::npos) continue;
    std::string level = Attribute(line, "LVL");
    if (level.size() == 1 && level[0] >= '0' && level[0] <= '2') ++levels[level[0] - '0'];
  }
  out << "alert levels at the last cycle: " << levels[0] << " at 0, " << levels[1] << " at 1, "
      << levels[2] << " at 2\n";
}

// An alert line: its first character separates the time stamp, key, ..., level and rating.
void PrintAlerts(std::ostream &out, const std::string &path) {
  constexpr size_t kShown = 20;
  std::ifstream in(path);
  std::string line;
  std::vector<std::string> shown;
  uint64_t count = 0;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    ++count;
    std::vector<std::string> fields;
    size_t start = 1;
    for (;;) {
      size_t end = line.find(line[0], start);
      fields.push_back(line.substr(start, end == std::string::npos ? end : end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    if (fields.size() == 12 && shown.size() < kShown) {
      shown.push_back("  level " + fields[10] + "  " + fields[1] + "  rating " + fields[11] +
                      "  at " + fields[0]);
    }
  }
  out << "alerts raised: " << count << (count > 0 ? ":" : "") << "\n";
  for (const std::string &alert : shown) out << alert << "\n";
  if (count > shown.size()) out << "  (" << count - shown.size() << " more)\n";
}

void PrintFiles(std::ostream &out, const std::string &dir) {
  out << "files in " << dir << ":\n";
  std::vector<std::pair<std::string, uintmax_t>> files;
  for (const fs::directory_entry &entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file() && entry.path().extension() != ".so") {
      files.emplace_back(entry.path().filename().string(), entry.file_size());
    }
  }
  std::sort(files.begin(), files.end());
  for (const auto &[name, size] : files)
    out << "  " << std::left << std::setw(22) << name << size << " bytes\n";
}

}  // namespace

void PrintSummary(std::ostream &out, const LineStats &lines, Session &session,
                  const Cadence &cadence, double seconds) {
  out << "lines read: " << lines.lines << " (" << lines.requests << " requests, "
      << lines.withoutRequest << " without a request, " << lines.malformed
      << " that do not parse)\n";
  if (!lines.firstMalformed.empty()) {
    out << "first lines that do not parse:";
    for (const std::string &where : lines.firstMalformed) out << " " << where;
    out << "\n";
  }
  out << "visitors held: " << session.Visitors() << "\n"
      << "cycles: " << session.ShieldCycles() << " of the shield plug-in (every "
      << cadence.shieldSeconds << " s), " << session.MonitorCycles() << " of the monitor (every "
      << cadence.monitorSeconds << " s)\n";
  PrintLevels(out, session.OutDir());
  PrintAlerts(out, session.AlertFile());
  PrintShields(out, session.OutDir());
  if (session.FailedCalls() > 0) {
    out << "plug-in calls whose error log could not be written: " << session.FailedCalls() << "\n";
  }
  PrintFiles(out, session.OutDir());
  const double rate = seconds > 0 ? static_cast<double>(lines.lines) / seconds : 0;
  out << std::fixed << std::setprecision(2) << "time: " << seconds << " s, " << std::setprecision(0)
      << rate << " lines per second\n";
}

}  // namespace host
