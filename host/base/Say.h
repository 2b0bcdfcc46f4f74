#pragma once

#include <iosfwd>
#include <string_view>

namespace host {

// How much a message of flowdeck's own matters, gravest first. A failure ends the command; it
// reaches journald as an error.
enum class Level { kFailure, kError, kWarning, kNotice, kInfo };

// Names the command whose lines Say writes from now on ("replay": "flowdeck replay: ..."). Set
// once, where main dispatches, before any thread starts; until then lines begin "flowdeck: ".
void SayAs(std::string_view command);

// One line of flowdeck's own on `err`: "flowdeck follow: warning: text", or for a failure
// "flowdeck follow: text". When journald reads the stream (a systemd service), the line begins
// with the level as "<4>", which journald takes as the entry's priority; no colour ever.
// Nothing is said per request.
void Say(std::ostream &err, Level level, std::string_view text);

}  // namespace host
