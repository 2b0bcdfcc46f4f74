#pragma once

#include "DefinitionsSettings.h"
#include "clsConfig.h"

namespace vantrel {

class clsShieldedResources;

// The plug-in's definitions file, "KvVantrel.CFG" in its directory, read with its trace.
DefinitionsSettings PluginDefinitions();

// The configuration of the calling thread, created empty on first use.
common::clsConfig &gConfig();

// The tripwire definitions of the calling thread, read from the definitions file on first use.
// When that reading fails no list comes into being, and the next use tries again.
clsShieldedResources &gShieldedResources();

// Releases the definitions, then the configuration, of the calling thread.
void ReleaseSharedObjects() noexcept;

}  // namespace vantrel
