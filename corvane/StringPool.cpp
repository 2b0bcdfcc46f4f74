#include "StringPool.h"

namespace corvane {

StringPool::StringPool() {
  entries_.emplace_back();
}

StringPool::Id StringPool::Intern(std::string_view text) {
  if (text.empty()) return kEmpty;
  if (auto found = index_.find(text); found != index_.end()) {
    ++entries_[found->second].users;
    return found->second;
  }
  if (freeIds_.empty()) {
    if (freeIds_.capacity() <= entries_.size()) freeIds_.reserve(2 * entries_.size() + 16);
    entries_.emplace_back();
    freeIds_.push_back(static_cast<Id>(entries_.size() - 1));
  }
  // The id leaves the free list only once the text is indexed: a failure keeps it free.
  const Id id = freeIds_.back();
  Entry &entry = entries_[id];
  entry.text.assign(text);
  index_.emplace(entry.text, id);
  freeIds_.pop_back();
  entry.users = 1;
  return id;
}

StringPool::Id StringPool::InternLike(Id known, std::string_view text) {
  if (known == kEmpty || entries_[known].text != text) return Intern(text);
  ++entries_[known].users;
  return known;
}

void StringPool::Release(Id id) noexcept {
  if (id == kEmpty) return;
  Entry &entry = entries_[id];
  if (--entry.users > 0) return;
  index_.erase(entry.text);
  std::string().swap(entry.text);
  freeIds_.push_back(id);
}

}  // namespace corvane
