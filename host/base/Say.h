#pragma once

#include <iosfwd>
#include <string_view>

namespace host {

// How much a message of flowdeck's own matters, as syslog and journald rank it.
enum class Level { kError = 3, kWarning = 4, kNotice = 5, kInfo = 6 };

// One line of flowdeck's own on `err`: "flowdeck: warning: text". When journald reads the
// stream (a systemd service), the line begins with the level as "<4>" instead, which journald
// takes as the entry's priority; no colour ever. Nothing is said per request.
void Say(std::ostream &err, Level level, std::string_view text);

}  // namespace host
