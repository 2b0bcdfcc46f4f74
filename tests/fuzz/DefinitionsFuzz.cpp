// Any bytes as the definitions file KvVantrel.CFG. Reading it twice gives the same definitions
// or the same error; the first reading of a new list agrees with a reload. For a set of requests
// (fixed ones and each definition's own mask), ProtectedResourceIndex gives what the plain
// rules give, worked out here from the masks' text.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Convert.h"
#include "FuzzDirectory.h"
#include "OutputChecks.h"
#include "clsShieldedResources.h"

namespace {

using fuzzing::Require;

// Parts between separators; an empty text has none.
std::vector<std::string_view> SplitAt(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  if (text.empty()) return parts;
  for (size_t start = 0;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

// Whether a request fits a mask, step by step as the rules read: a part that one side lacks
// means "does not fit".
bool FitsByTheRules(std::string_view mask, std::string_view pathInfo,
                    std::string_view pathTranslated) {
  const char separator = mask.find('\\') != std::string_view::npos ? '\\' : '/';
  const auto path = SplitAt(separator == '\\' ? pathTranslated : pathInfo, separator);
  const auto masks = SplitAt(mask, separator);
  if (masks.empty() || path.size() != masks.size()) return false;
  for (size_t i = 0; i + 1 < path.size(); ++i) {
    if (masks[i] != "*" && !common::EqualsIgnoreCase(masks[i], path[i])) return false;
  }
  const auto maskPieces = SplitAt(masks.back(), '.');
  const auto pathPieces = SplitAt(path.back(), '.');
  if (maskPieces.empty()) return false;
  if (maskPieces[0] != "*") {
    if (pathPieces.empty() || !common::EqualsIgnoreCase(maskPieces[0], pathPieces[0])) return false;
  }
  const auto a = static_cast<int64_t>(maskPieces.size()) - 1;
  const auto b = static_cast<int64_t>(pathPieces.size()) - 1;
  if (a == 0 && b == 0) return true;
  if (b > a) return false;
  if (a > b) return a >= 1 && maskPieces[1] == "*";
  return maskPieces[1] == "*" || common::EqualsIgnoreCase(maskPieces[1], pathPieces[1]);
}

int32_t IndexByTheRules(const vantrel::clsShieldedResources &definitions, std::string_view host,
                        std::string_view pathInfo, std::string_view pathTranslated) {
  int32_t result = 0;
  for (int32_t i = 1; i <= definitions.Count(); ++i) {
    const vantrel::clsShieldedResource &definition = *definitions.Item(i);
    if (!definition.Host().empty() && !common::EqualsIgnoreCase(definition.Host(), host)) continue;
    if (!FitsByTheRules(definition.Resource(), pathInfo, pathTranslated)) continue;
    if (definition.Inverse()) return 0;
    if (result == 0) result = i;
  }
  return result;
}

struct Request {
  std::string host, pathInfo, pathTranslated;
};

std::vector<Request> RequestsFor(const vantrel::clsShieldedResources &definitions) {
  std::vector<Request> requests = {{"", "/", "C:\\"},
                                   {"shop", "/scripts/run.exe", "C:\\site\\scripts\\run.exe"},
                                   {"SHOP", "/dir/", "c:\\site\\dir\\"},
                                   {"other", "/a/x.htm", "x.htm"},
                                   {"", "", ""}};
  for (int32_t i = 1; i <= definitions.Count() && i <= 16; ++i) {
    const vantrel::clsShieldedResource &definition = *definitions.Item(i);
    requests.push_back({definition.Host(), definition.Resource(), definition.Resource()});
  }
  return requests;
}

// What a reading of the file gave: the error number, or 0 and the definitions as text.
struct Reading {
  int32_t error = 0;
  std::vector<std::string> definitions;
  bool operator==(const Reading &) const = default;
};

Reading Describe(const vantrel::clsShieldedResources &list, int32_t error) {
  Reading reading{error, {}};
  for (int32_t i = 1; i <= list.Count(); ++i) {
    const vantrel::clsShieldedResource &d = *list.Item(i);
    reading.definitions.push_back(d.Description() + '\0' + d.Host() + '\0' + d.Resource() + '\0' +
                                  d.Deflect() + '\0' + std::to_string(d.Sensitivity()) + '\0' +
                                  std::to_string(d.Strength()) + (d.Inverse() ? "I" : "-") +
                                  (d.CarryParameters() ? "C" : "-"));
  }
  return reading;
}

Reading Reload(vantrel::clsShieldedResources &list) {
  try {
    list.Cycle();
    return Describe(list, 0);
  } catch (const common::KvError &error) {
    Require(error.Number() != 0, "a failed reading has an error number");
    return Describe(list, error.Number());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static fuzzing::FuzzDirectory directory;
  directory.StartInput();
  const std::string definitionsFile = directory.File("KvVantrel.CFG");
  fuzzing::WriteWholeFile(definitionsFile, "");
  const vantrel::DefinitionsSettings settings{definitionsFile, nullptr, nullptr};
  vantrel::clsShieldedResources list(settings);
  list.Read();
  Require(list.Count() == 0, "an empty definitions file gives no definition");
  fuzzing::WriteWholeFile(definitionsFile,
                          std::string_view(reinterpret_cast<const char *>(data), size));
  const Reading first = Reload(list);
  const Reading second = Reload(list);
  Require(first == second, "reading the same file twice gives the same definitions");
  std::optional<int32_t> createdError;
  try {
    vantrel::clsShieldedResources created(settings);
    created.Read();
    Require(Describe(created, 0) == first, "a new list reads what a reload reads");
  } catch (const common::KvError &error) {
    createdError = error.Number();
  }
  Require(createdError.value_or(0) == first.error, "a new list fails where a reload fails");
  for (const Request &request : RequestsFor(list)) {
    int32_t index = -1;
    try {
      index = list.ProtectedResourceIndex(request.host, request.pathInfo, request.pathTranslated);
    } catch (const common::KvError &) {
      Require(false, "matching a request never fails");
    }
    Require(index == IndexByTheRules(list, request.host, request.pathInfo, request.pathTranslated),
            "ProtectedResourceIndex gives the first fitting definition unless one exempts");
  }
  return 0;
}
