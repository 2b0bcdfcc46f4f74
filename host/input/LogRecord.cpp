#include "input/LogRecord.h"

#include "DateTime.h"

namespace host {

int64_t LogTime::UtcMilliseconds() const {
  // Days since 1970: the toolkit counts from 1899-12-30, 25,569 days earlier.
  const int64_t days = common::DaysFromCivil(year, month, day) - 25569;
  int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return (seconds - static_cast<int64_t>(zoneMinutes) * 60) * 1000 + millisecond;
}

double LogTime::Serial() const {
  return static_cast<double>(year % 100) * 1e13 + month * 1e11 + day * 1e9 + hour * 1e7 +
         minute * 1e5 + second * 1e3 + millisecond;
}

}  // namespace host
