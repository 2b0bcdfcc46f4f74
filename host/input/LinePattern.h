#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "input/FieldTarget.h"
#include "input/LineCapture.h"
#include "input/LineLayout.h"

namespace host {

// One piece of a format string as its dialect (nginx, Apache) reads it: literal text, or a
// field with the place its value goes.
struct FormatToken {
  bool isField = false;
  std::string literal;
  FieldTarget target;
  size_t position = 0;  // of the piece in the format text

  static FormatToken Literal(std::string text, size_t at) {
    return {false, std::move(text), {}, at};
  }
  static FormatToken Field(FieldTarget target, size_t at) {
    return {true, {}, std::move(target), at};
  }
};

// A format compiled into a matcher: literal text, then fields each ended by the literal text
// that follows it (or by its own shape, for times; or by the end of the line). A line is
// read once from left to right; nothing is searched twice.
class LinePattern : public LineLayout {
 public:
  // Throws FormatError where two fields touch and nothing tells where the first ends.
  // `escapes`: fields may hold the backslash escapes servers write into text logs (a JSON
  // string's value, already unescaped, holds none).
  static LinePattern Build(std::vector<FormatToken> tokens, bool escapes);

  // Reads the text into the capture; false (with the capture's fault set) when it does not
  // fit. Unescaped fields are appended to storage, which must have room for them.
  bool Match(std::string_view text, LineCapture &capture, std::string &storage) const;
  ParseOutcome Parse(std::string_view line, LogRecord &record) const override;

  std::vector<const FieldTarget *> Targets() const;
  // The pattern's one field when it is a single field and no literal text.
  const FieldTarget *OnlyField() const;

 private:
  // Literal text of the format, its first eight bytes also held as one word: most literals
  // (" - ", "\" \"", "] \"") are compared in one step.
  struct Literal {
    std::string text;
    uint64_t word = 0, mask = 0;

    explicit Literal(std::string literal = "");
    bool Empty() const { return text.empty(); }
    // Whether the line holds the text at `at` (at most the line's size).
    bool At(std::string_view line, size_t at) const {
      if (text.size() > line.size() - at) return false;
      if (line.size() - at < 8) return std::memcmp(line.data() + at, text.data(), text.size()) == 0;
      uint64_t bytes;
      std::memcpy(&bytes, line.data() + at, 8);
      return (bytes & mask) == word &&
             (text.size() <= 8 ||
              std::memcmp(line.data() + at + 8, text.data() + 8, text.size() - 8) == 0);
    }
  };
  struct Step {
    FieldTarget target;
    Literal after;  // the literal text that ends the field, or empty
  };
  // Where a field that starts at `at` ends: the first place of the literal after it that no
  // backslash escapes.
  size_t FindEnd(std::string_view text, size_t at, const Literal &after) const;

  Literal before_;
  std::vector<Step> steps_;
  bool escapes_ = true;
};

}  // namespace host
