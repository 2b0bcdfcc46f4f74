// The visitor monitor behind the C interface of plugin.h.
#include "Clock.h"
#include "Corvane.h"
#include "PluginExports.h"

struct flowdeck_plugin {
  corvane::Corvane object;
};

using Exports = common::PluginExports<flowdeck_plugin>;

extern "C" {

const char *flowdeck_plugin_name(void) {
  return "KvCorvane.Corvane";
}
flowdeck_plugin *flowdeck_plugin_create(void) {
  return Exports::Create();
}
void flowdeck_plugin_destroy(flowdeck_plugin *plugin) {
  Exports::Destroy(plugin);
}
int flowdeck_plugin_stream(flowdeck_plugin *plugin,
                           const flowdeck_text fields[FLOWDECK_FIELD_COUNT]) {
  return Exports::Stream(plugin, fields);
}
int flowdeck_plugin_count(flowdeck_plugin *plugin, int32_t *count) {
  return Exports::Count(plugin, count);
}
void flowdeck_plugin_set_clock(flowdeck_clock_fn clock, void *context) {
  common::SetClock(clock, context);
}

}  // extern "C"
