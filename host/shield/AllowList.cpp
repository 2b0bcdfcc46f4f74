#include "shield/AllowList.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <stdexcept>

#include "UrlText.h"
#include "base/RunFiles.h"
#include "base/TimeStamp.h"
#include "shield/RecordLines.h"

namespace host {

namespace {

constexpr const char *kHeader =
    "# flowdeck: the allow list, kept by 'flowdeck allow'. One entry a line, tab-separated: "
    "address or range, added, expires (RFC 3339, or - for never), why ('%', tab, CR and LF as "
    "%hh).\n";
constexpr size_t kLargestFile = 16u << 20;

void AppendEscaped(std::string &out, std::string_view value) {
  common::AppendPercentEncoded(out, value, [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  while (true) {
    const size_t tab = line.find('\t');
    fields.push_back(line.substr(0, tab));
    if (tab == std::string_view::npos) return fields;
    line.remove_prefix(tab + 1);
  }
}

}  // namespace

std::optional<AddressSelector> AddressSelector::Parse(std::string_view text) {
  const size_t slash = text.find('/');
  IpAddress address;
  if (!IpAddress::Parse(text.substr(0, slash), address)) return std::nullopt;
  AddressSelector selector;
  selector.text = address.Text();
  if (slash != std::string_view::npos) {
    const std::string_view digits = text.substr(slash + 1);
    int bits = -1;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), bits);
    const int most = address.IsV4() ? 32 : 128;
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        bits < 0 || bits > most) {
      return std::nullopt;
    }
    if (bits < most) selector.text += "/" + std::to_string(bits);
  }
  try {
    selector.ranges = AddressRanges::Parse(text);
  } catch (const std::invalid_argument &) {
    return std::nullopt;
  }
  return selector;
}

void AllowList::Load() {
  entries_.clear();
  ForEachRecordLine(path_, kLargestFile, [&](std::string_view line) {
    const std::vector<std::string_view> fields = Fields(line);
    std::optional<AddressSelector> selector;
    std::optional<int64_t> added, expires = 0;
    if (fields.size() == 4) {
      selector = AddressSelector::Parse(fields[0]);
      added = ReadTimeStamp(fields[1]);
      if (fields[2] != "-") expires = ReadTimeStamp(fields[2]);
    }
    if (!selector || !added || !expires || entries_.size() >= kMostEntries) {
      ++unreadLines_;
      return;
    }
    AllowEntry entry{std::move(*selector), *added, *expires, {}};
    common::AppendPercentDecoded(entry.why, fields[3]);
    entries_.push_back(std::move(entry));
  });
}

bool AllowList::Contains(std::string_view address, int64_t now) const {
  return std::any_of(entries_.begin(), entries_.end(), [&](const AllowEntry &entry) {
    return (entry.expires == 0 || entry.expires > now) && entry.selector.ranges.Contains(address);
  });
}

bool AllowList::Add(AllowEntry entry) {
  changed_ = true;
  for (AllowEntry &held : entries_) {
    if (held.selector.text == entry.selector.text) {
      held = std::move(entry);
      return true;
    }
  }
  if (entries_.size() >= kMostEntries) return false;
  entries_.push_back(std::move(entry));
  return true;
}

bool AllowList::Remove(const AddressSelector &selector) {
  const auto held = std::find_if(entries_.begin(), entries_.end(), [&](const AllowEntry &entry) {
    return entry.selector.text == selector.text;
  });
  if (held == entries_.end()) return false;
  entries_.erase(held);
  changed_ = true;
  return true;
}

std::vector<AllowEntry> AllowList::Expire(int64_t now) {
  std::vector<AllowEntry> lapsed;
  const auto kept = std::stable_partition(
      entries_.begin(), entries_.end(),
      [&](const AllowEntry &entry) { return entry.expires == 0 || entry.expires > now; });
  std::move(kept, entries_.end(), std::back_inserter(lapsed));
  entries_.erase(kept, entries_.end());
  if (!lapsed.empty()) changed_ = true;
  return lapsed;
}

void AllowList::Save() {
  if (!changed_) return;
  std::string text = kHeader;
  for (const AllowEntry &entry : entries_) {
    text.append(entry.selector.text).append(1, '\t').append(FormatTimeStamp(entry.added));
    text.append(1, '\t').append(entry.expires == 0 ? "-" : FormatTimeStamp(entry.expires));
    text.append(1, '\t');
    AppendEscaped(text, entry.why);
    text.append(1, '\n');
  }
  WriteFileAtomically(path_, text, "the allow list", kRunFileMode, Durability::kSurvivesCrash);
  changed_ = false;
}

}  // namespace host
