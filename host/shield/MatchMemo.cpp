#include "shield/MatchMemo.h"

#include <functional>
#include <initializer_list>

namespace host {

MatchMemo::MatchMemo() : slots_(kSlots) {}

std::optional<int32_t> MatchMemo::Find(std::string_view host, std::string_view path,
                                       std::string_view translated) {
  // Each part after its length, so that no two resources give the same text.
  text_.clear();
  for (std::string_view part : {host, path, translated}) {
    const auto size = static_cast<uint32_t>(part.size());
    text_.append(reinterpret_cast<const char *>(&size), sizeof size).append(part);
  }
  slot_ = std::hash<std::string_view>{}(text_) % kSlots;
  const Slot &slot = slots_[slot_];
  if (slot.used && slot.text == text_) return slot.position;
  return std::nullopt;
}

void MatchMemo::Remember(int32_t position) {
  Slot &slot = slots_[slot_];
  slot.text.assign(text_);  // keeps the slot's buffer once it is large enough
  slot.position = position;
  slot.used = true;
}

void MatchMemo::Forget() noexcept {
  for (Slot &slot : slots_) slot.used = false;
}

}  // namespace host
