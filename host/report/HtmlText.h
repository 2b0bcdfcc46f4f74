#pragma once

#include <string>
#include <string_view>

namespace report {

// Every value on the page came from a stranger's request. These helpers are the only way a
// value reaches the page.

// The bytes as UTF-8: valid UTF-8 kept, any other byte above 127 read as Latin-1 (the plug-ins
// write 8-bit text), control characters other than tab, LF and CR, and the non-characters
// U+FFFE and U+FFFF, as U+FFFD.
std::string CleanUtf8(std::string_view bytes);

// Appends a value for HTML text or a quoted attribute: & < > " ' as character references.
void AppendHtml(std::string &out, std::string_view value);
std::string Html(std::string_view value);
// Appends <td> (with the classes, when given) holding the escaped value.
void AppendCell(std::string &out, std::string_view value, const char *classes = nullptr);
// Appends a number's cell: the number to four places, the whole value in the tooltip. A value
// that is not wholly a number is shown as it stands.
void AppendFourPlacesCell(std::string &out, const std::string &value);

// Appends a value as a JSON string that is safe inside a <script> element: besides JSON's own
// escapes, < > & and U+2028, U+2029 as \u escapes, so no value can close the element or open
// a comment.
void AppendJsonString(std::string &out, std::string_view value);

}  // namespace report
