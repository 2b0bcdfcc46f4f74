#include "shield/NftSets.h"

#include <algorithm>

#include "base/IpAddress.h"

namespace host {

namespace {

// A timeout as nft reads it. nft refuses a count of seconds above about 49 days, so longer
// ones are written in days, hours, minutes and seconds.
std::string Duration(int64_t seconds) {
  seconds = std::max<int64_t>(seconds, 1);
  std::string text;
  const std::pair<int64_t, char> units[] = {{86400, 'd'}, {3600, 'h'}, {60, 'm'}, {1, 's'}};
  for (auto [size, unit] : units) {
    if (seconds < size) continue;
    text += std::to_string(seconds / size) + unit;
    seconds %= size;
  }
  return text;
}

std::string SetOf(const std::string &address) {
  IpAddress parsed;
  return IpAddress::Parse(address, parsed) && parsed.IsV4() ? "shielded4" : "shielded6";
}

// Element lists, a bounded number of elements per command, one line per command.
class ElementLines {
 public:
  ElementLines(std::string verb, std::string table) : verb_(verb), table_(table) {}
  void Add(const std::string &set, const std::string &element) {
    std::vector<std::string> &list = set == "shielded4" ? four_ : six_;
    list.push_back(element);
  }
  void AppendTo(std::string &script) const {
    Append(script, "shielded4", four_);
    Append(script, "shielded6", six_);
  }

 private:
  static constexpr size_t kPerLine = 1000;
  void Append(std::string &script, const char *set, const std::vector<std::string> &list) const {
    for (size_t start = 0; start < list.size(); start += kPerLine) {
      script += verb_ + " element inet " + table_ + " " + set + " { ";
      for (size_t i = start; i < std::min(list.size(), start + kPerLine); ++i)
        script += (i == start ? "" : ", ") + list[i];
      script += " }\n";
    }
  }
  std::string verb_, table_;
  std::vector<std::string> four_, six_;
};

}  // namespace

NftSets::NftSets(std::string table, ProcessRunner runner)
    : table_(std::move(table)), runner_(runner) {}

std::string NftSets::TableProblem(std::string_view table) {
  if (table.empty() || table.size() > 64) return "a table name has 1 to 64 characters";
  const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!letter(table[0])) return "a table name starts with a letter";
  for (char c : table) {
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '_')
      return "a table name holds only letters, digits and '_'";
  }
  return "";
}

std::string NftSets::Preamble() const {
  return "add table inet " + table_ + "\nadd set inet " + table_ +
         " shielded4 { type ipv4_addr; flags timeout; }\nadd set inet " + table_ +
         " shielded6 { type ipv6_addr; flags timeout; }\n";
}

std::string NftSets::StartScript(const ActiveShields &active, int64_t now) const {
  std::string script = Preamble();
  script += "flush set inet " + table_ + " shielded4\nflush set inet " + table_ + " shielded6\n";
  ElementLines added("add", table_);
  for (auto at = active.begin(); at != active.end(); ++at) {
    const int64_t latest = active.LatestExpiry(at->address);
    if (latest > now)
      added.Add(SetOf(at->address), at->address + " timeout " + Duration(latest - now));
    while (std::next(at) != active.end() && std::next(at)->address == at->address) ++at;
  }
  added.AppendTo(script);
  return script;
}

std::string NftSets::ChangeScript(const std::vector<std::string> &addresses,
                                  const ActiveShields &active, int64_t now) const {
  std::vector<std::string> distinct = addresses;
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  // "add" leaves an element that exists as it is, and "delete" fails on one that does not: an
  // add with a short timeout before the delete makes the delete sure to succeed, and an add
  // after it sets the timeout anew.
  ElementLines ensured("add", table_), removed("delete", table_), renewed("add", table_);
  for (const std::string &address : distinct) {
    const std::string set = SetOf(address);
    ensured.Add(set, address + " timeout 1s");
    removed.Add(set, address);
    const int64_t latest = active.LatestExpiry(address);
    if (latest > now) renewed.Add(set, address + " timeout " + Duration(latest - now));
  }
  std::string script = Preamble();
  ensured.AppendTo(script);
  removed.AppendTo(script);
  renewed.AppendTo(script);
  return script;
}

std::string NftSets::Apply(const std::string &script) const {
  return runner_.Run({"nft", "-f", "-"}, {}, script).problem;
}

}  // namespace host
