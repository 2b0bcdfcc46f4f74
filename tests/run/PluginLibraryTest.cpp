// The checks made when a plug-in is loaded: a file that is not the plug-in asked for is refused,
// saying what is wrong with it.
#include "run/PluginLibrary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "support/TempDir.h"

namespace {

using testing_support::TempDir;

// A shared object copied into the test's directory under the name a host would load.
std::string CopyAs(const std::string &source, const TempDir &dir, const std::string &name) {
  std::filesystem::copy_file(source, dir.File(name));
  return dir.File(name);
}

// What loading a file as a plug-in says when it is refused; "loaded" when it is not.
std::string Refusal(const std::string &path, const std::string &expectedName) {
  try {
    host::PluginLibrary library(path, expectedName);
  } catch (const std::runtime_error &error) {
    return error.what();
  }
  return "loaded";
}

TEST(PluginLibrary, LoadsThePlugInAskedForAndRefusesAnythingElseSayingWhy) {
  TempDir dir;
  const std::string plugins = FLOWDECK_PLUGIN_DIR;
  const std::string broken = FLOWDECK_BROKEN_PLUGIN_DIR;
  EXPECT_EQ(Refusal(CopyAs(plugins + "/KvVantrel.so", dir, "shield.so"), "KvVantrel.Vantrel"),
            "loaded");

  const std::string monitor = CopyAs(plugins + "/KvCorvane.so", dir, "KvVantrel.so");
  EXPECT_EQ(Refusal(monitor, "KvVantrel.Vantrel"),
            monitor +
                ": expected the plug-in KvVantrel.Vantrel, but it calls itself "
                "KvCorvane.Corvane");
  const std::string other = CopyAs(broken + "/WrongName.so", dir, "other.so");
  EXPECT_EQ(Refusal(other, "KvVantrel.Vantrel"),
            other + ": expected the plug-in KvVantrel.Vantrel, but it calls itself KvOther.Other");
  const std::string noStream = CopyAs(broken + "/NoStream.so", dir, "nostream.so");
  EXPECT_EQ(Refusal(noStream, "KvVantrel.Vantrel"),
            noStream + ": not a Flowdeck plug-in: it does not export flowdeck_plugin_stream");

  const std::string text = dir.File("text.so");
  testing_support::WriteFile(
      text, std::string(40, '-') + " this is no shared object, however long it goes on\n");
  const std::string refused = Refusal(text, "KvVantrel.Vantrel");
  EXPECT_TRUE(refused.starts_with(text + ": cannot be loaded as a shared object: ")) << refused;
  EXPECT_NE(refused.find("invalid ELF header"), std::string::npos) << refused;
  const std::string missing = dir.File("missing.so");
  EXPECT_TRUE(Refusal(missing, "KvVantrel.Vantrel")
                  .starts_with(missing + ": cannot be loaded as a shared object: "));
}

}  // namespace
