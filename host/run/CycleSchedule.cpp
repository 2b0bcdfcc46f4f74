#include "run/CycleSchedule.h"

namespace host {

CycleSchedule::CycleSchedule(const Cadence &cadence, double start)
    : shieldPeriod_(cadence.shieldSeconds / 86400.0),
      monitorPeriod_(cadence.monitorSeconds / 86400.0),
      nextShield_(start + shieldPeriod_),
      nextMonitor_(start + monitorPeriod_) {}

}  // namespace host
