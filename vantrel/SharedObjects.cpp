#include "SharedObjects.h"

#include <memory>

#include "Logs.h"
#include "PluginDirectory.h"
#include "WriteTrace.h"
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

DefinitionsSettings PluginDefinitions() {
  return {common::PluginFile("\\KvVantrel.CFG"), &TraceOn, &common::AppendTrace};
}

clsShieldedResources &gShieldedResources() {
  if (!tShieldedResources) {
    // A first reading that fails leaves no list: the next use tries again.
    auto definitions = std::make_unique<clsShieldedResources>(PluginDefinitions());
    definitions->Read();
    tShieldedResources = std::move(definitions);
  }
  return *tShieldedResources;
}

void ReleaseSharedObjects() noexcept {
  tShieldedResources.reset();
  tConfig.reset();
}

}  // namespace vantrel
