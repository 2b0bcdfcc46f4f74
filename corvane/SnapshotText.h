#pragma once

#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

#include "XmlText.h"

namespace corvane {

// The pieces the snapshot's lines are made of, appended to a line under construction.

template <class Number>
void AppendNumber(std::string &out, Number value) {
  char digits[32];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, static_cast<size_t>(result.ptr - digits));
}

// A serial as a whole number in decimal.
void AppendWholeNumber(std::string &out, double value);

// ElapsedSerial(from, to), worked out from the times of day alone for two whole serials of one
// day whose minutes and seconds are in range: nearly every pair of hits of a visitor.
double ElapsedBetween(double from, double to);

// The text ElapsedSerialToString gives ("11s, 5ms"), built in place for the whole elapsed
// serials that real requests produce.
void AppendElapsedText(std::string &out, double elapsed);

// ` NAME="` + raw text follows; the caller closes the quote.
inline void OpenAttribute(std::string &out, std::string_view name) {
  char text[16];  // every name of the snapshot fits: one append
  if (name.size() > sizeof text - 3) {
    out.append(" ").append(name).append("=\"");
    return;
  }
  text[0] = ' ';
  std::memcpy(text + 1, name.data(), name.size());
  text[name.size() + 1] = '=';
  text[name.size() + 2] = '"';
  out.append(text, name.size() + 3);
}

// ` NAME="value"` for a value of the snapshot's own making ("True", "False") that needs no
// escaping.
inline void AppendPlainAttribute(std::string &out, std::string_view name, std::string_view value) {
  OpenAttribute(out, name);
  out.append(value);
  out.push_back('"');
}

// ` NAME="value"` with the value escaped.
inline void AppendAttribute(std::string &out, std::string_view name, std::string_view value) {
  OpenAttribute(out, name);
  common::AppendXmlAttribute(out, value);
  out.push_back('"');
}

}  // namespace corvane
