#include "input/TimePattern.h"

#include <string>

#include "input/FormatError.h"
#include "input/TimeText.h"

namespace host {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// From `least` to `most` digits.
bool Number(std::string_view text, size_t &at, size_t least, size_t most, int &value) {
  const size_t start = at;
  value = 0;
  while (at < text.size() && at - start < most && IsDigit(text[at])) {
    value = value * 10 + (text[at++] - '0');
  }
  return at - start >= least;
}

size_t Letters(std::string_view text, size_t &at, size_t most) {
  const size_t start = at;
  while (at < text.size() && at - start < most && IsLetter(text[at])) ++at;
  return at - start;
}

// The conversions that stand for a row of others, as the C locale spells them.
std::string_view Expansion(char conversion) {
  switch (conversion) {
    case 'T':
    case 'X':
      return "%H:%M:%S";
    case 'D':
    case 'x':
      return "%m/%d/%y";
    case 'F':
      return "%Y-%m-%d";
    case 'R':
      return "%H:%M";
    case 'r':
      return "%I:%M:%S %p";
    case 'c':
      return "%a %b %e %H:%M:%S %Y";
    default:
      return {};
  }
}

}  // namespace

TimePattern TimePattern::Compile(std::string_view format, size_t offset) {
  TimePattern pattern;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      pattern.steps_.push_back({Piece::kLiteral, format[i]});
      continue;
    }
    const size_t start = i;
    if (i + 1 < format.size() && (format[i + 1] == 'E' || format[i + 1] == 'O')) ++i;
    if (++i >= format.size()) throw FormatError("a time format cannot end in '%'", offset + start);
    pattern.Add(format.substr(i, 1), offset + start);
  }
  for (const Step &step : pattern.steps_) {
    if (step.piece != Piece::kLiteral) return pattern;
  }
  throw FormatError("a time format without a % conversion", offset);
}

void TimePattern::Add(std::string_view conversion, size_t at) {
  const char c = conversion[0];
  if (std::string_view row = Expansion(c); !row.empty()) {
    for (size_t i = 0; i < row.size(); ++i) {
      if (row[i] == '%') {
        Add(row.substr(++i, 1), at);
      } else {
        steps_.push_back({Piece::kLiteral, row[i]});
      }
    }
    return;
  }
  Piece piece;
  char literal = 0;
  switch (c) {
    case 'Y':
      piece = Piece::kYear;
      break;
    case 'y':
      piece = Piece::kShortYear;
      break;
    case 'm':
      piece = Piece::kMonth;
      break;
    case 'b':
    case 'h':
    case 'B':
      piece = Piece::kMonthName;
      break;
    case 'd':
      piece = Piece::kDay;
      break;
    case 'e':
      piece = Piece::kSpacedDay;
      break;
    case 'H':
      piece = Piece::kHour;
      break;
    case 'I':
      piece = Piece::kHour12;
      break;
    case 'M':
      piece = Piece::kMinute;
      break;
    case 'S':
      piece = Piece::kSecond;
      break;
    case 'p':
    case 'P':
      piece = Piece::kAmPm;
      break;
    case 'a':
    case 'A':
      piece = Piece::kDayName;
      break;
    case 'z':
      piece = Piece::kOffset;
      break;
    case 'Z':
      piece = Piece::kZoneName;
      break;
    case 's':
      piece = Piece::kEpoch;
      break;
    case 'j':
    case 'u':
    case 'w':
    case 'U':
    case 'W':
    case 'V':
    case 'C':
    case 'G':
    case 'g':
      piece = Piece::kSkipDigits;
      break;
    case 'n':
      piece = Piece::kLiteral, literal = '\n';
      break;
    case 't':
      piece = Piece::kLiteral, literal = '\t';
      break;
    case '%':
      piece = Piece::kLiteral, literal = '%';
      break;
    default:
      throw FormatError(std::string("unknown time conversion '%") + c + "'", at);
  }
  steps_.push_back({piece, literal});
}

bool TimePattern::Read(std::string_view text, size_t &at, TimeParts &parts) const {
  for (const Step &step : steps_) {
    int value = 0;
    bool ok = true;
    switch (step.piece) {
      case Piece::kLiteral:
        ok = at < text.size() && text[at] == step.literal;
        at += ok ? 1 : 0;
        break;
      case Piece::kYear:
        ok = Number(text, at, 4, 4, parts.year);
        break;
      case Piece::kShortYear:
        ok = Number(text, at, 2, 2, value);
        parts.year = value < 69 ? 2000 + value : 1900 + value;
        break;
      case Piece::kMonth:
        ok = Number(text, at, 1, 2, parts.month);
        break;
      case Piece::kMonthName:
        parts.month = ReadMonthName(text, at);
        ok = parts.month != 0;
        break;
      case Piece::kSpacedDay:
        if (at < text.size() && text[at] == ' ') ++at;
        [[fallthrough]];
      case Piece::kDay:
        ok = Number(text, at, 1, 2, parts.day);
        break;
      case Piece::kHour:
        ok = Number(text, at, 1, 2, parts.hour);
        break;
      case Piece::kHour12:
        ok = Number(text, at, 1, 2, parts.hour12);
        break;
      case Piece::kMinute:
        ok = Number(text, at, 1, 2, parts.minute);
        break;
      case Piece::kSecond:
        ok = Number(text, at, 1, 2, parts.second);
        break;
      case Piece::kAmPm: {
        const std::string_view mark = text.substr(at, 2);
        ok = mark.size() == 2 && (mark[1] == 'M' || mark[1] == 'm') &&
             (mark[0] == 'A' || mark[0] == 'a' || mark[0] == 'P' || mark[0] == 'p');
        parts.pm = ok && (mark[0] == 'P' || mark[0] == 'p');
        at += ok ? 2 : 0;
        break;
      }
      case Piece::kDayName:
        ok = Letters(text, at, 9) >= 3;
        break;
      case Piece::kOffset:
        ok = ReadZoneOffset(text, at, parts);
        break;
      case Piece::kZoneName: {
        const size_t start = at;
        ok = Letters(text, at, 6) > 0;
        const std::string_view name = text.substr(start, at - start);
        if (name == "UTC" || name == "GMT") parts.zone = TimeParts::Zone::kUtc;
        break;
      }
      case Piece::kEpoch:
        ok = ReadEpoch(text, at, 1, false, parts);
        break;
      case Piece::kSkipDigits:
        ok = Number(text, at, 1, 4, value);
        break;
    }
    if (!ok) return false;
  }
  return true;
}

}  // namespace host
