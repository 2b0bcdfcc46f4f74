#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "input/LineSource.h"
#include "run/Session.h"

namespace testing_support {

// A session over the recording plug-ins (the host's own side real: listener, keeper, pace test),
// writing into `dir`, with its shield port on a free port of the loopback.
host::SessionOptions RecordingOptions(const std::string &dir);

// One call a recording plug-in wrote down, its clock as seconds since `start`.
struct RecordedCall {
  std::string action;
  int seconds;
  std::string address;

  friend bool operator==(const RecordedCall &, const RecordedCall &) = default;
};
void PrintTo(const RecordedCall &call, std::ostream *out);
// The calls one plug-in ("shield" or "monitor") was given, in order. Read after the session
// has settled the monitor.
std::vector<RecordedCall> RecordedCalls(const std::string &dir, const std::string &role,
                                        double start);

// Lines a test writes, handed to a run as a log would hand them; each at a whole second after
// 7 Dec 2026 12:00:00 (UTC, the zone the test runs in).
class ScriptedSource : public host::LineSource {
 public:
  static constexpr double kStart = 46363.5;  // 7 Dec 2026 12:00, as the plug-ins count days
  static constexpr int64_t kStartMilliseconds = 1'796'644'800'000;

  explicit ScriptedSource(std::string dir) : dir_(std::move(dir)) {}

  // A request for `target` from `client`.
  void Request(int seconds, const std::string &client, const std::string &target);
  // A line without a request ("-").
  void NoRequest(int seconds);
  // The shield plug-in's own request, as the web server logs it: read, when its turn comes,
  // with the key the plug-in was handed at CONFIG.
  void ShieldRequest(int seconds, const std::string &client, const std::string &address);
  // The clock when the lines have run out.
  void EndAt(int seconds) { end_ = seconds; }

  static host::RunTime At(int seconds);

  bool Next(host::SourceLine &line) override;
  bool Ended() override { return next_ >= lines_.size(); }
  host::RunTime Wait(double) override { return Now(); }
  host::RunTime Now() override { return At(end_); }
  uint64_t BytesRead() const override { return 0; }

 private:
  struct Line {
    int seconds;
    host::ParseOutcome outcome;
    std::string client, target;
    bool keyed;  // the target is the shield route's query, the key put in front when read
  };

  std::string dir_;
  std::vector<Line> lines_;
  size_t next_ = 0;
  int end_ = 0;
  std::string target_;
  host::LogRecord record_;
};

// The target of a shield request with the route the shield plug-in was handed (its CONFIG
// text in `dir`); "" before it was handed one.
std::string KeyedShieldTarget(const std::string &dir, const std::string &query);

}  // namespace testing_support
