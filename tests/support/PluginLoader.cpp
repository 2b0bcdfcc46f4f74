#include "support/PluginLoader.h"

#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>

namespace testing_support {

namespace {

double ReadClock(void *context) {
  return *static_cast<const double *>(context);
}

template <class Function>
Function Resolve(void *handle, const char *name, bool required) {
  void *symbol = dlsym(handle, name);
  if (symbol == nullptr && required) throw std::runtime_error(std::string("missing ") + name);
  return reinterpret_cast<Function>(symbol);
}

}  // namespace

LoadedPlugin::LoadedPlugin(const std::string &fileName, const std::string &directory) {
  const std::filesystem::path source = std::filesystem::path(FLOWDECK_PLUGIN_DIR) / fileName;
  const std::filesystem::path target = std::filesystem::path(directory) / fileName;
  std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing);
  handle_ = dlopen(target.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) throw std::runtime_error(dlerror());
  name_ = Resolve<decltype(name_)>(handle_, "flowdeck_plugin_name", true);
  create_ = Resolve<decltype(create_)>(handle_, "flowdeck_plugin_create", true);
  destroy_ = Resolve<decltype(destroy_)>(handle_, "flowdeck_plugin_destroy", true);
  stream_ = Resolve<decltype(stream_)>(handle_, "flowdeck_plugin_stream", true);
  count_ = Resolve<decltype(count_)>(handle_, "flowdeck_plugin_count", false);
  setClock_ = Resolve<decltype(setClock_)>(handle_, "flowdeck_plugin_set_clock", true);
}

LoadedPlugin::~LoadedPlugin() {
  if (setClock_ != nullptr) setClock_(nullptr, nullptr);
  if (handle_ != nullptr) dlclose(handle_);
}

int LoadedPlugin::Stream(flowdeck_plugin *plugin, const Fields &fields) const {
  flowdeck_text texts[FLOWDECK_FIELD_COUNT];
  for (size_t i = 0; i < FLOWDECK_FIELD_COUNT; ++i) {
    texts[i] = flowdeck_text{fields[i].data(), fields[i].size()};
  }
  return stream_(plugin, texts);
}

void LoadedPlugin::SetClock(const double *now) const {
  setClock_(now != nullptr ? ReadClock : nullptr, const_cast<double *>(now));
}

void *LoadedPlugin::Symbol(const char *name) const {
  return dlsym(handle_, name);
}

double LocalDate(int year, int month, int day, int hour, int minute, int second) {
  // Days from 1899-12-30 by the civil-date count, plus the time of day.
  auto daysFromCivil = [](long y, long m, long d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
  };
  const long days = daysFromCivil(year, month, day) + 25569;
  return static_cast<double>(days) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

}  // namespace testing_support
