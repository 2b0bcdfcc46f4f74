#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace host {

// Which access-log layouts a line may have. Common and Combined differ only in the two quoted
// fields at the end, so one parser reads both; vhost_combined puts "host:port " in front.
enum class LogFormat { kAuto, kCommon, kCombined, kVhostCombined };

// A log line's time as written, with its zone offset from UTC.
struct LogTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  int zoneMinutes = 0;

  // Milliseconds since 1970 in UTC: the order of lines from servers in different zones.
  int64_t UtcMilliseconds() const;
  // The arrival serial of the plug-ins: the digits yyMMddHHnnssfff of the local time.
  double Serial() const;
};

// One access-log line, viewed in place; a field that needed unescaping lives in the record's
// own storage, so a record is valid until it is parsed into again.
struct LogRecord {
  std::string_view vhost, port;
  std::string_view client, authUser;
  LogTime time;
  // The request line's parts; method is empty when the line carries no request ("-", bytes
  // that are not HTTP).
  std::string_view method, target, protocol;
  std::string_view referrer, userAgent;

  std::string storage;  // unescaped fields
};

enum class ParseOutcome { kRequest, kNoRequest, kMalformed };

// Reads one line. kNoRequest: a well-formed line whose request is not an HTTP request.
ParseOutcome ParseLogLine(std::string_view line, LogFormat format, LogRecord &record);

// Reads a bracketed time "10/Oct/2000:13:55:36 -0700" (optionally "13:55:36.123").
bool ParseLogTime(std::string_view text, LogTime &time);

// The path of a request target, percent-decoded as a web server hands it on, and its raw query
// string. An absolute URI ("http://host/path") gives its path.
void SplitTarget(std::string_view target, std::string &path, std::string_view &query);

}  // namespace host
