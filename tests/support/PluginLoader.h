#pragma once

#include <array>
#include <cstdint>
#include <string>

#include <flowdeck/plugin.h>

namespace testing_support {

using Fields = std::array<std::string, FLOWDECK_FIELD_COUNT>;

// A built plug-in copied into a directory of the test's own and loaded from there through
// plugin.h, as a host loads it: its data and log files land in that directory.
class LoadedPlugin {
 public:
  // fileName is "KvVantrel.so" or "KvCorvane.so", taken from the build's plug-in directory.
  LoadedPlugin(const std::string &fileName, const std::string &directory);
  ~LoadedPlugin();
  LoadedPlugin(const LoadedPlugin &) = delete;
  LoadedPlugin &operator=(const LoadedPlugin &) = delete;

  const char *Name() const { return name_(); }
  flowdeck_plugin *Create() const { return create_(); }
  void Destroy(flowdeck_plugin *plugin) const { destroy_(plugin); }
  int Stream(flowdeck_plugin *plugin, const Fields &fields) const;
  // nullptr when the plug-in does not export flowdeck_plugin_count.
  bool HasCount() const { return count_ != nullptr; }
  int Count(flowdeck_plugin *plugin, int32_t *count) const { return count_(plugin, count); }
  // The plug-in's clock reads *now from then on; nullptr gives it the system clock back.
  void SetClock(const double *now) const;
  void *Symbol(const char *name) const;

 private:
  void *handle_ = nullptr;
  const char *(*name_)(void) = nullptr;
  flowdeck_plugin *(*create_)(void) = nullptr;
  void (*destroy_)(flowdeck_plugin *) = nullptr;
  int (*stream_)(flowdeck_plugin *, const flowdeck_text *) = nullptr;
  int (*count_)(flowdeck_plugin *, int32_t *) = nullptr;
  void (*setClock_)(flowdeck_clock_fn, void *) = nullptr;
};

// A date-time (days since 1899-12-30) for a local calendar time.
double LocalDate(int year, int month, int day, int hour, int minute, int second);

}  // namespace testing_support
