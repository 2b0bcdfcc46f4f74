#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "StreamFields.h"
#include "StringPool.h"
#include "clsHitsData.h"
#include "clsUserAlerts.h"
#include "clsUsers.h"

namespace corvane {

class SnapshotWriter;

// The visitor monitor's public class: routes every request and control action of the host.
class Corvane {
 public:
  // The visitors' snapshot lines are kept between cycles up to this many bytes in all; the
  // lines of the visitors past it are built afresh every cycle.
  static constexpr size_t kKeptSnapshotBytes = size_t{64} << 20;

  explicit Corvane(size_t keptSnapshotBytes = kKeptSnapshotBytes);
  ~Corvane();
  Corvane(const Corvane &) = delete;
  Corvane &operator=(const Corvane &) = delete;

  // Never fails for the host: a failure ends in one line of the error log.
  void Stream(const common::StreamFields &fields);

  // The number of visitors held, expired ones included until the next cycle.
  int32_t Count() const;

 private:
  // A level a visitor reached in this cycle, stored once its alert line is in the file.
  struct RisenLevel {
    clsUser *user;
    uint8_t level;
  };
  // The alerts of one cycle and, position for position, the levels they report.
  struct CycleAlerts {
    clsUserAlerts alerts;
    std::vector<RisenLevel> levels;
  };

  void Route(const common::StreamFields &fields);
  void AddRequest(const common::StreamFields &request);
  void ProcessCycle();
  void ProcessLock(std::string_view remoteAddr, std::string_view persist);
  void ProcessUnlock(std::string_view remoteAddr, std::string_view persist);
  void ChangeLock(std::string_view name, std::string_view traceText, std::string_view remoteAddr,
                  std::string_view persist, bool locked);
  void RateAndWriteUsers(SnapshotWriter &snapshot, CycleAlerts &risen);
  void QueueAlert(clsUser &user, uint8_t level, std::string_view r, CycleAlerts &risen);
  void WriteHitExport(const std::string &path);
  void WriteAlerts(const std::string &path, CycleAlerts &risen);

  // Declared first: the visitors' hits hold its texts until they go.
  StringPool mPool;
  clsUsers mUsers;
  clsHitsData mHitsData;
  size_t mKeptSnapshotBytes;
};

}  // namespace corvane
