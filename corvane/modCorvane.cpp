#include "modCorvane.h"

namespace corvane {

common::clsConfig &gConfig() {
  thread_local common::clsConfig config(common::ConfigLayout::kCorvane);
  return config;
}

}  // namespace corvane
