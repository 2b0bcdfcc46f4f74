#include "modCorvane.h"

#include "Logs.h"

namespace corvane {

common::clsConfig &gConfig() {
  thread_local common::clsConfig config(common::ConfigLayout::kCorvane);
  return config;
}

void WriteTrace(std::string_view text) {
  common::AppendTrace(text);
}

}  // namespace corvane
