#pragma once

#include <string_view>
#include <vector>

#include "input/FieldTarget.h"
#include "input/LinePattern.h"

namespace host {

// The dialect of nginx's log_format: $name or ${name} variables in literal text. Every
// variable is read; those flowdeck has no use for ($status, $request_time, $upstream_*, ...)
// or does not know are dropped. The backslash escapes of an nginx.conf string (\" \' \\ \n
// \t \r) are taken as that string would be.
class NginxFormat {
 public:
  // Throws FormatError at a '$' without a name or an unclosed "${". `offset` is the position
  // of text[0] in the whole format.
  static std::vector<FormatToken> Tokens(std::string_view text, size_t offset = 0);
  // Where a variable (its name without "$") goes.
  static FieldTarget Variable(std::string_view name);
  // Whether a text holds an nginx variable.
  static bool Holds(std::string_view text);
};

}  // namespace host
