#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "shield/ActiveShields.h"
#include "shield/ProcessRunner.h"

namespace host {

// The nftables action: the sets "shielded4" and "shielded6" (flag timeout) in a table of
// family inet, each shielded address an element whose timeout is what is left of its latest
// shield. Every change goes to `nft -f -` as one script, which nftables applies as one
// transaction: the sets never lack an address in passing.
class NftSets {
 public:
  NftSets(std::string table, ProcessRunner runner);

  // Why a name cannot be a table flowdeck manages, or empty when it can.
  static std::string TableProblem(std::string_view table);

  // Creates the table and its sets if missing and makes them hold exactly the active shields'
  // addresses, each for what is left of its latest shield.
  std::string StartScript(const ActiveShields &active, int64_t now) const;
  // Brings the elements of these (normalized) addresses in line with the active shields: an
  // address still shielded gets the timeout of its latest shield, any other is removed
  // (without failing when its element has already timed out).
  std::string ChangeScript(const std::vector<std::string> &addresses, const ActiveShields &active,
                           int64_t now) const;
  // Runs a script; returns why it failed, or empty.
  std::string Apply(const std::string &script) const;

  const std::string &Table() const { return table_; }

 private:
  std::string Preamble() const;

  std::string table_;
  ProcessRunner runner_;
};

}  // namespace host
