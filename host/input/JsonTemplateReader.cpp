#include "input/JsonTemplateReader.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "UrlText.h"
#include "Utf8.h"
#include "input/FormatError.h"

namespace host {

void JsonTemplateReader::Fail(const std::string &what) const {
  throw FormatError(what, at_);
}

void JsonTemplateReader::Read() {
  Blank();
  Object(0);
  Blank();
  if (at_ != text_.size()) throw FormatError("text after the template's object", at_);
}

void JsonTemplateReader::Expect(char c) {
  if (!Next(c)) Fail(std::string("expected '") + c + "' in the JSON template");
  ++at_;
}

void JsonTemplateReader::Object(int node) {
  Expect('{');
  Blank();
  if (Next('}')) {
    ++at_;
    return;
  }
  for (;;) {
    Blank();
    const size_t keyAt = at_;
    const std::string key = String();
    Blank();
    Expect(':');
    Blank();
    Value(node, key, keyAt);
    Blank();
    if (!Next(',')) break;
    ++at_;
  }
  Expect('}');
}

void JsonTemplateReader::Value(int node, const std::string &key, size_t keyAt) {
  if (Next('{')) {
    Object(layout_.ChildNode(node, key));
    return;
  }
  if (Next('[')) {
    SkipArray();
    return;
  }
  if (Next('"')) {
    const size_t offset = at_ + 1;
    const std::string text = String();
    Field(node, key, keyAt, text, offset);
    return;
  }
  // A bare field ends at a blank, a comma or the object's end; braces of its own
  // (${name}, %{%s}t) are passed over whole.
  const size_t start = at_;
  while (at_ < text_.size() && std::strchr(",}] \t\r\n", text_[at_]) == nullptr) {
    if (text_[at_] == '{') at_ = std::min(text_.find('}', at_), text_.size() - 1);
    ++at_;
  }
  if (at_ == start) Fail("a key without a value");
  Field(node, key, keyAt, text_.substr(start, at_ - start), start);
}

void JsonTemplateReader::Field(int node, const std::string &key, size_t keyAt,
                               std::string_view text, size_t offset) {
  auto pattern =
      std::make_shared<const LinePattern>(LinePattern::Build(dialect_(text, offset), false));
  if (pattern->Targets().empty()) return;  // a constant
  JsonLayout::Node &entries = layout_.nodes_[static_cast<size_t>(node)];
  if (entries.Find(key) != nullptr) throw FormatError("the key \"" + key + "\" comes twice", keyAt);
  JsonLayout::Key entry;
  entry.name = key;
  if (const FieldTarget *only = pattern->OnlyField()) {
    entry.target = *only;
  } else {
    entry.pattern = pattern;
  }
  entries.keys.push_back(std::move(entry));
}

void JsonTemplateReader::SkipArray() {
  int depth = 0;
  for (; at_ < text_.size(); ++at_) {
    if (text_[at_] == '"') {
      String();
      --at_;
    } else if (text_[at_] == '[') {
      ++depth;
    } else if (text_[at_] == ']' && --depth == 0) {
      ++at_;
      return;
    }
  }
  Fail("an array that is never closed");
}

// A JSON string, unescaped.
std::string JsonTemplateReader::String() {
  Expect('"');
  std::string value;
  while (at_ < text_.size() && text_[at_] != '"') {
    char c = text_[at_++];
    if (c == '\\') {
      if (at_ >= text_.size()) break;
      c = text_[at_++];
      if (c == 'u') {
        AppendCodePoint(value);
        continue;
      }
      c = c == 'n'   ? '\n'
          : c == 't' ? '\t'
          : c == 'r' ? '\r'
          : c == 'b' ? '\b'
          : c == 'f' ? '\f'
                     : c;
    }
    value.push_back(c);
  }
  Expect('"');
  return value;
}

void JsonTemplateReader::AppendCodePoint(std::string &value) {
  char32_t code = 0;
  for (int i = 0; i < 4; ++i, ++at_) {
    const int digit = common::HexDigitValue(at_ < text_.size() ? text_[at_] : 0);
    if (digit < 0) Fail("a \\u escape without four hex digits");
    code = code * 16 + static_cast<char32_t>(digit);
  }
  common::AppendUtf8(value, code);
}

}  // namespace host
