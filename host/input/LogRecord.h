#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "input/LineFault.h"

namespace host {

// A log line's time as written, with its zone offset from UTC.
struct LogTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  int zoneMinutes = 0;

  // Milliseconds since 1970 in UTC: the order of lines from servers in different zones.
  int64_t UtcMilliseconds() const;
  // The arrival serial of the plug-ins: the digits yyMMddHHnnssfff of the local time.
  double Serial() const;
};

// The JSON parser a record's lines are read with: one per record, so that records parsed on
// different threads share nothing.
struct JsonScratch;
struct JsonScratchDeleter {
  void operator()(JsonScratch *scratch) const;
};

// One access-log line, viewed in place; a field that needed unescaping lives in the record's
// own storage (or, for a JSON line, in its parser), so a record is valid until it is parsed
// into again.
struct LogRecord {
  // Longer fields make the line count as kFieldTooLong: no server writes them.
  static constexpr size_t kMaxField = 64 * 1024;

  std::string_view vhost, port;
  std::string_view client, authUser;
  LogTime time;
  // The request line's parts; method is empty when the line carries no request ("-", bytes
  // that are not HTTP).
  std::string_view method, target, protocol;
  std::string_view referrer, userAgent;
  // The X-Forwarded-For chain as logged ("a, b, c"); empty when the format has none or the
  // line holds "-". RealClient reads it.
  std::string_view forwardedFor;
  // The response's status as logged ("200", "301"); empty when the format holds none.
  std::string_view status;
  // Why the last parse gave kMalformed.
  LineFault fault = LineFault::kNone;

  std::string storage;  // unescaped fields
  std::unique_ptr<JsonScratch, JsonScratchDeleter> json;
};

enum class ParseOutcome { kRequest, kNoRequest, kMalformed };

}  // namespace host
