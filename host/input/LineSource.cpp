#include "input/LineSource.h"

#include <time.h>

#include <algorithm>

#include "DateTime.h"

namespace host {

RunTime RunTime::System() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  const double date = common::MakeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                           local.tm_hour, local.tm_min, local.tm_sec);
  return RunTime{common::AddSeconds(date, static_cast<double>(now.tv_nsec) / 1e9),
                 static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000};
}

RunTime RunTime::SystemNotBefore(RunTime &last) {
  const RunTime system = System();
  last.local = std::max(last.local, system.local);
  last.utcMilliseconds = std::max(last.utcMilliseconds, system.utcMilliseconds);
  return last;
}

RunTime RunTime::Of(const LogTime &time) {
  const double date =
      common::MakeDateTime(time.year, time.month, time.day, time.hour, time.minute, time.second);
  return RunTime{common::AddSeconds(date, time.millisecond / 1000.0), time.UtcMilliseconds()};
}

}  // namespace host
