#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// What the tripwire definitions answered for the resources of the latest requests, so that a
// resource asked for again and again (a site's pages, its API) is matched once rather than at
// every request. A slot holds the last resource whose text hashed to it, and its whole text is
// compared at every look-up: an answer never comes from another resource.
class MatchMemo {
 public:
  static constexpr size_t kSlots = 4096;

  MatchMemo();

  // The position the definitions gave this resource, when it is remembered.
  std::optional<int32_t> Find(std::string_view host, std::string_view path,
                              std::string_view translated);
  // Remembers the position for the resource of the latest Find.
  void Remember(int32_t position);
  // Forgets every answer: the definitions changed.
  void Forget() noexcept;

 private:
  struct Slot {
    std::string text;
    int32_t position = 0;
    bool used = false;
  };

  std::vector<Slot> slots_;
  std::string text_;  // the latest Find's resource, its three parts one after another
  size_t slot_ = 0;   // and its slot
};

}  // namespace host
