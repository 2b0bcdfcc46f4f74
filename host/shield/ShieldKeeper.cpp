#include "shield/ShieldKeeper.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "AsciiCase.h"
#include "UrlText.h"
#include "base/Duration.h"
#include "base/IpAddress.h"
#include "base/RunFiles.h"
#include "shield/ShieldValues.h"

namespace host {

namespace {

// A value in one line of the event log: control bytes and '%' as %hh; as one word of the
// line, blanks too, and nothing as "-".
std::string Printable(std::string_view value, bool word = true) {
  if (word && value.empty()) return "-";
  std::string out;
  common::AppendPercentEncoded(
      out, value, [&](unsigned char c) { return c < 0x20 || c == 0x7f || (word && c == ' '); });
  return out;
}

Shield FromRequest(ShieldRequest &request) {
  Shield shield;
  shield.address = std::move(request.address);
  shield.host = std::move(request.host);
  // A host name in other letters is the same host: one shield for it, as the actions key it.
  common::LowerAsciiInPlace(shield.host);
  shield.resource = std::move(request.resource);
  shield.deflect = std::move(request.deflect);
  shield.source = std::move(request.source);
  shield.figures = std::move(request.figures);
  return shield;
}

}  // namespace

ShieldKeeper::ShieldKeeper(const HostConfig &config, const Options &options)
    : book_(options.runDirectory + "/" + RunFiles::kShieldRecord),
      offences_(options.runDirectory + "/" + RunFiles::kOffences,
                config.GetSeconds("OffenceMemory")),
      allow_(options.runDirectory + "/" + RunFiles::kAllowList),
      act_(options.act),
      actionSettings_(ActionSettings(config)),
      neverShield_(AddressRanges::Parse(config.Get("NeverShield"))),
      restore_(options.restore),
      eventsPath_(options.runDirectory + "/" + RunFiles::kShieldEvents) {
  TakeSettings(config);
  auto actions = std::make_unique<ShieldActions>(config);
  configured_ = actions->Configured();
  if (options.act && configured_) actions_ = std::move(actions);
  if (!config.Get("VerifiedBots").empty()) verifier_ = std::make_unique<BotVerifier>(config);
}

void ShieldKeeper::TakeSettings(const HostConfig &config) {
  maxShields_ = static_cast<size_t>(config.GetInteger("MaxShields"));
  shieldSeconds_ = config.GetInteger("ShieldSeconds");
  maxSeconds_ = config.GetSeconds("ShieldSecondsMax");
  factor_ = std::strtod(config.Get("ShieldSecondsFactor").c_str(), nullptr);
  wholeAfter_ = config.GetInteger("WholeAddressAfter");
  offences_.SetMemory(config.GetSeconds("OffenceMemory"));
}

int64_t ShieldKeeper::Lifetime(int offence) const {
  // In floating point: a factor of 2 past the 63rd offence is no 64-bit number.
  const double seconds =
      static_cast<double>(shieldSeconds_) * std::pow(factor_, std::max(offence, 1) - 1);
  return seconds >= static_cast<double>(maxSeconds_) ? maxSeconds_ : static_cast<int64_t>(seconds);
}

bool LiftSelector::Picks(const Shield &shield) const {
  if (addresses && !addresses->ranges.Contains(shield.address)) return false;
  if (!host.empty() && shield.host != host) return false;
  return resource.empty() || shield.resource == resource;
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

ShieldChanges ShieldKeeper::Reconfigure(const HostConfig &config, int64_t nowMilliseconds) {
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
  if (config.Get("VerifiedBots").empty()) {
    verifier_.reset();
  } else if (verifier_) {
    verifier_->Reconfigure(config);
  } else {
    verifier_ = std::make_unique<BotVerifier>(config);
  }
  neverShield_ = std::move(neverShield);
  TakeSettings(config);
  ShieldChanges changes;
  LiftCovered(now, changes);
  if (actions_ && !changes.lifted.empty()) actions_->Apply({}, changes.lifted, now);
  Save(now);
  return changes;
}

ShieldChanges ShieldKeeper::Start(int64_t nowMilliseconds) {
  const int64_t now = nowMilliseconds / 1000;
  ShieldChanges changes;
  if (restore_) {
    changes.lifted = book_.Restore(now);
    for (const Shield &shield : changes.lifted) {
      Note(now, "lift", shield,
           shield.pending == "lift" ? "by hand while flowdeck was down"
                                    : "expired while flowdeck was down");
    }
    tally_.lifted += changes.lifted.size();
    if (book_.UnreadRecordLines() > 0) {
      problems_.push_back(std::to_string(book_.UnreadRecordLines()) +
                          " line(s) of the shield record could not be read and were dropped");
    }
    offences_.Load();
    allow_.Load();
    for (const auto &[count, what] : {std::pair{offences_.UnreadLines(), "offence record"},
                                      std::pair{allow_.UnreadLines(), "allow list"}}) {
      if (count > 0) {
        problems_.push_back(std::to_string(count) + " line(s) of the " + what +
                            " could not be read and were dropped");
      }
    }
    // NeverShield or the allow list may have grown while nothing ran.
    LiftCovered(now, changes);
    changes.unlock.clear();  // none of them was locked in this run's monitor
  }
  // Raised by hand while no follow ran: the actions hear of them as of any new shield.
  changes.raised = book_.TakePending(now, [&](const Shield &shield) {
    return Lifetime(offences_.Count(shield.address, now) + 1);
  });
  for (const Shield &shield : changes.raised) {
    offences_.Record(shield.address, now);
    ++tally_.raisedByHand;
    Note(now, "raise", shield, "by hand while flowdeck was down");
  }
  tally_.restored = book_.Size() - changes.raised.size();
  for (const Shield &shield : book_.Active()) changes.lock.push_back(shield.address);
  if (actions_) {
    std::vector<Shield> held = book_.Active();
    std::erase_if(held, [&](const Shield &shield) {
      return std::any_of(changes.raised.begin(), changes.raised.end(), [&](const Shield &raised) {
        return raised.address == shield.address && raised.host == shield.host &&
               raised.resource == shield.resource;
      });
    });
    actions_->Start(std::move(held), now);
    if (!changes.lifted.empty() || !changes.raised.empty())
      actions_->Apply(changes.raised, changes.lifted, now);
  }
  Save(now);
  return changes;
}

ShieldChanges ShieldKeeper::Cycle(std::vector<ShieldRequest> requests, int64_t nowMilliseconds) {
  const int64_t now = nowMilliseconds / 1000;
  ShieldChanges changes;
  ReceiveWaiting(now, changes);
  for (ShieldRequest &request : requests) Receive(request, now, changes);
  for (const AllowEntry &entry : allow_.Expire(now)) NoteAllow(now, "allow-lapse", entry);
  // Claims are kept as long as a visitor is: an address quiet for an hour claims nothing.
  if (claims_.size() >= kMostClaims / 2) {
    std::erase_if(claims_, [&](const auto &entry) { return now - entry.second.seen > 3600; });
  }
  // No longer covered (an allow entry lapsed or removed, NeverShield narrowed by a reload), a
  // spared visitor is within reach again.
  std::erase_if(spared_, [&](const Shield &shield) {
    if (neverShield_.Contains(shield.address) || allow_.Contains(shield.address, now)) return false;
    changes.unspared.push_back(shield);
    return true;
  });
  changes.lifted = book_.Expire(now);
  for (const Shield &shield : changes.lifted) {
    Note(now, "lift", shield);
    if (!book_.Shielded(shield.address)) changes.unlock.push_back(shield.address);
  }
  tally_.lifted += changes.lifted.size();
  // Without changes too: a map its server does not hold yet is tried again.
  if (actions_) actions_->Apply(changes.raised, changes.lifted, now);
  Save(now);
  return changes;
}

std::string ShieldKeeper::Refusal(const Shield &shield) const {
  std::string why;
  if (!IpAddress::IsValid(shield.address)) return "not an IPv4 or IPv6 address";
  if (why = ShieldValues::Refusal(shield); !why.empty()) return why;
  if (configured_ && actions_ && !actions_->Acceptable(shield, why)) return why;
  return "";
}

void ShieldKeeper::Receive(ShieldRequest &request, int64_t now, ShieldChanges &changes) {
  const bool reportOnly = request.reportOnly;
  Shield shield = FromRequest(request);
  std::string why = Refusal(shield);
  const bool never = neverShield_.Contains(shield.address);
  const char *spareReason = never                                  ? "NeverShield"
                            : allow_.Contains(shield.address, now) ? "allow list"
                                                                   : nullptr;
  // A repeat offender past WholeAddressAfter is shielded whole, whatever it asked for next.
  const int offence = offences_.Count(shield.address, now) + 1;
  if (why.empty() && spareReason == nullptr && wholeAfter_ > 0 && offence > wholeAfter_ &&
      !shield.WholeAddress()) {
    shield.figures += std::string(shield.figures.empty() ? "" : "; ") + "offence " +
                      std::to_string(offence) + ": the whole address, first asked for " +
                      shield.host + shield.resource;
    shield.host.clear();
    shield.resource.clear();
  }
  Shield whole;
  whole.address = shield.address;
  if (!why.empty()) {
    // why says what cannot be carried
  } else if (spareReason != nullptr) {
    ++(never ? tally_.spared : tally_.allowed);
    if (tally_.sparedShields.size() < ShieldTally::kListed) {
      tally_.sparedShields.push_back(shield.address + " " + shield.host + shield.resource + " (" +
                                     spareReason + ")");
    }
    Note(now, "spare", shield, spareReason);
    if (spared_.size() < kMostSpared) spared_.push_back(shield);
    return;
  } else if (book_.InForce(whole) || book_.InForce(shield)) {
    ++tally_.repeated;  // the whole address, or this very shield, is shielded already
    return;
  } else if (!Verify(shield, now, reportOnly)) {
    return;  // a search engine's crawler, spared; or waiting for its verification
  } else if (reportOnly) {
    NoteJudged(shield, now);  // judged as any shield would be, and left at that
    return;
  } else if (book_.Size() >= maxShields_) {
    why = "MaxShields (" + std::to_string(maxShields_) + ") are in force";
    if (tally_.overLimit++ == 0) {
      problems_.push_back(std::to_string(maxShields_) +
                          " shields are in force (MaxShields): new shields are refused until "
                          "some are lifted");
    }
  } else {
    PutInForce(shield, Lifetime(offence), now, changes);
    return;
  }
  ++tally_.refused;
  Note(now, "refuse", shield, why);
}

bool ShieldKeeper::Verify(Shield &shield, int64_t now, bool reportOnly) {
  if (!verifier_) return true;
  const auto claim = claims_.find(shield.address);
  if (claim == claims_.end()) return true;
  const BotVerifier::Answer answer =
      verifier_->Check(shield.address, claim->second.crawler, now * 1000);
  switch (answer.verdict) {
    case BotVerifier::Verdict::kPending:
      // Claims are the visitor's to make: past the bound a shield acts unverified, counted.
      if (waiting_.size() >= kMostWaiting) {
        ++tally_.falseClaims;
        shield.figures += std::string(shield.figures.empty() ? "" : "; ") + "claims to be " +
                          std::string(claim->second.crawler) +
                          ", not verified: " + std::to_string(kMostWaiting) +
                          " shields wait for their verification";
        return true;
      }
      waiting_.push_back({shield.address, shield.host, shield.resource, shield.deflect,
                          shield.source, shield.figures, reportOnly});
      return false;
    case BotVerifier::Verdict::kVerified:
      ++tally_.verified;
      if (tally_.sparedShields.size() < ShieldTally::kListed) {
        tally_.sparedShields.push_back(shield.address + " " + shield.host + shield.resource +
                                       " (verified " + answer.bot + ")");
      }
      Note(now, "spare", shield, "verified " + answer.bot);
      return false;
    case BotVerifier::Verdict::kFailed:
      ++tally_.falseClaims;
      shield.figures += std::string(shield.figures.empty() ? "" : "; ") + "claims to be " +
                        answer.bot + ", is not (" + answer.why + ")";
      return true;
  }
  return true;
}

void ShieldKeeper::ReceiveWaiting(int64_t now, ShieldChanges &changes) {
  std::vector<ShieldRequest> waiting = std::move(waiting_);
  waiting_.clear();
  for (ShieldRequest &request : waiting) Receive(request, now, changes);
}

void ShieldKeeper::NoteClaim(std::string_view address, std::string_view crawler,
                             int64_t nowMilliseconds) {
  if (!verifier_) return;
  const auto held = claims_.find(std::string(address));
  if (held != claims_.end()) {
    held->second = {crawler, nowMilliseconds / 1000};
  } else if (claims_.size() < kMostClaims) {
    claims_.emplace(address, Claim{crawler, nowMilliseconds / 1000});
  }
}

ShieldChanges ShieldKeeper::Settle(int64_t nowMilliseconds) {
  // A lookup ends by its time limit: waiting a little longer than that settles every one.
  ShieldChanges settled;
  for (int round = 0; round < 60 && !waiting_.empty(); ++round) {
    if (round > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ShieldChanges changes = Cycle({}, nowMilliseconds);
    for (auto [to, from] : {std::pair{&settled.raised, &changes.raised},
                            std::pair{&settled.lifted, &changes.lifted}}) {
      std::move(from->begin(), from->end(), std::back_inserter(*to));
    }
    for (auto [to, from] :
         {std::pair{&settled.lock, &changes.lock}, std::pair{&settled.unlock, &changes.unlock}}) {
      std::move(from->begin(), from->end(), std::back_inserter(*to));
    }
  }
  return settled;
}

std::optional<BotVerifier::Counts> ShieldKeeper::VerifierCounts() const {
  if (!verifier_) return std::nullopt;
  return verifier_->Stats();
}

bool ShieldKeeper::PutInForce(Shield &shield, int64_t lifetime, int64_t now,
                              ShieldChanges &changes) {
  if (!book_.Raise(shield, now, lifetime)) return false;
  const int offence = offences_.Record(shield.address, now);
  ++tally_.raised;
  if (offence > 1 && tally_.repeat++ < ShieldTally::kListed) {
    tally_.repeatShields.push_back(shield.address + ", offence " + std::to_string(offence) +
                                   ", lasts " + FormatDuration(lifetime));
  }
  if (shield.WholeAddress()) ++tally_.wholeAddress;
  if (shield.source == "pace") {
    ++tally_.pace;
    if (tally_.paceShields.size() < ShieldTally::kListed) tally_.paceShields.push_back(shield);
  } else if (shield.source == "crawl") {
    ++tally_.crawl;
    if (tally_.crawlShields.size() < ShieldTally::kListed) tally_.crawlShields.push_back(shield);
  }
  Note(now, "raise", shield, shield.figures);
  changes.lock.push_back(shield.address);
  changes.raised.push_back(shield);
  return true;
}

template <typename Which>
void ShieldKeeper::LiftNow(Which which, int64_t now, std::string_view why, ShieldChanges &changes) {
  std::vector<Shield> lifted = book_.Lift(which);
  for (Shield &shield : lifted) {
    Note(now, "lift", shield, why);
    if (!book_.Shielded(shield.address)) changes.unlock.push_back(shield.address);
    changes.lifted.push_back(std::move(shield));
  }
  tally_.lifted += lifted.size();
}

void ShieldKeeper::LiftCovered(int64_t now, ShieldChanges &changes) {
  const size_t before = changes.lifted.size();
  LiftNow([&](const Shield &shield) { return neverShield_.Contains(shield.address); }, now,
          "NeverShield covers it now", changes);
  LiftNow([&](const Shield &shield) { return allow_.Contains(shield.address, now); }, now,
          "the allow list covers it", changes);
  tally_.liftedCovered += changes.lifted.size() - before;
}

ShieldChanges ShieldKeeper::Lift(const LiftSelector &selector, int64_t nowMilliseconds) {
  const int64_t now = nowMilliseconds / 1000;
  ShieldChanges changes;
  LiftNow([&](const Shield &shield) { return selector.Picks(shield); }, now, "by hand", changes);
  tally_.liftedByHand += changes.lifted.size();
  if (actions_ && !changes.lifted.empty()) actions_->Apply({}, changes.lifted, now);
  Save(now);
  return changes;
}

std::string ShieldKeeper::RaiseByHand(Shield shield, int64_t seconds, int64_t nowMilliseconds,
                                      ShieldChanges &changes) {
  const int64_t now = nowMilliseconds / 1000;
  IpAddress address;
  if (!IpAddress::Parse(shield.address, address)) return "not an IPv4 or IPv6 address";
  shield.address = address.Text();
  common::LowerAsciiInPlace(shield.host);
  shield.source = "manual";
  if (std::string why = Refusal(shield); !why.empty()) return why;
  if (neverShield_.Contains(shield.address))
    return "NeverShield covers " + shield.address + ": take it out of NeverShield first";
  if (allow_.Contains(shield.address, now))
    return "the allow list covers " + shield.address + ": remove it with 'flowdeck allow --remove'";
  if (book_.InForce(shield)) return "that shield is in force already";
  if (book_.Size() >= maxShields_)
    return "MaxShields (" + std::to_string(maxShields_) + ") are in force";
  const int64_t lifetime =
      seconds > 0 ? seconds : Lifetime(offences_.Count(shield.address, now) + 1);
  PutInForce(shield, lifetime, now, changes);
  ++tally_.raisedByHand;
  if (actions_) actions_->Apply(changes.raised, {}, now);
  Save(now);
  return "";
}

ShieldChanges ShieldKeeper::Allow(AllowEntry entry, int64_t nowMilliseconds) {
  const int64_t now = nowMilliseconds / 1000;
  entry.added = now;
  NoteAllow(now, "allow", entry);
  allow_.Add(std::move(entry));
  ShieldChanges changes;
  LiftCovered(now, changes);
  if (actions_ && !changes.lifted.empty()) actions_->Apply({}, changes.lifted, now);
  Save(now);
  return changes;
}

bool ShieldKeeper::Disallow(const AddressSelector &selector, int64_t nowMilliseconds) {
  const int64_t now = nowMilliseconds / 1000;
  const auto held =
      std::find_if(allow_.Entries().begin(), allow_.Entries().end(),
                   [&](const AllowEntry &entry) { return entry.selector.text == selector.text; });
  if (held == allow_.Entries().end()) return false;
  NoteAllow(now, "allow-remove", *held);
  allow_.Remove(selector);
  Save(now);
  return true;
}

void ShieldKeeper::NoteJudged(Shield shield, int64_t now) {
  shield.raisedAt = now;
  ++tally_.crawlReported;
  if (tally_.crawlReports.size() < ShieldTally::kListed) tally_.crawlReports.push_back(shield);
  Note(now, "judge", shield, shield.figures);
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
  if (event == "raise") {
    line.append(" until ").append(IsoTime(shield.expiresAt));
    line.append(" offence ").append(std::to_string(offences_.Count(shield.address, now)));
  }
  if (!why.empty()) line.append(" (").append(Printable(why, false)).append(")");
  line.append("\n");
  // Never through a symbolic link someone put under the log's name, never waiting on a FIFO.
  if (std::string problem = AppendToFile(eventsPath_, line); !problem.empty())
    problems_.push_back(std::move(problem));
}

void ShieldKeeper::NoteAllow(int64_t now, std::string_view event, const AllowEntry &entry) {
  Shield shield;
  shield.source = "manual";
  shield.address = entry.selector.text;
  std::string why = entry.expires == 0 ? "for good" : "until " + IsoTime(entry.expires);
  if (!entry.why.empty()) why += ": " + entry.why;
  Note(now, event, shield, why);
}

void ShieldKeeper::Save(int64_t now) {
  try {
    book_.Save();
    offences_.Save(now);
    allow_.Save();
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
