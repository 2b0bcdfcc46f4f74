#include "clsConfig.h"

#include <limits>
#include <vector>

#include "Convert.h"
#include "KvError.h"
#include "Trace.h"

namespace common {

namespace {

constexpr Site kSite{"  Class: clsConfig  ", "clsConfig"};

// The fields of a configuration text; reading past the last is error 9.
class Fields {
 public:
  explicit Fields(std::string_view text) {
    if (text.empty()) return;
    size_t start = 0;
    for (;;) {
      size_t end = text.find(';', start);
      fields_.push_back(text.substr(start, end - start));
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
  }

  std::string_view operator[](size_t position) const {
    if (position >= fields_.size()) Raise(kSite, kSubscriptOutOfRange);
    return fields_[position];
  }

 private:
  std::vector<std::string_view> fields_;
};

}  // namespace

void clsConfig::Initialize(std::string_view text) {
  Guard(kSite, "Sub: Initialize", [&] {
    StoreFields(text);
    TraceSettings();
  });
}

void clsConfig::Read(std::string_view text) {
  Guard(kSite, "Sub: Read", [&] { StoreFields(text); });
}

void clsConfig::StoreFields(std::string_view text) {
  const Fields field(text);
  server_ = field[0];
  flowdeckURL_ = field[1];
  flowdeckFilterURI_ = field[2];
  addShieldURL_ = field[3];
  removeShieldURL_ = field[4];
  thresholdBase_ = TextToSingle(kSite, field[5]);
  thresholdIncrement_ = TextToSingle(kSite, field[6]);
  periodBase_ = TextToInteger(kSite, field[7]);
  periodIncrement_ = TextToInteger(kSite, field[8]);
  fernwickActive_ = TextToBoolean(kSite, field[9]);
  fernwickPath_ = field[10];
  if (layout_ == ConfigLayout::kCorvane) {
    sensitivity_ = TextToInteger(kSite, field[11]);
    possibleStrength_ = ToInteger(kSite, TextToSingle(kSite, field[12]));
    certainStrength_ = ToInteger(kSite, TextToSingle(kSite, field[13]));
    trace_ = TextToBoolean(kSite, field[14]);
  } else {
    trace_ = TextToBoolean(kSite, field[11]);
  }
  loaded_ = true;
}

void clsConfig::TraceSettings() const {
  const bool corvane = layout_ == ConfigLayout::kCorvane;
  WriteTrace(*this, "clsConfig - Initialize complete");
  WriteTrace(*this, "Server=", server_);
  WriteTrace(*this, "FlowdeckURL=", flowdeckURL_);
  WriteTrace(*this, "FlowdeckFilterURI=", flowdeckFilterURI_);
  WriteTrace(*this, "AddShieldURL=", addShieldURL_);
  WriteTrace(*this, "RemoveShieldURL=", removeShieldURL_);
  WriteTrace(*this, "PeriodBase=", periodBase_);
  WriteTrace(*this, "PeriodIncrement=", periodIncrement_);
  WriteTrace(*this, "ThresholdBase=", TracedNumber{thresholdBase_, 7});
  WriteTrace(*this, "ThresholdIncrement=", TracedNumber{thresholdIncrement_, 7});
  WriteTrace(*this, "FernwickActive=", BooleanText(fernwickActive_));
  WriteTrace(*this, corvane ? "FernwickPath=" : "Fernwickpath=", fernwickPath_);
  if (corvane) {
    WriteTrace(*this, "Sensitivity=", sensitivity_);
    WriteTrace(*this, "PossibleStrength=", possibleStrength_);
    WriteTrace(*this, "CertainStrength=", certainStrength_);
  }
  WriteTrace(*this, "Trace=", BooleanText(trace_));
}

int16_t clsConfig::MinimumHits(const Site &site, int16_t sensitivity) const {
  auto checked = [&](int32_t value) {
    if (value < std::numeric_limits<int16_t>::min() ||
        value > std::numeric_limits<int16_t>::max()) {
      Raise(site, kOverflow);
    }
    return static_cast<int16_t>(value);
  };
  return checked(int32_t{periodBase_} - checked(int32_t{periodIncrement_} * sensitivity));
}

}  // namespace common
