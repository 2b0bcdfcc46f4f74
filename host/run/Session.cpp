#include "run/Session.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <ostream>
#include <stdexcept>

#include "DateTime.h"
#include "StreamFields.h"
#include "base/Error.h"
#include "base/RunFiles.h"
#include "base/Say.h"
#include "run/ShieldSteering.h"
#include "shield/TripwireCheck.h"

namespace host {

namespace fs = std::filesystem;

namespace {

double ReadHostClock(void *context) {
  return *static_cast<const double *>(context);
}

// The plug-in copied into the run directory, which it takes for its own.
std::string PlaceFile(const std::string &from, const std::string &dir) {
  const std::string target = (fs::path(dir) / fs::path(from).filename()).string();
  CopyFileAtomically(from, target, "the plug-in");
  return target;
}

// The run directory, created (0750: it holds visitors' addresses and requests) when missing,
// and checked before anything is written there.
std::string AbsoluteDir(const std::string &dir) {
  std::error_code error;
  const fs::path path = fs::absolute(dir, error).lexically_normal();
  const fs::path run = path.has_filename() ? path : path.parent_path();  // without a last "/"
  if (!error && !fs::is_directory(run, error)) {
    fs::create_directories(run.parent_path(), error);
    if (!error && ::mkdir(run.c_str(), 0750) != 0) error = {errno, std::generic_category()};
    if (error.value() == EEXIST && fs::is_directory(run)) error.clear();  // made meanwhile
  }
  if (error)
    throw Error(dir, std::string("cannot create the output directory: ") + error.message());
  RunFiles::CheckWritable(run.string());
  return path.string();
}

}  // namespace

Session::Session(const SessionOptions &options, HostConfig config, std::ostream &out,
                 std::ostream &err)
    : out_(out),
      err_(err),
      outDir_(AbsoluteDir(options.outDir)),
      config_(std::move(config)),
      quiet_(options.quiet),
      route_(config_),
      listener_(config_.Get("Server"), options.shieldPort, route_),
      fields_(options.fields),
      claims_(config_),
      ignore_(AddressRanges::Parse(config_.Get("IgnoreAddresses"))) {
  if (config_.Get("FernwickPath").empty()) config_.Set("FernwickPath", outDir_ + "/", "default");
  if (!options.restore) {
    for (const std::string &name : RunFiles::FreshStartNames()) {
      fs::remove(fs::path(outDir_) / name);
    }
  }
  keeper_ = std::make_unique<ShieldKeeper>(
      config_, ShieldKeeper::Options{outDir_, options.act, options.restore});
  if (!options.tripwires.empty()) CopyDefinitions(options.tripwires);
  // The pace test reads the definitions that were just put in place. It runs with PaceTest
  // off too, to judge records afresh after their shield lapsed.
  pace_ = std::make_unique<PaceTest>(outDir_, config_);
  TakeCrawlSettings(CrawlTest::Settings::Read(config_));
  shield_ = std::make_unique<PluginLibrary>(PlaceFile(options.shieldPlugin, outDir_),
                                            "KvVantrel.Vantrel");
  monitor_ = std::make_unique<PluginLibrary>(PlaceFile(options.monitorPlugin, outDir_),
                                             "KvCorvane.Corvane");
  feed_ = std::make_unique<MonitorFeed>(*monitor_);
  feed_->FindFilesAt(outDir_ + "/" + RunFiles::kSnapshot,
                     config_.Get("FernwickPath") + RunFiles::kAlerts);
  // Last: once it exists, commands may come, and everything they reach is in place.
  if (options.control) control_ = std::make_unique<ControlSocket>(outDir_);
}

void Session::Tend() {
  listener_.Tend();
  if (control_ && started_) {
    control_->Tend([this](const std::vector<std::string> &words) { return Steer(words); });
  }
}

Session::~Session() = default;

void Session::UseHostClock(const RunTime &now) {
  clock_ = now.local;
  utcMilliseconds_ = now.utcMilliseconds;
  shield_->SetClock(ReadHostClock, &clock_);
  feed_->UseCallClock();
}

void Session::AdvanceClock(const RunTime &now) {
  // A line a little out of order never moves time back.
  if (now.local > clock_) clock_ = now.local;
  if (now.utcMilliseconds > utcMilliseconds_) utcMilliseconds_ = now.utcMilliseconds;
}

void Session::Send(PluginLibrary &plugin, const flowdeck_text *fields) {
  if (!plugin.Stream(fields)) ++failedCalls_;
}

void Session::Configure() {
  if (!started_) {
    started_ = true;
    const ShieldChanges restored = keeper_->Start(utcMilliseconds_);
    relock_.insert(restored.lock.begin(), restored.lock.end());
    for (const Shield &shield : restored.raised) Print("shield", shield);
    for (const Shield &shield : restored.lifted) Print("lifted", shield);
  }
  SendConfig();
}

void Session::SendConfig() {
  // Only the shield plug-in learns the route's key.
  HostConfig keyed = config_;
  keyed.Set("AddShieldURL", route_.KeyedAddShieldURL(), "the shield route");
  const std::string shieldText = keyed.ShieldConfigText();
  const std::string monitorText = config_.MonitorConfigText();
  Send(*shield_, ActionFields("CONFIG").Set(common::kUserAgent, shieldText).Fields());
  CollectShields();
  SendToMonitor(ActionFields("CONFIG").Set(common::kUserAgent, monitorText).Fields());
}

bool Session::TakeLoggedShield(const LogRecord &record) {
  const ShieldRoute::Verdict verdict = route_.Judge(record.target);
  if (verdict == ShieldRoute::Verdict::kElsewhere) return false;
  if (verdict == ShieldRoute::Verdict::kAuthentic && ownAddresses_.Contains(record.client)) {
    ShieldRequest shield;
    if (ParseShieldRequest(record.target, shield)) {
      loggedShields_.push_back(std::move(shield));
      ++loggedShieldRequests_;
    }
    return true;
  }
  ++loggedForged_;
  ForgedRequest forged{std::string(record.client), "web-server-log", {}};
  ParseShieldRequest(record.target, forged.asked);
  keeper_->NoteForged(utcMilliseconds_, forged);
  return false;
}

void Session::Request(const LogRecord &record, std::string_view serverName) {
  if (TakeLoggedShield(record)) return;
  if (!ignore_.Empty() && ignore_.Contains(record.client)) {
    ++ignored_;
    return;
  }
  // Few user agents claim a crawler: most are turned away by one pass over their bytes.
  if (claims_.Active() != 0) {
    if (const std::string_view crawler = claims_.Claimed(record.userAgent); !crawler.empty())
      keeper_->NoteClaim(record.client, crawler, utcMilliseconds_);
  }
  const bool locked = keeper_->Shielded(record.client);
  const flowdeck_text *fields = fields_.Build(record, locked ? "1" : "0", serverName);
  Send(*shield_, fields);
  SendToMonitor(fields);
  visitorsOfRun_.Add({fields[common::kKey].data, fields[common::kKey].size});
  if (pace_) pace_->Request(fields, record.time.UtcMilliseconds(), utcMilliseconds_);
  if (crawl_)
    crawl_->Request(fields, record.status, record.time.UtcMilliseconds(), utcMilliseconds_);
  ++requests_;
  if (locked && !relock_.empty() && relock_.erase(std::string(record.client)) > 0) {
    SendToMonitor(ActionFields("LOCKED")
                      .Set(common::kRemoteAddr, record.client)
                      .Set(common::kLocked, "1")
                      .Fields());
  }
}

std::string Session::Reload(HostConfig config, const std::string &tripwires) {
  // Checked before anything changes: a fault keeps the running settings and tripwires alike.
  const std::string definitions = tripwires.empty() ? "" : TripwireCheck::Checked(tripwires);
  if (config.Get("FernwickPath").empty()) config.Set("FernwickPath", outDir_ + "/", "default");
  AddressRanges ignore = AddressRanges::Parse(config.Get("IgnoreAddresses"));
  BotClaims claims(config);
  CrawlTest::Settings crawl = CrawlTest::Settings::Read(config);
  const ShieldChanges covered = keeper_->Reconfigure(config, utcMilliseconds_);
  claims_ = claims;
  ignore_ = std::move(ignore);
  std::string said;
  if (!tripwires.empty()) {
    PlaceDefinitions(definitions);
    said = "the tripwires of " + tripwires + " are read at the next shield cycle; ";
  }
  const bool pluginsChanged = config.ShieldConfigText() != config_.ShieldConfigText() ||
                              config.MonitorConfigText() != config_.MonitorConfigText();
  // The sources read their lines with the format and proxies they started with.
  for (const char *key : {"LogFormat", "TrustedProxies"}) {
    if (config.Get(key) != config_.Get(key)) {
      said += std::string(key) + " changed: it takes effect when flowdeck starts again; ";
    }
  }
  // The pace test keeps its records as long as the shield plug-in keeps its own.
  if (!pluginsChanged) {
    pace_->Reconfigure(config);
  } else {
    paceUnjudged_ += pace_->Unjudged();
    pace_ = std::make_unique<PaceTest>(outDir_, config);
  }
  TakeCrawlSettings(std::move(crawl));
  config_ = std::move(config);
  route_.Reconfigure(config_);
  Tell(covered);
  if (!covered.lifted.empty()) {
    said +=
        std::to_string(covered.lifted.size()) + " shield(s) that NeverShield now covers lifted; ";
  }
  feed_->FindFilesAt(outDir_ + "/" + RunFiles::kSnapshot,
                     config_.Get("FernwickPath") + RunFiles::kAlerts);
  if (!pluginsChanged) return said + "the plug-ins' settings are unchanged: every visitor is kept";
  SendConfig();
  return said +
         "the plug-ins' settings changed: both have them anew and start their visitors afresh";
}

void Session::CopyDefinitions(const std::string &tripwires) {
  PlaceDefinitions(TripwireCheck::Checked(tripwires));
}

// The text that was checked is the text placed: a file changed meanwhile waits for its own check.
void Session::PlaceDefinitions(const std::string &text) {
  WriteFileAtomically(outDir_ + "/" + RunFiles::kDefinitions, text, "the tripwires");
}

void Session::Finish() {
  // Shields that wait for a crawler's verification are carried out before the end.
  Tell(keeper_->Settle(utcMilliseconds_));
  Settle();
  keeper_->Finish();
  SayProblems();
}

void Session::SayProblems() {
  for (const ShieldProblem &problem : keeper_->TakeProblems())
    Say(err_, problem.level, problem.text);
  if (listener_.Stats().descriptors > 0 && !saidDescriptors_) {
    saidDescriptors_ = true;
    Say(err_, Level::kWarning,
        "the shield port could not accept a connection: no file descriptor is free (raise the "
        "open-file limit); it is taken when one is");
  }
}

void Session::ShieldCycle() {
  const auto start = std::chrono::steady_clock::now();
  // A backlog that waiters filled would leave the plug-in's own requests unsent.
  listener_.Tend();
  Send(*shield_, ActionFields("CYCLE").Fields());
  CollectShields();
  ++shieldCycles_;
  lastShieldCycleSeconds_ =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  shieldCycleSeconds_ += lastShieldCycleSeconds_;
}

void Session::MonitorCycle() {
  SendToMonitor(ActionFields("CYCLE").Fields());
  feed_->Flush();
  ++monitorCycles_;
}

void Session::CollectShields() {
  std::vector<ShieldRequest> requests = listener_.Collect();
  for (const ForgedRequest &forged : listener_.TakeForged()) {
    keeper_->NoteForged(utcMilliseconds_, forged);
  }
  for (ShieldRequest &logged : loggedShields_) requests.push_back(std::move(logged));
  loggedShields_.clear();
  // A record the plug-in shielded is the pace test's no more; then the pace test judges.
  for (const ShieldRequest &request : requests) {
    pace_->ShieldedElsewhere(request.address, request.host, request.resource);
  }
  for (ShieldRequest &request : pace_->Cycle(utcMilliseconds_)) {
    requests.push_back(std::move(request));
  }
  if (crawl_) {
    // In Report mode the keeper checks a judgement as any shield (spared, verified) and notes it.
    const bool report = crawl_->Reporting();
    for (ShieldRequest &request : crawl_->Cycle(utcMilliseconds_)) {
      request.reportOnly = report;
      requests.push_back(std::move(request));
    }
  }
  Tell(keeper_->Cycle(std::move(requests), utcMilliseconds_));
  SayProblems();
}

// The monitor hears of every lock and unlock before the next request reaches it.
void Session::Tell(const ShieldChanges &changes) {
  for (const std::string &address : changes.lock) {
    SendToMonitor(ActionFields("LOCKED")
                      .Set(common::kRemoteAddr, address)
                      .Set(common::kLocked, "1")
                      .Fields());
  }
  for (const std::string &address : changes.unlock) {
    relock_.erase(address);
    SendToMonitor(ActionFields("UNLOCKED")
                      .Set(common::kRemoteAddr, address)
                      .Set(common::kLocked, "1")
                      .Fields());
  }
  for (const Shield &shield : changes.raised) Print("shield", shield);
  for (const Shield &shield : changes.lifted) {
    // A visitor still at it after its shield is shielded again.
    pace_->Lapsed(shield.address, shield.host, shield.resource);
    if (crawl_) crawl_->Lapsed(shield.address, shield.host, shield.resource);
    Print("lifted", shield);
  }
  // Likewise one still at it after the allow list stopped sparing it.
  for (const Shield &shield : changes.unspared)
    pace_->Lapsed(shield.address, shield.host, shield.resource);
}

void Session::TakeCrawlSettings(CrawlTest::Settings settings) {
  if (settings.mode == CrawlTest::Mode::kOff) {
    crawl_.reset();
  } else if (crawl_) {
    crawl_->Reconfigure(std::move(settings));
  } else {
    crawl_ = std::make_unique<CrawlTest>(std::move(settings), [this](std::string_view address) {
      return keeper_->ShieldedWhole(address);
    });
  }
}

void Session::Print(const char *event, const Shield &shield) {
  if (quiet_) return;
  out_ << event << ": " << ShieldName(shield) << " -> " << shield.deflect << " ("
       << IsoTime(utcMilliseconds_ / 1000) << ")\n";
  // Whole and at once, also when standard output is a pipe or the journal: once per event.
  out_.flush();
}

}  // namespace host

