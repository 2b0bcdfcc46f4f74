#pragma once

#include <string_view>

#include "StreamFields.h"
#include "clsConfig.h"

namespace common {

// Routes one Stream call of either plug-in. CYCLE runs a cycle. CONFIG stores the settings
// text that the user-agent field carries, then forgets every visitor (their hits were counted
// under the old settings) and runs a cycle at once; settings that fail to load raise before
// anything is forgotten. Every other action, requests included, goes to `other` with its name.
template <class Cycle, class Forget, class Other>
void RouteStream(const StreamFields &fields, clsConfig &config, Cycle &&cycle, Forget &&forget,
                 Other &&other) {
  const std::string_view action = fields[kAction];
  if (action == "CYCLE") {
    cycle();
  } else if (action == "CONFIG") {
    config.Initialize(fields[kUserAgent]);
    forget();
    cycle();
  } else {
    other(action);
  }
}

}  // namespace common
