#include "input/ApacheFormat.h"

#include <memory>
#include <string>

#include "Convert.h"
#include "input/FormatError.h"
#include "input/TimePattern.h"

namespace host {

namespace {

using S = LogSlot;

// %{Name}i: the request headers flowdeck reads.
FieldTarget Header(std::string_view name) {
  if (common::EqualsIgnoreCase(name, "Referer")) return FieldTarget::Slot(S::kReferrer);
  if (common::EqualsIgnoreCase(name, "User-Agent")) return FieldTarget::Slot(S::kUserAgent);
  if (common::EqualsIgnoreCase(name, "X-Forwarded-For")) return FieldTarget::Slot(S::kForwarded);
  if (common::EqualsIgnoreCase(name, "Host")) return FieldTarget::Use(FieldUse::kHostAndPort, 1);
  return FieldTarget();
}

// %{format}t: "sec", "msec", ... or a strftime format, optionally after "begin:" or "end:".
FieldTarget TimeDirective(std::string_view format, size_t at) {
  for (std::string_view prefix : {"begin:", "end:"}) {
    if (format.starts_with(prefix)) {
      format.remove_prefix(prefix.size());
      at += prefix.size();
    }
  }
  if (format == "sec") return FieldTarget::Time(TimeForm::kEpochSeconds);
  if (format == "msec") return FieldTarget::Time(TimeForm::kEpochMillis);
  if (format == "usec") return FieldTarget::Time(TimeForm::kEpochMicros);
  if (format == "msec_frac") return FieldTarget::Time(TimeForm::kMillisFraction);
  if (format == "usec_frac") return FieldTarget::Time(TimeForm::kMicrosFraction);
  FieldTarget target = FieldTarget::Time(TimeForm::kPattern);
  target.pattern = std::make_shared<const TimePattern>(TimePattern::Compile(format, at));
  return target;
}

// Directives without an argument, or whose argument does not change their meaning.
bool Plain(char letter, std::string_view argument, FieldTarget &target) {
  switch (letter) {
    case 'a':  // %{c}a: the connection's peer, behind mod_remoteip's client
      target = FieldTarget::Slot(S::kClient, argument == "c" ? 1 : 3);
      return true;
    case 'h':
      target = FieldTarget::Slot(S::kClient, argument == "c" ? 1 : 2);
      return true;
    case 'u':
      target = FieldTarget::Slot(S::kAuthUser);
      return true;
    case 'r':
      target = FieldTarget::Slot(S::kRequest);
      return true;
    case 'm':
      target = FieldTarget::Slot(S::kMethod);
      return true;
    case 'U':
      target = FieldTarget::Slot(S::kPath);
      return true;
    case 'q':
      target = FieldTarget::Use(FieldUse::kMarkedQuery);
      return true;
    case 'H':
      target = FieldTarget::Slot(S::kProtocol);
      return true;
    case 'v':
      target = FieldTarget::Slot(S::kVhost, 2);
      return true;
    case 'V':
      target = FieldTarget::Slot(S::kVhost, 3);
      return true;
    case 'p':  // %p, %{canonical}p, %{local}p: the server's port; %{remote}p: the client's
      target = argument == "remote" ? FieldTarget() : FieldTarget::Slot(S::kPort, 2);
      return true;
    case 'i':
      target = Header(argument);
      return true;
    case 's':  // %s and %>s alike: a redirect's status either way
      target = FieldTarget::Slot(S::kStatus);
      return true;
  }
  // Read and dropped: addresses and names of this side, sizes, durations, process and
  // connection facts, environment, cookies, notes, response headers, trailers.
  static constexpr std::string_view kDropped = "ABbCDefklLnoPRTXIOS";
  if (kDropped.find(letter) == std::string_view::npos) return false;
  target = FieldTarget();
  return true;
}

bool IsModifier(char c) {
  return c == '!' || c == '<' || c == '>' || c == ',' || (c >= '0' && c <= '9');
}

char Unescaped(char c) {
  return c == 'n' ? '\n' : c == 't' ? '\t' : c;
}

}  // namespace

std::vector<FormatToken> ApacheFormat::Tokens(std::string_view text, size_t offset) {
  std::vector<FormatToken> tokens;
  std::string literal;
  size_t literalAt = offset;
  auto field = [&](FieldTarget target, size_t at) {
    tokens.push_back(FormatToken::Literal(std::move(literal), literalAt));
    literal.clear();
    tokens.push_back(FormatToken::Field(std::move(target), at));
    literalAt = at + 1;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      literal.push_back(Unescaped(text[++i]));
      continue;
    }
    if (text[i] != '%') {
      literal.push_back(text[i]);
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '%') {
      literal.push_back(text[++i]);
      continue;
    }
    const size_t at = offset + i;
    size_t j = i + 1;
    while (j < text.size() && IsModifier(text[j])) ++j;
    std::string_view argument;
    size_t argumentAt = 0;
    if (j < text.size() && text[j] == '{') {
      const size_t close = text.find('}', j);
      if (close == std::string_view::npos) throw FormatError("'%{' is never closed", at);
      argument = text.substr(j + 1, close - j - 1);
      argumentAt = offset + j + 1;
      j = close + 1;
      while (j < text.size() && IsModifier(text[j])) ++j;
    }
    if (j >= text.size()) throw FormatError("a '%' without a directive", at);
    const char letter = text[j];
    i = j;
    if (letter == 't') {
      if (argument.empty()) {
        literal.push_back('[');
        field(FieldTarget::Time(TimeForm::kClf), at);
        literal.push_back(']');
      } else {
        field(TimeDirective(argument, argumentAt), at);
      }
      continue;
    }
    if (letter == '^') {  // %{Name}^ti, %{Name}^to: trailers
      if (text.substr(j, 3) != "^ti" && text.substr(j, 3) != "^to") {
        throw FormatError("unknown directive '%^': expected %^ti or %^to", at);
      }
      i = j + 2;
      field(FieldTarget(), at);
      continue;
    }
    FieldTarget target;
    if (!Plain(letter, argument, target)) {
      throw FormatError("unknown directive '%" + std::string(1, letter) + "'", at);
    }
    field(std::move(target), at);
  }
  tokens.push_back(FormatToken::Literal(std::move(literal), literalAt));
  return tokens;
}

}  // namespace host
