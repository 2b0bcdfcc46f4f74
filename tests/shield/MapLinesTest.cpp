// The kept lines of a map file: what a batch changes, and nothing else, and a file that is
// always the lines in force, however many came and went.
#include "shield/MapLines.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "ShieldTesting.h"
#include "shield/ActiveShields.h"
#include "shield/ApacheMap.h"

namespace {

using host::ApacheMap;
using host::MapLines;
using host::Shield;
using shield_testing::MakeShield;

std::string Rendered(MapLines &lines) {
  std::string file;
  lines.Render(file);
  return file;
}

TEST(MapLines, KeepsOneLinePerShieldInTheOrderRaised) {
  MapLines lines(ApacheMap::AppendEntry, false);
  EXPECT_TRUE(lines.Raise(MakeShield("127.0.0.67")));
  EXPECT_TRUE(lines.Raise(MakeShield("127.0.0.66")));
  EXPECT_FALSE(lines.Raise(MakeShield("127.0.0.68", "shop.test", "/a b")));
  EXPECT_EQ(Rendered(lines),
            "127.0.0.67|shop.test|/admin/login.php /deflect.html\n"
            "127.0.0.66|shop.test|/admin/login.php /deflect.html\n");
  // A renewed shield keeps one line, with its new deflect path.
  EXPECT_TRUE(lines.Raise(MakeShield("127.0.0.67", "shop.test", "/admin/login.php", "/new")));
  lines.Lift(MakeShield("127.0.0.99"));  // never raised: nothing happens
  EXPECT_EQ(Rendered(lines),
            "127.0.0.66|shop.test|/admin/login.php /deflect.html\n"
            "127.0.0.67|shop.test|/admin/login.php /new\n");
  EXPECT_EQ(lines.LineCount(), 2u);
  lines.Clear();
  EXPECT_EQ(Rendered(lines), "");
}

TEST(MapLines, TheFileIsAlwaysTheLinesInForce) {
  // Many batches of raises and lifts, with the lines moved together now and then; after each,
  // the file holds exactly the shields in force.
  MapLines lines(ApacheMap::AppendEntry, false);
  std::map<int, std::string> inForce;
  std::mt19937 random(7);
  for (int batch = 0; batch < 300; ++batch) {
    for (int change = 0; change < 20; ++change) {
      const int n = static_cast<int>(random() % 200);
      Shield shield = MakeShield("10.0.0." + std::to_string(n), "shop.test",
                                 "/r" + std::to_string(n), "/d" + std::to_string(batch));
      if (random() % 2 == 0) {
        lines.Raise(shield);
        inForce[n] = "10.0.0." + std::to_string(n) + "|shop.test|/r" + std::to_string(n) + " /d" +
                     std::to_string(batch) + "\n";
      } else {
        lines.Lift(shield);
        inForce.erase(n);
      }
    }
    const std::string file = Rendered(lines);
    size_t expectedSize = 0;
    for (const auto &[n, line] : inForce) {
      expectedSize += line.size();
      ASSERT_NE(file.find(line), std::string::npos) << "batch " << batch << ": " << line;
    }
    ASSERT_EQ(file.size(), expectedSize) << "batch " << batch;
  }
}

}  // namespace
