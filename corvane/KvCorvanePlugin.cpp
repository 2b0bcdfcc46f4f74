// The visitor monitor behind the C interface of plugin.h.
#include <flowdeck/plugin.h>

#include "Clock.h"
#include "Corvane.h"
#include "StreamFields.h"

struct flowdeck_plugin {
  corvane::Corvane object;
};

extern "C" {

const char *flowdeck_plugin_name(void) {
  return "KvCorvane.Corvane";
}

flowdeck_plugin *flowdeck_plugin_create(void) {
  flowdeck_plugin *plugin = nullptr;
  common::CallFromHost([&] { plugin = new flowdeck_plugin; });
  return plugin;
}

void flowdeck_plugin_destroy(flowdeck_plugin *plugin) {
  common::CallFromHost([&] { delete plugin; });
}

int flowdeck_plugin_stream(flowdeck_plugin *plugin,
                           const flowdeck_text fields[FLOWDECK_FIELD_COUNT]) {
  if (plugin == nullptr || fields == nullptr) return 1;
  return common::CallFromHost([&] { plugin->object.Stream(common::ViewFields(fields)); });
}

int flowdeck_plugin_count(flowdeck_plugin *plugin, int32_t *count) {
  if (plugin == nullptr || count == nullptr) return 1;
  return common::CallFromHost([&] { *count = plugin->object.Count(); });
}

void flowdeck_plugin_set_clock(flowdeck_clock_fn clock, void *context) {
  common::SetClock(clock, context);
}

}  // extern "C"
