#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "KvError.h"
#include "TripwireXmlFile.h"
#include "clsUsers.h"

namespace vantrel {

// One shield cycle over a Vantrel object's visitors: purge the idle ones, reload the tripwires
// and drop records whose tripwire is gone, then shield every record whose visitor hit its
// resource often and steadily enough. `unfiled` holds the TRIPWIRE lines of earlier shields that
// never reached the tripwire file; the cycle files them.
class ShieldCycle {
 public:
  ShieldCycle(clsUsers &users, std::vector<std::string> &unfiled) : users_(users), file_(unfiled) {}

  // A failure that belongs to one record skips that record; the first such failure is raised
  // once every other record was judged and the tripwire file finished. Any other failure still
  // finishes the tripwire file before it goes on, so no shield that was sent is missing there.
  void Run();

 private:
  void PurgeIdleUsers();
  void DropOrphanedRecords();
  void JudgeRecords();
  void Judge(const clsUser &user, clsResource &record);
  void RaiseShield(const clsUser &user, clsResource &record, const clsShieldedResource &definition,
                   int32_t hits, float factor, const std::string &deflect);
  void FinishAfterFailure() noexcept;

  // Runs a step whose failure belongs to the record alone: nothing comes back from a failed
  // step, and the first failure of the cycle is kept.
  template <class Step>
  auto ForRecord(Step &&step) -> std::optional<decltype(step())> {
    try {
      return step();
    } catch (const common::KvError &error) {
      if (!firstRecordFailure_) firstRecordFailure_ = error;
      return std::nullopt;
    }
  }

  clsUsers &users_;
  TripwireXmlFile file_;
  std::optional<common::KvError> firstRecordFailure_;
};

}  // namespace vantrel
