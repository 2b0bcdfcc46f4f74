#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace host {

// Every shield an address earned within the offence memory, kept in a file of the run
// directory (replaced whole when it changed) so that a repeat offender is known again after a
// restart. Addresses are keyed in the form web servers print them.
class OffenceBook {
 public:
  // An address keeps its latest offences only: more would lengthen no shield beyond its cap.
  static constexpr size_t kKeptPerAddress = 64;

  OffenceBook(std::string path, int64_t memorySeconds);

  // Reads the file a previous run left; lines that cannot be read are skipped and counted.
  void Load();
  size_t UnreadLines() const { return unreadLines_; }

  // The address's offences within the memory at `now`.
  int Count(std::string_view address, int64_t now) const;
  // Notes one at `now`; returns the count with it.
  int Record(std::string_view address, int64_t now);
  void SetMemory(int64_t seconds) { memory_ = seconds; }

  // Forgets what is older than the memory and replaces the file when anything changed; throws
  // Error naming the file when it cannot.
  void Save(int64_t now);

 private:
  static std::string Key(std::string_view address);
  void Forget(int64_t now);

  std::string path_;
  int64_t memory_;
  std::unordered_map<std::string, std::vector<int64_t>> times_;  // oldest first
  int64_t nextForget_ = 0;
  bool changed_ = false;
  size_t unreadLines_ = 0;
};

}  // namespace host
