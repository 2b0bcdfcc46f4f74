#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace corvane {

class clsUser;

// Visitors by key, ignoring ASCII letter case: an open-addressing table of key hashes and
// visitors, at most half full, so that a lookup reads one slot and one visitor as a rule.
class UserIndex {
 public:
  // The visitor with the key in any letter case; nullptr when there is none.
  clsUser *Find(std::string_view key) const noexcept;
  // Adds a visitor whose key is not in the index yet.
  void Insert(clsUser &user);
  // Takes a visitor out.
  void Erase(const clsUser &user) noexcept;
  void Clear() noexcept;

 private:
  struct Slot {
    uint64_t hash = 0;
    clsUser *user = nullptr;
  };

  size_t Home(uint64_t hash) const noexcept { return hash & (slots_.size() - 1); }
  size_t Next(size_t slot) const noexcept { return (slot + 1) & (slots_.size() - 1); }
  void Place(const Slot &entry) noexcept;
  void Grow();

  std::vector<Slot> slots_;  // a power of two of them, or none
  size_t used_ = 0;
};

}  // namespace corvane
