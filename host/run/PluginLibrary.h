#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <flowdeck/plugin.h>

namespace host {

// A plug-in loaded through plugin.h alone: checked when it is loaded (every function present,
// the name it reports), one object created, destroyed with the library.
class PluginLibrary {
 public:
  // Throws Error saying what is wrong with the file.
  PluginLibrary(const std::string &path, std::string_view expectedName);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary &) = delete;
  PluginLibrary &operator=(const PluginLibrary &) = delete;

  // Sends one call; false when the plug-in reports that its error log could not be written.
  bool Stream(const flowdeck_text fields[FLOWDECK_FIELD_COUNT]);
  // The number of visitors, when the plug-in can tell (-1 otherwise).
  int32_t Count();
  void SetClock(flowdeck_clock_fn clock, void *context);
  const std::string &Path() const { return path_; }

 private:
  std::string path_;
  void *handle_ = nullptr;
  flowdeck_plugin *object_ = nullptr;
  void (*destroy_)(flowdeck_plugin *) = nullptr;
  int (*stream_)(flowdeck_plugin *, const flowdeck_text *) = nullptr;
  int (*count_)(flowdeck_plugin *, int32_t *) = nullptr;
  void (*setClock_)(flowdeck_clock_fn, void *) = nullptr;
};

}  // namespace host
