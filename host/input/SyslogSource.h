#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "input/LineReader.h"
#include "input/LineSource.h"
#include "input/SyslogReceiver.h"

namespace host {

// The source of a run that listens for syslog (--listen): a thread of its own takes the
// messages in as fast as they come, so that the kernel's buffer never overflows while the
// plug-ins work, and the run takes them in arrival order, each at the system time at which
// it is handed on. The tag can name the line's server (a farm's servers tag their lines).
class SyslogSource : public LineSource {
 public:
  // Messages held for the run at most: beyond, a message is counted and dropped.
  static constexpr size_t kMaxQueuedBytes = 64 * 1024 * 1024;

  // Binds every endpoint (throws Error naming one that cannot be bound) and
  // starts receiving.
  SyslogSource(const std::vector<SyslogReceiver::Endpoint> &endpoints, LineReader &reader,
               const std::atomic<bool> &stop, bool serverNameFromTag,
               SyslogReceiver::Limits limits = SyslogReceiver::Limits());
  ~SyslogSource() override;

  bool Next(SourceLine &line) override;
  bool Ended() override { return stop_.load(); }
  RunTime Wait(double deadline) override;
  RunTime Now() override;
  uint64_t BytesRead() const override;

  // What the receiver counted, and the messages dropped for want of room.
  SyslogReceiver::Counts Counts() const;
  uint64_t Dropped() const;
  uint16_t Port(size_t endpoint) const { return receiver_.Port(endpoint); }
  size_t MaxConnections() const { return maxConnections_; }

  // New senders and bound (a reload), taken up by the receiving thread before its next poll.
  void Reconfigure(AddressRanges senders, size_t maxConnections);

 private:
  // Messages packed in one buffer: text then tag, back to back.
  struct Batch {
    struct Entry {
      size_t at;
      uint32_t text, tag;
    };
    std::string bytes;
    std::vector<Entry> entries;
    void Clear() {
      bytes.clear();
      entries.clear();
    }
  };

  void Receive();

  SyslogReceiver receiver_;
  LineReader &lines_;
  const std::atomic<bool> &stop_;
  const bool serverNameFromTag_;
  const std::string where_;  // the endpoints, for the summary's bad lines
  std::atomic<size_t> maxConnections_;

  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  Batch incoming_;  // filled by the receiving thread
  SyslogReceiver::Counts counts_;
  uint64_t dropped_ = 0;
  bool quit_ = false;
  struct Settings {
    AddressRanges senders;
    size_t maxConnections;
  };
  std::optional<Settings> settings_;  // for the receiving thread to take up

  Batch taking_;  // the run's share, taken whole from incoming_
  size_t next_ = 0;
  uint64_t taken_ = 0;
  LogRecord record_;
  RunTime now_;
  std::thread thread_;
};

}  // namespace host
