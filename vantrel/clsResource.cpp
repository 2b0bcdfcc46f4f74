#include "clsResource.h"

#include "KvError.h"
#include "WriteTrace.h"

namespace vantrel {

namespace {
constexpr common::Site kSite{"  Class: clsResource  ", "clsResource"};
}

clsResource::clsResource(std::shared_ptr<const clsShieldedResource> shieldedResource,
                         std::string host, std::string resource, std::string pathTranslated)
    : shieldedResource_(std::move(shieldedResource)),
      host_(std::move(host)),
      resource_(std::move(resource)),
      pathTranslated_(std::move(pathTranslated)) {}

void clsResource::MarkShielded() noexcept {
  isShielded_ = true;
  hits_.Release();
}

void clsResource::AddHit(HitAction action, double arrivalSerial) {
  common::Guard(kSite, "Sub: AddHit", [&] {
    if (isShielded_) {
      WriteTrace("\tHit Added");
      return;
    }
    hits_.AddHit(action, arrivalSerial);
  });
}

}  // namespace vantrel
