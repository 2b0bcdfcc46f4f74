#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "base/Shield.h"

namespace host {

// The shields in force, each for its lifetime from the moment it was raised, kept in a record
// in the run directory (replaced whole whenever it changes) so that a follow started again
// carries on where the last one stopped. One shield per address, host and resource; every
// shield of an address locks that address in the monitor.
class ShieldBook {
 public:
  explicit ShieldBook(std::string recordPath);

  // Takes over the record a previous run left: shields still within their lifetime at `now`
  // are in force again; those whose lifetime passed while nothing ran are returned, to be
  // lifted. Lines that cannot be read are skipped and counted.
  std::vector<Shield> Restore(int64_t now);
  size_t UnreadRecordLines() const { return unreadLines_; }

  // Puts a normalized shield in force from `now` for `lifetime` seconds (its raisedAt and
  // expiresAt are set); false when one with the same address, host and resource already is,
  // which stays as it was.
  bool Raise(Shield &shield, int64_t now, int64_t lifetime);
  // Lifts the shields `which` picks, whatever their lifetime.
  template <typename Which>
  std::vector<Shield> Lift(Which which) {
    std::vector<Shield> lifted;
    for (auto entry = shields_.begin(); entry != shields_.end();) {
      if (which(entry->second)) {
        lifted.push_back(Remove(entry));
        entry = shields_.erase(entry);
      } else {
        ++entry;
      }
    }
    if (!lifted.empty()) changed_ = true;
    return lifted;
  }
  // The shields raised by hand while no follow ran, now handed to the actions: no longer
  // pending.
  // A pending raise without an expiry gets `now` + `lifetime` of it.
  std::vector<Shield> TakePending(int64_t now,
                                  const std::function<int64_t(const Shield &)> &lifetime);

  // While no follow runs: every line of the record, lapsed and pending ones included, to be
  // changed by Order and OrderLift and saved for the next start to carry out.
  void Load();
  // Puts a pending raise in the record; false when the shield is in force.
  bool Order(Shield shield);
  // Marks the shields `which` picks that are in force (or pending) to be lifted at the next
  // start; returns them.
  std::vector<Shield> OrderLift(const std::function<bool(const Shield &)> &which, int64_t now);
  // Lifts every shield whose lifetime has passed by `now`, oldest first.
  std::vector<Shield> Expire(int64_t now);

  // Whether this very shield (address, host and resource) is in force.
  bool InForce(const Shield &shield) const {
    return shields_.contains(Key{shield.address, shield.host, shield.resource});
  }
  // Whether a shield of the whole address (no host, no resource) is in force: a lookup.
  bool ShieldedWhole(std::string_view address) const {
    return shields_.contains(Key{std::string(address), std::string(), std::string()});
  }
  // Whether any shield of the address is in force: asked for every request.
  bool Shielded(std::string_view address) const;
  std::vector<Shield> Active() const;
  size_t Size() const { return shields_.size(); }

  // Replaces the record when the shields changed since it was last written; throws
  // Error naming the file when it cannot.
  void Save();

  // One shield as a record line, and back (false for a line that is not one).
  static std::string RecordLine(const Shield &shield);
  static bool ParseRecordLine(std::string_view line, Shield &shield);

 private:
  using Key = std::tuple<std::string, std::string, std::string>;  // address, host, resource
  struct AddressHash {
    using is_transparent = void;
    size_t operator()(std::string_view address) const noexcept {
      return std::hash<std::string_view>{}(address);
    }
  };

  void Add(const Shield &shield);
  std::vector<Shield> Read();
  // The shield at `entry`, its address's count lowered; the caller erases the entry.
  Shield Remove(std::map<Key, Shield>::iterator entry);

  std::string recordPath_;
  std::map<Key, Shield> shields_;
  // Shields in force per address, looked up by the view a parsed line gives.
  std::unordered_map<std::string, int, AddressHash, std::equal_to<>> perAddress_;
  bool changed_ = false;
  size_t unreadLines_ = 0;
};

}  // namespace host
