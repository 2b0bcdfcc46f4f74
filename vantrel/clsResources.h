#pragma once

#include <cstdint>
#include <string_view>

#include "Convert.h"
#include "KeyedList.h"
#include "clsResource.h"

namespace vantrel {

// A visitor's resource records, positions 1 to Count in the order they were opened, at most one
// per host and request path (letter case ignored), found by that pair without a scan.
class clsResources {
 public:
  int32_t Count() const noexcept { return records_.Count(); }
  // A position outside 1 to Count is error 5.
  clsResource &Item(int32_t position) const;
  void Remove(int32_t position);
  // Removes every record the predicate holds for, in one pass; the others close up in order.
  template <class Predicate>
  void RemoveIf(Predicate &&remove) {
    records_.RemoveIf(remove);
  }
  clsResource *ItemByHostAndResource(std::string_view host, std::string_view resource) const;
  // Records a hit under the record of host and path info, opening the record under the
  // definition at tripwireIndex when there is none yet.
  void AddHit(HitAction action, double arrivalSerial, std::string_view pathInfo,
              std::string_view pathTranslated, std::string_view host, int32_t tripwireIndex);

 private:
  // A host and a request path: the identity of a record.
  struct HostAndResource {
    std::string_view host;
    std::string_view resource;
  };
  struct ByHostAndResource {
    using Key = HostAndResource;
    static Key KeyOf(const clsResource &record) noexcept {
      return {record.Host(), record.Resource()};
    }
    static uint64_t Hash(const Key &key) noexcept {
      // Hashed apart and joined unevenly, "ab"+"c" and "a"+"bc" stay apart.
      return (common::HashIgnoreCase(key.host) * 31) ^ common::HashIgnoreCase(key.resource);
    }
    static bool Equal(const Key &a, const Key &b) noexcept {
      return common::EqualsIgnoreCase(a.host, b.host) &&
             common::EqualsIgnoreCase(a.resource, b.resource);
    }
  };

  common::KeyedList<clsResource, ByHostAndResource> records_;
};

}  // namespace vantrel
