#pragma once

#include <string>
#include <string_view>

namespace common {

// Appends a value for a double-quoted XML attribute so that any XML 1.0 parser reads it back:
// "&", "<", ">" and the double quote as entities; tab, CR and LF as character references;
// valid UTF-8 unchanged; any other byte above 127 as the character of that code (the 8-bit
// text read as Latin-1); other control characters, which XML 1.0 cannot carry, and the
// non-characters U+FFFE and U+FFFF as U+FFFD.
void AppendXmlAttribute(std::string &out, std::string_view value);

}  // namespace common
