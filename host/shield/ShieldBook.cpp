#include "shield/ShieldBook.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "UrlText.h"
#include "base/RunFiles.h"
#include "base/TimeStamp.h"
#include "shield/RecordLines.h"

namespace host {

namespace {

constexpr const char *kHeader =
    "# flowdeck: the shields in force. One a line, tab-separated: raised, expires (RFC 3339), "
    "source, address, host, resource, deflect (empty host and resource: the whole address), "
    "and 'raise' or 'lift' for a shield raised or lifted by hand while no follow ran; '%', tab, "
    "CR and LF written as %hh.\n";

// The largest record read back; a larger one is not flowdeck's and restores nothing.
constexpr size_t kLargestRecord = 256u << 20;

void AppendEscaped(std::string &out, std::string_view value) {
  common::AppendPercentEncoded(out, value,
                               [](unsigned char c) { return c == '\t' || c == '\r' || c == '\n'; });
}

// A time as RecordLine writes it, or the Unix seconds that earlier versions wrote.
bool ParseTime(std::string_view text, int64_t &value) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc() && end == text.data() + text.size()) return true;
  const std::optional<int64_t> stamp = ReadTimeStamp(text);
  if (stamp) value = *stamp;
  return stamp.has_value();
}

void OldestFirst(std::vector<Shield> &shields) {
  std::stable_sort(shields.begin(), shields.end(),
                   [](const Shield &a, const Shield &b) { return a.raisedAt < b.raisedAt; });
}

}  // namespace

ShieldBook::ShieldBook(std::string recordPath) : recordPath_(std::move(recordPath)) {}

std::string ShieldBook::RecordLine(const Shield &shield) {
  std::string line = IsoTime(shield.raisedAt) + "\t" + IsoTime(shield.expiresAt);
  for (const std::string *field :
       {&shield.source, &shield.address, &shield.host, &shield.resource, &shield.deflect}) {
    line.push_back('\t');
    AppendEscaped(line, *field);
  }
  if (!shield.pending.empty()) line.append(1, '\t').append(shield.pending);
  return line;
}

bool ShieldBook::ParseRecordLine(std::string_view line, Shield &shield) {
  std::vector<std::string_view> fields;
  while (true) {
    const size_t tab = line.find('\t');
    fields.push_back(line.substr(0, tab));
    if (tab == std::string_view::npos) break;
    line.remove_prefix(tab + 1);
  }
  if (fields.size() == 8 && fields[7] != "raise" && fields[7] != "lift") return false;
  if (fields.size() != 7 && fields.size() != 8) return false;
  shield = Shield{};
  if (fields.size() == 8) shield.pending = fields[7];
  if (!ParseTime(fields[0], shield.raisedAt) || !ParseTime(fields[1], shield.expiresAt)) {
    return false;
  }
  std::string *values[] = {&shield.source, &shield.address, &shield.host, &shield.resource,
                           &shield.deflect};
  for (size_t i = 0; i < 5; ++i) {
    values[i]->clear();
    common::AppendPercentDecoded(*values[i], fields[i + 2]);
  }
  return !shield.address.empty();
}

std::vector<Shield> ShieldBook::Restore(int64_t now) {
  std::vector<Shield> expired;
  for (Shield &shield : Read()) {
    // A pending raise without an expiry is given its lifetime when it is carried out.
    const bool lasting = shield.pending == "raise" && shield.expiresAt == 0;
    if (shield.pending != "lift" && (lasting || shield.expiresAt > now)) {
      Add(shield);
    } else {
      expired.push_back(std::move(shield));
    }
  }
  changed_ = !expired.empty() || unreadLines_ > 0;
  OldestFirst(expired);
  return expired;
}

void ShieldBook::Load() {
  for (Shield &shield : Read()) Add(shield);
}

