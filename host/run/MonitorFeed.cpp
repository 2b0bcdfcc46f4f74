#include "run/MonitorFeed.h"

#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <fstream>

#include "StreamFields.h"
#include "report/SnapshotReader.h"

namespace host {

namespace {

// A batch is handed over at this many calls or bytes, and the sender waits while this many
// are queued: enough to keep both threads busy, little enough to keep memory small.
constexpr size_t kBatchCalls = 1024;
constexpr size_t kBatchBytes = size_t{1} << 20;
constexpr size_t kQueuedBatches = 4;

double ReadCallClock(void *context) {
  return *static_cast<const double *>(context);
}

bool IsCycle(const flowdeck_text &action) {
  return action.size == 5 && std::memcmp(action.data, "CYCLE", 5) == 0;
}

// Lines added to the alert file since `offset`; a file that got shorter was rotated away.
uint64_t NewLines(const std::string &path, uint64_t &offset) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return 0;
  const auto size = static_cast<uint64_t>(info.st_size);
  if (size < offset) offset = 0;
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  uint64_t lines = 0;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    const auto n = static_cast<size_t>(in.gcount());
    for (size_t i = 0; i < n; ++i) lines += buffer[i] == '\n';
    offset += n;
  }
  return lines;
}

}  // namespace

MonitorFeed::MonitorFeed(PluginLibrary &monitor)
    : monitor_(monitor), open_(std::make_unique<Batch>()), thread_([this] { Run(); }) {}

MonitorFeed::~MonitorFeed() {
  Submit();
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  queued_.notify_one();
  thread_.join();
}

void MonitorFeed::UseCallClock() {
  Drain();
  monitor_.SetClock(ReadCallClock, &clock_);
}

void MonitorFeed::Send(const flowdeck_text fields[FLOWDECK_FIELD_COUNT], double clock) {
  Call call{clock, {}, {}};
  for (size_t i = 0; i < FLOWDECK_FIELD_COUNT; ++i) {
    call.offsets[i] = static_cast<uint32_t>(open_->bytes.size());
    call.sizes[i] = static_cast<uint32_t>(fields[i].size);
    if (fields[i].size > 0) open_->bytes.append(fields[i].data, fields[i].size);
  }
  open_->calls.push_back(call);
  if (open_->calls.size() >= kBatchCalls || open_->bytes.size() >= kBatchBytes) Submit();
}

void MonitorFeed::Drain() {
  Submit();
  std::unique_lock lock(mutex_);
  streamed_.wait(lock, [this] { return full_.empty() && !busy_; });
}

void MonitorFeed::Submit() {
  if (open_->calls.empty()) return;
  std::unique_lock lock(mutex_);
  streamed_.wait(lock, [this] { return full_.size() < kQueuedBatches; });
  full_.push_back(std::move(open_));
  open_ = TakeSpare();
  lock.unlock();
  queued_.notify_one();
}

// Called with the lock held.
std::unique_ptr<MonitorFeed::Batch> MonitorFeed::TakeSpare() {
  if (spare_.empty()) return std::make_unique<Batch>();
  std::unique_ptr<Batch> batch = std::move(spare_.back());
  spare_.pop_back();
  return batch;
}

void MonitorFeed::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    queued_.wait(lock, [this] { return !full_.empty() || stopping_; });
    if (full_.empty()) return;
    std::unique_ptr<Batch> batch = std::move(full_.front());
    full_.pop_front();
    busy_ = true;
    lock.unlock();
    streamed_.notify_all();  // room for the sender
    StreamBatch(*batch);
    batch->bytes.clear();
    batch->calls.clear();
    lock.lock();
    spare_.push_back(std::move(batch));
    busy_ = false;
    streamed_.notify_all();
  }
}

void MonitorFeed::StreamBatch(const Batch &batch) {
  flowdeck_text fields[FLOWDECK_FIELD_COUNT];
  for (const Call &call : batch.calls) {
    for (size_t i = 0; i < FLOWDECK_FIELD_COUNT; ++i) {
      fields[i] = {batch.bytes.data() + call.offsets[i], call.sizes[i]};
    }
    clock_ = call.clock;
    if (!IsCycle(fields[common::kAction])) {  // the clock is read for cycles only
      if (!monitor_.Stream(fields)) failed_.fetch_add(1);
      continue;
    }
    const auto start = std::chrono::steady_clock::now();
    if (!monitor_.Stream(fields)) failed_.fetch_add(1);
    Observe(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}

void MonitorFeed::FindFilesAt(std::string snapshotPath, std::string alertPath) {
  Drain();
  snapshotPath_ = std::move(snapshotPath);
  alertPath_ = std::move(alertPath);
  struct stat info {};
  alertOffset_ = stat(alertPath_.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

void MonitorFeed::Measure(MonitorFigures &figures) {
  if (const int32_t count = monitor_.Count(); count >= 0) figures.visitors = count;
  figures.levels = report::CountLevels(snapshotPath_);
  figures.alerts += NewLines(alertPath_, alertOffset_);
}

MonitorFigures MonitorFeed::Refresh() {
  Drain();  // the thread is idle until the next call is sent from here
  MonitorFigures figures = Figures();
  Measure(figures);
  std::lock_guard lock(figuresMutex_);
  return figures_ = figures;
}

void MonitorFeed::Observe(double seconds) {
  MonitorFigures figures = Figures();
  ++figures.cycles;
  figures.lastCycleSeconds = seconds;
  figures.cycleSeconds += seconds;
  if (watching_.load()) Measure(figures);
  std::lock_guard lock(figuresMutex_);
  figures_ = figures;
}

MonitorFigures MonitorFeed::Figures() const {
  std::lock_guard lock(figuresMutex_);
  return figures_;
}

}  // namespace host
