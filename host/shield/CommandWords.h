#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace host {

// Splits a command setting into the words of its argument vector: blanks separate words, and
// '...' or "..." keep blanks inside one word (for a path with blanks). Nothing else is special:
// no shell reads the command. Throws std::invalid_argument for an unclosed quote or no words.
std::vector<std::string> SplitCommandWords(std::string_view command);

}  // namespace host
