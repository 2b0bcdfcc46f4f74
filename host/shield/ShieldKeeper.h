#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "AddressRanges.h"
#include "HostConfig.h"
#include "ShieldActions.h"
#include "ShieldBook.h"
#include "ShieldListener.h"

namespace host {

// What became of the shield requests of a run.
struct ShieldTally {
  static constexpr size_t kListed = 20;

  uint64_t raised = 0;     // put in force
  uint64_t lifted = 0;     // their lifetime over
  uint64_t refused = 0;    // an address that is none, or values no action can carry safely
  uint64_t spared = 0;     // NeverShield: filed by the plug-in, never acted on
  uint64_t overLimit = 0;  // of those refused, the ones that came while MaxShields were in force
  uint64_t repeated = 0;   // already in force (the plug-in asks again after a restart)
  uint64_t restored = 0;   // in force again after a restart
  std::vector<std::string> sparedShields;  // "address host/resource", for the summary
  uint64_t pace = 0;                       // of those raised, by flowdeck's pace test
  std::vector<Shield> paceShields;         // the first few of them, for the summary
};

// What a cycle changed: the shields put in force and lifted, and the addresses the monitor
// must lock and unlock.
struct ShieldChanges {
  std::vector<Shield> raised, lifted;
  std::vector<std::string> lock, unlock;
};

// Carries the shield plug-in's requests out: checks each, puts it in force for ShieldSeconds
// (the book), has the configured actions raise and lift it (on their own threads), notes every
// event in flowdeck-shields.log and tells the run which addresses to lock and unlock.
class ShieldKeeper {
 public:
  struct Options {
    std::string runDirectory;
    bool act = false;      // carry out the configured actions (follow, or replay --apply)
    bool restore = false;  // take over the shields a previous run left in the directory
  };

  // Throws std::runtime_error for a setting that cannot be used.
  ShieldKeeper(const HostConfig &config, const Options &options);
  ~ShieldKeeper();

  // At the start of a run: restores the shields still in force (their addresses to be locked
  // in the monitor when they come back), lifts those that expired meanwhile, and writes the
  // map files.
  ShieldChanges Start(int64_t nowMilliseconds);
  // After a shield cycle: the requests it sent, then the shields whose lifetime is over.
  ShieldChanges Cycle(std::vector<ShieldRequest> requests, int64_t nowMilliseconds);
  // Takes the shield settings of a changed configuration at `now`: the lifetime of shields
  // raised from now on, NeverShield, and the actions. When the actions' settings changed, the
  // old actions lift every shield in force and the new ones raise them again (a command sees
  // a lift and a raise); otherwise the actions carry on untouched. Throws std::runtime_error,
  // changing nothing, for a setting that cannot be used.
  void Reconfigure(const HostConfig &config, int64_t nowMilliseconds);
  // Notes a request on the shield route that was not the plug-in's in the event log (the first
  // ShieldListener::kForgedNoted of a run; the rest are counted by their routes).
  void NoteForged(int64_t nowMilliseconds, const ForgedRequest &forged);
  // Whether the address has a shield in force: asked for every request.
  bool Shielded(std::string_view address) const { return book_.Shielded(address); }
  // Waits until the actions have carried out everything handed to them.
  void Finish();

  const ShieldTally &Tally() const { return tally_; }
  size_t InForce() const { return book_.Size(); }
  bool Acting() const { return actions_ != nullptr; }
  // Problems of the actions and of the record since the last call.
  std::vector<ShieldProblem> TakeProblems();
  // What the actions of the run have done, those of configurations before included.
  ShieldActionCounts ActionCounts() const;
  // The configured actions, one line each, or why none act.
  std::vector<std::string> Describe() const;

 private:
  void Receive(ShieldRequest &request, int64_t now, ShieldChanges &changes);
  void Note(int64_t now, std::string_view event, const Shield &shield, std::string_view why = {});
  void Save();

  // The settings that make up the actions, as they were when the actions were made.
  static std::string ActionSettings(const HostConfig &config);

  ShieldBook book_;
  bool act_;
  std::string actionSettings_;
  AddressRanges neverShield_;
  size_t maxShields_;
  size_t forgedNoted_ = 0;
  std::unique_ptr<ShieldActions> actions_;
  bool restore_;
  bool configured_;  // an action is configured, whether or not this run acts
  std::string eventsPath_;
  ShieldTally tally_;
  std::vector<std::string> problems_;
  std::vector<ShieldProblem> actionProblems_;  // of the actions a new configuration replaced
  ShieldActionCounts retiredCounts_;           // likewise
};

}  // namespace host
