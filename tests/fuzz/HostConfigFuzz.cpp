// Any bytes as a configuration file: it is read or refused with a message naming the file and
// line, and what is read always gives each plug-in its exact number of fields.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include "base/HostConfig.h"

namespace {

// One file per fuzzing process, removed when it ends.
struct ScratchFile {
  std::string path = "/tmp/flowdeck-fuzz-" + std::to_string(getpid()) + ".conf";
  ~ScratchFile() { std::remove(path.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const ScratchFile scratch;
  const std::string &path = scratch.path;
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
  host::HostConfig config;
  try {
    config.Load(path);
  } catch (const std::runtime_error &error) {
    if (std::string(error.what()).find(path + ":") != 0) std::abort();
    return 0;
  }
  const std::string shield = config.ShieldConfigText();
  const std::string monitor = config.MonitorConfigText();
  if (std::count(shield.begin(), shield.end(), ';') != 11) std::abort();
  if (std::count(monitor.begin(), monitor.end(), ';') != 14) std::abort();
  return 0;
}
