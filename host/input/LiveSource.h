#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "input/FollowReader.h"
#include "input/LineReader.h"
#include "input/LineSource.h"

namespace host {

// The source of a live run: logs followed as they grow, lines taken in the order they arrive,
// each at the system time at which it was read. It ends when `stop` is set. A log that cannot be
// read (missing, in a missing folder, not readable) is looked for again at every wait and read
// once it can be; Logs() says which cannot.
class LiveSource : public LineSource {
 public:
  // Throws Error for a log that cannot be followed (a directory).
  LiveSource(const std::vector<LogInput> &logs, bool fromStart, LineReader &reader,
             const std::atomic<bool> &stop);

  bool Next(SourceLine &line) override;
  bool Ended() override { return stop_.load(); }
  RunTime Wait(double deadline) override;
  RunTime Now() override;
  uint64_t BytesRead() const override;
  uint64_t BytesBehind() const override;
  std::vector<LogStatus> Logs() const override;

 private:
  struct Log {
    std::unique_ptr<FollowReader> reader;
    std::string serverName;
    uint64_t reads = 0;  // the reader's reads when the clock was last taken for its lines
  };
  // Lines taken from one log before the next gets its turn, so that a busy log cannot keep a
  // quiet one waiting.
  static constexpr int kTurn = 256;

  bool NextFrom(Log &log, SourceLine &line);

  std::vector<Log> logs_;
  LineReader &lines_;
  const std::atomic<bool> &stop_;
  LogRecord record_;
  size_t current_ = 0;
  int taken_ = 0;  // lines of the current turn
  RunTime now_;
};

}  // namespace host
