#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvane {

// Texts that many hits repeat (methods, paths, physical paths, ports), each held once and
// counted by its users; a text goes with its last user.
class StringPool {
 public:
  using Id = uint32_t;
  // The empty text: never stored, never counted.
  static constexpr Id kEmpty = 0;

  StringPool();
  StringPool(const StringPool &) = delete;
  StringPool &operator=(const StringPool &) = delete;

  // The id of a text, counting one more user of it.
  Id Intern(std::string_view text);
  // The id of a text when it is the text of `known`, without a lookup, else as Intern.
  Id InternLike(Id known, std::string_view text);
  // Counts one user fewer.
  void Release(Id id) noexcept;
  std::string_view Text(Id id) const noexcept { return entries_[id].text; }
  // Distinct texts held.
  size_t Size() const noexcept { return index_.size(); }

 private:
  struct Entry {
    std::string text;
    uint32_t users = 0;
  };

  // A deque never moves its entries, so the index can view their texts.
  std::deque<Entry> entries_;
  // Ids of dropped texts, for reuse; never needs to grow in Release.
  std::vector<Id> freeIds_;
  std::unordered_map<std::string_view, Id> index_;
};

}  // namespace corvane
