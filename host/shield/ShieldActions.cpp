#include "ShieldActions.h"

#include <filesystem>
#include <stdexcept>

#include "ApacheMap.h"
#include "CommandWords.h"
#include "IpAddress.h"
#include "NginxMap.h"
#include "ShieldValues.h"

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

ShieldActionCounts &ShieldActionCounts::operator+=(const ShieldActionCounts &other) {
  for (int64_t ShieldActionCounts::*counter :
       {&ShieldActionCounts::mapWrites, &ShieldActionCounts::reloads,
        &ShieldActionCounts::reloadFailures, &ShieldActionCounts::nftRuns,
        &ShieldActionCounts::nftFailures, &ShieldActionCounts::commandRuns,
        &ShieldActionCounts::commandFailures, &ShieldActionCounts::commandTimeouts,
        &ShieldActionCounts::fileFailures, &ShieldActionCounts::skipped}) {
    this->*counter += other.*counter;
  }
  return *this;
}

// A map file with what fills it, the command that makes the web server read it again and the
// one that first checks that the server would take it.
struct ShieldActions::MapTarget {
  std::string setting, reloadSetting, label;
  MapFile file;
  std::vector<std::string> reload;
  std::string (*refusal)(const Shield &);
  MapLines lines;
  std::string testSetting = {};
  std::vector<std::string> test = {};  // empty: the reload is not tested first
  std::string rendered = {};           // the buffer the content is made in, used again
  // What is still to be done at the next batch, and the failures so far in a row.
  bool writeOwed = false, reloadOwed = false;
  int64_t failures = 0;
  std::string lastFailure = {};
  // The content the server holds, as far as flowdeck knows: put back in place of a map the
  // server refuses, so that a restart of the server finds one it takes.
  std::optional<std::string> accepted = {};
};

