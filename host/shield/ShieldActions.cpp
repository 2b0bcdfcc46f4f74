#include "shield/ShieldActions.h"

#include <filesystem>
#include <stdexcept>
#include <utility>

#include "base/Error.h"
#include "base/IpAddress.h"
#include "shield/ApacheMap.h"
#include "shield/CommandWords.h"
#include "shield/NginxMap.h"
#include "shield/ShieldValues.h"

namespace host {

namespace {

// Problems kept between two TakeProblems calls; beyond them only a count.
constexpr size_t kProblemsKept = 200;

// The words of a command setting; empty when the setting is empty.
std::vector<std::string> CommandSetting(const HostConfig &config, const std::string &key) {
  const std::string &value = config.Get(key);
  if (value.find_first_not_of(" \t") == std::string::npos) return {};
  try {
    return SplitCommandWords(value);
  } catch (const std::invalid_argument &error) {
    throw Error::Setting(key, value, error.what());
  }
}

std::string MapSetting(const HostConfig &config, const std::string &key) {
  const std::string &path = config.Get(key);
  if (path.empty()) return path;
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (parent.empty()) parent = ".";
  std::error_code error;
  if (!std::filesystem::is_directory(parent, error))
    throw Error::Setting(key, path, "the directory " + parent.string() + " does not exist");
  return path;
}

// Two settings naming one file would overwrite each other's shields at every batch.
void RefuseSharedMaps(const std::vector<std::pair<std::string, std::string>> &maps) {
  for (size_t i = 0; i < maps.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (maps[i].second.empty() || std::filesystem::path(maps[i].second).lexically_normal() !=
                                        std::filesystem::path(maps[j].second).lexically_normal())
        continue;
      throw Error::Setting(maps[i].first, maps[i].second, "the file of " + maps[j].first + " too");
    }
  }
}

std::string Join(const std::vector<std::string> &words) {
  std::string text;
  for (const std::string &word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

std::string ShieldText(const Shield &shield) {
  if (shield.WholeAddress()) return shield.address + " (the whole address)";
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

namespace {

// One web server's settings and the way its maps are written.
struct ServerSettings {
  const char *name, *mapSetting, *addressMapSetting, *reloadSetting;
  const char *testSetting;  // nullptr: the server has no test before its reload
  std::string (*refusal)(const Shield &), (*addressRefusal)(const Shield &);
  MapLines::Append append, addressAppend;
  bool foldCase;  // the server folds the keys of its maps to one case
};

// "nginx -s reload" answers 0 even when nginx then refuses the configuration: nginx -t says so
// before, and a map it refuses is not reloaded.
const ServerSettings kNginx{"nginx",
                            "NginxMapFile",
                            "NginxAddressMapFile",
                            "NginxReload",
                            "NginxTest",
                            NginxMap::Refusal,
                            NginxMap::AddressRefusal,
                            NginxMap::AppendEntry,
                            NginxMap::AppendAddressEntry,
                            true};
const ServerSettings kApache{"Apache",
                             "ApacheMapFile",
                             "ApacheAddressMapFile",
                             "ApacheReload",
                             nullptr,
                             ApacheMap::Refusal,
                             ApacheMap::AddressRefusal,
                             ApacheMap::AppendEntry,
                             ApacheMap::AppendAddressEntry,
                             false};

}  // namespace

// One map file of a web server, with the shields that fill it: those of resources, or those of
// whole addresses.
struct ShieldActions::MapPart {
  std::string setting, label;
  bool wholeAddress;
  MapFile file;
  std::string (*refusal)(const Shield &);
  MapLines lines;
  std::string rendered = {};  // the buffer the content is made in, used again
  bool writeOwed = false;     // still to be written at the next batch
  // The content the server holds, as far as flowdeck knows: put back in place of a map the
  // server refuses, so that a restart of the server finds one it takes.
  std::optional<std::string> accepted = {};
};

// A web server's map files (one or both), the command that makes it read them again and the
// one that first checks that it would take them: one test and one reload for both files.
struct ShieldActions::MapTarget {
  MapTarget(const HostConfig &config, const ServerSettings &server, const std::string &resourcePath,
            const std::string &addressPath)
      : name(server.name),
        addressSetting(server.addressMapSetting),
        reloadSetting(server.reloadSetting),
        reload(CommandSetting(config, server.reloadSetting)) {
    if (!resourcePath.empty()) {
      parts.push_back(MapPart{server.mapSetting, name + " map", false, MapFile(resourcePath),
                              server.refusal, MapLines(server.append, server.foldCase)});
    }
    if (!addressPath.empty()) {
      parts.push_back(MapPart{server.addressMapSetting, name + " address map", true,
                              MapFile(addressPath), server.addressRefusal,
                              MapLines(server.addressAppend, server.foldCase)});
    }
    if (server.testSetting != nullptr && !reload.empty()) {
      testSetting = server.testSetting;
      test = CommandSetting(config, server.testSetting);
    }
  }

  // The map that carries the shield, or none.
  const MapPart *PartFor(const Shield &shield) const {
    const bool wholeAddress = shield.WholeAddress();
    for (const MapPart &part : parts) {
      if (part.wholeAddress == wholeAddress) return &part;
    }
    return nullptr;
  }
  MapPart *PartFor(const Shield &shield) {
    return const_cast<MapPart *>(std::as_const(*this).PartFor(shield));
  }
  bool HasAddressMap() const { return parts.back().wholeAddress; }
  // "nginx map /x.map", or "nginx maps /x.map and /y.map".
  std::string Files() const {
    if (parts.size() == 1) return parts[0].label + " " + parts[0].file.Path();
    return name + " maps " + parts[0].file.Path() + " and " + parts[1].file.Path();
  }

  std::string name, addressSetting, reloadSetting;
  std::vector<std::string> reload;
  std::string testSetting = {};
  std::vector<std::string> test = {};  // empty: the reload is not tested first
  std::vector<MapPart> parts = {};     // the map of resources first
  // A reload still to be done at the next batch, and the failures so far in a row.
  bool reloadOwed = false;
  int64_t failures = 0;
  std::string lastFailure = {};
  bool toldNoAddressMap = false;  // said once a run
};

ShieldActions::ShieldActions(const HostConfig &config, std::chrono::milliseconds timeLimit)
    : runner_(timeLimit) {
  std::vector<std::pair<std::string, std::string>> maps;  // setting, path
  for (const ServerSettings *server : {&kNginx, &kApache}) {
    const std::string path = MapSetting(config, server->mapSetting),
                      addressPath = MapSetting(config, server->addressMapSetting);
    if (path.empty() && addressPath.empty()) continue;
    maps.emplace_back(server->mapSetting, path);
    maps.emplace_back(server->addressMapSetting, addressPath);
    (server == &kNginx ? nginx_ : apache_) =
        std::make_unique<MapTarget>(config, *server, path, addressPath);
  }
  RefuseSharedMaps(maps);
  if (const std::string &table = config.Get("NftTable"); !table.empty()) {
    if (std::string problem = NftSets::TableProblem(table); !problem.empty())
      throw Error::Setting("NftTable", table, problem);
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
    const MapPart *part = target == nullptr ? nullptr : target->PartFor(normalized);
    if (part == nullptr) continue;
    if (std::string refusal = part->refusal(normalized); !refusal.empty()) {
      why = part->setting + ": " + refusal;
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
    if (shield.WholeAddress()) NoteUncarried(shield);
    return true;
  }
  Count(&ShieldActionCounts::skipped);
  Problem("shield for " + ShieldText(shield) + " not acted on: " + why);
  return false;
}

// A whole-address shield that a web server with a map of resources only cannot deflect: the
// other actions carry it, the shield is counted as skipped, and the setting that would let the
// server carry it is named once a run.
void ShieldActions::NoteUncarried(const Shield &shield) {
  bool uncarried = false;
  for (MapTarget *target : {nginx_.get(), apache_.get()}) {
    if (target == nullptr || target->HasAddressMap()) continue;
    uncarried = true;
    if (std::exchange(target->toldNoAddressMap, true)) continue;
    Problem(target->name + " cannot deflect whole-address shields (the first: " + shield.address +
            "): set " + target->addressSetting +
            " and include that map as the example snippets show; until then the other actions "
            "carry them, and each is counted as skipped");
  }
  if (uncarried) Count(&ShieldActionCounts::skipped);
}

void ShieldActions::StartNow(std::vector<Shield> active, int64_t now) {
  try {
    active_.Clear();
    for (MapTarget *target : {nginx_.get(), apache_.get()}) {
      if (target == nullptr) continue;
      for (MapPart &part : target->parts) {
        part.lines.Clear();
        part.lines.Reserve(active.size());
      }
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
    if (MapPart *part = target == nullptr ? nullptr : target->PartFor(shield))
      part->lines.Raise(shield);
  }
}

void ShieldActions::Lift(const Shield &shield) {
  active_.Lift(shield);
  for (MapTarget *target : {nginx_.get(), apache_.get()}) {
    if (MapPart *part = target == nullptr ? nullptr : target->PartFor(shield))
      part->lines.Lift(shield);
  }
}

void ShieldActions::UpdateMaps(bool atStart) {
  bool owed = false;
  for (MapTarget *target : {nginx_.get(), apache_.get()}) {
    if (target == nullptr) continue;
    UpdateServer(*target, atStart);
    owed |= target->reloadOwed;
    for (const MapPart &part : target->parts) owed |= part.writeOwed;
  }
  owed_ = owed;
}

void ShieldActions::UpdateServer(MapTarget &target, bool atStart) {
  bool changed = false, allWritten = true;
  for (MapPart &part : target.parts) {
    part.lines.Render(part.rendered);
    const MapFile::Outcome outcome = part.file.Update(part.rendered, atStart);
    part.writeOwed = !outcome.problem.empty();
    if (part.writeOwed) {
      Count(&ShieldActionCounts::fileFailures);
      MapFailure(target, part.setting, outcome.problem);
      allWritten = false;
      continue;
    }
    if (outcome.written) Count(&ShieldActionCounts::mapWrites);
    // At start the server takes what the file holds when it starts or reloads next.
    if (atStart) part.accepted = part.file.Held();
    // A new file cannot be in a running server's configuration yet: nothing to reload.
    changed |= outcome.written && outcome.replaced;
  }
  // One reload for both files; one that failed is tried again, changed or not. A file that
  // could not be written does not hold back the other one's change.
  if (!target.reload.empty() && (changed || target.reloadOwed)) target.reloadOwed = !Reload(target);
  if (target.failures > 0 && allWritten && !target.reloadOwed) {
    Problem(target.Files() + (target.parts.size() == 1 ? " is" : " are") +
                " in force again after " + std::to_string(target.failures) + " failed attempt(s)",
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
      const std::string maps =
          target.parts.size() == 1 ? target.parts[0].label : target.name + " maps";
      MapFailure(target, target.testSetting,
                 "the web server refuses its configuration with the new " + maps +
                     ", which is therefore not reloaded: " + test.WholeProblem());
      PutBack(target);
      return false;
    }
  }
  Count(&ShieldActionCounts::reloads);
  const ProcessOutcome reload = runner_.Run(target.reload);
  if (reload.Succeeded()) {
    for (MapPart &part : target.parts) {
      if (!part.writeOwed) part.accepted = part.file.Held();
    }
    return true;
  }
  Count(&ShieldActionCounts::reloadFailures);
  MapFailure(target, target.reloadSetting, reload.WholeProblem());
  return false;
}

// The maps the server refused must not stay where a restart of the server would read them and
// fail: those the server holds go back, and the new ones are tried again at the next batch.
void ShieldActions::PutBack(MapTarget &target) {
  for (MapPart &part : target.parts) {
    if (!part.accepted) continue;
    std::string content = *part.accepted;
    const MapFile::Outcome outcome = part.file.Update(content);
    if (!outcome.problem.empty()) {
      part.writeOwed = true;
      Count(&ShieldActionCounts::fileFailures);
      MapFailure(target, part.setting, outcome.problem);
    }
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
    for (const MapPart &part : target->parts) {
      std::string line = part.label + " " + part.file.Path();
      if (part.wholeAddress) line += " (whole-address shields)";
      if (target->reload.empty()) {
        line += ", read by the web server itself";
      } else {
        line += ", reloaded by '" + Join(target->reload) + "'";
        if (!target->test.empty()) line += " once '" + Join(target->test) + "' passes";
      }
      lines.push_back(std::move(line));
    }
  }
  if (nft_) lines.push_back("nftables sets shielded4 and shielded6 in table inet " + nft_->Table());
  if (command_)
    lines.push_back("command '" + Join(command_->Words()) + "' run for each raise and lift");
  return lines;
}

}  // namespace host
