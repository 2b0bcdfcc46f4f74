// A plug-in that is wrong in one way, chosen when it is built: it calls itself by another
// plug-in's name (FLOWDECK_BROKEN_WRONG_NAME) or it lacks its stream function
// (FLOWDECK_BROKEN_NO_STREAM). Everything else is in order.
#include <flowdeck/plugin.h>

struct flowdeck_plugin {
  int calls = 0;
};

extern "C" {

const char *flowdeck_plugin_name(void) {
#ifdef FLOWDECK_BROKEN_WRONG_NAME
  return "KvOther.Other";
#else
  return "KvVantrel.Vantrel";
#endif
}

flowdeck_plugin *flowdeck_plugin_create(void) {
  return new flowdeck_plugin;
}

void flowdeck_plugin_destroy(flowdeck_plugin *plugin) {
  delete plugin;
}

#ifndef FLOWDECK_BROKEN_NO_STREAM
int flowdeck_plugin_stream(flowdeck_plugin *plugin, const flowdeck_text *) {
  ++plugin->calls;
  return 0;
}
#endif

void flowdeck_plugin_set_clock(flowdeck_clock_fn, void *) {}

}  // extern "C"
