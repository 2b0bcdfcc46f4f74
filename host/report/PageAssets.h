#pragma once

#include <string_view>

namespace report {

// The page's own style sheet (screen, narrow screens and print) and its one small script:
// sorting and filtering the visitors table and opening a visitor's runs. Both are written
// inline under the page's nonce; the script reads its figures from the JSON data block.
std::string_view PageStyle();
std::string_view PageScript();

}  // namespace report
