#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace host {

// One thread that runs jobs in the order they were pushed, so that slow work (writing files,
// running programs) stays off the thread that pushes it.
class WorkQueue {
 public:
  WorkQueue();
  // Runs what is still queued, then ends the thread.
  ~WorkQueue();
  WorkQueue(const WorkQueue &) = delete;
  WorkQueue &operator=(const WorkQueue &) = delete;

  void Push(std::function<void()> job);
  // Waits until every job pushed so far has run.
  void Drain();

 private:
  void Loop();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> jobs_;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread thread_;  // last: it starts once everything it uses exists
};

}  // namespace host
