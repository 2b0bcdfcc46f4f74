#pragma once

#include <string>
#include <string_view>

#include "input/JsonLayout.h"

namespace host {

// Reads a JSON template into a layout's keys: a JSON object whose values are format text
// rather than JSON (a bare $status is no JSON number), nested objects included; arrays and
// constants are passed over. Throws FormatError at the fault.
class JsonTemplateReader {
 public:
  JsonTemplateReader(std::string_view text, JsonLayout::Dialect dialect, JsonLayout &layout)
      : text_(text), dialect_(dialect), layout_(layout) {}

  void Read();

 private:
  [[noreturn]] void Fail(const std::string &what) const;
  static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
  void Blank() {
    while (at_ < text_.size() && IsBlank(text_[at_])) ++at_;
  }
  bool Next(char c) const { return at_ < text_.size() && text_[at_] == c; }
  void Expect(char c);
  void Object(int node);
  void Value(int node, const std::string &key, size_t keyAt);
  void Field(int node, const std::string &key, size_t keyAt, std::string_view text, size_t offset);
  void SkipArray();
  std::string String();
  void AppendCodePoint(std::string &value);

  std::string_view text_;
  size_t at_ = 0;
  JsonLayout::Dialect dialect_;
  JsonLayout &layout_;
};

}  // namespace host
