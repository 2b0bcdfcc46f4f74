#include "Clock.h"

#include <atomic>
#include <ctime>
#include <new>

namespace common {

namespace {

struct HostClock {
  ClockFunction function;
  void *context;
  const HostClock *older;
};

// Set from the host's thread and read from the plug-in's: one pointer, swapped whole.
std::atomic<const HostClock *> gHostClock{nullptr};
// Every setting ever made, newest first. A reader may still hold an older one, so none is
// freed while the plug-in is loaded; a host sets its clock a handful of times, so this keeps a
// few bytes.
std::atomic<const HostClock *> gAllClocks{nullptr};

// Unloading the plug-in frees every setting: nothing reads the clock after that, and a host
// that loads and unloads the plug-in again and again would otherwise lose them each time.
struct ReleaseAtUnload {
  ~ReleaseAtUnload() {
    gHostClock.store(nullptr, std::memory_order_release);
    for (const HostClock *clock = gAllClocks.exchange(nullptr); clock != nullptr;) {
      const HostClock *older = clock->older;
      delete clock;
      clock = older;
    }
  }
} gReleaseAtUnload;

}  // namespace

SystemInstant SystemInstantNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  const DateTime date = MakeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                     local.tm_hour, local.tm_min, local.tm_sec);
  return SystemInstant{AddSeconds(date, static_cast<double>(now.tv_nsec) / 1e9),
                       static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000};
}

DateTime SystemNow() {
  return SystemInstantNow().local;
}

DateTime Now() {
  const HostClock *clock = gHostClock.load(std::memory_order_acquire);
  return clock != nullptr ? clock->function(clock->context) : SystemNow();
}

void SetClock(ClockFunction function, void *context) noexcept {
  if (function == nullptr) {
    gHostClock.store(nullptr, std::memory_order_release);
    return;
  }
  auto *next = new (std::nothrow) HostClock{function, context, nullptr};
  if (next == nullptr) return;
  next->older = gAllClocks.load(std::memory_order_relaxed);
  while (!gAllClocks.compare_exchange_weak(next->older, next, std::memory_order_acq_rel)) {
  }
  gHostClock.store(next, std::memory_order_release);
}

}  // namespace common
