#include "LinePattern.h"

#include <cstring>

#include "FormatError.h"
#include "LogParser.h"

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

// Literals are a few bytes: a loop beats a call of memcmp.
bool HasAt(std::string_view text, size_t at, const std::string &literal) {
  if (literal.size() > text.size() - at) return false;
  const char *here = text.data() + at;
  for (size_t i = 0; i < literal.size(); ++i) {
    if (here[i] != literal[i]) return false;
  }
  return true;
}

}  // namespace

LinePattern LinePattern::Build(std::vector<FormatToken> tokens, bool escapes) {
  tokens = JoinTargets(JoinLiterals(std::move(tokens)), escapes);
  LinePattern pattern;
  pattern.escapes_ = escapes;
  size_t i = 0;
  if (i < tokens.size() && !tokens[i].isField) pattern.before_ = tokens[i++].literal;
  for (; i < tokens.size(); ++i) {
    Step step{tokens[i].target, {}};
    if (i + 1 < tokens.size() && !tokens[i + 1].isField) {
      step.after = tokens[++i].literal;
    } else if (i + 1 < tokens.size() && !step.target.Ends()) {
      throw FormatError("two fields side by side: nothing tells where the first ends",
                        tokens[i + 1].position);
    }
    pattern.steps_.push_back(std::move(step));
  }
  return pattern;
}

size_t LinePattern::FindEnd(std::string_view text, size_t at, const std::string &after) const {
  if (after.empty()) return text.size();
  const char *const begin = text.data();
  for (size_t from = at; from < text.size();) {
    const void *found = std::memchr(begin + from, after[0], text.size() - from);
    if (found == nullptr) return std::string_view::npos;
    const size_t end = static_cast<size_t>(static_cast<const char *>(found) - begin);
    if (HasAt(text, end, after)) {
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
  if (!HasAt(text, 0, before_)) {
    capture.Fail(LineFault::kShape);
    return false;
  }
  size_t at = before_.size();
  for (const Step &step : steps_) {
    if (step.target.use == FieldUse::kTime) {
      TimeParts parts;
      if (!step.target.ReadTime(text, at, parts)) {
        capture.Fail(LineFault::kTime);
        return false;
      }
      capture.PutTime(step.target, parts);
    } else {
      const size_t end = FindEnd(text, at, step.after);
      if (end == std::string_view::npos) {
        capture.Fail(LineFault::kShape);
        return false;
      }
      std::string_view value = text.substr(at, end - at);
      if (step.target.use != FieldUse::kIgnored) {
        if (escapes_ && value.size() <= LogRecord::kMaxField &&
            std::memchr(value.data(), '\\', value.size()) != nullptr) {
          value = UnescapeLogText(value, storage);
        }
        capture.Put(step.target, value);
      }
      at = end;
    }
    if (!step.after.empty()) {
      if (!HasAt(text, at, step.after)) {
        capture.Fail(LineFault::kShape);
        return false;
      }
      at += step.after.size();
    }
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
  if (!before_.empty() || steps_.size() != 1 || !steps_[0].after.empty()) return nullptr;
  return &steps_[0].target;
}

}  // namespace host
