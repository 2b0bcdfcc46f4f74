#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "KeyIndex.h"
#include "KvError.h"

namespace common {

// The plug-ins' keyed collections: items owned in the order they were added, at positions 1 to
// Count, where removing one closes the gap, and found by key without a scan (see KeyIndex for
// the Traits). Errors raised here start at the collection's own site.
template <class Item, class Traits>
class KeyedList {
 public:
  using Key = typename Traits::Key;

  KeyedList() = default;
  KeyedList(const KeyedList &) = delete;
  KeyedList &operator=(const KeyedList &) = delete;
  ~KeyedList() { Clear(); }

  int32_t Count() const noexcept { return static_cast<int32_t>(items_.size()); }

  // The item at a position from 1 to Count; error 5 elsewhere.
  Item &At(const Site &site, int32_t position) const {
    if (position < 1 || position > Count()) Raise(site, kInvalidArgument);
    return *items_[static_cast<size_t>(position - 1)];
  }

  // The item with the key; nullptr when there is none.
  Item *Find(const Key &key) const { return index_.Find(key); }

  // Appends an item whose key is not in the list yet. When it cannot be indexed it leaves
  // again, so that a failure changes nothing: no item is ever held that a lookup misses.
  Item &Add(std::unique_ptr<Item> item) {
    Item &added = *item;
    items_.push_back(std::move(item));
    try {
      index_.Insert(added);
    } catch (...) {
      items_.pop_back();
      throw;
    }
    return added;
  }

  // Removes the item at a position from 1 to Count; error 5 elsewhere.
  void Remove(const Site &site, int32_t position) {
    if (position < 1 || position > Count()) Raise(site, kInvalidArgument);
    const auto at = items_.begin() + (position - 1);
    index_.Erase(**at);
    items_.erase(at);
  }

  // Removes every item the predicate holds for, in one pass; the others close up in order.
  template <class Predicate>
  void RemoveIf(Predicate &&remove) {
    std::erase_if(items_, [&](const std::unique_ptr<Item> &item) {
      if (!remove(*item)) return false;
      index_.Erase(*item);
      return true;
    });
  }

  // Removes every item, the last first.
  void Clear() noexcept {
    index_.Clear();
    while (!items_.empty()) items_.pop_back();
  }

 private:
  std::vector<std::unique_ptr<Item>> items_;
  KeyIndex<Item, Traits> index_;
};

}  // namespace common
