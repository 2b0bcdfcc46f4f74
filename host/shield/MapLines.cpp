#include "shield/MapLines.h"

#include "AsciiCase.h"

namespace host {

namespace {

bool SameShield(const Shield &a, const Shield &b) {
  return a.address == b.address && a.host == b.host && a.resource == b.resource;
}

void AppendField(std::string &key, const std::string &field, bool foldCase) {
  const uint32_t size = static_cast<uint32_t>(field.size());
  key.append(reinterpret_cast<const char *>(&size), sizeof size);
  for (char c : field) key += foldCase ? common::LowerAscii(c) : c;
}

}  // namespace

MapLines::MapLines(Append append, bool foldCase) : append_(append), foldCase_(foldCase) {}

std::string MapLines::KeyOf(const Shield &shield) const {
  // Each field with its length in front: no value can make two keys alike.
  std::string key;
  AppendField(key, shield.address, foldCase_);
  AppendField(key, shield.host, foldCase_);
  AppendField(key, shield.resource, foldCase_);
  return key;
}

void MapLines::Retire(size_t segment) {
  segments_[segment].live = false;
  deadBytes_ += segments_[segment].size;
}

void MapLines::RenderLine(Entry &entry) {
  Retire(entry.segment);
  const size_t offset = store_.size();
  append_(store_, entry.shields.front());
  entry.segment = segments_.size();
  segments_.push_back({offset, static_cast<uint32_t>(store_.size() - offset), true});
}

bool MapLines::Raise(const Shield &shield) {
  // Written at once where a new line goes; taken back when the key has its line already.
  const size_t offset = store_.size();
  if (!append_(store_, shield)) return false;
  auto [at, added] = entries_.try_emplace(KeyOf(shield));
  Entry &entry = at->second;
  if (added) {
    entry.shields.push_back(shield);
    entry.segment = segments_.size();
    segments_.push_back({offset, static_cast<uint32_t>(store_.size() - offset), true});
    return true;
  }
  store_.resize(offset);
  for (size_t i = 0; i < entry.shields.size(); ++i) {
    if (!SameShield(entry.shields[i], shield)) continue;
    entry.shields[i] = shield;
    if (i == 0) RenderLine(entry);  // its deflect path may have changed
    return true;
  }
  entry.shields.push_back(shield);
  return true;
}

void MapLines::Reserve(size_t shields) {
  entries_.reserve(shields);
  segments_.reserve(shields);
  store_.reserve(shields * 96);
}

void MapLines::Lift(const Shield &shield) {
  auto at = entries_.find(KeyOf(shield));
  if (at == entries_.end()) return;
  Entry &entry = at->second;
  for (size_t i = 0; i < entry.shields.size(); ++i) {
    if (!SameShield(entry.shields[i], shield)) continue;
    entry.shields.erase(entry.shields.begin() + static_cast<std::ptrdiff_t>(i));
    if (entry.shields.empty()) {
      Retire(entry.segment);
      entries_.erase(at);
    } else if (i == 0) {
      RenderLine(entry);  // the next shield of the key takes the line over
    }
    return;
  }
}

void MapLines::Clear() {
  entries_.clear();
  store_.clear();
  segments_.clear();
  deadBytes_ = 0;
}

// Drops the retired lines once they are as many bytes as the live ones.
void MapLines::Compact() {
  std::string store;
  store.reserve(store_.size() - deadBytes_);
  std::vector<size_t> moved(segments_.size(), 0);
  std::vector<Segment> segments;
  for (size_t i = 0; i < segments_.size(); ++i) {
    const Segment &segment = segments_[i];
    if (!segment.live) continue;
    moved[i] = segments.size();
    segments.push_back({store.size(), segment.size, true});
    store.append(store_, segment.offset, segment.size);
  }
  for (auto &[key, entry] : entries_) entry.segment = moved[entry.segment];
  store_.swap(store);
  segments_.swap(segments);
  deadBytes_ = 0;
}

void MapLines::Render(std::string &file) {
  if (deadBytes_ > 0 && deadBytes_ >= store_.size() - deadBytes_) Compact();
  file.clear();
  file.reserve(store_.size() - deadBytes_);
  for (const Segment &segment : segments_) {
    if (segment.live) file.append(store_, segment.offset, segment.size);
  }
}

}  // namespace host
