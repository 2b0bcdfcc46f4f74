#include "input/SyslogMessage.h"

#include <algorithm>

namespace host {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// "<PRI>": a facility and severity of at most 23 * 8 + 7.
bool Priority(std::string_view frame, size_t &at) {
  if (frame.empty() || frame[0] != '<') return false;
  int value = 0;
  size_t i = 1;
  for (; i < frame.size() && i <= 4 && IsDigit(frame[i]); ++i)
    value = value * 10 + (frame[i] - '0');
  if (i == 1 || i > 4 || i >= frame.size() || frame[i] != '>' || value > 191) return false;
  at = i + 1;
  return true;
}

// The text up to the next blank, and `at` past the blank.
std::string_view Word(std::string_view frame, size_t &at) {
  const size_t start = at;
  const size_t blank = frame.find(' ', at);
  at = blank == std::string_view::npos ? frame.size() : blank + 1;
  return frame.substr(start, (blank == std::string_view::npos ? frame.size() : blank) - start);
}

std::string_view Nil(std::string_view field) {
  return field == "-" ? std::string_view() : field;
}

// "Mmm dd hh:mm:ss " (the day may be padded with a blank).
bool ClassicTimestamp(std::string_view frame, size_t at) {
  if (at + 16 > frame.size()) return false;
  const std::string_view t = frame.substr(at, 16);
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  return letter(t[0]) && letter(t[1]) && letter(t[2]) && t[3] == ' ' &&
         (t[4] == ' ' || IsDigit(t[4])) && IsDigit(t[5]) && t[6] == ' ' && IsDigit(t[7]) &&
         IsDigit(t[8]) && t[9] == ':' && IsDigit(t[10]) && IsDigit(t[11]) && t[12] == ':' &&
         IsDigit(t[13]) && IsDigit(t[14]) && t[15] == ' ';
}

// "2026-12-07T21:34:55.042+01:00 " as rsyslog's forwarding format writes it.
bool IsoTimestamp(std::string_view frame, size_t at) {
  return at + 20 <= frame.size() && IsDigit(frame[at]) && IsDigit(frame[at + 3]) &&
         frame[at + 4] == '-' && frame[at + 7] == '-' && frame[at + 10] == 'T';
}

// Whether a word is a tag, "nginx:" or "nginx[123]:"; the tag without its pid and colon.
bool Tag(std::string_view word, std::string_view &tag) {
  if (!word.ends_with(':')) return false;
  word.remove_suffix(1);
  const size_t bracket = word.find('[');
  if (bracket != std::string_view::npos && word.ends_with(']')) word = word.substr(0, bracket);
  tag = word;
  return true;
}

// RFC 5424 after "<PRI>1 ": TIMESTAMP HOSTNAME APP-NAME PROCID MSGID STRUCTURED-DATA MSG.
bool Structured(std::string_view frame, size_t at, SyslogMessage &message) {
  Word(frame, at);  // the timestamp
  message.hostname = Nil(Word(frame, at));
  message.tag = Nil(Word(frame, at));
  Word(frame, at);  // PROCID
  Word(frame, at);  // MSGID
  if (at >= frame.size()) return false;
  if (frame[at] == '-') {
    ++at;
  } else {
    // [id param="value" ...][...]: a "]" inside a value is escaped.
    while (at < frame.size() && frame[at] == '[') {
      for (++at; at < frame.size() && frame[at] != ']'; ++at) {
        if (frame[at] == '\\') ++at;
      }
      if (at >= frame.size()) return false;
      ++at;
    }
  }
  if (at < frame.size() && frame[at] == ' ') ++at;
  std::string_view text = frame.substr(std::min(at, frame.size()));
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a UTF-8 byte order mark
  message.text = text;
  return true;
}

// RFC 3164 after "<PRI>": an optional timestamp, then "HOST TAG: MSG", "TAG: MSG" (no host)
// or "HOST MSG" (no tag).
bool Classic(std::string_view frame, size_t at, SyslogMessage &message) {
  if (ClassicTimestamp(frame, at)) {
    at += 16;
  } else if (IsoTimestamp(frame, at)) {
    Word(frame, at);
  }
  size_t next = at;
  const std::string_view first = Word(frame, next);
  if (Tag(first, message.tag)) {
    message.text = frame.substr(next);
    return true;
  }
  message.hostname = first;
  at = next;
  const std::string_view second = Word(frame, next);
  if (Tag(second, message.tag)) at = next;
  message.text = frame.substr(at);
  return true;
}

}  // namespace

bool SyslogMessage::Parse(std::string_view frame, SyslogMessage &message) {
  message = SyslogMessage();
  while (!frame.empty() && (frame.back() == '\n' || frame.back() == '\r' || frame.back() == '\0')) {
    frame.remove_suffix(1);
  }
  size_t at = 0;
  if (!Priority(frame, at)) return false;
  if (frame.substr(at, 2) == "1 ") return Structured(frame, at + 2, message);
  return Classic(frame, at, message);
}

}  // namespace host
