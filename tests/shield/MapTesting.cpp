#include "MapTesting.h"

#include <gtest/gtest.h>

#include "shield/ActiveShields.h"

namespace shield_testing {

std::string RenderMap(host::MapLines::Append append, bool foldCase,
                      std::vector<host::Shield> shields) {
  host::MapLines lines(append, foldCase);
  for (host::Shield &shield : shields) {
    EXPECT_TRUE(host::ActiveShields::Normalize(shield)) << shield.address;
    lines.Raise(shield);
  }
  std::string file;
  lines.Render(file);
  return file;
}

}  // namespace shield_testing
