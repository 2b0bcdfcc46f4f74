#include "Session.h"

#include <filesystem>
#include <ostream>
#include <stdexcept>

#include "DateTime.h"
#include "RunFiles.h"
#include "StreamFields.h"

namespace host {

namespace fs = std::filesystem;

namespace {

double ReadHostClock(void *context) {
  return *static_cast<const double *>(context);
}

std::string PlaceFile(const std::string &from, const std::string &dir) {
  fs::path target = fs::path(dir) / fs::path(from).filename();
  std::error_code error;
  fs::copy_file(from, target, fs::copy_options::overwrite_existing, error);
  if (error) throw std::runtime_error(from + ": cannot copy to " + dir + ": " + error.message());
  return target.string();
}

std::string AbsoluteDir(const std::string &dir) {
  std::error_code error;
  fs::create_directories(dir, error);
  if (error)
    throw std::runtime_error(dir + ": cannot create the output directory: " + error.message());
  return fs::absolute(dir).lexically_normal().string();
}

}  // namespace

Session::Session(const SessionOptions &options, HostConfig config, std::ostream &out)
    : out_(out),
      outDir_(AbsoluteDir(options.outDir)),
      config_(std::move(config)),
      quiet_(options.quiet),
      listener_(config_.Get("Server"), options.shieldPort),
      fields_(options.fields) {
  if (config_.Get("FernwickPath").empty()) config_.Set("FernwickPath", outDir_ + "/", "default");
  for (const std::string &name : report::RunFiles::FreshStartNames()) {
    fs::remove(fs::path(outDir_) / name);
  }
  if (!options.tripwires.empty()) {
    std::error_code error;
    fs::copy_file(options.tripwires, fs::path(outDir_) / report::RunFiles::kDefinitions,
                  fs::copy_options::overwrite_existing, error);
    if (error) throw std::runtime_error(options.tripwires + ": cannot read: " + error.message());
  }
  shield_ = std::make_unique<PluginLibrary>(PlaceFile(options.shieldPlugin, outDir_),
                                            "KvVantrel.Vantrel");
  monitor_ = std::make_unique<PluginLibrary>(PlaceFile(options.monitorPlugin, outDir_),
                                             "KvCorvane.Corvane");
  feed_ = std::make_unique<MonitorFeed>(*monitor_);
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
  const std::string shieldText = config_.ShieldConfigText();
  const std::string monitorText = config_.MonitorConfigText();
  Send(*shield_, ActionFields("CONFIG").Set(common::kUserAgent, shieldText).Fields());
  CollectShields();
  SendToMonitor(ActionFields("CONFIG").Set(common::kUserAgent, monitorText).Fields());
}

void Session::Request(const LogRecord &record) {
  const bool locked = !shielded_.empty() && shielded_.contains(record.client);
  const flowdeck_text *fields = fields_.Build(record, locked ? "1" : "0");
  Send(*shield_, fields);
  SendToMonitor(fields);
  ++requests_;
}

void Session::ShieldCycle() {
  Send(*shield_, ActionFields("CYCLE").Fields());
  CollectShields();
  ++shieldCycles_;
}

void Session::MonitorCycle() {
  SendToMonitor(ActionFields("CYCLE").Fields());
  ++monitorCycles_;
}

void Session::CollectShields() {
  for (ShieldRequest &request : listener_.Collect()) {
    shielded_.insert(request.address);
    SendToMonitor(ActionFields("LOCKED")
                      .Set(common::kRemoteAddr, request.address)
                      .Set(common::kLocked, "1")
                      .Fields());
    ShieldEvent event{std::move(request), common::FormatGeneralDate(clock_)};
    if (!quiet_) {
      out_ << "shield: " << event.request.address << " on " << event.request.host
           << event.request.resource << " -> " << event.request.deflect << " (" << event.logTime
           << ")\n";
    }
    shields_.push_back(std::move(event));
  }
}

}  // namespace host
