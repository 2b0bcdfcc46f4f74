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
  return common::Guard(kSite, "Function: Item", [&]() -> clsResource & {
    if (position < 1 || position > Count()) common::Raise(kSite, common::kInvalidArgument);
    return *records_[static_cast<size_t>(position - 1)];
  });
}

void clsResources::Remove(int32_t position) {
  common::Guard(kSite, "Sub: Remove", [&] {
    if (position < 1 || position > Count()) common::Raise(kSite, common::kInvalidArgument);
    const auto at = records_.begin() + (position - 1);
    byHostAndResource_.erase(KeyOf(**at));
    records_.erase(at);
  });
}

clsResource *clsResources::ItemByHostAndResource(std::string_view host,
                                                 std::string_view resource) const {
  return common::Guard(kSite, "Function: ItemByHostAndResource", [&]() -> clsResource * {
    const auto entry = byHostAndResource_.find(HostAndResource{host, resource});
    return entry == byHostAndResource_.end() ? nullptr : entry->second;
  });
}

void clsResources::AddHit(HitAction action, double arrivalSerial, std::string_view pathInfo,
                          std::string_view pathTranslated, std::string_view host,
                          int32_t tripwireIndex) {
  common::Guard(kSite, "Sub: AddHit", [&] {
    clsResource *record = ItemByHostAndResource(host, pathInfo);
    if (record == nullptr) {
      auto opened =
          std::make_unique<clsResource>(gShieldedResources().Item(tripwireIndex), std::string(host),
                                        std::string(pathInfo), std::string(pathTranslated));
      record = opened.get();
      records_.push_back(std::move(opened));
      byHostAndResource_.emplace(KeyOf(*record), record);
      WriteTrace("\tNew Resource Added");
    }
    record->AddHit(action, arrivalSerial);
  });
}

}  // namespace vantrel
