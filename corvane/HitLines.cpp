#include "HitLines.h"

#include <algorithm>
#include <cstring>

#include "Convert.h"
#include "SnapshotText.h"
#include "modKvGlobal.h"

namespace corvane {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
// Dead text before the first line is cut away once it is this large and half of the whole.
constexpr size_t kCompactAfter = 4096;

bool SamePath(const clsHits &hits, int32_t position, int32_t previous) {
  return hits.Hit(position).PathInfo() == hits.Hit(previous).PathInfo();
}

}  // namespace

std::string_view HitLines::Update(const clsHits &hits) {
  const clsHits::History &now = hits.Changes();
  if (built_ && now == seen_)
    return std::string_view(text_).substr(begin_);  // nothing came or went
  const bool followsOn = built_ && now.layout == seen_.layout && now.appended >= seen_.appended &&
                         now.dropped >= seen_.dropped;
  const uint64_t dropped = followsOn ? now.dropped - seen_.dropped : 0;
  const uint64_t appended = followsOn ? now.appended - seen_.appended : 0;
  const auto held = static_cast<uint64_t>(HeldHits());
  built_ = false;  // until the lines are whole again: a failure part-way leads to a rebuild
  if (!followsOn || (dropped > 0 && dropped >= held) ||
      held - dropped + appended != static_cast<uint64_t>(hits.Count())) {
    Rebuild(hits);
  } else {
    if (dropped > 0) DropFront(hits, dropped);
    if (appended > 0) Append(hits, static_cast<int32_t>(held - dropped) + 1);
  }
  seen_ = now;
  built_ = true;
  Compact();
  // A list that started afresh small keeps no more than it needs.
  if (text_.capacity() > 4 * text_.size() + kCompactAfter) text_.shrink_to_fit();
  return std::string_view(text_).substr(begin_);
}

size_t HitLines::Footprint() const noexcept {
  return text_.capacity() + runs_.capacity() * sizeof(Run);
}

void HitLines::Clear() noexcept {
  text_.clear();
  begin_ = 0;
  runs_.clear();
  built_ = false;
}

void HitLines::Release() noexcept {
  Clear();
  text_.shrink_to_fit();
  runs_.shrink_to_fit();
}

void HitLines::AppendLine(std::string &out, const clsHit &hit, int32_t runLength,
                          double previousSerial) {
  out.append("\t\t\t\t<HIT");
  OpenAttribute(out, "TIME");
  AppendElapsedText(out, ElapsedBetween(previousSerial, hit.ArrivalSerial()));
  out.push_back('"');
  OpenAttribute(out, "PGS");
  AppendNumber(out, runLength);
  out.push_back('"');
  AppendAttribute(out, "ACT", hit.Action());
  AppendAttribute(out, "PTHIN", hit.PathInfo());
  AppendAttribute(out, "PTHTR", hit.PathTranslated());
  // The query string loses its double quotes before it is escaped.
  OpenAttribute(out, "QSTR");
  std::string_view query = hit.QueryString();
  for (size_t quote; (quote = query.find('"')) != std::string_view::npos;) {
    common::AppendXmlAttribute(out, query.substr(0, quote));
    query.remove_prefix(quote + 1);
  }
  common::AppendXmlAttribute(out, query);
  out.push_back('"');
  AppendAttribute(out, "PORT", hit.ServerPort());
  OpenAttribute(out, "ARRV");
  AppendWholeNumber(out, hit.ArrivalSerial());
  out.push_back('"');
  AppendPlainAttribute(out, "SHLD", common::BooleanText(hit.Shielded()));
  out.append("/>");
}

void HitLines::Rebuild(const clsHits &hits) {
  Clear();
  Append(hits, 1);
}

// The hits at the front left; the first run that keeps hits has a new line, as its page count
// changed or as it is now the first, timed from nothing.
void HitLines::DropFront(const clsHits &hits, uint64_t dropped) {
  size_t gone = 0;
  while (dropped > 0) {
    Run &run = runs_[gone];
    const auto taken = static_cast<int32_t>(std::min<uint64_t>(dropped, run.hits));
    run.hits -= taken;
    dropped -= static_cast<uint64_t>(taken);
    if (run.hits > 0) break;
    ++gone;
  }
  if (gone > 0) {
    begin_ = runs_[gone].offset;
    runs_.erase(runs_.begin(), runs_.begin() + static_cast<std::ptrdiff_t>(gone));
  }
  RenderFirst(hits);
}

// Positions from firstNew to the end are new: they extend the last run while they stay on its
// path, then make runs of their own.
void HitLines::Append(const clsHits &hits, int32_t firstNew) {
  const int32_t count = hits.Count();
  size_t firstChanged = runs_.size();
  int32_t firstChangedPosition = firstNew;
  int32_t position = firstNew;
  size_t cut = text_.size();
  if (!runs_.empty() && SamePath(hits, position, position - 1)) {
    firstChanged = runs_.size() - 1;
    firstChangedPosition = firstNew - runs_.back().hits;
    cut = runs_.back().offset;
    for (; position <= count && SamePath(hits, position, position - 1); ++position) {
      ++runs_.back().hits;
    }
  }
  while (position <= count) {
    Run run{0, 1};
    for (++position; position <= count && SamePath(hits, position, position - 1); ++position) {
      ++run.hits;
    }
    runs_.push_back(run);
  }
  text_.resize(cut);
  RenderFrom(hits, firstChanged, firstChangedPosition);
}

void HitLines::RenderFrom(const clsHits &hits, size_t first, int32_t firstPosition) {
  double previous = first == 0 ? 0 : hits.Hit(firstPosition - 1).ArrivalSerial();
  int32_t position = firstPosition - 1;
  for (size_t i = first; i < runs_.size(); ++i) {
    position += runs_[i].hits;
    runs_[i].offset = text_.size();
    const clsHit last = hits.Hit(position);
    AppendLine(text_, last, runs_[i].hits, previous);
    text_.append(kLineEnd);
    previous = last.ArrivalSerial();
  }
}

// The new first line goes where the old one ended when the dead text before it leaves room,
// which it nearly always does; only a longer line at the very start moves the rest.
void HitLines::RenderFirst(const clsHits &hits) {
  const size_t end = runs_.size() > 1 ? runs_[1].offset : text_.size();
  const size_t built = text_.size();
  AppendLine(text_, hits.Hit(runs_[0].hits), runs_[0].hits, 0);
  text_.append(kLineEnd);
  const size_t length = text_.size() - built;
  if (length <= end) {
    std::memmove(text_.data() + (end - length), text_.data() + built, length);
    text_.resize(built);
    begin_ = end - length;
    runs_[0].offset = begin_;
    return;
  }
  const std::string line = text_.substr(built);
  text_.resize(built);
  text_.replace(begin_, end - begin_, line);
  const size_t grown = line.size() - (end - begin_);
  for (size_t i = 1; i < runs_.size(); ++i) runs_[i].offset += grown;
}

void HitLines::Compact() {
  if (begin_ < kCompactAfter || begin_ * 2 < text_.size()) return;
  text_.erase(0, begin_);
  for (Run &run : runs_) run.offset -= begin_;
  begin_ = 0;
}

int32_t HitLines::HeldHits() const noexcept {
  int32_t held = 0;
  for (const Run &run : runs_) held += run.hits;
  return held;
}

}  // namespace corvane
