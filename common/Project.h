#pragma once

#include <string_view>

namespace common {

// The name of the plug-in this toolkit is linked into ("KvVantrel", "KvCorvane"): the start of
// every error source it raises and of its log file names. Each plug-in defines it once.
std::string_view ProjectName() noexcept;

}  // namespace common
