#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "KeyIgnoringCase.h"
#include "clsResource.h"

namespace vantrel {

// A visitor's resource records, positions 1 to Count in the order they were opened, at most one
// per host and request path (letter case ignored), found by that pair without a scan.
class clsResources {
 public:
  int32_t Count() const noexcept { return static_cast<int32_t>(records_.size()); }
  // A position outside 1 to Count is error 5.
  clsResource &Item(int32_t position) const;
  void Remove(int32_t position);
  // Removes every record the predicate holds for, in one pass; the others close up in order.
  template <class Predicate>
  void RemoveIf(Predicate &&remove);
  clsResource *ItemByHostAndResource(std::string_view host, std::string_view resource) const;
  // Records a hit under the record of host and path info, opening the record under the
  // definition at tripwireIndex when there is none yet.
  void AddHit(HitAction action, double arrivalSerial, std::string_view pathInfo,
              std::string_view pathTranslated, std::string_view host, int32_t tripwireIndex);

 private:
  static HostAndResource KeyOf(const clsResource &record) noexcept {
    return {record.Host(), record.Resource()};
  }

  std::vector<std::unique_ptr<clsResource>> records_;
  std::unordered_map<HostAndResource, clsResource *, HashHostAndResource, EqualHostAndResource>
      byHostAndResource_;
};

template <class Predicate>
void clsResources::RemoveIf(Predicate &&remove) {
  std::erase_if(records_, [&](const std::unique_ptr<clsResource> &record) {
    if (!remove(*record)) return false;
    byHostAndResource_.erase(KeyOf(*record));
    return true;
  });
}

}  // namespace vantrel
