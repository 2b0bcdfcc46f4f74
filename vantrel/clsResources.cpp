#include "clsResources.h"

#include "KvError.h"
#include "SharedObjects.h"
#include "WriteTrace.h"
#include "clsShieldedResources.h"

namespace vantrel {

namespace {
constexpr common::Site kSite{"  Class: Resources  ", "clsResources"};
}

clsResource &clsResources::Item(int32_t position) const {
  return common::Guard(kSite, "Function: Item",
                       [&]() -> clsResource & { return records_.At(kSite, position); });
}

void clsResources::Remove(int32_t position) {
  common::Guard(kSite, "Sub: Remove", [&] { records_.Remove(kSite, position); });
}

clsResource *clsResources::ItemByHostAndResource(std::string_view host,
                                                 std::string_view resource) const {
  return common::Guard(kSite, "Function: ItemByHostAndResource", [&]() -> clsResource * {
    return records_.Find(HostAndResource{host, resource});
  });
}

void clsResources::AddHit(HitAction action, double arrivalSerial, std::string_view pathInfo,
                          std::string_view pathTranslated, std::string_view host,
                          int32_t tripwireIndex) {
  common::Guard(kSite, "Sub: AddHit", [&] {
    clsResource *record = ItemByHostAndResource(host, pathInfo);
    if (record == nullptr) {
      record = &records_.Add(std::make_unique<clsResource>(gShieldedResources().Item(tripwireIndex),
                                                           std::string(host), std::string(pathInfo),
                                                           std::string(pathTranslated)));
      WriteTrace("\tNew Resource Added");
    }
    record->AddHit(action, arrivalSerial);
  });
}

}  // namespace vantrel
