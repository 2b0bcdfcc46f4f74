#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <flowdeck/plugin.h>

#include "run/PluginLibrary.h"

namespace host {

// What the monitor's cycles have shown so far, gathered on its own thread right after each one.
struct MonitorFigures {
  uint64_t cycles = 0;
  double lastCycleSeconds = 0, cycleSeconds = 0;  // the latest, and all together
  int32_t visitors = 0;
  std::array<uint64_t, 3> levels{};  // visitors at each alert level in the latest snapshot
  uint64_t alerts = 0;               // alert lines appended since the run began
};

// The monitor plug-in on a thread of its own. The monitor does most of a run's work (every
// cycle rewrites its whole snapshot), so the log reader, the parser and the shield plug-in
// run beside it rather than before it. Calls are copied into batches and streamed on that
// thread in the order they were sent, each with the clock it was sent at: the monitor sees
// exactly what it would see called directly.
class MonitorFeed {
 public:
  explicit MonitorFeed(PluginLibrary &monitor);
  // Streams what is still queued, then stops the thread.
  ~MonitorFeed();
  MonitorFeed(const MonitorFeed &) = delete;
  MonitorFeed &operator=(const MonitorFeed &) = delete;

  // From now on the monitor reads its clock from the calls.
  void UseCallClock();
  // Queues one call; waits only while the thread is several batches behind.
  void Send(const flowdeck_text fields[FLOWDECK_FIELD_COUNT], double clock);
  // Returns once every call sent so far has been streamed.
  void Drain();
  // Hands the calls sent so far to the thread without waiting for them, so that a quiet live
  // run's cycle is not held back until a batch fills.
  void Flush() { Submit(); }
  // Calls the monitor reported as failed (its error log could not be written).
  uint64_t FailedCalls() const noexcept { return failed_.load(); }

  // Where the monitor's snapshot and alert file are, for the figures.
  void FindFilesAt(std::string snapshotPath, std::string alertPath);
  // From now on, after every "CYCLE" the thread counts the visitors and reads the levels of the
  // snapshot and the new lines of the alert file: a few milliseconds a cycle, on its own time.
  void WatchCycles() { watching_ = true; }
  // The figures as they are now, read after the monitor has handled every call sent so far.
  MonitorFigures Refresh();
  MonitorFigures Figures() const;

 private:
  struct Call {
    double clock;
    uint32_t offsets[FLOWDECK_FIELD_COUNT];
    uint32_t sizes[FLOWDECK_FIELD_COUNT];
  };
  struct Batch {
    std::string bytes;  // every text of every call, back to back
    std::vector<Call> calls;
  };

  void Submit();
  std::unique_ptr<Batch> TakeSpare();
  void Run();
  void StreamBatch(const Batch &batch);
  void Observe(double seconds);
  void Measure(MonitorFigures &figures);

  PluginLibrary &monitor_;
  std::unique_ptr<Batch> open_;
  std::mutex mutex_;
  std::condition_variable queued_;    // the thread waits here for work
  std::condition_variable streamed_;  // senders wait here for room or for the end of the work
  std::deque<std::unique_ptr<Batch>> full_;
  std::vector<std::unique_ptr<Batch>> spare_;
  bool busy_ = false;
  bool stopping_ = false;
  double clock_ = 0;  // read by the monitor on the thread
  std::atomic<uint64_t> failed_{0};
  // Read and written on the thread; figures_ is handed over under figuresMutex_.
  std::string snapshotPath_, alertPath_;
  uint64_t alertOffset_ = 0;
  std::atomic<bool> watching_{false};
  mutable std::mutex figuresMutex_;
  MonitorFigures figures_;
  std::thread thread_;
};

}  // namespace host
