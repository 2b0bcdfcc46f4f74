#include "MonitorFeed.h"

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
    if (!monitor_.Stream(fields)) failed_.fetch_add(1);
  }
}

}  // namespace host
