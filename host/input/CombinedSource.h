#pragma once

#include <memory>
#include <vector>

#include "input/LineSource.h"

namespace host {

// Several live sources read as one (followed logs and syslog listeners): lines in the order they
// arrive, a source at a time for a few lines, so that a busy one cannot keep the others waiting.
class CombinedSource : public LineSource {
 public:
  // The sources, the one that can wait for its input without polling last.
  explicit CombinedSource(std::vector<std::unique_ptr<LineSource>> sources);

  bool Next(SourceLine &line) override;
  bool Ended() override;
  // Looks at every source without waiting, then waits on the last one.
  RunTime Wait(double deadline) override;
  RunTime Now() override;
  uint64_t BytesRead() const override;
  uint64_t BytesBehind() const override;
  std::vector<LogStatus> Logs() const override;

 private:
  static constexpr int kTurn = 256;

  std::vector<std::unique_ptr<LineSource>> sources_;
  size_t current_ = 0;
  int taken_ = 0;
};

}  // namespace host
