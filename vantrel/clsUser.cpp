#include "clsUser.h"

#include "Clock.h"
#include "KvError.h"

namespace vantrel {

namespace {
constexpr common::Site kSite{"  Class: clsUser  ", "clsUser"};
constexpr double kIdleSeconds = 300;
}  // namespace

clsUser::clsUser(std::string userKey, std::string remoteAddr, std::string resolvedAddr)
    : userKey_(std::move(userKey)),
      remoteAddr_(std::move(remoteAddr)),
      resolvedAddr_(std::move(resolvedAddr)) {}

void clsUser::AddTransaction(HitAction action, double arrivalSerial, std::string_view pathInfo,
                             std::string_view pathTranslated, std::string_view host,
                             int32_t tripwireIndex) {
  common::Guard(kSite, "Sub: AddTransaction", [&] {
    expires_ = common::AddSeconds(common::Now(), kIdleSeconds);
    resources_.AddHit(action, arrivalSerial, pathInfo, pathTranslated, host, tripwireIndex);
  });
}

}  // namespace vantrel
