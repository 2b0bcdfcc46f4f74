#pragma once

#include <cstdint>
#include <string>

namespace common {
class KvError;
}

namespace host {

// What the definitions file gives the shield plug-in, found by the plug-in's own reader: how
// many active tripwires it reads, and why its reading stopped when it did. A site must not
// believe it is guarded when nothing is watched.
struct TripwireDefinitions {
  std::string path;     // the file the run was given
  size_t elements = 0;  // TRIPWIRE elements in it, active or not
  int32_t active = 0;   // definitions read (those before a failure, when one stopped the reading)
  std::string failure;  // why the reading stopped, or empty

  // Reads `runDirectory`/KvVantrel.CFG, the copy of `path` the plug-in reads, with the
  // plug-in's reader.
  static TripwireDefinitions Read(const std::string &runDirectory, const std::string &path);
  // Why the plug-in's reader stopped, as flowdeck tells it: "error 13 Type mismatch".
  static std::string FailureText(const common::KvError &error);

  // "5 active tripwires from FILE".
  std::string Description() const;
  // Empty when the file watches something and was read to its end.
  std::string Warning() const;
};

}  // namespace host
