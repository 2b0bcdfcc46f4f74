#include "report/ShieldEventReader.h"

#include <climits>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <string_view>
#include <unordered_map>

#include "AsciiCase.h"
#include "UrlText.h"
#include "report/ReportTime.h"

namespace report {

namespace {

// A word of the event log: "%hh" back to its byte, "-" for nothing. A damaged escape is kept
// as it stands: the page shows what the file holds rather than failing on it.
std::string Word(std::string_view word) {
  if (word == "-") return "";
  std::string value;
  common::AppendPercentDecoded(value, std::string(word));
  return value;
}

// The next word of rest, taken off its front; empty at the end.
std::string_view NextWord(std::string_view &rest) {
  const size_t start = rest.find_first_not_of(' ');
  if (start == std::string_view::npos) return rest = {}, std::string_view();
  rest.remove_prefix(start);
  const size_t end = std::min(rest.find(' '), rest.size());
  const std::string_view word = rest.substr(0, end);
  rest.remove_prefix(end);
  return word;
}

bool ParseCount(std::string_view text, int &count) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != text.npos)
    return false;
  count = std::atoi(std::string(text).c_str());
  return true;
}

// One event line, its words decoded.
struct Event {
  std::string_view kind;
  Shield shield;
  std::string why;  // the bracketed end, decoded
};

// "(WHY)" or nothing; anything else is not the log's.
bool ParseWhy(std::string_view rest, std::string &why) {
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  if (rest.empty()) return true;
  if (rest.size() < 2 || rest.front() != '(' || rest.back() != ')') return false;
  common::AppendPercentDecoded(why, std::string(rest.substr(1, rest.size() - 2)));
  return true;
}

// "until TIME [offence N]" of a raise.
bool ParseEnd(std::string_view &rest, Shield &shield) {
  if (NextWord(rest) != "until") return false;
  shield.until = MomentFromTimeStamp(NextWord(rest));
  if (!shield.until || !shield.at) return false;
  shield.lifetime = *shield.until - *shield.at;
  std::string_view after = rest;
  if (NextWord(after) != "offence") return true;  // a log of an earlier version
  int offence = 0;
  if (!ParseCount(NextWord(after), offence)) return false;
  shield.offence = offence;
  rest = after;
  return true;
}

bool ParseEvent(std::string_view line, Event &event) {
  std::string_view rest = line;
  const std::string_view time = NextWord(rest);
  event.kind = NextWord(rest);
  Shield &shield = event.shield;
  shield.test = Word(NextWord(rest));
  shield.dateTime = std::string(time);
  shield.at = MomentFromTimeStamp(time);
  shield.remoteAddr = Word(NextWord(rest));
  shield.host = Word(NextWord(rest));
  shield.resource = Word(NextWord(rest));
  if (NextWord(rest) != "->" || !shield.at) return false;
  shield.deflect = Word(NextWord(rest));
  if (event.kind == "raise" && (shield.test.empty() || !ParseEnd(rest, shield))) return false;
  return ParseWhy(rest, event.why);
}

// One line of at most kLongestLine bytes, without its end; false at the end of the file.
bool NextLine(std::filebuf &file, std::string &line, bool &tooLong) {
  line.clear();
  tooLong = false;
  int c = 0;
  while ((c = file.sbumpc()) != std::char_traits<char>::eof()) {
    if (c == '\n') return true;
    if (line.size() < ShieldLog::kLongestLine) {
      line.push_back(static_cast<char>(c));
    } else {
      tooLong = true;
    }
  }
  return !line.empty() || tooLong;
}

// The raises as they are read, the newest kMostRaises of them, and those of every shield
// without a lift yet, by address, host and resource.
class RaiseBook {
 public:
  explicit RaiseBook(ShieldLog &log) : log_(log) {}

  void Raise(Shield shield) {
    open_[Key(shield)].push_back(first_ + raises_.size());
    raises_.push_back(std::move(shield));
    if (raises_.size() > ShieldLog::kMostRaises) DropOldest();
  }

  // A lift of a shield whose raise was left out, or was never logged, lifts nothing shown.
  void Lift(const Shield &lift, std::string why) {
    const auto open = open_.find(Key(lift));
    if (open == open_.end()) return;
    Shield &raise = raises_[open->second.back() - first_];
    raise.liftedAt = lift.at;
    raise.liftWhy = std::move(why);
    open->second.pop_back();
    if (open->second.empty()) open_.erase(open);
  }

  std::vector<Shield> Take() {
    return std::vector<Shield>(std::make_move_iterator(raises_.begin()),
                               std::make_move_iterator(raises_.end()));
  }

 private:
  static std::string Key(const Shield &shield) {
    std::string host = shield.host;
    common::LowerAsciiInPlace(host);
    return shield.remoteAddr + '\n' + host + '\n' + shield.resource;
  }

  // The oldest raise still open is the oldest of its key's.
  void DropOldest() {
    const Shield &oldest = raises_.front();
    if (!oldest.liftedAt) {
      const auto open = open_.find(Key(oldest));
      if (open != open_.end() && open->second.front() == first_) {
        open->second.pop_front();
        if (open->second.empty()) open_.erase(open);
      }
    }
    raises_.pop_front();
    ++first_;
    ++log_.raisesLeftOut;
  }

  ShieldLog &log_;
  std::deque<Shield> raises_;
  size_t first_ = 0;  // the number of the oldest raise held
  std::unordered_map<std::string, std::deque<size_t>> open_;
};

void Spare(ShieldLog &log, Event &event) {
  if (log.spared.size() >= ShieldLog::kMostSpared) {
    ++log.sparedNotListed;
    return;
  }
  Shield &shield = event.shield;
  log.spared.push_back({std::move(shield.test), std::move(shield.dateTime), shield.at,
                        std::move(shield.remoteAddr), std::move(shield.host),
                        std::move(shield.resource), std::move(event.why)});
}

}  // namespace

ShieldLog ReadShieldLog(const std::string &path) {
  ShieldLog log;
  std::filebuf file;
  if (file.open(path, std::ios::in | std::ios::binary) == nullptr) return log;
  RaiseBook book(log);
  std::string line;
  bool tooLong = false;
  while (NextLine(file, line, tooLong)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() && !tooLong) continue;
    Event event;
    if (tooLong || !ParseEvent(line, event)) {
      ++log.unreadLines;
    } else if (event.kind == "raise") {
      event.shield.raiseLogged = true;
      event.shield.figures = std::move(event.why);
      book.Raise(std::move(event.shield));
    } else if (event.kind == "lift") {
      book.Lift(event.shield, std::move(event.why));
    } else if (event.kind == "spare") {
      Spare(log, event);
    }
  }
  log.raises = book.Take();
  return log;
}

}  // namespace report
