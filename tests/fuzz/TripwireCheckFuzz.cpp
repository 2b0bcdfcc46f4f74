// Any bytes as the definitions file flowdeck checks before the shield plug-in is given it. The
// check never fails itself; a file it passes is read whole by the plug-in's own reader, with as
// many definitions as the check counted, and every mask in it fits some request.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzDirectory.h"
#include "OutputChecks.h"
#include "clsShieldedResources.h"
#include "shield/TripwireCheck.h"

namespace {

using fuzzing::Require;

// A request path the mask fits if any does: a wildcard part, name or extension made "x", the
// first part empty (a request's path begins with '/', and a mask that passed begins with "/" or
// "*/").
std::string PathFor(std::string_view mask) {
  std::string path;
  const size_t lastSlash = mask.rfind('/');
  for (size_t start = 0, end = 0; start <= lastSlash; start = end + 1) {
    end = mask.find('/', start);
    const std::string_view part = mask.substr(start, end - start);
    if (start > 0) path += part == "*" ? std::string_view("x") : part;
    path += '/';
  }
  const std::string_view last = mask.substr(lastSlash + 1);
  const size_t dot = last.find('.');
  const std::string_view name = last.substr(0, dot);
  path += name == "*" ? std::string_view("x") : name;
  if (dot == std::string_view::npos) return path;
  const std::string_view rest = last.substr(dot + 1);
  const size_t second = rest.find('.');
  const std::string_view extension = rest.substr(0, second);
  path.append(".").append(extension == "*" ? std::string_view("x") : extension);
  if (second != std::string_view::npos) path.append(rest.substr(second));
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static fuzzing::FuzzDirectory directory;
  directory.StartInput();
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  const host::TripwireCheck check("t.cfg", text);
  Require(check.Passed() == check.Faults().empty(), "a fault is told whenever there is one");
  if (!check.Passed()) return 0;
  fuzzing::WriteWholeFile(directory.File("KvVantrel.CFG"), text);
  try {
    vantrel::clsShieldedResources list(
        vantrel::DefinitionsSettings{directory.File("KvVantrel.CFG"), nullptr, nullptr});
    list.Read();
    Require(list.Count() == check.Active(), "the plug-in reads every active definition");
    for (int32_t i = 1; i <= list.Count(); ++i) {
      const std::string &mask = list.Item(i)->Resource();
      Require(list.ContainsResource(mask, PathFor(mask), ""), "every mask fits some request");
    }
  } catch (const common::KvError &) {
    Require(false, "a file that passed the check is read without a failure");
  }
  return 0;
}
