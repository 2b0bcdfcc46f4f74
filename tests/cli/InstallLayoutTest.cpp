#include "cli/InstallLayout.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// Lays out the given files (and their folders) below the directory.
void Lay(const testing_support::TempDir &dir, std::initializer_list<const char *> files) {
  for (const char *file : files) {
    fs::create_directories(fs::path(dir.File(file)).parent_path());
    testing_support::WriteFile(dir.File(file), "");
  }
}

TEST(InstallLayout, TheBuildTreeUsesItsPluginsAndTheRepositoryTripwiresButNoConfiguration) {
  testing_support::TempDir dir;
  Lay(dir, {"build/bin/flowdeck", "build/plugins/KvVantrel.so", "examples/tripwires.cfg",
            "examples/flowdeck.conf", "build/etc/flowdeck/flowdeck.conf",
            "examples/verified-bot-ranges"});
  const host::InstallLayout layout = host::InstallLayout::ForProgramIn(dir.File("build/bin"));
  EXPECT_EQ(layout.pluginDir, dir.File("build/plugins"));
  EXPECT_EQ(layout.tripwires, dir.File("examples/tripwires.cfg"));
  EXPECT_EQ(layout.config, "");
  EXPECT_EQ(layout.verifiedBotRanges, dir.File("examples/verified-bot-ranges"));
}

TEST(InstallLayout, AnInstalledProgramFindsItsPluginsAndSettingsUnderItsPrefix) {
  testing_support::TempDir dir;
  Lay(dir, {"p/bin/flowdeck", "p/lib/flowdeck/KvVantrel.so", "p/etc/flowdeck/tripwires.cfg",
            "p/etc/flowdeck/flowdeck.conf", "etc/flowdeck/flowdeck.conf"});
  const host::InstallLayout layout = host::InstallLayout::ForProgramIn(dir.File("p/bin"));
  EXPECT_EQ(layout.pluginDir, dir.File("p/lib/flowdeck"));
  EXPECT_EQ(layout.tripwires, dir.File("p/etc/flowdeck/tripwires.cfg"));
  EXPECT_EQ(layout.config, dir.File("p/etc/flowdeck/flowdeck.conf"));

  // Without settings of its own it runs on the defaults rather than on a neighbour's.
  fs::remove_all(dir.File("p/etc"));
  const host::InstallLayout bare = host::InstallLayout::ForProgramIn(dir.File("p/bin"));
  EXPECT_EQ(bare.config, "");
  EXPECT_EQ(bare.tripwires.find(dir.Path()), std::string::npos) << bare.tripwires;
}

TEST(InstallLayout, UnderUsrTheSettingsAreInTheEtcOfTheRootAsThePackagePutsThem) {
  testing_support::TempDir dir;
  Lay(dir, {"root/usr/bin/flowdeck", "root/usr/lib/flowdeck/KvCorvane.so",
            "root/etc/flowdeck/tripwires.cfg", "root/etc/flowdeck/flowdeck.conf"});
  const host::InstallLayout layout = host::InstallLayout::ForProgramIn(dir.File("root/usr/bin"));
  EXPECT_EQ(layout.pluginDir, dir.File("root/usr/lib/flowdeck"));
  EXPECT_EQ(layout.verifiedBotRanges, "") << "none shipped in this root";
  Lay(dir, {"root/usr/share/flowdeck/verified-bot-ranges"});
  EXPECT_EQ(host::InstallLayout::ForProgramIn(dir.File("root/usr/bin")).verifiedBotRanges,
            dir.File("root/usr/share/flowdeck/verified-bot-ranges"))
      << "the package's own, below the unpacked root too";
  EXPECT_EQ(layout.tripwires, dir.File("root/etc/flowdeck/tripwires.cfg"));
  EXPECT_EQ(layout.config, dir.File("root/etc/flowdeck/flowdeck.conf"));

  // A prefix's own etc comes first (cmake --install --prefix .../usr puts it there).
  Lay(dir, {"root/usr/etc/flowdeck/flowdeck.conf"});
  EXPECT_EQ(host::InstallLayout::ForProgramIn(dir.File("root/usr/bin")).config,
            dir.File("root/usr/etc/flowdeck/flowdeck.conf"));
}

}  // namespace
