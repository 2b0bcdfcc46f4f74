#include "input/SyslogSource.h"

#include <algorithm>
#include <chrono>

namespace host {

namespace {

constexpr int kPollMilliseconds = 100;
// How long an idle run waits for a message before it looks at its clock (and, beside followed
// logs, at them) again: a hit read just after a cycle was due waits no longer than this.
constexpr double kWaitSeconds = 0.05;

std::string Where(const std::vector<SyslogReceiver::Endpoint> &endpoints) {
  std::string where;
  for (const SyslogReceiver::Endpoint &endpoint : endpoints) {
    where += (where.empty() ? "" : ",") + endpoint.text;
  }
  return where;
}

}  // namespace

SyslogSource::SyslogSource(const std::vector<SyslogReceiver::Endpoint> &endpoints,
                           LineReader &reader, const std::atomic<bool> &stop,
                           bool serverNameFromTag, SyslogReceiver::Limits limits)
    : receiver_(endpoints, std::move(limits)),
      lines_(reader),
      stop_(stop),
      serverNameFromTag_(serverNameFromTag),
      where_(Where(endpoints)),
      maxConnections_(receiver_.MaxConnections()),
      now_(RunTime::System()) {
  thread_ = std::thread([this] { Receive(); });
}

SyslogSource::~SyslogSource() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  thread_.join();
}

void SyslogSource::Reconfigure(AddressRanges senders, size_t maxConnections) {
  std::lock_guard<std::mutex> lock(mutex_);
  settings_ = Settings{std::move(senders), maxConnections};
}

void SyslogSource::Receive() {
  Batch received;
  for (;;) {
    std::optional<Settings> settings;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (quit_) return;
      settings.swap(settings_);
    }
    if (settings) {
      receiver_.Reconfigure(std::move(settings->senders), settings->maxConnections);
      maxConnections_.store(receiver_.MaxConnections());
    }
    received.Clear();
    receiver_.Poll(kPollMilliseconds, [&](const SyslogMessage &message) {
      received.entries.push_back(Batch::Entry{received.bytes.size(),
                                              static_cast<uint32_t>(message.text.size()),
                                              static_cast<uint32_t>(message.tag.size())});
      received.bytes.append(message.text).append(message.tag);
    });
    std::lock_guard<std::mutex> lock(mutex_);
    counts_ = receiver_.Stats();
    if (received.entries.empty()) continue;
    if (incoming_.bytes.size() + received.bytes.size() > kMaxQueuedBytes) {
      dropped_ += received.entries.size();
      continue;
    }
    if (incoming_.entries.empty()) {
      std::swap(incoming_, received);  // a run that keeps up finds the queue empty: no copy
    } else {
      for (Batch::Entry entry : received.entries) {
        entry.at += incoming_.bytes.size();
        incoming_.entries.push_back(entry);
      }
      incoming_.bytes.append(received.bytes);
    }
    arrived_.notify_one();
  }
}

bool SyslogSource::Next(SourceLine &line) {
  if (stop_.load()) return false;
  for (;;) {
    if (next_ == taking_.entries.size()) {
      taking_.Clear();
      next_ = 0;
      std::lock_guard<std::mutex> lock(mutex_);
      std::swap(taking_, incoming_);
      if (taking_.entries.empty()) return false;
      Now();  // messages taken together arrived together: one look at the clock
    }
    const Batch::Entry &entry = taking_.entries[next_++];
    const std::string_view text(taking_.bytes.data() + entry.at, entry.text);
    if (lines_.Take(text, false, record_, line.outcome, where_, ++taken_)) {
      line.record = &record_;
      line.serverName =
          serverNameFromTag_
              ? std::string_view(taking_.bytes.data() + entry.at + entry.text, entry.tag)
              : std::string_view();
      line.time = now_;
      return true;
    }
  }
}

RunTime SyslogSource::Wait(double deadline) {
  const double seconds = std::clamp((deadline - Now().local) * 86400.0, 0.0, kWaitSeconds);
  std::unique_lock<std::mutex> lock(mutex_);
  arrived_.wait_for(lock, std::chrono::duration<double>(seconds),
                    [this] { return !incoming_.entries.empty() || stop_.load(); });
  lock.unlock();
  return Now();
}

RunTime SyslogSource::Now() {
  return RunTime::SystemNotBefore(now_);
}

uint64_t SyslogSource::BytesRead() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counts_.bytes;
}

SyslogReceiver::Counts SyslogSource::Counts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counts_;
}

uint64_t SyslogSource::Dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

}  // namespace host
