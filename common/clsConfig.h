#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "KvError.h"

namespace common {

// Which plug-in's field layout a configuration text follows: the shield plug-in reads twelve
// fields, the monitor fifteen.
enum class ConfigLayout { kVantrel, kCorvane };

// The settings of a plug-in, read from one semicolon-separated positional text.
class clsConfig {
 public:
  explicit clsConfig(ConfigLayout layout) noexcept : layout_(layout) {}

  // Stores the fields one after the other; a missing or bad field raises and leaves it and
  // every later field as they were. Traces the settings when Trace is on.
  void Initialize(std::string_view text);
  // Stores the fields as Initialize does, without tracing them whatever Trace says: for a
  // reader of a plug-in's settings that is not the plug-in and has no trace of its own.
  void Read(std::string_view text);

  const std::string &Server() const noexcept { return server_; }
  const std::string &FlowdeckURL() const noexcept { return flowdeckURL_; }
  const std::string &FlowdeckFilterURI() const noexcept { return flowdeckFilterURI_; }
  const std::string &AddShieldURL() const noexcept { return addShieldURL_; }
  const std::string &RemoveShieldURL() const noexcept { return removeShieldURL_; }
  int16_t PeriodBase() const noexcept { return periodBase_; }
  int16_t PeriodIncrement() const noexcept { return periodIncrement_; }
  float ThresholdBase() const noexcept { return thresholdBase_; }
  float ThresholdIncrement() const noexcept { return thresholdIncrement_; }
  bool FernwickActive() const noexcept { return fernwickActive_; }
  const std::string &FernwickPath() const noexcept { return fernwickPath_; }
  int16_t Sensitivity() const noexcept { return sensitivity_; }
  int16_t PossibleStrength() const noexcept { return possibleStrength_; }
  int16_t CertainStrength() const noexcept { return certainStrength_; }
  bool Trace() const noexcept { return trace_; }

  // Whether a configuration text has had every one of its fields stored since these settings
  // were created. Until then the numbers are all 0, which would rate every visitor a machine:
  // the cycles judge nobody while it is false.
  bool IsLoaded() const noexcept { return loaded_; }

  // The fewest hits a correlation needs at a sensitivity: PeriodBase - PeriodIncrement *
  // sensitivity, in 16-bit arithmetic as the settings; an overflow is error 6 at the site.
  int16_t MinimumHits(const Site &site, int16_t sensitivity) const;

  // The correlation a rating needs at a strength: ThresholdBase - ThresholdIncrement *
  // strength, worked out from the 32-bit settings in double precision. Both plug-ins start
  // from this value; the shield plug-in then rounds it to 32 bits and compares there, the
  // monitor compares against it as it is.
  double RatingThreshold(int16_t strength) const noexcept {
    return double{thresholdBase_} - double{thresholdIncrement_} * static_cast<double>(strength);
  }

 private:
  void StoreFields(std::string_view text);
  void TraceSettings() const;

  ConfigLayout layout_;
  std::string server_;
  std::string flowdeckURL_;
  std::string flowdeckFilterURI_;
  std::string addShieldURL_;
  std::string removeShieldURL_;
  int16_t periodBase_ = 0;
  int16_t periodIncrement_ = 0;
  float thresholdBase_ = 0;
  float thresholdIncrement_ = 0;
  bool fernwickActive_ = false;
  std::string fernwickPath_;
  int16_t sensitivity_ = 0;
  int16_t possibleStrength_ = 0;
  int16_t certainStrength_ = 0;
  bool trace_ = false;
  bool loaded_ = false;
};

}  // namespace common
