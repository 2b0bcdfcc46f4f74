#include "run/ShieldSteering.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <optional>
#include <stdexcept>

#include "base/Error.h"
#include "base/RunFiles.h"
#include "base/TimeStamp.h"
#include "report/HtmlText.h"
#include "run/ControlClient.h"
#include "shield/OffenceBook.h"
#include "shield/ShieldBook.h"
#include "shield/ShieldKeeper.h"

namespace host {

namespace {

constexpr const char *kWholeAddress = "whole address";
// Without the run's OffenceMemory the listing counts every offence the record holds.
constexpr int64_t kEveryOffence = int64_t{1} << 40;

// A file written by root for a follow that runs as the directory's owner stays readable to it.
void KeepOwner(const std::string &dir, const char *name) {
  struct stat info {};
  if (geteuid() != 0 || stat(dir.c_str(), &info) != 0) return;
  const std::string path = dir + "/" + name;
  if (lchown(path.c_str(), info.st_uid, info.st_gid) != 0) {
    // The file stays root's: the follow says it cannot read it, and the operator sees why.
  }
}

std::string Lifts(const Shield &shield) {
  return shield.expiresAt == 0 ? "at its start" : IsoTime(shield.expiresAt);
}

std::string Table(const std::vector<std::vector<std::string>> &rows) {
  std::vector<size_t> widths;
  for (const auto &row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  std::string text;
  for (const auto &row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line.append(widths[i] - row[i].size() + 2, ' ');
    }
    text += line + "\n";
  }
  return text;
}

void Field(std::string &out, const char *name, std::string_view value, bool first = false) {
  if (!first) out += ", ";
  out.append("\"").append(name).append("\": ");
  report::AppendJsonString(out, value);
}

// Orders are written in a run's directory only, never in one that merely was named.
void CheckRunDirectory(const std::string &dir) {
  struct stat info {};
  if (stat(dir.c_str(), &info) != 0) throw Error(dir, std::strerror(errno));
  if (!S_ISDIR(info.st_mode)) throw Error(dir, "not a directory");
  for (const char *name : {RunFiles::kRunInfo, RunFiles::kShieldRecord}) {
    if (lstat((dir + "/" + name).c_str(), &info) == 0) return;
  }
  if (errno == EACCES) {
    throw Error(dir,
                std::string() + std::strerror(errno) + " (run as the run's user, or with sudo)");
  }
  throw Error(dir, std::string("not a run directory (no ") + RunFiles::kRunInfo +
                       "; give the --out of a replay or follow)");
}

ControlReply NotRunning(ControlReply reply, const std::string &dir) {
  reply.out += "no follow runs on " + dir + ": the next one to start carries this out\n";
  return reply;
}

}  // namespace

std::string ShieldListing::Table(size_t most) const {
  if (shields.empty()) return "no shield in force\n";
  std::vector<std::vector<std::string>> rows = {
      {"ADDRESS", "HOST", "RESOURCE", "DEFLECT", "SOURCE", "RAISED", "LIFTS", "OFFENCES"}};
  for (const Shield &shield : shields) {
    if (most > 0 && rows.size() > most) break;
    rows.push_back({shield.address, shield.WholeAddress() ? "-" : shield.host,
                    shield.WholeAddress() ? kWholeAddress : shield.resource, shield.deflect,
                    shield.source, IsoTime(shield.raisedAt), Lifts(shield),
                    std::to_string(offences(shield))});
  }
  std::string text = host::Table(rows);
  if (most > 0 && shields.size() > most) {
    text += "... and " + std::to_string(shields.size() - most) + " more; ";
  }
  text += std::to_string(shields.size()) + " shield(s) in force\n";
  return text;
}

std::string ShieldListing::Json() const {
  std::string json = "{\"shields\": [";
  for (const Shield &shield : shields) {
    json += &shield == &shields.front() ? "\n  {" : ",\n  {";
    Field(json, "address", shield.address, true);
    Field(json, "host", shield.host);
    Field(json, "resource", shield.resource);
    Field(json, "deflect", shield.deflect);
    Field(json, "source", shield.source);
    Field(json, "raised", IsoTime(shield.raisedAt));
    if (shield.expiresAt == 0) {
      json += ", \"lifts\": null";
    } else {
      Field(json, "lifts", IsoTime(shield.expiresAt));
    }
    json += ", \"offences\": " + std::to_string(offences(shield)) + "}";
  }
  json += shields.empty() ? "]}\n" : "\n]}\n";
  return json;
}

std::string AllowTable(const std::vector<AllowEntry> &entries) {
  if (entries.empty()) return "the allow list is empty\n";
  std::vector<std::vector<std::string>> rows = {{"ADDRESS", "ADDED", "UNTIL", "WHY"}};
  for (const AllowEntry &entry : entries) {
    rows.push_back({entry.selector.text, IsoTime(entry.added),
                    entry.expires == 0 ? "for good" : IsoTime(entry.expires), entry.why});
  }
  return Table(rows);
}

std::string ShieldName(const Shield &shield) {
  return shield.address + " on " +
         (shield.WholeAddress() ? std::string("the whole address") : shield.host + shield.resource);
}

std::string AllowedLine(const AllowEntry &entry) {
  return "allowed: " + entry.selector.text +
         (entry.expires == 0 ? " for good" : " until " + IsoTime(entry.expires)) + "\n";
}

ControlReply SteerRun(const std::string &dir, const SteerOrder &order) {
  // Long enough for a follow that is busy with a shield cycle; a follow answers within a second.
  constexpr std::chrono::milliseconds kAnswerLimit{5000};
  if (std::optional<ControlReply> reply = ControlClient::Ask(dir, order.Words(), kAnswerLimit))
    return std::move(*reply);
  return SteerFiles(dir, order, static_cast<int64_t>(std::time(nullptr)));
}

ControlReply SteerFiles(const std::string &dir, const SteerOrder &order, int64_t now) {
  using Verb = SteerOrder::Verb;
  CheckRunDirectory(dir);
  ControlReply reply;
  ShieldBook book(dir + "/" + RunFiles::kShieldRecord);
  book.Load();
  if (order.verb == Verb::kShields) {
    OffenceBook offences(dir + "/" + RunFiles::kOffences, kEveryOffence);
    offences.Load();
    ShieldListing listing;
    for (Shield &shield : book.Active()) {
      // Lapsed ones stay in the record until a follow lifts them.
      if (shield.pending == "lift" || (shield.pending.empty() && shield.expiresAt <= now)) continue;
      listing.shields.push_back(std::move(shield));
    }
    // Without the run's OffenceMemory: every offence the record holds.
    listing.offences = [&](const Shield &shield) {
      return offences.Count(shield.address, now) + (shield.pending == "raise" ? 1 : 0);
    };
    reply.out = order.json ? listing.Json() : listing.Table(static_cast<size_t>(order.first));
    if (!order.json) reply.err = "no follow runs on " + dir + ": read from its shield record\n";
    return reply;
  }
  if (order.verb == Verb::kLift) {
    const LiftSelector selector{order.target, order.host, order.resource};
    for (const Shield &shield :
         book.OrderLift([&](const Shield &shield) { return selector.Picks(shield); }, now)) {
      reply.out += "lifted: " + ShieldName(shield) + "\n";
    }
    if (reply.out.empty()) {
      reply.status = kSteerNoSuch;
      reply.err = "no shield in force matches\n";
      return reply;
    }
    book.Save();
    KeepOwner(dir, RunFiles::kShieldRecord);
    return NotRunning(reply, dir);
  }
  if (order.verb == Verb::kShield) {
    Shield shield;
    shield.address = order.target->text;
    shield.host = order.host;
    shield.resource = order.resource;
    shield.deflect = order.deflect;
    shield.source = "manual";
    shield.raisedAt = now;
    shield.expiresAt = order.seconds > 0 ? now + order.seconds : 0;
    shield.pending = "raise";
    if (!book.Order(shield)) {
      reply.status = kSteerFailed;
      reply.err = "that shield is in force already\n";
      return reply;
    }
    book.Save();
    KeepOwner(dir, RunFiles::kShieldRecord);
    reply.out = "shielded: " + ShieldName(shield) + " -> " + shield.deflect + "\n";
    return NotRunning(reply, dir);
  }
  AllowList allow(dir + "/" + RunFiles::kAllowList);
  allow.Load();
  if (order.list) {
    reply.out = AllowTable(allow.Entries());
    return reply;
  }
  if (order.remove) {
    if (!allow.Remove(*order.target)) {
      reply.status = kSteerNoSuch;
      reply.err = "the allow list has no entry " + order.target->text + "\n";
      return reply;
    }
    allow.Save();
    KeepOwner(dir, RunFiles::kAllowList);
    reply.out = "removed from the allow list: " + order.target->text + "\n";
    return NotRunning(reply, dir);
  }
  AllowEntry entry{*order.target, now, order.forSeconds > 0 ? now + order.forSeconds : 0,
                   order.why};
  if (!allow.Add(entry)) {
    reply.status = kSteerFailed;
    reply.err = "the allow list is full (" + std::to_string(AllowList::kMostEntries) + ")\n";
    return reply;
  }
  allow.Save();
  KeepOwner(dir, RunFiles::kAllowList);
  reply.out = AllowedLine(entry);
  return NotRunning(reply, dir);
}

}  // namespace host
