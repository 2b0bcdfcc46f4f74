#include "ShieldActions.h"

#include <filesystem>
#include <stdexcept>

#include "ApacheMap.h"
#include "CommandWords.h"
#include "IpAddress.h"
#include "NginxMap.h"

namespace host {

namespace {

// Problems kept between two TakeProblems calls; beyond them only a count.
constexpr size_t kProblemsKept = 200;

std::runtime_error SettingError(const std::string &key, const std::string &value,
                                const std::string &problem) {
  return std::runtime_error(key + " = '" + value + "': " + problem);
}

// The words of a command setting; empty when the setting is empty.
std::vector<std::string> CommandSetting(const HostConfig &config, const std::string &key) {
  const std::string &value = config.Get(key);
  if (value.find_first_not_of(" \t") == std::string::npos) return {};
  try {
    return SplitCommandWords(value);
  } catch (const std::invalid_argument &error) {
    throw SettingError(key, value, error.what());
  }
}

std::string MapSetting(const HostConfig &config, const std::string &key) {
  const std::string &path = config.Get(key);
  if (path.empty()) return path;
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (parent.empty()) parent = ".";
  std::error_code error;
  if (!std::filesystem::is_directory(parent, error))
    throw SettingError(key, path, "the directory " + parent.string() + " does not exist");
  return path;
}

std::string Join(const std::vector<std::string> &words) {
  std::string text;
  for (const std::string &word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

std::string ShieldText(const Shield &shield) {
  return shield.address + " " + shield.host + " " + shield.resource;
}

}  // namespace

// A map file with what fills it and the command that makes the web server read it again.
struct ShieldActions::MapTarget {
  std::string setting, reloadSetting, label;
  MapFile file;
  std::vector<std::string> reload;
  std::string (*refusal)(const Shield &);
  MapLines lines;
  std::string rendered = {};  // the buffer the content is made in, used again
};

ShieldActions::ShieldActions(const HostConfig &config, std::chrono::milliseconds timeLimit)
    : runner_(timeLimit) {
  if (std::string path = MapSetting(config, "NginxMapFile"); !path.empty()) {
    nginx_.reset(new MapTarget{"NginxMapFile", "NginxReload", "nginx map", MapFile(path),
                               CommandSetting(config, "NginxReload"), NginxMap::Refusal,
                               MapLines(NginxMap::AppendEntry, true)});
  }
  if (std::string path = MapSetting(config, "ApacheMapFile"); !path.empty()) {
    apache_.reset(new MapTarget{"ApacheMapFile", "ApacheReload", "Apache map", MapFile(path),
                                CommandSetting(config, "ApacheReload"), ApacheMap::Refusal,
                                MapLines(ApacheMap::AppendEntry, false)});
  }
  if (const std::string &table = config.Get("NftTable"); !table.empty()) {
    if (std::string problem = NftSets::TableProblem(table); !problem.empty())
      throw SettingError("NftTable", table, problem);
    nft_.emplace(table, runner_);
  }
  if (std::vector<std::string> words = CommandSetting(config, "ShieldCommand"); !words.empty())
    command_.emplace(std::move(words), runner_);
}

ShieldActions::~ShieldActions() = default;

bool ShieldActions::Configured() const {
  return nginx_ || apache_ || nft_ || command_;
}

bool ShieldActions::Acceptable(const Shield &shield, std::string &why) const {
  if (!IpAddress::IsValid(shield.address)) {
    why = "'" + shield.address + "' is not an IPv4 or IPv6 address";
    return false;
  }
  Shield normalized = shield;
  ActiveShields::Normalize(normalized);
  for (const MapTarget *target : {nginx_.get(), apache_.get()}) {
    if (target == nullptr) continue;
    if (std::string refusal = target->refusal(normalized); !refusal.empty()) {
      why = target->setting + ": " + refusal;
      return false;
    }
  }
  if (command_) {
    if (std::string refusal = ShieldCommand::Refusal(normalized); !refusal.empty()) {
      why = "ShieldCommand: " + refusal;
      return false;
    }
  }
  why.clear();
  return true;
}

void ShieldActions::Start(std::vector<Shield> active, int64_t now) {
  actions_.Push(
      [this, active = std::move(active), now]() mutable { StartNow(std::move(active), now); });
  actions_.Drain();
}

void ShieldActions::Apply(std::vector<Shield> raised, std::vector<Shield> lifted, int64_t now) {
  if (raised.empty() && lifted.empty()) return;
  actions_.Push([this, raised = std::move(raised), lifted = std::move(lifted), now]() mutable {
    ApplyNow(std::move(raised), std::move(lifted), now);
  });
}

void ShieldActions::Drain() {
  actions_.Drain();  // first: it queues the commands
  commands_.Drain();
}

bool ShieldActions::Admit(Shield &shield) {
  std::string why;
  if (Acceptable(shield, why)) {
    ActiveShields::Normalize(shield);
    return true;
  }
  Count(&ShieldActionCounts::skipped);
  Problem("shield for " + ShieldText(shield) + " not acted on: " + why);
  return false;
}

void ShieldActions::StartNow(std::vector<Shield> active, int64_t now) {
  try {
    active_.Clear();
    for (MapTarget *target : {nginx_.get(), apache_.get()}) {
      if (target == nullptr) continue;
      target->lines.Clear();
      target->lines.Reserve(active.size());
    }
    for (Shield &shield : active) {
      if (Admit(shield)) Raise(shield);
    }
    UpdateMaps(true);
    if (nft_) {
      Count(&ShieldActionCounts::nftRuns);
      if (std::string problem = nft_->Apply(nft_->StartScript(active_, now)); !problem.empty()) {
        Count(&ShieldActionCounts::nftFailures);
        Problem("NftTable: " + problem);
      }
    }
  } catch (const std::exception &error) {
    Problem(std::string("shield actions at start: ") + error.what());
  }
}

void ShieldActions::ApplyNow(std::vector<Shield> raised, std::vector<Shield> lifted, int64_t now) {
  try {
    std::vector<std::string> touched;
    std::vector<std::pair<std::string, Shield>> events;
    for (Shield &shield : lifted) {
      if (!ActiveShields::Normalize(shield)) continue;  // never raised, so nothing to lift
      Lift(shield);
      touched.push_back(shield.address);
      events.emplace_back("lift", std::move(shield));
    }
    for (Shield &shield : raised) {
      if (!Admit(shield)) continue;
      Raise(shield);
      touched.push_back(shield.address);
      events.emplace_back("raise", std::move(shield));
    }
    UpdateMaps(false);
    if (nft_ && !touched.empty()) {
      Count(&ShieldActionCounts::nftRuns);
      std::string problem = nft_->Apply(nft_->ChangeScript(touched, active_, now));
      if (!problem.empty()) {
        Count(&ShieldActionCounts::nftFailures);
        Problem("NftTable: " + problem);
      }
    }
    if (command_) {
      for (auto &event : events) {
        commands_.Push([this, event = std::move(event)] { RunCommand(event.first, event.second); });
      }
    }
  } catch (const std::exception &error) {
    Problem(std::string("shield actions: ") + error.what());
  }
}

void ShieldActions::Raise(const Shield &shield) {
  active_.Raise(shield);
  for (MapTarget *target : {nginx_.get(), apache_.get()}) {
    if (target != nullptr) target->lines.Raise(shield);
  }
}

void ShieldActions::Lift(const Shield &shield) {
  active_.Lift(shield);
  for (MapTarget *target : {nginx_.get(), apache_.get()}) {
    if (target != nullptr) target->lines.Lift(shield);
  }
}

void ShieldActions::UpdateMaps(bool atStart) {
  if (nginx_) UpdateMap(*nginx_, atStart);
  if (apache_) UpdateMap(*apache_, atStart);
}

void ShieldActions::UpdateMap(MapTarget &target, bool atStart) {
  target.lines.Render(target.rendered);
  const MapFile::Outcome outcome = target.file.Update(target.rendered, atStart);
  if (!outcome.problem.empty()) {
    Count(&ShieldActionCounts::fileFailures);
    Problem(target.setting + ": " + outcome.problem);
    return;
  }
  if (!outcome.written) return;
  Count(&ShieldActionCounts::mapWrites);
  // A new file cannot be in a running server's configuration yet: nothing to reload.
  if (target.reload.empty() || !outcome.replaced) return;
  Count(&ShieldActionCounts::reloads);
  const ProcessOutcome reload = runner_.Run(target.reload);
  if (!reload.Succeeded()) {
    Count(&ShieldActionCounts::reloadFailures);
    Problem(target.reloadSetting + ": " + reload.problem);
  }
}

void ShieldActions::RunCommand(const std::string &event, const Shield &shield) {
  try {
    Count(&ShieldActionCounts::commandRuns);
    ProcessOutcome outcome = command_->Run(event, shield);
    if (outcome.Succeeded()) return;
    Count(&ShieldActionCounts::commandFailures);
    if (outcome.timedOut) Count(&ShieldActionCounts::commandTimeouts);
    Problem("ShieldCommand (" + event + " " + ShieldText(shield) + "): " + outcome.problem);
  } catch (const std::exception &error) {
    Problem(std::string("ShieldCommand: ") + error.what());
  }
}

void ShieldActions::Problem(const std::string &text) {
  std::lock_guard lock(reportMutex_);
  if (problems_.size() < kProblemsKept)
    problems_.push_back(text);
  else
    ++problemsDropped_;
}

void ShieldActions::Count(int64_t ShieldActionCounts::*counter) {
  std::lock_guard lock(reportMutex_);
  ++(counts_.*counter);
}

std::vector<std::string> ShieldActions::TakeProblems() {
  std::lock_guard lock(reportMutex_);
  std::vector<std::string> taken = std::move(problems_);
  problems_.clear();
  if (problemsDropped_ > 0) {
    taken.push_back("and " + std::to_string(problemsDropped_) +
                    " more problems of the shield actions");
    problemsDropped_ = 0;
  }
  return taken;
}

ShieldActionCounts ShieldActions::Counts() const {
  std::lock_guard lock(reportMutex_);
  return counts_;
}

std::vector<std::string> ShieldActions::Describe() const {
  std::vector<std::string> lines;
  for (const MapTarget *target : {nginx_.get(), apache_.get()}) {
    if (target == nullptr) continue;
    lines.push_back(target->label + " " + target->file.Path() +
                    (target->reload.empty() ? ", read by the web server itself"
                                            : ", reloaded by '" + Join(target->reload) + "'"));
  }
  if (nft_) lines.push_back("nftables sets shielded4 and shielded6 in table inet " + nft_->Table());
  if (command_)
    lines.push_back("command '" + Join(command_->Words()) + "' run for each raise and lift");
  return lines;
}

}  // namespace host
