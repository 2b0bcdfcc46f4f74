#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/HostConfig.h"
#include "input/LineSource.h"
#include "input/LogParser.h"
#include "run/ControlReply.h"
#include "run/ControlSocket.h"
#include "run/DistinctKeys.h"
#include "run/MonitorFeed.h"
#include "run/PluginLibrary.h"
#include "run/RequestFields.h"
#include "shield/BotClaims.h"
#include "shield/CrawlTest.h"
#include "shield/OwnAddresses.h"
#include "shield/PaceTest.h"
#include "shield/ShieldKeeper.h"
#include "shield/ShieldListener.h"
#include "shield/ShieldRoute.h"

namespace host {

// Where a run reads its plug-ins and definitions and writes everything.
struct SessionOptions {
  std::string shieldPlugin;   // path of KvVantrel.so
  std::string monitorPlugin;  // path of KvCorvane.so
  std::string outDir = "flowdeck-out";
  std::string tripwires;  // the definitions file to place in outDir
  FieldOptions fields;
  bool quiet = false;
  int shieldPort = 80;
  bool act = false;      // carry out the configured shield actions
  bool restore = false;  // carry on from what a run left in outDir instead of starting afresh
  bool control = false;  // answer the operator's commands on outDir's control socket (follow)
};

// Both plug-ins loaded from the output directory, configured, fed requests and cycles, and the
// shield loop closed: a shield request is put in force for its lifetime (and carried out by
// the configured actions), its address locked in the monitor until it is lifted.
class Session {
 public:
  // Prepares the output directory and loads both plug-ins; throws Error.
  Session(const SessionOptions &options, HostConfig config, std::ostream &out, std::ostream &err);
  ~Session();

  // Drives the plug-ins' clock from the host from now on: the log's time in a replay, the time
  // each line was read when following.
  void UseHostClock(const RunTime &now);
  void AdvanceClock(const RunTime &now);
  double Clock() const { return clock_; }
  int64_t UtcMilliseconds() const { return utcMilliseconds_; }

  // Sends "CONFIG" to both plug-ins, and puts the shields a previous run left back in force.
  void Configure();
  // Streams a request to both plug-ins, unless its address is one to ignore. A shield request
  // that reached the site's own web server (which holds port 80 when flowdeck cannot) and so
  // stands in its log is taken as a shield request, not streamed, when it is the plug-in's: with
  // the route's key, from this machine. Any other request for the shield path is counted as
  // forged and streamed as the visitor's request it is.
  void Request(const LogRecord &record, std::string_view serverName = {});
  // A "CYCLE" for the shield plug-in, its shields then locked in the monitor.
  void ShieldCycle();
  // Takes in what waits at the shield port, without waiting: called between lines and while
  // idle, so that nobody can fill its backlog between two cycles.
  void Tend();
  // A "CYCLE" for the monitor, which works through its calls on its own thread: Settle before
  // reading its files.
  void MonitorCycle();
  // Returns once the monitor has handled every call sent so far.
  void Settle() { feed_->Drain(); }
  // Returns once the monitor and the shield actions are done with everything sent to them.
  void Finish();

  // Takes changed settings while running (and the definitions file anew, which the shield
  // plug-in reads again at its next cycle). A change the plug-ins read goes to both as a new
  // CONFIG, which starts their visitors afresh; flowdeck's own settings (actions, lifetimes,
  // addresses) keep every visitor. Says what it did; throws Error, changing
  // nothing, for a setting that cannot be used, TripwireError for a definitions file with a
  // fault.
  std::string Reload(HostConfig config, const std::string &tripwires);
  // Checks the definitions file and puts it in place of the shield plug-in's copy, which the
  // plug-in reads at its next shield cycle. A file with a fault (TripwireError), or one that
  // cannot be read or placed (Error), leaves the copy as it was: the plug-in never
  // reads a file that would stop its reading.
  void CopyDefinitions(const std::string &tripwires);

  // Carries out an operator's order on the shields (the words of "flowdeck shields", "lift",
  // "shield" or "allow" after the run directory) at once, through every action, and answers
  // what it did.
  ControlReply Steer(const std::vector<std::string> &words);

