#include "ShieldKeeper.h"

#include <ctime>

#include "IpAddress.h"
#include "RunFiles.h"
#include "ShieldValues.h"

namespace host {

namespace {

// A value in one line of the event log: control bytes and '%' as %hh; as one word of the
// line, blanks too, and nothing as "-".
std::string Printable(std::string_view value, bool word = true) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  if (word && value.empty()) return "-";
  std::string out;
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f || c == '%' || (word && c == ' ')) {
      out.append(1, '%').append(1, kHex[byte >> 4]).append(1, kHex[byte & 15]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

Shield FromRequest(ShieldRequest &request) {
  Shield shield;
  shield.address = std::move(request.address);
  shield.host = std::move(request.host);
  // A host name in other letters is the same host: one shield for it, as the actions key it.
  for (char &c : shield.host) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c | 0x20);
  }
  shield.resource = std::move(request.resource);
  shield.deflect = std::move(request.deflect);
  shield.source = std::move(request.source);
  shield.figures = std::move(request.figures);
  return shield;
}

}  // namespace

ShieldKeeper::ShieldKeeper(const HostConfig &config, const Options &options)
    : book_(options.runDirectory + "/" + report::RunFiles::kShieldRecord,
            config.GetInteger("ShieldSeconds")),
      act_(options.act),
      actionSettings_(ActionSettings(config)),
      neverShield_(AddressRanges::Parse(config.Get("NeverShield"))),
      maxShields_(static_cast<size_t>(config.GetInteger("MaxShields"))),
      restore_(options.restore),
      eventsPath_(options.runDirectory + "/" + report::RunFiles::kShieldEvents) {
  auto actions = std::make_unique<ShieldActions>(config);
  configured_ = actions->Configured();
  if (options.act && configured_) actions_ = std::move(actions);
}

ShieldKeeper::~ShieldKeeper() = default;

std::string ShieldKeeper::ActionSettings(const HostConfig &config) {
  std::string settings;
  for (const char *key : {"NginxMapFile", "NginxReload", "NginxTest", "ApacheMapFile",
                          "ApacheReload", "NftTable", "ShieldCommand"}) {
    settings.append(config.Get(key)).append(1, '\n');
  }
  return settings;
}

void ShieldKeeper::Reconfigure(const HostConfig &config, int64_t nowMilliseconds) {
  const int64_t now = nowMilliseconds / 1000;
  AddressRanges neverShield = AddressRanges::Parse(config.Get("NeverShield"));
  const std::string actionSettings = ActionSettings(config);
  if (actionSettings != actionSettings_) {
    auto actions = std::make_unique<ShieldActions>(config);
    const std::vector<Shield> active = book_.Active();
    if (actions_) {
      actions_->Apply({}, active, now);
      actions_->Drain();
      retiredCounts_ += actions_->Counts();
      for (ShieldProblem &problem : actions_->TakeProblems())
        actionProblems_.push_back(std::move(problem));
    }
    configured_ = actions->Configured();
    actions_.reset();
    if (act_ && configured_) {
      actions_ = std::move(actions);
      actions_->Start({}, now);
      if (!active.empty()) actions_->Apply(active, {}, now);
    }
    actionSettings_ = actionSettings;
  }
  neverShield_ = std::move(neverShield);
  maxShields_ = static_cast<size_t>(config.GetInteger("MaxShields"));
  book_.SetLifetime(config.GetInteger("ShieldSeconds"));
}

ShieldChanges ShieldKeeper::Start(int64_t nowMilliseconds) {
  const int64_t now = nowMilliseconds / 1000;
  ShieldChanges changes;
  std::vector<Shield> expired;
  if (restore_) {
    expired = book_.Restore(now);
    tally_.restored = book_.Size();
    for (const Shield &shield : book_.Active()) changes.lock.push_back(shield.address);
    if (book_.UnreadRecordLines() > 0) {
      problems_.push_back(std::to_string(book_.UnreadRecordLines()) +
                          " line(s) of the shield record could not be read and were dropped");
    }
  }
  if (actions_) actions_->Start(book_.Active(), now);
  for (const Shield &shield : expired) Note(now, "lift", shield, "expired while flowdeck was down");
  tally_.lifted += expired.size();
  if (actions_ && !expired.empty()) actions_->Apply({}, expired, now);
  changes.lifted = std::move(expired);
  Save();
  return changes;
}

ShieldChanges ShieldKeeper::Cycle(std::vector<ShieldRequest> requests, int64_t nowMilliseconds) {
  const int64_t now = nowMilliseconds / 1000;
  ShieldChanges changes;
  for (ShieldRequest &request : requests) Receive(request, now, changes);
  changes.lifted = book_.Expire(now);
  for (const Shield &shield : changes.lifted) {
    Note(now, "lift", shield);
    if (!book_.Shielded(shield.address)) changes.unlock.push_back(shield.address);
  }
  tally_.lifted += changes.lifted.size();
  // Without changes too: a map its server does not hold yet is tried again.
  if (actions_) actions_->Apply(changes.raised, changes.lifted, now);
  Save();
  return changes;
}

