#include "shield/TripwireDefinitions.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "KvError.h"
#include "PluginDirectory.h"
#include "base/RunFiles.h"
#include "clsShieldedResources.h"

namespace host {

namespace {

size_t CountElements(const std::string &path) {
  std::ifstream in(path);
  std::string line;
  size_t count = 0;
  while (std::getline(in, line)) {
    for (size_t at = line.find("<TRIPWIRE"); at != std::string::npos;
         at = line.find("<TRIPWIRE", at + 1)) {
      const char next = at + 9 < line.size() ? line[at + 9] : ' ';
      if (next != 'S') ++count;  // not the TRIPWIRES list around them
    }
  }
  return count;
}

std::string FailureText(const common::KvError &error) {
  return "error " + std::to_string(error.Number()) + " " + error.Description();
}

// The definitions of a reading that stopped at a failure: a set read from an empty file first
// reads the real one again and keeps what came before the failure, as the plug-in does.
int32_t ActiveBeforeFailure(const std::string &runDirectory, std::string &failure) {
  char scratch[] = "/tmp/flowdeck-definitions-XXXXXX";
  if (mkdtemp(scratch) == nullptr) return 0;
  int32_t active = 0;
  common::SetPluginDirectory(scratch);
  try {
    vantrel::clsShieldedResources definitions;
    common::SetPluginDirectory(runDirectory);
    try {
      definitions.Cycle();
    } catch (const common::KvError &error) {
      failure = FailureText(error);
    }
    active = definitions.Count();
  } catch (const common::KvError &) {
  }
  std::filesystem::remove_all(scratch);
  return active;
}

}  // namespace

TripwireDefinitions TripwireDefinitions::Read(const std::string &runDirectory,
                                              const std::string &path) {
  TripwireDefinitions read;
  read.path = path;
  read.elements = CountElements(runDirectory + "/" + host::RunFiles::kDefinitions);
  common::SetPluginDirectory(runDirectory);
  try {
    vantrel::clsShieldedResources definitions;
    read.active = definitions.Count();
  } catch (const common::KvError &error) {
    read.failure = FailureText(error);
    read.active = ActiveBeforeFailure(runDirectory, read.failure);
  }
  common::SetPluginDirectory("");
  return read;
}

std::string TripwireDefinitions::Description() const {
  return std::to_string(active) + " active tripwire" + (active == 1 ? "" : "s") + " from " + path;
}

std::string TripwireDefinitions::Warning() const {
  if (!failure.empty()) {
    return "reading " + path + " stopped at a failure (" + failure + ") after " +
           std::to_string(active) + " active tripwire" + (active == 1 ? "" : "s") +
           "; the rest of the file is not watched";
  }
  if (elements == 0) return path + " holds no TRIPWIRE element: nothing is watched";
  if (active == 0) return "no TRIPWIRE element of " + path + " is active: nothing is watched";
  return "";
}

}  // namespace host
