#include "shield/OffenceBook.h"

#include <algorithm>

#include "base/IpAddress.h"
#include "base/RunFiles.h"
#include "base/TimeStamp.h"
#include "shield/RecordLines.h"

namespace host {

namespace {

constexpr const char *kHeader =
    "# flowdeck: the offences of repeat offenders, one shield a line, tab-separated: raised "
    "(RFC 3339), address.\n";
constexpr size_t kLargestFile = 256u << 20;

}  // namespace

OffenceBook::OffenceBook(std::string path, int64_t memorySeconds)
    : path_(std::move(path)), memory_(memorySeconds) {}

std::string OffenceBook::Key(std::string_view address) {
  IpAddress parsed;
  return IpAddress::Parse(address, parsed) ? parsed.Text() : std::string(address);
}

void OffenceBook::Load() {
  ForEachRecordLine(path_, kLargestFile, [&](std::string_view line) {
    const size_t tab = line.find('\t');
    const std::optional<int64_t> time =
        tab == std::string_view::npos ? std::nullopt : ReadTimeStamp(line.substr(0, tab));
    IpAddress address;
    if (!time || !IpAddress::Parse(line.substr(tab + 1), address)) {
      ++unreadLines_;
      return;
    }
    std::vector<int64_t> &times = times_[address.Text()];
    times.insert(std::upper_bound(times.begin(), times.end(), *time), *time);
    if (times.size() > kKeptPerAddress) times.erase(times.begin());
  });
}

int OffenceBook::Count(std::string_view address, int64_t now) const {
  const auto entry = times_.find(Key(address));
  if (entry == times_.end()) return 0;
  const std::vector<int64_t> &times = entry->second;
  // Within the memory: raised less than memory_ seconds before now.
  const auto first = std::upper_bound(times.begin(), times.end(), now - memory_);
  return static_cast<int>(times.end() - first);
}

int OffenceBook::Record(std::string_view address, int64_t now) {
  std::vector<int64_t> &times = times_[Key(address)];
  times.insert(std::upper_bound(times.begin(), times.end(), now), now);
  if (times.size() > kKeptPerAddress) times.erase(times.begin());
  changed_ = true;
  return Count(address, now);
}

void OffenceBook::Forget(int64_t now) {
  for (auto entry = times_.begin(); entry != times_.end();) {
    std::vector<int64_t> &times = entry->second;
    const auto first = std::upper_bound(times.begin(), times.end(), now - memory_);
    if (first != times.begin()) {
      times.erase(times.begin(), first);
      changed_ = true;
    }
    entry = times.empty() ? times_.erase(entry) : std::next(entry);
  }
}

void OffenceBook::Save(int64_t now) {
  // Called at every shield cycle: the walk over every address is made once a minute.
  if (now >= nextForget_) {
    Forget(now);
    nextForget_ = now + 60;
  }
  if (!changed_) return;
  std::vector<std::pair<int64_t, const std::string *>> lines;
  for (const auto &[address, times] : times_) {
    for (int64_t time : times) lines.emplace_back(time, &address);
  }
  std::sort(lines.begin(), lines.end(), [](const auto &a, const auto &b) {
    return std::tie(a.first, *a.second) < std::tie(b.first, *b.second);
  });
  std::string text = kHeader;
  for (const auto &[time, address] : lines) {
    text.append(FormatTimeStamp(time)).append(1, '\t').append(*address).append(1, '\n');
  }
  WriteFileAtomically(path_, text, "the offence record", kRunFileMode, Durability::kSurvivesCrash);
  changed_ = false;
}

}  // namespace host