ShieldActions::ShieldActions(const HostConfig &config, std::chrono::milliseconds timeLimit)
    : runner_(timeLimit) {
  if (std::string path = MapSetting(config, "NginxMapFile"); !path.empty()) {
    nginx_.reset(new MapTarget{"NginxMapFile", "NginxReload", "nginx map", MapFile(path),
                               CommandSetting(config, "NginxReload"), NginxMap::Refusal,
                               MapLines(NginxMap::AppendEntry, true)});
    // "nginx -s reload" answers 0 even when nginx then refuses the configuration: nginx -t
    // says so before, and a map it refuses is not reloaded.
    if (!nginx_->reload.empty()) {
      nginx_->testSetting = "NginxTest";
      nginx_->test = CommandSetting(config, "NginxTest");
    }
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
  // Again here for the shields a record restores, which were not received.
  if (why = ShieldValues::Refusal(shield); !why.empty()) return false;
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
  if (raised.empty() && lifted.empty()) {
    // One retry queued at a time: a test or reload that hangs until its time limit must not
    // pile batches up behind it.
    if (!owed_ || retryQueued_.exchange(true)) return;
  }
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
  retryQueued_ = false;
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
  bool owed = false;
  for (MapTarget *target : {nginx_.get(), apache_.get()}) {
    if (target == nullptr) continue;
    UpdateMap(*target, atStart);
    owed |= target->writeOwed || target->reloadOwed;
  }
  owed_ = owed;
}

void ShieldActions::UpdateMap(MapTarget &target, bool atStart) {
  target.lines.Render(target.rendered);
  const MapFile::Outcome outcome = target.file.Update(target.rendered, atStart);
  target.writeOwed = !outcome.problem.empty();
  if (target.writeOwed) {
    Count(&ShieldActionCounts::fileFailures);
    MapFailure(target, target.setting, outcome.problem);
    return;
  }
  if (outcome.written) Count(&ShieldActionCounts::mapWrites);
  // At start the server takes what the file holds when it starts or reloads next.
  if (atStart) target.accepted = target.file.Held();
  // A new file cannot be in a running server's configuration yet: nothing to reload. A reload
  // that failed is tried again, changed or not.
  if (!target.reload.empty() && ((outcome.written && outcome.replaced) || target.reloadOwed))
    target.reloadOwed = !Reload(target);
  if (target.failures > 0 && !target.reloadOwed) {
    Problem(target.label + " " + target.file.Path() + " is in force again after " +
                std::to_string(target.failures) + " failed attempt(s)",
            Level::kNotice);
    target.failures = 0;
    target.lastFailure.clear();
  }
}

bool ShieldActions::Reload(MapTarget &target) {
  if (!target.test.empty()) {
    const ProcessOutcome test = runner_.Run(target.test);
    if (!test.Succeeded()) {
      Count(&ShieldActionCounts::reloadFailures);
      MapFailure(target, target.testSetting,
                 "the web server refuses its configuration with the new " + target.label +
                     ", which is therefore not reloaded: " + test.WholeProblem());
      PutBack(target);
      return false;
    }
  }
  Count(&ShieldActionCounts::reloads);
  const ProcessOutcome reload = runner_.Run(target.reload);
  if (reload.Succeeded()) {
    target.accepted = target.file.Held();
    return true;
  }
  Count(&ShieldActionCounts::reloadFailures);
  MapFailure(target, target.reloadSetting, reload.WholeProblem());
  return false;
}

// The map the server refused must not stay where a restart of the server would read it and
// fail: the one the server holds goes back, and the new one is tried again at the next batch.
void ShieldActions::PutBack(MapTarget &target) {
  if (!target.accepted) return;
  std::string content = *target.accepted;
  const MapFile::Outcome outcome = target.file.Update(content);
  if (!outcome.problem.empty()) {
    Count(&ShieldActionCounts::fileFailures);
    MapFailure(target, target.setting, outcome.problem);
  }
}

void ShieldActions::MapFailure(MapTarget &target, const std::string &setting,
                               const std::string &reason) {
  ++target.failures;
  std::string failure = setting + ": " + reason;
  if (failure == target.lastFailure) {
    // The whole reason was said already; a retry at every cycle must not flood the journal.
    Problem(setting + ": fails as before (" + std::to_string(target.failures) +
                " failed attempts in a row); tried again at the next shield cycle",
            Level::kError);
    return;
  }
  Problem(failure + " (tried again at the next shield cycle)", Level::kError);
  target.lastFailure = std::move(failure);
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

void ShieldActions::Problem(const std::string &text, Level level) {
  std::lock_guard lock(reportMutex_);
  if (problems_.size() < kProblemsKept) {
    problems_.push_back({level, text});
  } else {
    ++problemsDropped_;
    droppedLevel_ = std::min(droppedLevel_, level);
  }
}

void ShieldActions::Count(int64_t ShieldActionCounts::*counter) {
  std::lock_guard lock(reportMutex_);
  ++(counts_.*counter);
}

std::vector<ShieldProblem> ShieldActions::TakeProblems() {
  std::lock_guard lock(reportMutex_);
  std::vector<ShieldProblem> taken = std::move(problems_);
  problems_.clear();
  if (problemsDropped_ > 0) {
    taken.push_back({droppedLevel_, "and " + std::to_string(problemsDropped_) +
                                        " more problems of the shield actions"});
    problemsDropped_ = 0;
    droppedLevel_ = Level::kInfo;
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
    std::string line = target->label + " " + target->file.Path();
    if (target->reload.empty()) {
      line += ", read by the web server itself";
    } else {
      line += ", reloaded by '" + Join(target->reload) + "'";
      if (!target->test.empty()) line += " once '" + Join(target->test) + "' passes";
    }
    lines.push_back(std::move(line));
  }
  if (nft_) lines.push_back("nftables sets shielded4 and shielded6 in table inet " + nft_->Table());
  if (command_)
    lines.push_back("command '" + Join(command_->Words()) + "' run for each raise and lift");
  return lines;
}

}  // namespace host
