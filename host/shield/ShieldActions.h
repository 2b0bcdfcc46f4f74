#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/HostConfig.h"
#include "base/Say.h"
#include "shield/ActiveShields.h"
#include "shield/MapFile.h"
#include "shield/MapLines.h"
#include "shield/NftSets.h"
#include "shield/ShieldCommand.h"
#include "shield/WorkQueue.h"

namespace host {

// A problem of the shield actions or of the shield record, with how much it matters: a web
// server that does not hold the shields in force is an error.
struct ShieldProblem {
  Level level = Level::kWarning;
  std::string text;

  bool operator==(const ShieldProblem &) const = default;
};

// What the actions have done so far.
struct ShieldActionCounts {
  int64_t mapWrites = 0;        // map files replaced
  int64_t reloads = 0;          // reload commands run
  int64_t reloadFailures = 0;   // maps not in force: a reload, or the test before it, failed
  int64_t nftRuns = 0;          // nft scripts run
  int64_t nftFailures = 0;      // of them, the ones that failed
  int64_t commandRuns = 0;      // ShieldCommand runs, raises and lifts
  int64_t commandFailures = 0;  // of them, the ones that failed, timed out included
  int64_t commandTimeouts = 0;  // of them, the ones killed at the time limit
  int64_t fileFailures = 0;     // map files that could not be written
  // Shields passed in that no action could carry, and whole-address shields a web server
  // without a map of whole addresses could not.
  int64_t skipped = 0;

  ShieldActionCounts &operator+=(const ShieldActionCounts &other);
};

// The shield actions configured in flowdeck.conf (nginx maps, Apache maps, nftables sets,
// command), carried out on threads of their own: the caller queues a cycle's changes and goes
// on streaming requests. Map files, reloads and nft run on one thread, in the order the
// batches came; commands run on a second one, so that a command that hangs until its time
// limit never holds back a map file. Problems are collected, never thrown.
class ShieldActions {
 public:
  // How long a reload, nft or the command may run before it is killed.
  static constexpr std::chrono::milliseconds kDefaultTimeLimit{10000};

  // Throws Error naming the setting of a value that cannot be used.
  explicit ShieldActions(const HostConfig &config,
                         std::chrono::milliseconds timeLimit = kDefaultTimeLimit);
  // Finishes what is queued.
  ~ShieldActions();
  ShieldActions(const ShieldActions &) = delete;
  ShieldActions &operator=(const ShieldActions &) = delete;

  // True when at least one action is configured.
  bool Configured() const;
  // False, with the reason, when the shield's address is not an IPv4 or IPv6 address or a
  // configured action cannot carry its values safely.
  bool Acceptable(const Shield &shield, std::string &why) const;

  // Sets the shields in force at start (none, or those restored) and waits until the map files
  // hold them (reloading only when a file changed) and the nft sets hold their addresses. Runs
  // no command: a restored shield was raised before.
  void Start(std::vector<Shield> active, int64_t now);
  // Queues one cycle's changes and returns at once: lifts first, then raises. Each map file is
  // written at most once for the batch, and each web server reloaded at most once for both
  // of its maps; nft gets one script; the command runs for
  // each lift and each raise. A raise of an active shield renews it. Called at every cycle,
  // with no changes too: a map that could not be written, or whose reload failed, is written
  // and reloaded again until its server holds it.
  void Apply(std::vector<Shield> raised, std::vector<Shield> lifted, int64_t now);
  // Waits until everything queued so far is done, commands included.
  void Drain();

  // The problems met since the last call, oldest first, each a sentence naming its setting.
  std::vector<ShieldProblem> TakeProblems();
  ShieldActionCounts Counts() const;
  // One line per configured action, for a run's start ("nginx map /etc/nginx/shields.map,
  // reloaded by 'nginx -s reload'").
  std::vector<std::string> Describe() const;

 private:
  struct MapPart;
  struct MapTarget;

  void StartNow(std::vector<Shield> active, int64_t now);
  void ApplyNow(std::vector<Shield> raised, std::vector<Shield> lifted, int64_t now);
  // The shield in force, or no longer, for every action that keeps a state.
  void Raise(const Shield &shield);
  void Lift(const Shield &shield);
  // Writes the map files that changed and reloads their servers; at start, files that hold
  // the same lines in another order are left as they are.
  void UpdateMaps(bool atStart);
  void UpdateServer(MapTarget &target, bool atStart);
  // Tests the server's configuration when a test is set, then reloads it; false when the
  // server may not hold the files.
  bool Reload(MapTarget &target);
  void PutBack(MapTarget &target);
  // A failed write, test or reload: said in full, or in short when it failed so before.
  void MapFailure(MapTarget &target, const std::string &setting, const std::string &reason);
  void RunCommand(const std::string &event, const Shield &shield);
  // Normalizes a shield; false (and a problem) when no configured action can carry it.
  bool Admit(Shield &shield);
  // A whole-address shield that a web server with no map of whole addresses cannot carry.
  void NoteUncarried(const Shield &shield);
  void Problem(const std::string &text, Level level = Level::kWarning);
  void Count(int64_t ShieldActionCounts::*counter);

  ProcessRunner runner_;
  std::unique_ptr<MapTarget> nginx_, apache_;
  std::optional<NftSets> nft_;
  std::optional<ShieldCommand> command_;

  ActiveShields active_;  // used on the action thread only, as the targets' lines are

  // A map is still to be written or reloaded: the next Apply queues a batch even without
  // changes.
  std::atomic<bool> owed_{false};
  std::atomic<bool> retryQueued_{false};

  mutable std::mutex reportMutex_;
  std::vector<ShieldProblem> problems_;
  int64_t problemsDropped_ = 0;
  Level droppedLevel_ = Level::kInfo;  // the gravest of them
  ShieldActionCounts counts_;

  // Last: the threads end before anything they use.
  WorkQueue commands_;
  WorkQueue actions_;
};

}  // namespace host
