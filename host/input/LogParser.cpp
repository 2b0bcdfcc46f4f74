#include "LogParser.h"

#include <cstring>

#include "DateTime.h"
#include "UrlText.h"

namespace host {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads exactly `count` digits at text[at].
bool Digits(std::string_view text, size_t at, size_t count, int &value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (!IsDigit(text[i])) return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

int MonthNumber(std::string_view name) {
  static constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int i = 0; i < 12; ++i) {
    if (name == kMonths[i]) return i + 1;
  }
  return 0;
}

// A cursor over one line.
class Cursor {
 public:
  explicit Cursor(std::string_view line) : line_(line) {}

  bool AtEnd() const { return at_ >= line_.size(); }
  void SkipBlanks() {
    while (at_ < line_.size() && line_[at_] == ' ') ++at_;
  }
  // The text up to the next blank.
  std::string_view Token() {
    SkipBlanks();
    size_t start = at_;
    const void *blank = std::memchr(line_.data() + at_, ' ', line_.size() - at_);
    at_ = blank == nullptr ? line_.size()
                           : static_cast<size_t>(static_cast<const char *>(blank) - line_.data());
    return line_.substr(start, at_ - start);
  }
  // "[...]": the text inside.
  bool Bracketed(std::string_view &inside) {
    SkipBlanks();
    if (at_ >= line_.size() || line_[at_] != '[') return false;
    size_t close = line_.find(']', at_);
    if (close == std::string_view::npos) return false;
    inside = line_.substr(at_ + 1, close - at_ - 1);
    at_ = close + 1;
    return true;
  }
  // "\"...\"": the text inside, unescaped into storage when it holds a backslash. A field whose
  // closing quote is missing runs to the end of the line.
  bool Quoted(std::string_view &inside, std::string &storage) {
    SkipBlanks();
    if (at_ >= line_.size() || line_[at_] != '"') return false;
    size_t start = ++at_;
    size_t quote = line_.find('"', at_);
    if (quote == std::string_view::npos) quote = line_.size();
    // A backslash may escape a quote: only then look at the field byte by byte.
    bool escaped = line_.substr(start, quote - start).find('\\') != std::string_view::npos;
    if (escaped) {
      while (at_ < line_.size() && line_[at_] != '"') {
        if (line_[at_] == '\\' && at_ + 1 < line_.size()) ++at_;
        ++at_;
      }
    } else {
      at_ = quote;
    }
    std::string_view raw = line_.substr(start, at_ - start);
    if (at_ < line_.size()) ++at_;  // the closing quote
    inside = escaped ? Unescape(raw, storage) : raw;
    return true;
  }

 private:
  // Apache writes '"', '\' and unprintable bytes as \", \\ and \xhh.
  static std::string_view Unescape(std::string_view raw, std::string &storage) {
    // Views into storage stay valid because it is reserved once per line, large enough for
    // every field (unescaping never lengthens a field).
    size_t begin = storage.size();
    for (size_t i = 0; i < raw.size(); ++i) {
      char c = raw[i];
      if (c == '\\' && i + 1 < raw.size()) {
        char next = raw[i + 1];
        if (next == 'x' && i + 3 < raw.size() && HexDigitValue(raw[i + 2]) >= 0 &&
            HexDigitValue(raw[i + 3]) >= 0) {
          storage.push_back(
              static_cast<char>(HexDigitValue(raw[i + 2]) * 16 + HexDigitValue(raw[i + 3])));
          i += 3;
          continue;
        }
        if (next == 'n')
          c = '\n';
        else if (next == 't')
          c = '\t';
        else if (next == 'r')
          c = '\r';
        else
          c = next;
        storage.push_back(c);
        ++i;
        continue;
      }
      storage.push_back(c);
    }
    return std::string_view(storage).substr(begin);
  }

  std::string_view line_;
  size_t at_ = 0;
};

bool IsMethod(std::string_view text) {
  if (text.empty() || text.size() > 16) return false;
  for (char c : text) {
    if (c < 'A' || c > 'Z') return false;
  }
  return true;
}

void SplitRequest(std::string_view request, LogRecord &record) {
  record.method = record.target = record.protocol = {};
  size_t space = request.find(' ');
  std::string_view method = request.substr(0, space);
  if (space == std::string_view::npos || !IsMethod(method)) return;
  std::string_view rest = request.substr(space + 1);
  size_t second = rest.rfind(' ');
  std::string_view target = rest, protocol;
  if (second != std::string_view::npos && rest.substr(second + 1).starts_with("HTTP/")) {
    target = rest.substr(0, second);
    protocol = rest.substr(second + 1);
  }
  if (target.empty()) return;
  record.method = method;
  record.target = target;
  record.protocol = protocol;
}

}  // namespace

