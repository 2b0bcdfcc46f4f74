#include "FuzzDirectory.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "Clock.h"
#include "DateTime.h"
#include "PluginDirectory.h"

namespace fuzzing {

namespace {

double ReadClock(void *context) {
  return *static_cast<const double *>(context);
}

std::string MakeTemporaryDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "flowdeck-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

}  // namespace

FuzzDirectory::FuzzDirectory() : path_(MakeTemporaryDirectory()) {
  common::SetPluginDirectory(path_);
  common::SetClock(ReadClock, &now_);
  StartInput();
}

FuzzDirectory::~FuzzDirectory() {
  common::SetClock(nullptr, nullptr);
  // FLOWDECK_FUZZ_KEEP=1 keeps what the last input left, to look at after running one input.
  if (std::getenv("FLOWDECK_FUZZ_KEEP") != nullptr) {
    std::fprintf(stderr, "fuzz files kept in %s\n", path_.c_str());
    return;
  }
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void FuzzDirectory::StartInput() {
  for (const auto &entry : std::filesystem::directory_iterator(path_)) {
    std::filesystem::remove_all(entry.path());
  }
  now_ = common::MakeDateTime(2004, 3, 5, 14, 0, 0);
}

void FuzzDirectory::AdvanceClock(double seconds) {
  now_ = common::AddSeconds(now_, seconds);
}

std::string FuzzDirectory::File(std::string_view name) const {
  std::string path = path_;
  path.append(1, '/').append(name);
  return path;
}

}  // namespace fuzzing
