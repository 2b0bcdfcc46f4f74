#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "Convert.h"

namespace common {

// Key traits of a text compared without regard to ASCII letter case; the traits of a
// collection add how an item gives its key (KeyOf).
struct TextKeyIgnoringCase {
  using Key = std::string_view;
  static uint64_t Hash(std::string_view key) noexcept { return HashIgnoreCase(key); }
  static bool Equal(std::string_view a, std::string_view b) noexcept {
    return EqualsIgnoreCase(a, b);
  }
};

// Items by key: an open-addressing table of key hashes and items, at most half full, so that a
// lookup reads one slot and one item as a rule. The items stay where they are; the table only
// points at them. Traits name the key type (Key) and give an item's key (KeyOf), a key's hash
// (Hash) and the equality of keys (Equal); keys that are equal hash alike.
template <class Item, class Traits>
class KeyIndex {
 public:
  using Key = typename Traits::Key;

  // The item with the key; nullptr when there is none.
  Item *Find(const Key &key) const {
    if (slots_.empty()) return nullptr;
    const uint64_t hash = Traits::Hash(key);
    for (size_t slot = Home(hash); slots_[slot].item != nullptr; slot = Next(slot)) {
      const Slot &entry = slots_[slot];
      if (entry.hash == hash && Traits::Equal(Traits::KeyOf(*entry.item), key)) return entry.item;
    }
    return nullptr;
  }

  // Adds an item whose key is not in the index yet. A failure leaves the index as it was.
  void Insert(Item &item) {
    const uint64_t hash = Traits::Hash(Traits::KeyOf(item));
    if (2 * (used_ + 1) > slots_.size()) Grow();
    Place({hash, &item});
    ++used_;
  }

  // Takes an item out. Later entries of its probe run move back into the gap unless their home
  // lies after it, so that no lookup stops early at the gap.
  void Erase(const Item &item) noexcept {
    if (slots_.empty()) return;
    size_t gap = Home(Traits::Hash(Traits::KeyOf(item)));
    while (slots_[gap].item != &item) {
      if (slots_[gap].item == nullptr) return;
      gap = Next(gap);
    }
    slots_[gap] = Slot{};
    --used_;
    for (size_t next = Next(gap); slots_[next].item != nullptr; next = Next(next)) {
      const size_t home = Home(slots_[next].hash);
      const bool staysPut =
          gap <= next ? (gap < home && home <= next) : (gap < home || home <= next);
      if (staysPut) continue;
      slots_[gap] = slots_[next];
      slots_[next] = Slot{};
      gap = next;
    }
  }

  void Clear() noexcept {
    std::vector<Slot>().swap(slots_);
    used_ = 0;
  }

 private:
  struct Slot {
    uint64_t hash = 0;
    Item *item = nullptr;
  };
  static constexpr size_t kFirstSize = 16;

  size_t Home(uint64_t hash) const noexcept { return hash & (slots_.size() - 1); }
  size_t Next(size_t slot) const noexcept { return (slot + 1) & (slots_.size() - 1); }

  void Place(const Slot &entry) noexcept {
    size_t slot = Home(entry.hash);
    while (slots_[slot].item != nullptr) slot = Next(slot);
    slots_[slot] = entry;
  }

  void Grow() {
    std::vector<Slot> old(slots_.empty() ? kFirstSize : 2 * slots_.size());
    old.swap(slots_);
    for (const Slot &entry : old) {
      if (entry.item != nullptr) Place(entry);
    }
  }

  std::vector<Slot> slots_;  // a power of two of them, or none
  size_t used_ = 0;
};

}  // namespace common
