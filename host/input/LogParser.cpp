#include "input/LogParser.h"

#include <cstring>

#include "UrlText.h"
#include "input/TimeParts.h"
#include "input/TimeText.h"

namespace host {

namespace {

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
    inside = escaped ? UnescapeLogText(raw, storage) : raw;
    return true;
  }

 private:
  std::string_view line_;
  size_t at_ = 0;
};

}  // namespace

bool IsRequestMethod(std::string_view text) {
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
  if (space == std::string_view::npos || !IsRequestMethod(method)) return;
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

std::string_view UnescapeLogText(std::string_view raw, std::string &storage) {
  // Views into storage stay valid because the caller reserved room for every field of the
  // line (unescaping never lengthens a field).
  size_t begin = storage.size();
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '\\' && i + 1 < raw.size()) {
      char next = raw[i + 1];
      if (next == 'x' && i + 3 < raw.size() && common::HexDigitValue(raw[i + 2]) >= 0 &&
          common::HexDigitValue(raw[i + 3]) >= 0) {
        storage.push_back(static_cast<char>(common::HexDigitValue(raw[i + 2]) * 16 +
                                            common::HexDigitValue(raw[i + 3])));
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

bool ParseLogTime(std::string_view text, LogTime &time) {
  size_t at = 0;
  TimeParts parts;
  return ReadClfTime(text, at, parts) && at == text.size() && parts.Finish(time);
}

ParseOutcome ParseCommonLine(std::string_view line, CommonLayout layout, LogRecord &record) {
  record.storage.clear();
  record.storage.reserve(line.size());
  record.vhost = record.port = record.referrer = record.userAgent = record.forwardedFor =
      record.status = {};
  record.fault = LineFault::kShape;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  Cursor cursor(line);
  std::string_view first = cursor.Token();
  std::string_view second = cursor.Token();
  std::string_view third = cursor.Token();
  std::string_view fourth = cursor.Token();
  // Without a vhost the time is the fourth token; with one, the fifth.
  bool vhost = layout == CommonLayout::kVhostCombined ||
               (layout == CommonLayout::kAuto && !fourth.starts_with("["));
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
  if (record.client.empty() || !cursor.Bracketed(time)) return ParseOutcome::kMalformed;
  if (!ParseLogTime(time, record.time)) {
    record.fault = LineFault::kTime;
    return ParseOutcome::kMalformed;
  }
  if (!cursor.Quoted(request, record.storage)) return ParseOutcome::kMalformed;
  std::string_view status = cursor.Token();
  std::string_view bytes = cursor.Token();
  if (status.empty() || bytes.empty()) return ParseOutcome::kMalformed;
  record.status = status;
  if (layout != CommonLayout::kCommon) {
    cursor.Quoted(record.referrer, record.storage);
    cursor.Quoted(record.userAgent, record.storage);
  }
  if (record.authUser == "-") record.authUser = {};
  record.fault = LineFault::kNone;
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
  common::AppendPercentDecoded(path, rawPath);
}

}  // namespace host
