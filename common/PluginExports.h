#pragma once

#include <cstdint>

#include <flowdeck/plugin.h>

#include "StreamFields.h"

namespace common {

// The C interface of plugin.h over a plug-in's class, written once for both plug-ins. Handle is
// the plug-in's flowdeck_plugin, which holds its one object as `object`; the plug-in's exports
// file defines each C function as a call of the function of the same name here. Each catches
// whatever its body throws (CallFromHost), so no exception reaches the host.
template <class Handle>
struct PluginExports {
  // nullptr when the object cannot be made.
  static Handle *Create() noexcept {
    Handle *plugin = nullptr;
    CallFromHost([&] { plugin = new Handle; });
    return plugin;
  }

  static void Destroy(Handle *plugin) noexcept {
    CallFromHost([&] { delete plugin; });
  }

  static int Stream(Handle *plugin, const flowdeck_text fields[FLOWDECK_FIELD_COUNT]) noexcept {
    if (plugin == nullptr || fields == nullptr) return 1;
    return CallFromHost([&] { plugin->object.Stream(ViewFields(fields)); });
  }

  // Only for a class that counts its visitors.
  static int Count(Handle *plugin, int32_t *count) noexcept {
    if (plugin == nullptr || count == nullptr) return 1;
    return CallFromHost([&] { *count = plugin->object.Count(); });
  }
};

}  // namespace common
