#include "Corvane.h"

#include <cstdint>
#include <optional>
#include <string>

#include "Clock.h"
#include "Convert.h"
#include "Logs.h"
#include "PluginDirectory.h"
#include "SnapshotWriter.h"
#include "StreamRouting.h"
#include "TextFile.h"
#include "modCorvane.h"
#include "modKvGlobal.h"

namespace corvane {

namespace {

using common::StreamField;

constexpr common::Site kSite{"  Class: Corvane  ", "Corvane"};
constexpr std::string_view kTempName = "/KvCorvane.tmp";
constexpr std::string_view kSnapshotName = "/KvCorvane.xml";
constexpr std::string_view kHitsFileName = "KvCorvaneHits.Out";
constexpr std::string_view kAlertsFileName = "KvCorvaneAlerts.Out";

// An arrival serial: as a rule up to 15 digits, which a double holds exactly and which are
// read here directly; any other text goes through the general conversion.
double ReadSerial(std::string_view text) {
  if (text.empty() || text.size() > 15) return common::TextToDouble(kSite, text);
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return common::TextToDouble(kSite, text);
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return static_cast<double>(value);
}

// 0 below the possible threshold; then 2 from the certain threshold on, else 1. Settings never
// loaded hold 0 for every number, which every visitor would reach: they rate nobody above 0.
// The thresholds are compared unrounded; the shield plug-in compares in 32 bits.
uint8_t LevelOf(double r, const common::clsConfig &config) {
  if (!config.IsLoaded()) return 0;
  if (r < config.RatingThreshold(config.PossibleStrength())) return 0;
  return r >= config.RatingThreshold(config.CertainStrength()) ? 2 : 1;
}

// Appends lines to a file and reports how many reached it, also when the file fails part-way.
template <class LineAt, class Reached>
void AppendLines(const std::string &path, int32_t count, LineAt lineAt, Reached reached) {
  std::optional<common::TextWriter> writer;
  try {
    writer.emplace(kSite, path, common::TextWriter::Mode::kAppend);
    for (int32_t position = 1; position <= count; ++position) writer->WriteLine(lineAt(position));
    writer->Close();
  } catch (...) {
    reached(writer ? writer->LinesWritten() : 0);
    throw;
  }
  reached(writer->LinesWritten());
}

}  // namespace

Corvane::Corvane(size_t keptSnapshotBytes) : mUsers(mPool), mKeptSnapshotBytes(keptSnapshotBytes) {}
Corvane::~Corvane() = default;

void Corvane::Stream(const common::StreamFields &fields) {
  common::RunStream(kSite, [&] { Route(fields); });
}

int32_t Corvane::Count() const {
  return mUsers.Count();
}

void Corvane::Route(const common::StreamFields &fields) {
  common::RouteStream(
      fields, gConfig(), [&] { ProcessCycle(); }, [&] { mUsers.Clear(); },
      [&](std::string_view action) {
        if (action == "LOCKED") {
          ProcessLock(fields[StreamField::kRemoteAddr], fields[StreamField::kLocked]);
        } else if (action == "UNLOCKED") {
          ProcessUnlock(fields[StreamField::kRemoteAddr], fields[StreamField::kLocked]);
        } else {
          AddRequest(fields);
        }
      });
}

void Corvane::AddRequest(const common::StreamFields &request) {
  const double serial = ReadSerial(request[StreamField::kArrivalSerial]);
  mUsers.AddTransaction(request, serial);
  if (gConfig().FernwickActive()) mHitsData.AddHit(request);
}

void Corvane::ProcessLock(std::string_view remoteAddr, std::string_view persist) {
  ChangeLock("Sub: ProcessLock", "Process lock Persist=", remoteAddr, persist, true);
}

void Corvane::ProcessUnlock(std::string_view remoteAddr, std::string_view persist) {
  ChangeLock("Sub: ProcessUnlock", "Process unlock Persist=", remoteAddr, persist, false);
}

// Only the first visitor with the address changes: the host names one visitor by it.
void Corvane::ChangeLock(std::string_view name, std::string_view traceText,
                         std::string_view remoteAddr, std::string_view persist, bool locked) {
  common::Guard(kSite, name, [&] {
    WriteTrace(traceText, persist);
    if (persist != "1") return;
    for (int32_t position = 1; position <= mUsers.Count(); ++position) {
      clsUser &user = mUsers.Item(position);
      if (user.RemoteAddr() == remoteAddr) {
        user.SetLocked(locked);
        return;
      }
    }
  });
}

void Corvane::ProcessCycle() {
  common::Guard(kSite, "Sub: ProcessCycle", [&] {
    WriteTrace("Cycle Started");
    mUsers.Purge(common::Now());
    WriteTrace("\tUsers purged");
    const std::string tempPath = common::PluginFile(kTempName);
    common::RemoveFile(tempPath);
    SnapshotWriter snapshot(kSite, tempPath);
    WriteTrace("XML Files are open for reading and writing");
    snapshot.WriteHead();
    CycleAlerts risen;
    RateAndWriteUsers(snapshot, risen);
    snapshot.WriteTail();
    // Renaming over the old snapshot replaces it in one step. When it fails the new one waits
    // in the temporary file until the next cycle.
    try {
      common::ReplaceFile(kSite, tempPath, common::PluginFile(kSnapshotName));
    } catch (const common::KvError &) {
    }
    WriteTrace("\tXML file complete");
    if (!gConfig().FernwickActive()) return;
    const std::string &exportPath = gConfig().FernwickPath();
    WriteHitExport(exportPath + std::string(kHitsFileName));
    WriteAlerts(exportPath + std::string(kAlertsFileName), risen);
  });
}

void Corvane::RateAndWriteUsers(SnapshotWriter &snapshot, CycleAlerts &risen) {
  const common::clsConfig &config = gConfig();
  const int32_t count = mUsers.Count();
  WriteTrace("\tLooping to check ", count, " users");
  // The lines of visitors past the budget are built here, from nothing, each time.
  UserLine scratchUser;
  HitLines scratchHits;
  size_t kept = 0;
  for (int32_t position = 1; position <= count; ++position) {
    WriteTrace("\tUser #", position);
    clsUser &user = mUsers.Item(position);
    const clsHits &hits = user.Hits();
    const double r =
        hits.Count() >= config.MinimumHits(kSite, config.Sensitivity()) ? hits.PearsonsR() : 0.0;
    WriteTrace("\tPearsonsR=", common::TracedNumber{r, 15});
    const uint8_t level = LevelOf(r, config);
    if (config.FernwickActive() && level > user.Level()) {
      QueueAlert(user, level, common::GeneralNumber(r, 15), risen);
    }
    if (kept < mKeptSnapshotBytes) {
      snapshot.WriteUser(user, level, {user.SnapshotUserLine(), user.SnapshotLines(), true});
      kept += user.SnapshotUserLine().Footprint() + user.SnapshotLines().Footprint();
    } else {
      user.SnapshotUserLine().Release();
      user.SnapshotLines().Release();
      scratchUser.Clear();  // what it holds is another visitor's
      scratchHits.Clear();
      snapshot.WriteUser(user, level, {scratchUser, scratchHits, false});
    }
  }
}

// A level is stored once its alert line is in the file, so an alert of a failed cycle is queued
// again by the next.
void Corvane::QueueAlert(clsUser &user, uint8_t level, std::string_view r, CycleAlerts &risen) {
  const char levelText[] = {static_cast<char>('0' + level), '\0'};
  const clsUserAlerts::Values values = {user.Key(),
                                        user.Country(),
                                        user.AuthUser(),
                                        user.UserAgent(),
                                        user.ResolvedAddr(),
                                        user.RemoteAddr(),
                                        user.RemoteHost(),
                                        user.LocalHost(),
                                        user.ServerName(),
                                        levelText,
                                        r};
  risen.alerts.Add(values);
  risen.levels.push_back({&user, level});
}

// Records that reached the file leave the buffer, also when the file fails part-way: none is
// written twice.
void Corvane::WriteHitExport(const std::string &path) {
  const int32_t count = mHitsData.Count();
  if (count == 0) return;
  WriteTrace("\tWriting ", count, " hit records.");
  AppendLines(
      path, count, [&](int32_t position) { return mHitsData.Item(position).Text(); },
      [&](size_t reached) { mHitsData.RemoveFirst(reached); });
}

void Corvane::WriteAlerts(const std::string &path, CycleAlerts &risen) {
  const int32_t count = risen.alerts.Count();
  if (count == 0) return;
  WriteTrace("\tWriting ", count, " alert records.");
  AppendLines(
      path, count,
      [&](int32_t position) -> std::string_view { return risen.alerts.Item(position).Text(); },
      [&](size_t reached) {
        for (size_t i = 0; i < reached; ++i) risen.levels[i].user->SetLevel(risen.levels[i].level);
      });
}

}  // namespace corvane
