#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "input/FormatError.h"
#include "input/LogRecord.h"

namespace host {

class LineLayout;

// How the lines of a log are read, compiled once from what an operator wrote: a preset name
// (auto, common, combined, vhost_combined, caddy, traefik), an nginx log_format string (it
// holds $variables), an Apache LogFormat string (it holds %directives), or a JSON template
// of either ({"addr":"$remote_addr",...}). A copy shares the compiled form; Parse is const
// and keeps nothing between lines, so one format serves any number of readers and threads.
class LogFormat {
 public:
  // auto: Common, Combined or vhost_combined, told apart line by line.
  LogFormat();

  // Throws FormatError, whose position points into `text` at the fault.
  static LogFormat Compile(std::string_view text);

  // Reads one line (without its line end) into the record; on kMalformed, record.fault says
  // why. The record's views stay valid until it is parsed into again.
  ParseOutcome Parse(std::string_view line, LogRecord &record) const;

  // "auto", "combined", "caddy", "nginx", "Apache", "nginx JSON template", ...
  const std::string &Kind() const;
  // Whether the lines carry an X-Forwarded-For chain for a RealClient to read.
  bool HasForwardedChain() const;

  // "column 12: unknown directive '%Z'" with the text and a caret under the column, for a
  // usage error.
  static std::string Describe(std::string_view text, const FormatError &error);

 private:
  struct Compiled;
  LogFormat(std::shared_ptr<const LineLayout> layout, std::string kind, bool forwarded);

  // One pointer: a copy (callers pass formats by value) costs one count.
  std::shared_ptr<const Compiled> compiled_;
};

}  // namespace host
