#include "input/NginxFormat.h"

#include <string>

#include "input/FormatError.h"

namespace host {

namespace {

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

struct Known {
  std::string_view name;
  FieldTarget target;
};

const std::vector<Known> &KnownVariables() {
  using S = LogSlot;
  static const std::vector<Known> known = {
      {"remote_addr", FieldTarget::Slot(S::kClient, 3)},
      // the connecting address when realip has put the client in $remote_addr
      {"realip_remote_addr", FieldTarget::Slot(S::kClient, 1)},
      {"remote_user", FieldTarget::Slot(S::kAuthUser)},
      {"time_local", FieldTarget::Time(TimeForm::kClf)},
      {"time_iso8601", FieldTarget::Time(TimeForm::kIso)},
      {"msec", FieldTarget::Time(TimeForm::kEpochFraction)},
      {"request", FieldTarget::Slot(S::kRequest)},
      {"request_method", FieldTarget::Slot(S::kMethod)},
      {"request_uri", FieldTarget::Slot(S::kTarget, 2)},
      {"uri", FieldTarget::Slot(S::kPath)},
      {"document_uri", FieldTarget::Slot(S::kPath)},
      {"args", FieldTarget::Slot(S::kQuery)},
      {"query_string", FieldTarget::Slot(S::kQuery)},
      {"is_args", FieldTarget::Use(FieldUse::kQuestionMark)},
      {"server_protocol", FieldTarget::Slot(S::kProtocol)},
      {"host", FieldTarget::Slot(S::kVhost, 3)},
      {"server_name", FieldTarget::Slot(S::kVhost, 2)},
      {"http_host", FieldTarget::Use(FieldUse::kHostAndPort, 1)},
      {"server_port", FieldTarget::Slot(S::kPort, 2)},
      {"http_referer", FieldTarget::Slot(S::kReferrer)},
      {"http_user_agent", FieldTarget::Slot(S::kUserAgent)},
      {"http_x_forwarded_for", FieldTarget::Slot(S::kForwarded)},
      {"status", FieldTarget::Slot(S::kStatus)},
  };
  return known;
}

char Unescaped(char c) {
  switch (c) {
    case 'n':
      return '\n';
    case 't':
      return '\t';
    case 'r':
      return '\r';
    default:
      return c;
  }
}

}  // namespace

FieldTarget NginxFormat::Variable(std::string_view name) {
  for (const Known &known : KnownVariables()) {
    if (known.name == name) return known.target;
  }
  return FieldTarget();
}

bool NginxFormat::Holds(std::string_view text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '$' && (IsNameChar(text[i + 1]) || text[i + 1] == '{')) return true;
  }
  return false;
}

std::vector<FormatToken> NginxFormat::Tokens(std::string_view text, size_t offset) {
  std::vector<FormatToken> tokens;
  std::string literal;
  size_t literalAt = offset;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && i + 1 < text.size()) {
      literal.push_back(Unescaped(text[++i]));
      continue;
    }
    if (c != '$') {
      literal.push_back(c);
      continue;
    }
    const size_t at = i;
    size_t begin = i + 1, end = begin;
    if (begin < text.size() && text[begin] == '{') {
      end = text.find('}', ++begin);
      if (end == std::string_view::npos) throw FormatError("'${' is never closed", offset + at);
      i = end;
    } else {
      while (end < text.size() && IsNameChar(text[end])) ++end;
      i = end - 1;
    }
    const std::string_view name = text.substr(begin, end - begin);
    if (name.empty()) throw FormatError("a '$' without a variable name", offset + at);
    for (char n : name) {
      if (!IsNameChar(n))
        throw FormatError("a variable name holds '" + std::string(1, n) + "'", offset + at);
    }
    tokens.push_back(FormatToken::Literal(std::move(literal), literalAt));
    literal.clear();
    tokens.push_back(FormatToken::Field(Variable(name), offset + at));
    literalAt = offset + i + 1;
  }
  tokens.push_back(FormatToken::Literal(std::move(literal), literalAt));
  return tokens;
}

}  // namespace host
