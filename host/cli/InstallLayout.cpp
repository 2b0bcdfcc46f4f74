#include "cli/InstallLayout.h"

#include <filesystem>
#include <vector>

namespace host {

namespace fs = std::filesystem;

namespace {

std::string FirstExisting(const std::vector<fs::path> &candidates) {
  for (const fs::path &candidate : candidates) {
    if (fs::exists(candidate)) return candidate.lexically_normal().string();
  }
  return "";
}

// An installed flowdeck's settings: PREFIX/etc/flowdeck, or beside /usr in the root above it.
std::vector<fs::path> ConfigDirs(const fs::path &prefix) {
  std::vector<fs::path> dirs = {prefix / "etc/flowdeck"};
  if (prefix.filename() == "usr") dirs.push_back(prefix.parent_path() / "etc/flowdeck");
  return dirs;
}

}  // namespace

InstallLayout InstallLayout::ForProgramIn(const std::string &programDir) {
  const fs::path prefix = fs::path(programDir).parent_path();
  InstallLayout layout;
  if (fs::is_directory(prefix / "lib/flowdeck")) {
    layout.pluginDir = (prefix / "lib/flowdeck").string();
    std::vector<fs::path> tripwires, configs;
    for (const fs::path &dir : ConfigDirs(prefix)) {
      tripwires.push_back(dir / "tripwires.cfg");
      configs.push_back(dir / "flowdeck.conf");
    }
    tripwires.push_back("examples/tripwires.cfg");
    layout.tripwires = FirstExisting(tripwires);
    layout.config = FirstExisting(configs);
    layout.verifiedBotRanges = FirstExisting({prefix / "share/flowdeck/verified-bot-ranges"});
  } else {
    layout.pluginDir = (prefix / "plugins").string();
    layout.tripwires =
        FirstExisting({prefix / "../examples/tripwires.cfg", "examples/tripwires.cfg"});
    layout.verifiedBotRanges = FirstExisting({prefix / "../examples/verified-bot-ranges"});
  }
  return layout;
}

InstallLayout InstallLayout::ForThisProgram() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return ForProgramIn(error ? std::string(".") : self.parent_path().string());
}

}  // namespace host
