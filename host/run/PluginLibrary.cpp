#include "run/PluginLibrary.h"

#include <dlfcn.h>

#include <stdexcept>

#include "base/Error.h"

namespace host {

namespace {

template <class Function>
Function Lookup(void *handle, const std::string &path, const char *name) {
  void *symbol = dlsym(handle, name);
  if (symbol == nullptr) {
    throw Error(path, std::string("not a Flowdeck plug-in: it does not export ") + name);
  }
  return reinterpret_cast<Function>(symbol);
}

// Why dlopen refused a file, without the path it puts in front.
std::string LoadFailure(const std::string &path) {
  const char *reason = dlerror();
  std::string text = reason != nullptr ? reason : "unknown reason";
  if (text.starts_with(path + ": ")) text.erase(0, path.size() + 2);
  return text;
}

}  // namespace

PluginLibrary::PluginLibrary(const std::string &path, std::string_view expectedName) : path_(path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    throw Error(path, std::string("cannot be loaded as a shared object: ") + LoadFailure(path));
  }
  try {
    auto name = Lookup<const char *(*)(void)>(handle_, path, "flowdeck_plugin_name");
    auto create = Lookup<flowdeck_plugin *(*)(void)>(handle_, path, "flowdeck_plugin_create");
    destroy_ = Lookup<decltype(destroy_)>(handle_, path, "flowdeck_plugin_destroy");
    stream_ = Lookup<decltype(stream_)>(handle_, path, "flowdeck_plugin_stream");
    setClock_ = Lookup<decltype(setClock_)>(handle_, path, "flowdeck_plugin_set_clock");
    count_ = reinterpret_cast<decltype(count_)>(dlsym(handle_, "flowdeck_plugin_count"));
    const char *reported = name();
    if (reported == nullptr || expectedName != reported) {
      throw Error(path, std::string("expected the plug-in ") + std::string(expectedName) +
                            ", but it calls itself " + (reported ? reported : "(nothing)"));
    }
    object_ = create();
    if (object_ == nullptr) throw Error(path, "the plug-in could not create its object");
  } catch (...) {
    dlclose(handle_);
    throw;
  }
}

PluginLibrary::~PluginLibrary() {
  if (object_ != nullptr) destroy_(object_);
  if (setClock_ != nullptr) setClock_(nullptr, nullptr);
  dlclose(handle_);
}

bool PluginLibrary::Stream(const flowdeck_text fields[FLOWDECK_FIELD_COUNT]) {
  return stream_(object_, fields) == 0;
}

int32_t PluginLibrary::Count() {
  int32_t count = -1;
  if (count_ == nullptr || count_(object_, &count) != 0) return -1;
  return count;
}

void PluginLibrary::SetClock(flowdeck_clock_fn clock, void *context) {
  setClock_(clock, context);
}

}  // namespace host
