#pragma once

#include <string_view>
#include <vector>

#include "input/LinePattern.h"

namespace host {

// The dialect of Apache's LogFormat: %-directives with optional modifiers (a status list
// "400,501" or "!200", "<" or ">") and an optional {argument}, in literal text with the
// backslash escapes of httpd.conf (\" \\ \n \t). Every directive of mod_log_config is known;
// those flowdeck has no use for are read and dropped, an unknown one is an error.
class ApacheFormat {
 public:
  // Throws FormatError at the offending directive. `offset` is the position of text[0] in
  // the whole format.
  static std::vector<FormatToken> Tokens(std::string_view text, size_t offset = 0);
};

}  // namespace host
