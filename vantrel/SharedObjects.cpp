#include "SharedObjects.h"

#include <memory>

#include "clsShieldedResources.h"

namespace vantrel {

namespace {

thread_local std::unique_ptr<common::clsConfig> tConfig;
thread_local std::unique_ptr<clsShieldedResources> tShieldedResources;

}  // namespace

common::clsConfig &gConfig() {
  if (!tConfig) tConfig = std::make_unique<common::clsConfig>(common::ConfigLayout::kVantrel);
  return *tConfig;
}

clsShieldedResources &gShieldedResources() {
  if (!tShieldedResources) tShieldedResources = std::make_unique<clsShieldedResources>();
  return *tShieldedResources;
}

void ReleaseSharedObjects() noexcept {
  tShieldedResources.reset();
  tConfig.reset();
}

}  // namespace vantrel
