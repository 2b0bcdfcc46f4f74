#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <flowdeck/plugin.h>

#include "modKvGlobal.h"

#include "Convert.h"
#include "base/HostConfig.h"
#include "clsConfig.h"
#include "clsShieldedResources.h"
#include "shield/FollowedVisitors.h"
#include "shield/MatchMemo.h"
#include "shield/ShieldListener.h"

namespace host {

// What the pace test keeps of one record's gaps: running sums, 32 bytes a record.
struct PaceSums {
  int64_t last = 0;    // the latest hit, UTC milliseconds
  double sum = 0;      // of the gaps, milliseconds
  double squares = 0;  // of the gaps squared
  uint32_t gaps = 0;
  bool started = false;
  bool fractional = false;  // a hit's time had milliseconds: the log is not in whole seconds

  // Takes the next hit; one earlier than the latest (a line a little out of order) is left out.
  void Add(int64_t time);
  // The spread of the gaps: their standard deviation over their mean. With whole-second times
  // the rounding's own share (1/6 s², the variance of the difference of two roundings) is taken
  // off first, so that a short period is not made to look uneven by the log's resolution.
  // Negative when there is no spread to tell (no gap, or gaps of 0 on average).
  double Spread() const;
};

// The host's second test of tripwire records, beside the shield plug-in's regularity test. A
// client that draws its delay at random (0.5 to 1.5 times a period, as crawler frameworks do by
// default) is blind to a correlation against an even ramp, yet its gaps scatter far less than
// a person's, whose gaps are heavy-tailed. The test watches the same requests, matched by the
// shield plug-in's own definitions reader, in the same records (a visitor key and a host and
// path, letter case ignored, forgotten 300 s after the visitor's last watched request). A
// record is judged at each of its requests once it has the hits its definition requires
// (PeriodBase - PeriodIncrement x SENSITIVITY): a spread of at most PaceMaxSpread shields it,
// once, at the next shield cycle. With PaceTest off the test still watches, to judge the
// records whose shield lapsed.
class PaceTest {
 public:
  // Reads the definitions the shield plug-in reads, in the run directory (a reading that stops
  // at a failure watches the definitions before it); throws Error for settings the
  // test cannot use.
  PaceTest(const std::string &runDirectory, const HostConfig &config);
  ~PaceTest();

  // A request as both plug-ins receive it; `time` is the log line's time (UTC milliseconds),
  // `now` the run's.
  void Request(const flowdeck_text fields[FLOWDECK_FIELD_COUNT], int64_t time, int64_t now);
  // At a shield cycle: forgets visitors gone quiet, reads the definitions again when they
  // changed (their records start afresh then), and hands over the shields judged since the
  // last cycle, each a shield request of source "pace".
  std::vector<ShieldRequest> Cycle(int64_t now);
  // The regularity test shielded this address on this resource: the pace test leaves it be.
  void ShieldedElsewhere(std::string_view address, std::string_view host,
                         std::string_view resource);
  // A shield of the address was lifted (on this resource; every resource for a whole-address
  // shield): its records are judged afresh on the hits that come from now on, by the
  // regularity threshold of their tripwire as well as by their spread, so that a visitor still
  // at it is shielded again and one who stopped is not. Until the plug-in forgets the visitor
  // it judges such a record no more, whichever test shielded it.
  void Lapsed(std::string_view address, std::string_view host, std::string_view resource);
  // New settings: the bound, and the hits the definitions require.
  void Reconfigure(const HostConfig &config);

  size_t Records() const { return records_; }
  // Requests of a watched record the test could not judge: the hits its definition requires,
  // or the deflect it names, cannot be worked out (the plug-in fails there too).
  uint64_t Unjudged() const { return unjudged_; }
  // Why the latest reading of the definitions stopped short, or empty.
  const std::string &DefinitionsFailure() const { return definitionsFailure_; }

  // One watched record: 48 bytes, what a dispersion test of its gaps needs and no more; a
  // record judged afresh after a lift holds the regularity test's sums too, apart.
  struct Record {
    uint64_t key = 0;  // of its host and path, letter case ignored
    PaceSums sums;
    bool shielded = false;
    std::unique_ptr<common::GapSums> regularity;  // only once its shield lapsed
  };
  static_assert(sizeof(Record) <= 56, "a watched record stays small");

 private:
  struct Visitor {
    std::string remoteAddr;
    int64_t expires = 0;
    std::vector<Record> records;
  };
  static uint64_t RecordKey(std::string_view host, std::string_view path);
  Record &RecordOf(Visitor &visitor, uint64_t key);
  // Shields the record when it has its hits and its spread is within the bound.
  void Judge(const Visitor &visitor, Record &record, const vantrel::clsShieldedResource &definition,
             const flowdeck_text fields[FLOWDECK_FIELD_COUNT]);
  // Reads the definitions file again when it changed since it was last read.
  bool ReadDefinitionsIfChanged();
  // Reads the definitions file; a failure keeps the definitions before it and its text.
  void ReadDefinitions();

  std::string runDirectory_;
  common::clsConfig settings_{common::ConfigLayout::kVantrel};
  double maxSpread_ = 0;
  bool byPace_ = true;  // PaceTest: judge every record; without it only those whose shield lapsed
  std::unique_ptr<vantrel::clsShieldedResources> definitions_;
  MatchMemo matches_;             // what definitions_ answered for recent resources
  std::string definitionsStamp_;  // inode, size and change time of the file last read
  std::string definitionsFailure_;
  FollowedVisitors<Visitor> visitors_;
  std::vector<ShieldRequest> judged_;  // shielded since the last cycle
  size_t records_ = 0;
  uint64_t unjudged_ = 0;
};

}  // namespace host