void ShieldKeeper::Receive(ShieldRequest &request, int64_t now, ShieldChanges &changes) {
  Shield shield = FromRequest(request);
  std::string why;
  if (!IpAddress::IsValid(shield.address)) {
    why = "not an IPv4 or IPv6 address";
  } else if (why = ShieldValues::Refusal(shield); !why.empty()) {
    // a value that a web server could read otherwise than meant, acted on or not
  } else if (configured_ && actions_ && !actions_->Acceptable(shield, why)) {
    // why says which action cannot carry it
  } else if (neverShield_.Contains(shield.address)) {
    ++tally_.spared;
    tally_.sparedShields.push_back(shield.address + " " + shield.host + shield.resource);
    Note(now, "spare", shield, "NeverShield");
    return;
  } else if (book_.Size() >= maxShields_ && !book_.InForce(shield)) {
    why = "MaxShields (" + std::to_string(maxShields_) + ") are in force";
    if (tally_.overLimit++ == 0) {
      problems_.push_back(std::to_string(maxShields_) +
                          " shields are in force (MaxShields): new shields are refused until "
                          "some are lifted");
    }
  } else if (!book_.Raise(shield, now)) {
    ++tally_.repeated;
    return;
  } else {
    ++tally_.raised;
    if (shield.source == "pace") {
      ++tally_.pace;
      if (tally_.paceShields.size() < ShieldTally::kListed) tally_.paceShields.push_back(shield);
    }
    Note(now, "raise", shield, shield.figures);
    changes.lock.push_back(shield.address);
    changes.raised.push_back(std::move(shield));
    return;
  }
  ++tally_.refused;
  Note(now, "refuse", shield, why);
}

void ShieldKeeper::NoteForged(int64_t nowMilliseconds, const ForgedRequest &forged) {
  if (forgedNoted_ > ShieldListener::kForgedNoted) return;
  const int64_t now = nowMilliseconds / 1000;
  Shield shield;
  shield.source = forged.route;
  if (forgedNoted_++ == ShieldListener::kForgedNoted) {
    Note(now, "forged", shield,
         "more requests without the shield route's key are counted, not noted");
    return;
  }
  shield.address = forged.asked.address;
  shield.host = forged.asked.host;
  shield.resource = forged.asked.resource;
  shield.deflect = forged.asked.deflect;
  Note(now, "forged", shield, "from " + forged.peer + ", without the shield route's key");
}

void ShieldKeeper::Note(int64_t now, std::string_view event, const Shield &shield,
                        std::string_view why) {
  std::string line = IsoTime(now);
  line.append(" ").append(event).append(" ").append(shield.source);
  line.append(" ").append(Printable(shield.address)).append(" ").append(Printable(shield.host));
  line.append(" ").append(Printable(shield.resource)).append(" -> ");
  line.append(Printable(shield.deflect));
  if (event == "raise") line.append(" until ").append(IsoTime(shield.expiresAt));
  if (!why.empty()) line.append(" (").append(Printable(why, false)).append(")");
  line.append("\n");
  // Never through a symbolic link someone put under the log's name, never waiting on a FIFO.
  if (std::string problem = report::AppendToFile(eventsPath_, line); !problem.empty())
    problems_.push_back(std::move(problem));
}

void ShieldKeeper::Save() {
  try {
    book_.Save();
  } catch (const std::runtime_error &error) {
    problems_.push_back(error.what());
  }
}

void ShieldKeeper::Finish() {
  if (actions_) actions_->Drain();
}

std::vector<ShieldProblem> ShieldKeeper::TakeProblems() {
  std::vector<ShieldProblem> problems;
  for (std::string &problem : problems_) problems.push_back({Level::kWarning, std::move(problem)});
  problems_.clear();
  for (ShieldProblem &problem : actionProblems_) problems.push_back(std::move(problem));
  actionProblems_.clear();
  if (actions_) {
    for (ShieldProblem &problem : actions_->TakeProblems()) problems.push_back(std::move(problem));
  }
  return problems;
}

ShieldActionCounts ShieldKeeper::ActionCounts() const {
  ShieldActionCounts counts = retiredCounts_;
  if (actions_) counts += actions_->Counts();
  return counts;
}

std::vector<std::string> ShieldKeeper::Describe() const {
  if (actions_) return actions_->Describe();
  if (configured_) return {"shield actions are configured but this run does not act on them"};
  return {"no shield action is configured: shields are recorded, not enforced"};
}

}  // namespace host
