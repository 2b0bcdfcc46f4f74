#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/AddressRanges.h"
#include "base/HostConfig.h"
#include "shield/AllowList.h"
#include "shield/BotVerifier.h"
#include "shield/OffenceBook.h"
#include "shield/ShieldActions.h"
#include "shield/ShieldBook.h"
#include "shield/ShieldListener.h"

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
  // "address host/resource (why)", the first kListed, for the summary
  std::vector<std::string> sparedShields;
  uint64_t pace = 0;                 // of those raised, by flowdeck's pace test
  std::vector<Shield> paceShields;   // the first few of them, for the summary
  uint64_t crawl = 0;                // of those raised, by flowdeck's crawl test
  std::vector<Shield> crawlShields;  // the first few of them, for the summary
  // Crawlers the crawl test judged with CrawlTest = Report: noted, not acted on.
  uint64_t crawlReported = 0;
  std::vector<Shield> crawlReports;  // the first few of them, for the summary
  uint64_t repeat = 0;               // of those raised, the ones of an address with offences before
  // The first kListed of them: "address, offence n, lasts 2h", for the summary.
  std::vector<std::string> repeatShields;
  uint64_t wholeAddress = 0;  // of those raised, the ones that cover the whole address
  uint64_t allowed = 0;       // spared by the allow list
  uint64_t raisedByHand = 0, liftedByHand = 0;
  uint64_t liftedCovered = 0;  // lifted because NeverShield or the allow list came to cover them
  uint64_t verified = 0;       // spared: a search engine's crawler that verified
  uint64_t falseClaims = 0;    // of those raised, a crawler's name claimed by another address
};

// Which shields an operator lifts: those of the addresses a selector covers, narrowed to one
// host and resource when given; or every shield.
struct LiftSelector {
  std::optional<AddressSelector> addresses;  // none: every shield
  std::string host, resource;

  bool Picks(const Shield &shield) const;
};

// What a cycle changed: the shields put in force and lifted, and the addresses the monitor
// must lock and unlock.
struct ShieldChanges {
  std::vector<Shield> raised, lifted;
  std::vector<std::string> lock, unlock;
  // Spared by NeverShield or the allow list, which cover their address no more: a visitor that
  // kept its pace is judged afresh, as after a lift.
  std::vector<Shield> unspared;
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

  // Throws Error for a setting that cannot be used.
  ShieldKeeper(const HostConfig &config, const Options &options);
  ~ShieldKeeper();

  // At the start of a run: restores the shields still in force (their addresses to be locked
  // in the monitor when they come back), lifts those that expired meanwhile, and writes the
  // map files.
  ShieldChanges Start(int64_t nowMilliseconds);
  // After a shield cycle: the requests it sent, then the shields whose lifetime is over.
  ShieldChanges Cycle(std::vector<ShieldRequest> requests, int64_t nowMilliseconds);

