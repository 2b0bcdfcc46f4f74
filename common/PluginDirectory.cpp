#include "PluginDirectory.h"

#include <dlfcn.h>

namespace common {

namespace {

std::string DirectoryOfThisObject() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void *>(&DirectoryOfThisObject), &info) == 0 ||
      info.dli_fname == nullptr) {
    return ".";
  }
  std::string path(info.dli_fname);
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "";  // the root directory: its files are "/" + name
  return path.substr(0, slash);
}

std::string &OverrideDirectory() {
  static std::string directory;
  return directory;
}

}  // namespace

const std::string &PluginDirectory() {
  if (!OverrideDirectory().empty()) return OverrideDirectory();
  static const std::string directory = DirectoryOfThisObject();
  return directory;
}

std::string PluginFile(std::string_view name) {
  while (!name.empty() && (name.front() == '\\' || name.front() == '/')) name.remove_prefix(1);
  std::string path = PluginDirectory();
  path.append(1, '/').append(name);
  return path;
}

void SetPluginDirectory(std::string directory) {
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  OverrideDirectory() = std::move(directory);
}

}  // namespace common