std::vector<Shield> ShieldBook::Read() {
  std::vector<Shield> shields;
  ForEachRecordLine(recordPath_, kLargestRecord, [&](std::string_view line) {
    Shield shield;
    if (!ParseRecordLine(line, shield)) {
      ++unreadLines_;
      return;
    }
    shields.push_back(std::move(shield));
  });
  return shields;
}

void ShieldBook::Add(const Shield &shield) {
  auto [entry, added] =
      shields_.try_emplace(Key{shield.address, shield.host, shield.resource}, shield);
  if (added) ++perAddress_[shield.address];
}

bool ShieldBook::Raise(Shield &shield, int64_t now, int64_t lifetime) {
  if (shields_.contains(Key{shield.address, shield.host, shield.resource})) return false;
  shield.raisedAt = now;
  shield.expiresAt = now + lifetime;
  Add(shield);
  changed_ = true;
  return true;
}

std::vector<Shield> ShieldBook::Expire(int64_t now) {
  std::vector<Shield> lifted;
  for (auto entry = shields_.begin(); entry != shields_.end();) {
    if (entry->second.expiresAt > now) {
      ++entry;
      continue;
    }
    lifted.push_back(Remove(entry));
    entry = shields_.erase(entry);
  }
  OldestFirst(lifted);
  if (!lifted.empty()) changed_ = true;
  return lifted;
}

Shield ShieldBook::Remove(std::map<Key, Shield>::iterator entry) {
  auto count = perAddress_.find(entry->second.address);
  if (--count->second == 0) perAddress_.erase(count);
  return std::move(entry->second);
}

std::vector<Shield> ShieldBook::TakePending(
    int64_t now, const std::function<int64_t(const Shield &)> &lifetime) {
  std::vector<Shield> pending;
  for (auto &[key, shield] : shields_) {
    if (shield.pending != "raise") continue;
    shield.pending.clear();
    if (shield.expiresAt == 0) {
      // In force from now on, for the lifetime the settings of this run give it.
      shield.raisedAt = now;
      shield.expiresAt = now + lifetime(shield);
    }
    pending.push_back(shield);
    changed_ = true;
  }
  return pending;
}

bool ShieldBook::Order(Shield shield) {
  auto [entry, added] =
      shields_.try_emplace(Key{shield.address, shield.host, shield.resource}, shield);
  if (added) {
    ++perAddress_[shield.address];
  } else if (entry->second.pending != "lift" && entry->second.expiresAt != 0 &&
             entry->second.expiresAt > shield.raisedAt) {
    return false;  // in force
  } else {
    entry->second = std::move(shield);
  }
  changed_ = true;
  return true;
}

std::vector<Shield> ShieldBook::OrderLift(const std::function<bool(const Shield &)> &which,
                                          int64_t now) {
  std::vector<Shield> lifted;
  for (auto entry = shields_.begin(); entry != shields_.end();) {
    Shield &shield = entry->second;
    const bool inForce = shield.pending.empty() && shield.expiresAt > now;
    if (!which(shield) || (!inForce && shield.pending != "raise")) {
      ++entry;
      continue;
    }
    changed_ = true;
    if (shield.pending == "raise") {  // never carried out: nothing to lift
      lifted.push_back(Remove(entry));
      entry = shields_.erase(entry);
      continue;
    }
    lifted.push_back(shield);
    shield.pending = "lift";
    ++entry;
  }
  return lifted;
}

bool ShieldBook::Shielded(std::string_view address) const {
  return !perAddress_.empty() && perAddress_.find(address) != perAddress_.end();
}

std::vector<Shield> ShieldBook::Active() const {
  std::vector<Shield> active;
  for (const auto &[key, shield] : shields_) active.push_back(shield);
  return active;
}

void ShieldBook::Save() {
  if (!changed_) return;
  std::string text = kHeader;
  for (const auto &[key, shield] : shields_) text.append(RecordLine(shield)).append(1, '\n');
  WriteFileAtomically(recordPath_, text, "the shield record", kRunFileMode,
                      Durability::kSurvivesCrash);
  changed_ = false;
}

}  // namespace host
