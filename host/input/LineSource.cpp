#include "input/LineSource.h"

#include <algorithm>

#include "Clock.h"
#include "DateTime.h"

namespace host {

RunTime RunTime::System() {
  const common::SystemInstant now = common::SystemInstantNow();
  return RunTime{now.local, now.utcMilliseconds};
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
