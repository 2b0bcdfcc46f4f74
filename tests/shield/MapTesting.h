#pragma once

#include <string>
#include <vector>

#include "base/Shield.h"
#include "shield/MapLines.h"

namespace shield_testing {

// The map file of these shields, raised in this order, in one web server's syntax.
std::string RenderMap(host::MapLines::Append append, bool foldCase,
                      std::vector<host::Shield> shields);

}  // namespace shield_testing
