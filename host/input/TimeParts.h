#pragma once

#include <cstdint>

namespace host {

struct LogTime;

// The pieces of a line's time as its fields give them: one field may hold the whole time
// ("[10/Oct/2000:13:55:36 -0700]"), or several fields a piece each (a date, the milliseconds,
// the zone). Unset pieces are -1.
struct TimeParts {
  enum class Zone : uint8_t {
    kNone,    // the wall clock of the machine that wrote it: taken as this machine's zone
    kOffset,  // a written offset: the wall clock reading is kept, as Common lines are read
    kUtc,     // "Z": turned into this machine's local time
  };

  int year = -1, month = -1, day = -1, hour = -1, minute = -1, second = -1;
  int millisecond = -1;
  int hour12 = -1;  // 1-12 with pm, from "%I ... %p"
  bool pm = false;
  Zone zone = Zone::kNone;
  int zoneMinutes = 0;
  bool hasEpoch = false;
  int64_t epochMilliseconds = 0;  // whole time given as an instant: wins over the pieces

  // Puts the pieces that `other` sets over these.
  void Merge(const TimeParts &other);
  // The local time the plug-ins' serials use; false when the pieces are no time.
  bool Finish(LogTime &time) const;
};

// Milliseconds since 1970 UTC as the local time of this machine, its offset included.
bool LocalTimeFromEpoch(int64_t milliseconds, LogTime &time);

}  // namespace host