  // The operator's commands. Each is carried out at once, through every action.
  // Lifts the shields the selector picks; lifts by hand are no offences.
  ShieldChanges Lift(const LiftSelector &selector, int64_t nowMilliseconds);
  // Raises a shield by hand (source "manual"): for `seconds`, or 0 for the lifetime its
  // address's offences give it; a whole-address shield when host and resource are empty.
  // Returns why it was refused, or empty.
  std::string RaiseByHand(Shield shield, int64_t seconds, int64_t nowMilliseconds,
                          ShieldChanges &changes);
  // Adds (or renews) an allow-list entry and lifts the shields it covers.
  ShieldChanges Allow(AllowEntry entry, int64_t nowMilliseconds);
  // False when the list has no entry for that address or range.
  bool Disallow(const AddressSelector &selector, int64_t nowMilliseconds);
  const AllowList &Allowed() const { return allow_; }
  // The shields in force, in the order of address, host and resource.
  std::vector<Shield> Active() const { return book_.Active(); }
  // The address's offences within OffenceMemory.
  int Offences(std::string_view address, int64_t nowMilliseconds) const {
    return offences_.Count(address, nowMilliseconds / 1000);
  }
  // The lifetime of an address's n-th shield within OffenceMemory.
  int64_t Lifetime(int offence) const;
  // Takes the shield settings of a changed configuration at `now`: the lifetime of shields
  // raised from now on, NeverShield, and the actions. When the actions' settings changed, the
  // old actions lift every shield in force and the new ones raise them again (a command sees
  // a lift and a raise); otherwise the actions carry on untouched. Shields that NeverShield
  // now covers are lifted. Throws Error, changing nothing, for a setting that
  // cannot be used.
  ShieldChanges Reconfigure(const HostConfig &config, int64_t nowMilliseconds);
  // Notes a request on the shield route that was not the plug-in's in the event log (the first
  // ShieldListener::kForgedNoted of a run; the rest are counted by their routes).
  void NoteForged(int64_t nowMilliseconds, const ForgedRequest &forged);
  // Whether the address has a shield in force: asked for every request.
  bool Shielded(std::string_view address) const { return book_.Shielded(address); }
  // Whether the whole address is shielded: asked only of a visitor judged a crawler.
  bool ShieldedWhole(std::string_view address) const { return book_.ShieldedWhole(address); }
  // The address's user agent claims to be a crawler VerifiedBots names (BotClaims): its shields
  // are verified before they act. Called for the requests that claim one, which are few.
  void NoteClaim(std::string_view address, std::string_view crawler, int64_t nowMilliseconds);
  // At the end of a run: waits for the verifications under way (at most their time limit) and
  // carries out the shields that waited for them.
  ShieldChanges Settle(int64_t nowMilliseconds);
  // Waits until the actions have carried out everything handed to them.
  void Finish();
  // What verifying crawlers has done; empty when VerifiedBots is.
  std::optional<BotVerifier::Counts> VerifierCounts() const;

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
  // Whether the shield may act: false when it is a verified crawler's (spared) or waits for its
  // verification (kept in waiting_); a false claim is marked in its figures.
  bool Verify(Shield &shield, int64_t now, bool reportOnly);
  // A judgement of CrawlTest = Report that passed every check a shield passes: noted in the
  // event log and the tally, never acted on.
  void NoteJudged(Shield shield, int64_t now);
  void ReceiveWaiting(int64_t now, ShieldChanges &changes);
  // Why a shield cannot be carried safely, or empty.
  std::string Refusal(const Shield &shield) const;
  // Puts a checked shield in force as its address's next offence; false when it already is.
  bool PutInForce(Shield &shield, int64_t lifetime, int64_t now, ShieldChanges &changes);
  // Lifts what `which` picks through the actions, noting `why`.
  template <typename Which>
  void LiftNow(Which which, int64_t now, std::string_view why, ShieldChanges &changes);
  // Lifts the shields NeverShield or the allow list cover.
  void LiftCovered(int64_t now, ShieldChanges &changes);
  void Note(int64_t now, std::string_view event, const Shield &shield, std::string_view why = {});
  void NoteAllow(int64_t now, std::string_view event, const AllowEntry &entry);
  void TakeSettings(const HostConfig &config);
  void Save(int64_t now);

  // The settings that make up the actions, as they were when the actions were made.
  static std::string ActionSettings(const HostConfig &config);

  ShieldBook book_;
  OffenceBook offences_;
  AllowList allow_;
  int64_t shieldSeconds_ = 0, maxSeconds_ = 0;
  double factor_ = 1;
  int64_t wholeAfter_ = 0;
  bool act_;
  std::string actionSettings_;
  AddressRanges neverShield_;
  size_t maxShields_;
  size_t forgedNoted_ = 0;
  std::unique_ptr<ShieldActions> actions_;
  std::unique_ptr<BotVerifier> verifier_;  // when VerifiedBots names any
  struct Claim {
    std::string_view crawler;  // BotClaims' own name
    int64_t seen = 0;          // Unix seconds
  };
  static constexpr size_t kMostClaims = 65536;
  std::unordered_map<std::string, Claim> claims_;  // by address, the latest claim of each
  std::vector<ShieldRequest> waiting_;             // for their verification
  static constexpr size_t kMostWaiting = 10000;
  bool restore_;
  bool configured_;  // an action is configured, whether or not this run acts
  std::string eventsPath_;
  ShieldTally tally_;
  std::vector<std::string> problems_;
  std::vector<ShieldProblem> actionProblems_;  // of the actions a new configuration replaced
  ShieldActionCounts retiredCounts_;           // likewise
  // The shields NeverShield or the allow list spared, kept until neither covers their address
  // (an entry lapsed or removed, NeverShield narrowed by a reload).
  std::vector<Shield> spared_;
  static constexpr size_t kMostSpared = 100000;
};

}  // namespace host
