#include "UserIndex.h"

#include "Convert.h"
#include "clsUser.h"

namespace corvane {

namespace {

constexpr size_t kFirstSize = 16;

}  // namespace

clsUser *UserIndex::Find(std::string_view key) const noexcept {
  if (slots_.empty()) return nullptr;
  const uint64_t hash = common::HashIgnoreCase(key);
  for (size_t slot = Home(hash); slots_[slot].user != nullptr; slot = Next(slot)) {
    const Slot &entry = slots_[slot];
    if (entry.hash == hash && common::EqualsIgnoreCase(entry.user->Key(), key)) return entry.user;
  }
  return nullptr;
}

void UserIndex::Insert(clsUser &user) {
  if (2 * (used_ + 1) > slots_.size()) Grow();
  Place({common::HashIgnoreCase(user.Key()), &user});
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
  size_t gap = Home(common::HashIgnoreCase(user.Key()));
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
