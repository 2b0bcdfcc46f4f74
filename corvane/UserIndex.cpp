#include "UserIndex.h"

#include <cstring>

#include "Convert.h"
#include "clsUser.h"

namespace corvane {

namespace {

constexpr uint64_t kOnes = 0x0101010101010101;
constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15;
constexpr size_t kFirstSize = 16;

// Upper-cases the ASCII letters among eight bytes at once; bytes above 127 stay.
uint64_t UpperAscii8(uint64_t bytes) noexcept {
  const uint64_t low7 = bytes & (0x7F * kOnes);
  const uint64_t fromA = low7 + (0x80 - 'a') * kOnes;      // high bit set from 'a' on
  const uint64_t pastZ = low7 + (0x80 - 'z' - 1) * kOnes;  // high bit set past 'z'
  const uint64_t lower = fromA & ~pastZ & ~bytes & (0x80 * kOnes);
  return bytes - (lower >> 2);  // 0x80 >> 2 is the 0x20 between the cases
}

uint64_t Mix(uint64_t hash, uint64_t bytes) noexcept {
  hash = (hash ^ UpperAscii8(bytes)) * kMultiplier;
  return hash ^ (hash >> 29);
}

}  // namespace

uint64_t UserIndex::Hash(std::string_view key) noexcept {
  uint64_t hash = key.size() * kMultiplier;
  const char *bytes = key.data();
  size_t left = key.size();
  for (; left >= 8; left -= 8, bytes += 8) {
    uint64_t word;
    std::memcpy(&word, bytes, 8);
    hash = Mix(hash, word);
  }
  if (left > 0) {
    uint64_t word = 0;
    std::memcpy(&word, bytes, left);
    hash = Mix(hash, word);
  }
  return hash ^ (hash >> 32);
}

clsUser *UserIndex::Find(std::string_view key) const noexcept {
  if (slots_.empty()) return nullptr;
  const uint64_t hash = Hash(key);
  for (size_t slot = Home(hash); slots_[slot].user != nullptr; slot = Next(slot)) {
    const Slot &entry = slots_[slot];
    if (entry.hash == hash && common::EqualsIgnoreCase(entry.user->Key(), key)) return entry.user;
  }
  return nullptr;
}

void UserIndex::Insert(clsUser &user) {
  if (2 * (used_ + 1) > slots_.size()) Grow();
  Place({Hash(user.Key()), &user});
  ++used_;
}

void UserIndex::Place(const Slot &entry) noexcept {
  size_t slot = Home(entry.hash);
  while (slots_[slot].user != nullptr) slot = Next(slot);
  slots_[slot] = entry;
}

void UserIndex::Grow() {
  std::vector<Slot> old(slots_.empty() ? kFirstSize : 2 * slots_.size());
  old.swap(slots_);
  for (const Slot &entry : old) {
    if (entry.user != nullptr) Place(entry);
  }
}

// Later entries of the probe run move back into the gap unless their home lies after it, so
// that no lookup stops early at the gap.
void UserIndex::Erase(const clsUser &user) noexcept {
  if (slots_.empty()) return;
  size_t gap = Home(Hash(user.Key()));
  while (slots_[gap].user != &user) {
    if (slots_[gap].user == nullptr) return;
    gap = Next(gap);
  }
  slots_[gap] = Slot{};
  --used_;
  for (size_t next = Next(gap); slots_[next].user != nullptr; next = Next(next)) {
    const size_t home = Home(slots_[next].hash);
    const bool staysPut = gap <= next ? (gap < home && home <= next) : (gap < home || home <= next);
    if (staysPut) continue;
    slots_[gap] = slots_[next];
    slots_[next] = Slot{};
    gap = next;
  }
}

void UserIndex::Clear() noexcept {
  std::vector<Slot>().swap(slots_);
  used_ = 0;
}

}  // namespace corvane
