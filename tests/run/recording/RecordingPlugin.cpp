// A plug-in that judges nobody and writes down every call it is given: one line
// "<role> <action> <clock> <sRemoteAddr>" appended to calls.txt in the directory it was loaded
// from, and the text of its CONFIG to <role>-config.txt there. Built once as each plug-in
// (FLOWDECK_RECORDING_NAME, FLOWDECK_RECORDING_ROLE), so that a run loads the two side by side
// and a test reads in which order, and at which clock, each one was called.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <flowdeck/plugin.h>

struct flowdeck_plugin {
  int calls = 0;
};

namespace {

// The positions of the fields this plug-in reads.
constexpr size_t kAction = 0;
constexpr size_t kRemoteAddr = 5;
constexpr size_t kUserAgent = 13;  // CONFIG's settings text

flowdeck_clock_fn clockFn = nullptr;
void *clockContext = nullptr;

std::string Directory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void *>(&Directory), &info) == 0 || info.dli_fname == nullptr)
    return ".";
  const std::string path = info.dli_fname;
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// One write per line with O_APPEND: the two plug-ins, on different threads, never split one.
bool Append(const std::string &name, const std::string &text, bool truncate) {
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : O_APPEND);
  const int fd = open((Directory() + "/" + name).c_str(), flags, 0600);
  if (fd < 0) return false;
  const bool whole = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return whole;
}

std::string Text(const flowdeck_text &text) {
  return text.data == nullptr ? std::string() : std::string(text.data, text.size);
}

}  // namespace

extern "C" {

FLOWDECK_EXPORT const char *flowdeck_plugin_name(void) {
  return FLOWDECK_RECORDING_NAME;
}

FLOWDECK_EXPORT flowdeck_plugin *flowdeck_plugin_create(void) {
  return new flowdeck_plugin;
}

FLOWDECK_EXPORT void flowdeck_plugin_destroy(flowdeck_plugin *plugin) {
  delete plugin;
}

FLOWDECK_EXPORT int flowdeck_plugin_stream(flowdeck_plugin *plugin, const flowdeck_text *fields) {
  ++plugin->calls;
  const std::string action = Text(fields[kAction]);
  char clock[32];
  std::snprintf(clock, sizeof clock, "%.10f", clockFn == nullptr ? -1.0 : clockFn(clockContext));
  const std::string role = FLOWDECK_RECORDING_ROLE;
  if (action == "CONFIG" && !Append(role + "-config.txt", Text(fields[kUserAgent]), true)) return 1;
  return Append("calls.txt",
                role + " " + action + " " + clock + " " + Text(fields[kRemoteAddr]) + "\n", false)
             ? 0
             : 1;
}

FLOWDECK_EXPORT void flowdeck_plugin_set_clock(flowdeck_clock_fn clock, void *context) {
  clockFn = clock;
  clockContext = context;
}

}  // extern "C"