int64_t LogTime::UtcMilliseconds() const {
  // Days since 1970: the toolkit counts from 1899-12-30, 25,569 days earlier.
  const int64_t days = common::DaysFromCivil(year, month, day) - 25569;
  int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return (seconds - static_cast<int64_t>(zoneMinutes) * 60) * 1000 + millisecond;
}

double LogTime::Serial() const {
  return static_cast<double>(year % 100) * 1e13 + month * 1e11 + day * 1e9 + hour * 1e7 +
         minute * 1e5 + second * 1e3 + millisecond;
}

bool ParseLogTime(std::string_view text, LogTime &time) {
  // dd/Mon/yyyy:HH:MM:SS[.mmm] +zzzz
  if (text.size() < 26 || text[2] != '/' || text[6] != '/' || text[11] != ':' || text[14] != ':' ||
      text[17] != ':') {
    return false;
  }
  time.month = MonthNumber(text.substr(3, 3));
  if (time.month == 0 || !Digits(text, 0, 2, time.day) || !Digits(text, 7, 4, time.year) ||
      !Digits(text, 12, 2, time.hour) || !Digits(text, 15, 2, time.minute) ||
      !Digits(text, 18, 2, time.second)) {
    return false;
  }
  size_t at = 20;
  time.millisecond = 0;
  if (at < text.size() && text[at] == '.') {
    size_t digits = 0;
    int value = 0;
    for (++at; at < text.size() && IsDigit(text[at]); ++at, ++digits) {
      if (digits < 3) value = value * 10 + (text[at] - '0');
    }
    if (digits == 0) return false;
    for (size_t d = digits; d < 3; ++d) value *= 10;
    time.millisecond = value;
  }
  if (at + 6 != text.size() || text[at] != ' ' || (text[at + 1] != '+' && text[at + 1] != '-')) {
    return false;
  }
  int hours = 0, minutes = 0;
  if (!Digits(text, at + 2, 2, hours) || !Digits(text, at + 4, 2, minutes)) return false;
  time.zoneMinutes = (hours * 60 + minutes) * (text[at + 1] == '-' ? -1 : 1);
  return time.day >= 1 && time.day <= 31 && time.hour < 24 && time.minute < 60 && time.second < 61;
}

ParseOutcome ParseLogLine(std::string_view line, LogFormat format, LogRecord &record) {
  record.storage.clear();
  record.storage.reserve(line.size());
  record.vhost = record.port = record.referrer = record.userAgent = {};
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  Cursor cursor(line);
  std::string_view first = cursor.Token();
  std::string_view second = cursor.Token();
  std::string_view third = cursor.Token();
  std::string_view fourth = cursor.Token();
  // Without a vhost the time is the fourth token; with one, the fifth.
  bool vhost = format == LogFormat::kVhostCombined ||
               (format == LogFormat::kAuto && !fourth.starts_with("["));
  if (vhost) {
    size_t colon = first.rfind(':');
    if (colon == std::string_view::npos) return ParseOutcome::kMalformed;
    record.vhost = first.substr(0, colon);
    record.port = first.substr(colon + 1);
    record.client = second;
    record.authUser = fourth;
    cursor = Cursor(line);
    for (int i = 0; i < 4; ++i) cursor.Token();
  } else {
    record.client = first;
    record.authUser = third;
    cursor = Cursor(line);
    for (int i = 0; i < 3; ++i) cursor.Token();
  }
  std::string_view time, request;
  if (record.client.empty() || !cursor.Bracketed(time) || !ParseLogTime(time, record.time) ||
      !cursor.Quoted(request, record.storage)) {
    return ParseOutcome::kMalformed;
  }
  std::string_view status = cursor.Token();
  std::string_view bytes = cursor.Token();
  if (status.empty() || bytes.empty()) return ParseOutcome::kMalformed;
  if (format != LogFormat::kCommon) {
    cursor.Quoted(record.referrer, record.storage);
    cursor.Quoted(record.userAgent, record.storage);
  }
  if (record.authUser == "-") record.authUser = {};
  SplitRequest(request, record);
  return record.method.empty() ? ParseOutcome::kNoRequest : ParseOutcome::kRequest;
}

void SplitTarget(std::string_view target, std::string &path, std::string_view &query) {
  if (target.starts_with("http://") || target.starts_with("https://")) {
    size_t slash = target.find('/', target.find("//") + 2);
    target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
  }
  size_t mark = target.find('?');
  std::string_view rawPath = target.substr(0, mark);
  query = mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
  path.clear();
  AppendPercentDecoded(path, rawPath);
}

}  // namespace host
