#pragma once

#include <string>
#include <string_view>

#include "input/LogFormat.h"
#include "input/LogRecord.h"

namespace host {

// The built-in reader of the Common Log Format family. Common and Combined differ only in the
// two quoted fields at the end, so one parser reads both; vhost_combined puts "host:port " in
// front; kAuto tells the three apart line by line.
enum class CommonLayout { kAuto, kCommon, kCombined, kVhostCombined };

// Reads one line. kNoRequest: a well-formed line whose request is not an HTTP request.
ParseOutcome ParseCommonLine(std::string_view line, CommonLayout layout, LogRecord &record);

// Reads a bracketed time "10/Oct/2000:13:55:36 -0700" (optionally "13:55:36.123").
bool ParseLogTime(std::string_view text, LogTime &time);

// The path of a request target, percent-decoded as a web server hands it on, and its raw query
// string. An absolute URI ("http://host/path") gives its path.
void SplitTarget(std::string_view target, std::string &path, std::string_view &query);

// Sets method, target and protocol from a request line "GET /a HTTP/1.1"; all three are empty
// when it is no HTTP request.
void SplitRequest(std::string_view request, LogRecord &record);

// Upper-case letters, as HTTP methods are written.
bool IsRequestMethod(std::string_view text);

// A field as the server wrote it, with Apache's \" \\ \xhh and nginx's \xhh escapes undone,
// appended to storage (which must have room for it: unescaping never lengthens a field).
std::string_view UnescapeLogText(std::string_view raw, std::string &storage);

}  // namespace host