namespace host {

ControlReply Session::Steer(const std::vector<std::string> &words) {
  using Verb = SteerOrder::Verb;
  ControlReply reply;
  SteerOrder order;
  try {
    order = SteerOrder::Parse(words);
  } catch (const OrderError &error) {
    return {kSteerUsage, "", std::string(error.what()) + "\n"};
  }
  const int64_t now = utcMilliseconds_;
  ShieldChanges changes;
  switch (order.verb) {
    case Verb::kShields: {
      ShieldListing listing{keeper_->Active(), [&](const Shield &shield) {
                              return keeper_->Offences(shield.address, now);
                            }};
      reply.out = order.json ? listing.Json() : listing.Table(static_cast<size_t>(order.first));
      return reply;
    }
    case Verb::kLift: {
      LiftSelector selector{order.target, order.host, order.resource};
      changes = keeper_->Lift(selector, now);
      if (changes.lifted.empty()) return {kSteerNoSuch, "", "no shield in force matches\n"};
      for (const Shield &shield : changes.lifted)
        reply.out += "lifted: " + ShieldName(shield) + "\n";
      break;
    }
    case Verb::kShield: {
      Shield shield;
      shield.address = order.target->text;
      shield.host = order.host;
      shield.resource = order.resource;
      shield.deflect = order.deflect;
      if (std::string why = keeper_->RaiseByHand(shield, order.seconds, now, changes);
          !why.empty()) {
        return {kSteerFailed, "", why + "\n"};
      }
      for (const Shield &raised : changes.raised) {
        // An address the monitor has not seen yet is locked when it comes.
        relock_.insert(raised.address);
        reply.out += "shielded: " + ShieldName(raised) + " -> " + raised.deflect + " until " +
                     IsoTime(raised.expiresAt) + "\n";
      }
      break;
    }
    case Verb::kAllow: {
      if (order.list) {
        reply.out = AllowTable(keeper_->Allowed().Entries());
        return reply;
      }
      if (order.remove) {
        if (!keeper_->Disallow(*order.target, now)) {
          return {kSteerNoSuch, "", "the allow list has no entry " + order.target->text + "\n"};
        }
        reply.out = "removed from the allow list: " + order.target->text + "\n";
        break;
      }
      const int64_t seconds = now / 1000;
      AllowEntry entry{*order.target, seconds,
                       order.forSeconds > 0 ? seconds + order.forSeconds : 0, order.why};
      reply.out = AllowedLine(entry);
      changes = keeper_->Allow(std::move(entry), now);
      for (const Shield &shield : changes.lifted)
        reply.out += "lifted: " + ShieldName(shield) + "\n";
      break;
    }
  }
  Tell(changes);
  SayProblems();
  return reply;
}

}  // namespace host
