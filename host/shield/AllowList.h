#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/AddressRanges.h"

namespace host {

// An address or CIDR range as an operator names it on a command line, in one canonical form
// ("2001:db8::/32", "192.0.2.7"), so that the same range written twice is one entry.
struct AddressSelector {
  std::string text;
  AddressRanges ranges;

  // Empty for anything but one address or one range.
  static std::optional<AddressSelector> Parse(std::string_view text);
};

// One address or range an operator keeps out of the shields' reach, until `expires` (0: for
// as long as it is listed).
struct AllowEntry {
  AddressSelector selector;
  int64_t added = 0;
  int64_t expires = 0;
  std::string why;
};

// The operator's allow list, kept in the run directory beside NeverShield: shields of the
// addresses it covers are spared as NeverShield spares them. Entries lapse at their expiry.
class AllowList {
 public:
  static constexpr size_t kMostEntries = 10000;

  explicit AllowList(std::string path) : path_(std::move(path)) {}

  // Reads the file; lines that cannot be read are skipped and counted.
  void Load();
  size_t UnreadLines() const { return unreadLines_; }

  bool Contains(std::string_view address, int64_t now) const;
  // Adds the entry, or replaces the one for the same range; false when the list is full.
  bool Add(AllowEntry entry);
  // False when no entry has that range.
  bool Remove(const AddressSelector &selector);
  // Takes out the entries whose expiry passed by `now`.
  std::vector<AllowEntry> Expire(int64_t now);
  const std::vector<AllowEntry> &Entries() const { return entries_; }

  // Replaces the file when the list changed; throws Error naming it.
  void Save();

 private:
  std::string path_;
  std::vector<AllowEntry> entries_;
  bool changed_ = false;
  size_t unreadLines_ = 0;
};

}  // namespace host
