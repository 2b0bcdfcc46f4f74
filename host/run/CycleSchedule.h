#pragma once

namespace host {

// How often each plug-in is cycled, in seconds of the run's clock. The shield cycle is cheap
// and decides how soon a visitor is shielded; the monitor cycle rewrites the whole snapshot.
struct Cadence {
  int shieldSeconds = 10;
  int monitorSeconds = 60;
};

// When each plug-in's next cycle is due on the run's clock (days). A cycle is due once the
// clock reaches it; the next one comes a whole period after the clock at which it ran, so a
// run that was idle for a while cycles once, not once for every period missed.
class CycleSchedule {
 public:
  CycleSchedule(const Cadence &cadence, double start);

  bool ShieldDue(double now) const { return now >= nextShield_; }
  bool MonitorDue(double now) const { return now >= nextMonitor_; }
  void ShieldRan(double now) { nextShield_ = now + shieldPeriod_; }
  void MonitorRan(double now) { nextMonitor_ = now + monitorPeriod_; }
  // The clock at which the next cycle of either plug-in is due.
  double NextDue() const { return nextShield_ < nextMonitor_ ? nextShield_ : nextMonitor_; }

 private:
  double shieldPeriod_, monitorPeriod_;
  double nextShield_, nextMonitor_;
};

}  // namespace host
