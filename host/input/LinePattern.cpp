#include "input/LinePattern.h"

#include <algorithm>
#include <cstring>

#include "input/FormatError.h"
#include "input/LogParser.h"

namespace host {

namespace {

bool IsSlot(const FormatToken &token, LogSlot slot) {
  return token.isField && token.target.use == FieldUse::kSlot && token.target.slot == slot;
}

bool IsUse(const FormatToken &token, FieldUse use) {
  return token.isField && token.target.use == use;
}

// Joins literals that follow each other and drops empty ones.
std::vector<FormatToken> JoinLiterals(std::vector<FormatToken> tokens) {
  std::vector<FormatToken> joined;
  for (FormatToken &token : tokens) {
    if (!token.isField && token.literal.empty()) continue;
    if (!token.isField && !joined.empty() && !joined.back().isField) {
      joined.back().literal += token.literal;
    } else {
      joined.push_back(std::move(token));
    }
  }
  return joined;
}

// The path and query that servers write side by side ("$uri$is_args$args", "%U%q") are one
// field, the target: only its "?" would tell them apart, and a path may hold none.
std::vector<FormatToken> JoinTargets(std::vector<FormatToken> tokens, bool escapes) {
  std::vector<FormatToken> joined;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const bool nginx = i + 2 < tokens.size() && IsSlot(tokens[i], LogSlot::kPath) &&
                       IsUse(tokens[i + 1], FieldUse::kQuestionMark) &&
                       IsSlot(tokens[i + 2], LogSlot::kQuery);
    const bool apache = i + 1 < tokens.size() && IsSlot(tokens[i], LogSlot::kPath) &&
                        IsUse(tokens[i + 1], FieldUse::kMarkedQuery);
    joined.push_back(std::move(tokens[i]));
    if (nginx || apache) {
      const uint8_t priority = joined.back().target.priority;
      // A text log writes "-" for a missing $args; a JSON log writes nothing.
      joined.back().target = nginx && escapes ? FieldTarget::Use(FieldUse::kUriAndArgs, priority)
                                              : FieldTarget::Slot(LogSlot::kTarget, priority);
      i += nginx ? 2 : 1;
    }
  }
  return joined;
}

// The first `c` at or after text[from], or npos.
size_t FindByte(std::string_view text, size_t from, char c) {
  const void *found = std::memchr(text.data() + from, c, text.size() - from);
  return found == nullptr ? std::string_view::npos
                          : static_cast<size_t>(static_cast<const char *>(found) - text.data());
}

}  // namespace

LinePattern::Literal::Literal(std::string literal) : text(std::move(literal)) {
  const size_t head = std::min<size_t>(text.size(), 8);
  std::memcpy(&word, text.data(), head);
  for (size_t i = 0; i < head; ++i) mask |= uint64_t{0xFF} << (8 * i);
}

LinePattern LinePattern::Build(std::vector<FormatToken> tokens, bool escapes) {
  tokens = JoinTargets(JoinLiterals(std::move(tokens)), escapes);
  LinePattern pattern;
  pattern.escapes_ = escapes;
  size_t i = 0;
  if (i < tokens.size() && !tokens[i].isField) pattern.before_ = Literal(tokens[i++].literal);
  for (; i < tokens.size(); ++i) {
    Step step{tokens[i].target, Literal()};
    if (i + 1 < tokens.size() && !tokens[i + 1].isField) {
      step.after = Literal(tokens[++i].literal);
    } else if (i + 1 < tokens.size() && !step.target.Ends()) {
      throw FormatError("two fields side by side: nothing tells where the first ends",
                        tokens[i + 1].position);
    }
    pattern.steps_.push_back(std::move(step));
  }
  return pattern;
}

size_t LinePattern::FindEnd(std::string_view text, size_t at, const Literal &after) const {
  for (size_t from = at; from < text.size();) {
    const size_t end = FindByte(text, from, after.text[0]);
    if (end == std::string_view::npos) return end;
    if (after.At(text, end)) {
      // Behind an odd number of backslashes the byte is escaped: part of the field.
      size_t backslashes = 0;
      while (escapes_ && end - backslashes > at && text[end - backslashes - 1] == '\\') {
        ++backslashes;
      }
      if (backslashes % 2 == 0) return end;
    }
    from = end + 1;
  }
  return std::string_view::npos;
}

bool LinePattern::Match(std::string_view text, LineCapture &capture, std::string &storage) const {
  if (!before_.At(text, 0)) {
    capture.Fail(LineFault::kShape);
    return false;
  }
  // Most lines hold no backslash at all: one look spares a look at every field.
  const bool escaped = escapes_ && std::memchr(text.data(), '\\', text.size()) != nullptr;
  size_t at = before_.text.size();
  for (const Step &step : steps_) {
    if (step.target.use == FieldUse::kTime) {
      TimeParts parts;
      if (!step.target.ReadTime(text, at, parts)) {
        capture.Fail(LineFault::kTime);
        return false;
      }
      capture.PutTime(step.target, parts);
      if (!step.after.At(text, at)) {
        capture.Fail(LineFault::kShape);
        return false;
      }
    } else {
      // The end is the first place of the literal that follows the field: found at once
      // unless the line holds backslashes or the literal's first byte comes earlier.
      const Literal &after = step.after;
      size_t end = text.size();
      if (!after.Empty()) {
        end = FindByte(text, at, after.text[0]);
        if (end == std::string_view::npos || escaped || !after.At(text, end)) {
          end = FindEnd(text, at, after);
        }
      }
      if (end == std::string_view::npos) {
        capture.Fail(LineFault::kShape);
        return false;
      }
      std::string_view value = text.substr(at, end - at);
      if (step.target.use != FieldUse::kIgnored) {
        if (escaped && value.size() <= LogRecord::kMaxField &&
            std::memchr(value.data(), '\\', value.size()) != nullptr) {
          value = UnescapeLogText(value, storage);
        }
        capture.Put(step.target, value);
      }
      at = end;
    }
    at += step.after.text.size();
  }
  return true;
}

ParseOutcome LinePattern::Parse(std::string_view line, LogRecord &record) const {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  record.storage.clear();
  // Room for every field unescaped and a target joined from its path and query.
  record.storage.reserve(2 * line.size() + 16);
  LineCapture capture;
  Match(line, capture, record.storage);
  return capture.Assemble(record);
}

std::vector<const FieldTarget *> LinePattern::Targets() const {
  std::vector<const FieldTarget *> targets;
  for (const Step &step : steps_) targets.push_back(&step.target);
  return targets;
}

const FieldTarget *LinePattern::OnlyField() const {
  if (!before_.Empty() || steps_.size() != 1 || !steps_[0].after.Empty()) return nullptr;
  return &steps_[0].target;
}

}  // namespace host
