#pragma once

#include <string_view>

namespace host {

// One syslog message with its header taken off: what nginx sends with
// "access_log syslog:server=...", and what rsyslog or syslog-ng forward.
struct SyslogMessage {
  std::string_view hostname;  // empty when the sender left it out (nginx's nohostname)
  std::string_view tag;       // RFC 3164's tag or RFC 5424's APP-NAME, without "[pid]" and ":"
  std::string_view text;      // the log line

  // Reads "<PRI>" and then an RFC 5424 header ("1 TIMESTAMP HOST APP PROCID MSGID SD ") or
  // an RFC 3164 one ("Mmm dd hh:mm:ss HOST TAG: "; the host may be missing). A trailing line
  // end is dropped. False when the frame is no syslog message: no PRI, a PRI above 191, or a
  // header cut short.
  static bool Parse(std::string_view frame, SyslogMessage &message);
};

}  // namespace host