  const std::string &OutDir() const { return outDir_; }
  // Where the monitor's exports go: written in front of their names.
  const std::string &ExportPrefix() const { return config_.Get("FernwickPath"); }
  const ShieldKeeper &Shields() const { return *keeper_; }
  uint64_t Requests() const { return requests_; }
  // The visitors the monitor was given this run, across restarts of the plug-ins.
  const DistinctKeys &VisitorsOfRun() const { return visitorsOfRun_; }
  uint64_t Ignored() const { return ignored_; }
  uint64_t LoggedShieldRequests() const { return loggedShieldRequests_; }
  // Requests for the shield path in the web server's log that were not the plug-in's.
  uint64_t LoggedForgedRequests() const { return loggedForged_; }
  uint64_t ShieldCycles() const { return shieldCycles_; }
  // Requests of watched records the pace test could not judge, this run.
  uint64_t PaceUnjudged() const { return paceUnjudged_ + pace_->Unjudged(); }
  // Time the shield plug-in's cycles took, with the shields they raised carried out.
  double ShieldCycleSeconds() const { return shieldCycleSeconds_; }
  double LastShieldCycleSeconds() const { return lastShieldCycleSeconds_; }
  // What the monitor's cycles have shown: as of its latest cycle while it is watched (a live
  // run), else read now, after the monitor has caught up.
  MonitorFigures Monitor() { return watched_ ? feed_->Figures() : feed_->Refresh(); }
  void WatchMonitor() {
    watched_ = true;
    feed_->WatchCycles();
  }
  uint64_t MonitorCycles() const { return monitorCycles_; }
  uint64_t FailedCalls() const { return failedCalls_ + feed_->FailedCalls(); }
  int32_t Visitors() {
    Settle();
    return monitor_->Count();
  }
  bool Listening() const { return listener_.Listening(); }
  const ShieldListener &Listener() const { return listener_; }
  // The control socket's counts, when the run answers commands.
  const ControlSocket *Control() const { return control_.get(); }
  const std::string &ListenProblem() const { return listener_.Problem(); }

 private:
  void Send(PluginLibrary &plugin, const flowdeck_text *fields);
  void SendToMonitor(const flowdeck_text *fields) { feed_->Send(fields, clock_); }
  void SendConfig();
  bool TakeLoggedShield(const LogRecord &record);
  void PlaceDefinitions(const std::string &text);
  void CollectShields();
  // The crawl test as the settings have it: kept (its visitors with it) when it runs on,
  // made or dropped when it is turned on or off.
  void TakeCrawlSettings(CrawlTest::Settings settings);
  void Tell(const ShieldChanges &changes);
  void Print(const char *event, const Shield &shield);
  void SayProblems();

  std::ostream &out_, &err_;
  std::string outDir_;
  HostConfig config_;
  bool quiet_;
  std::unique_ptr<PluginLibrary> shield_;
  std::unique_ptr<PluginLibrary> monitor_;
  std::unique_ptr<MonitorFeed> feed_;  // goes before the monitor
  ShieldRoute route_;                  // before the listener, which judges by it
  ShieldListener listener_;
  OwnAddresses ownAddresses_;
  RequestFields fields_;
  BotClaims claims_;  // the crawlers VerifiedBots names, claimed by a request's user agent
  AddressRanges ignore_;
  std::unique_ptr<ShieldKeeper> keeper_;
  std::unique_ptr<PaceTest> pace_;
  uint64_t paceUnjudged_ = 0;               // by the pace tests that new settings replaced
  std::unique_ptr<CrawlTest> crawl_;        // none with CrawlTest = False
  std::unique_ptr<ControlSocket> control_;  // when the run answers commands
  // Shielded addresses from before a restart: locked in the monitor when they come back.
  std::unordered_set<std::string> relock_;
  std::vector<ShieldRequest> loggedShields_;  // shield requests read from the log since the cycle
  double clock_ = 0;
  int64_t utcMilliseconds_ = 0;
  uint64_t loggedShieldRequests_ = 0, loggedForged_ = 0;
  bool saidDescriptors_ = false;
  DistinctKeys visitorsOfRun_;
  uint64_t requests_ = 0, ignored_ = 0, shieldCycles_ = 0, monitorCycles_ = 0, failedCalls_ = 0;
  bool started_ = false;
  bool watched_ = false;
  double shieldCycleSeconds_ = 0, lastShieldCycleSeconds_ = 0;
};

}  // namespace host
