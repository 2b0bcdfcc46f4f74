#include "clsUserAlerts.h"

#include "Clock.h"
#include "DateTime.h"
#include "KvError.h"
#include "modExport.h"

namespace corvane {

namespace {

constexpr common::Site kSite{"  Class: clsUserAlerts  ", "clsUserAlerts"};

void CheckPosition(int32_t position, int32_t count) {
  if (position < 1 || position > count) common::Raise(kSite, common::kInvalidArgument);
}

}  // namespace

void clsUserAlerts::Add(const Values &values) {
  common::Guard(kSite, "Sub: Add", [&] {
    const ExportScan scan = ScanExportValues(values);
    std::string line(1, scan.separator);
    line.append(common::FormatPaddedDate24(common::Now()));
    const size_t stamped = line.size();
    line.resize(stamped + scan.size);
    WriteExportFields(line.data() + stamped, scan, values);
    alerts_.emplace_back(std::move(line));
  });
}

const clsUserAlert &clsUserAlerts::Item(int32_t position) const {
  return common::Guard(kSite, "Function: Item", [&]() -> const clsUserAlert & {
    CheckPosition(position, Count());
    return alerts_[static_cast<size_t>(position - 1)];
  });
}

void clsUserAlerts::Remove(int32_t position) {
  common::Guard(kSite, "Sub: Remove", [&] {
    CheckPosition(position, Count());
    alerts_.erase(alerts_.begin() + (position - 1));
  });
}

}  // namespace corvane
