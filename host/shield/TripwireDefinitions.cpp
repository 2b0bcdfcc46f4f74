#include "shield/TripwireDefinitions.h"

#include <fstream>

#include "KvError.h"
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

}  // namespace

std::string TripwireDefinitions::FailureText(const common::KvError &error) {
  return "error " + std::to_string(error.Number()) + " " + error.Description();
}

TripwireDefinitions TripwireDefinitions::Read(const std::string &runDirectory,
                                              const std::string &path) {
  TripwireDefinitions read;
  read.path = path;
  const std::string copy = runDirectory + "/" + RunFiles::kDefinitions;
  read.elements = CountElements(copy);
  // Read as the plug-in reads it, without its trace.
  vantrel::clsShieldedResources definitions(vantrel::DefinitionsSettings{copy, nullptr, nullptr});
  try {
    definitions.Read();
  } catch (const common::KvError &error) {
    read.failure = FailureText(error);
  }
  read.active = definitions.Count();  // those before a failure, which the plug-in keeps
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
