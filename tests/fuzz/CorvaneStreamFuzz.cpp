// Any script of calls on the visitor monitor's Corvane object. After every cycle: the snapshot
// is well-formed XML and, when the cycle succeeded, lists exactly the visitors held, none with
// more than 500 hits; every line of both export files is one whole record with its separator
// once per field; every hit export line is the line of a request taken while the export was on,
// written once, in order, and after a cycle that wrote the export all of them are there.
// Throughout: every visitor holds 1 to 500 hits, and no call writes more than one error-log line.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "CallScript.h"
#include "Corvane.h"
#include "FuzzDirectory.h"
#include "MonitorModel.h"
#include "OutputChecks.h"
#include "modCorvane.h"

namespace {

using fuzzing::Require;

constexpr size_t kFernwickPathField = 10;
constexpr size_t kHitFields = 15;
constexpr size_t kAlertFields = 12;

// The export directory that a configuration names, chosen by its first byte among places in
// the fuzz directory: the directory itself, a name prefix in it, or a directory that is missing.
std::string ExportPath(const fuzzing::FuzzDirectory &directory, std::string_view configured) {
  static constexpr std::string_view kPlaces[] = {"/", "/x", "/missing/"};
  const size_t place = configured.empty() ? 0 : static_cast<unsigned char>(configured[0]) % 3;
  return directory.Path() + std::string(kPlaces[place]);
}

std::string ConfiguredField(std::string_view text, size_t position) {
  size_t start = 0;
  for (size_t field = 0; field < position; ++field) {
    start = text.find(';', start);
    if (start == std::string_view::npos) return std::string();
    ++start;
  }
  return std::string(text.substr(start, text.find(';', start) - start));
}

int32_t WholeNumber(std::string_view text) {
  int32_t value = -1;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() ? value : -1;
}

void CheckVisitor(const xmlNode *user) {
  std::string requests = fuzzing::AttributeValue(user, "REQS");
  const bool truncated = requests.starts_with('>');
  if (truncated) requests.erase(0, 1);
  const int32_t held = WholeNumber(requests);
  Require(held >= 1 && held <= corvane::clsHits::kCapacity, "a listed visitor holds 1 to 500 hits");
  Require(!truncated || held == corvane::clsHits::kCapacity, "only a full list is marked cut");
  const auto lists = fuzzing::ChildElements(user, "HITS");
  Require(lists.size() == 1, "a listed visitor has one HITS list");
  int32_t listed = 0;
  for (const xmlNode *hit : fuzzing::ChildElements(lists.front(), "HIT")) {
    const int32_t pages = WholeNumber(fuzzing::AttributeValue(hit, "PGS"));
    Require(pages >= 1, "a run of hits holds at least one");
    listed += pages;
  }
  Require(listed == held, "the runs of a visitor add up to its hits");
}

// The snapshot parses; after a cycle that succeeded it lists every visitor held.
void CheckSnapshot(const std::string &path, bool cycleSucceeded, int32_t visitors) {
  if (!fuzzing::FileExists(path)) {
    Require(!cycleSucceeded, "a cycle that succeeded leaves a snapshot");
    return;
  }
  const fuzzing::XmlDocument document = fuzzing::ParseXml(fuzzing::ReadWholeFile(path));
  Require(document != nullptr, "the snapshot is well-formed XML");
  const xmlNode *root = xmlDocGetRootElement(document.get());
  const auto lists = fuzzing::ChildElements(root, "USERS");
  Require(lists.size() == 1, "the snapshot holds one USERS list");
  const auto users = fuzzing::ChildElements(lists.front(), "USER");
  for (const xmlNode *user : users) CheckVisitor(user);
  if (cycleSucceeded) {
    Require(static_cast<int32_t>(users.size()) == visitors, "the snapshot lists the visitors held");
  }
}

std::vector<std::string> WholeLines(const std::string &path) {
  std::vector<std::string> lines;
  const std::string content = fuzzing::ReadWholeFile(path);
  for (size_t start = 0; start < content.size();) {
    const size_t end = content.find("\r\n", start);
    if (end == std::string::npos) break;
    lines.push_back(content.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// The export files hold whole records; the hit lines are the model's, each at most once and in
// order within a file, and all of them once a cycle wrote the export.
void CheckExports(const fuzzing::FuzzDirectory &directory, const fuzzing::MonitorModel &model,
                  bool exportWritten) {
  const std::vector<std::string> &expected = model.ExportLines();
  std::unordered_map<std::string_view, size_t> unwritten;
  for (const std::string &line : expected) ++unwritten[line];
  size_t written = 0;
  for (std::string_view place : {"/", "/x"}) {
    const std::string prefix = directory.Path() + std::string(place);
    fuzzing::CheckExportFile(prefix + "KvCorvaneHits.Out", kHitFields);
    fuzzing::CheckExportFile(prefix + "KvCorvaneAlerts.Out", kAlertFields);
    size_t next = 0;
    for (const std::string &line : WholeLines(prefix + "KvCorvaneHits.Out")) {
      const auto entry = unwritten.find(line);
      Require(entry != unwritten.end() && entry->second > 0,
              "a hit export line is a request's line, written once");
      --entry->second;
      while (next < expected.size() && expected[next] != line) ++next;
      Require(next < expected.size(), "a hit export file keeps the order of the requests");
      ++next;
      ++written;
    }
  }
  if (exportWritten) {
    Require(written == expected.size(), "a cycle that wrote the export wrote every request");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static fuzzing::FuzzDirectory directory;
  directory.StartInput();
  // The monitor's settings outlive its objects; every input starts from the same ones, which
  // keep the export files inside the fuzz directory.
  corvane::gConfig() = common::clsConfig(common::ConfigLayout::kCorvane);
  corvane::gConfig().Initialize("127.0.0.1;;;;;0.9;0.1;10;1;False;" + directory.Path() +
                                "/;2;1;3;False");
  const fuzzing::CallScript script(data, size);
  const std::string snapshot = directory.File("KvCorvane.xml");
  const std::string errorLog = directory.File("KvCorvaneErrors.LOG");
  size_t errors = 0;
  corvane::Corvane monitor;
  fuzzing::MonitorModel model;
  for (fuzzing::ScriptedCall call : script.Calls()) {
    const bool configures = call.Action() == "CONFIG";
    if (configures) {
      std::string &text = call.fields[common::kUserAgent];
      text = fuzzing::WithConfigField(
          text, kFernwickPathField,
          ExportPath(directory, ConfiguredField(text, kFernwickPathField)));
    }
    const common::StreamFields fields = call.View();
    for (size_t i = 0; i < call.repeat; ++i) {
      directory.AdvanceClock(call.clockStepSeconds);
      monitor.Stream(fields);
      model.Follow(call, monitor.Count());
    }
    const size_t errorsNow = fuzzing::ErrorLogEntries(errorLog);
    Require(errorsNow <= errors + call.repeat, "a call writes at most one error-log line");
    const bool succeeded = errorsNow == errors;
    errors = errorsNow;
    model.CheckVisitors(monitor.Count());
    if (configures || call.Action() == "CYCLE") {
      CheckSnapshot(snapshot, succeeded, monitor.Count());
      CheckExports(directory, model, succeeded && corvane::gConfig().FernwickActive());
    }
  }
  return 0;
}
