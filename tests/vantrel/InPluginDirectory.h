#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "PluginDirectory.h"
#include "SharedObjects.h"
#include "clsConfig.h"
#include "support/TempDir.h"

namespace vantrel_testing {

// The plug-in's files in a fresh directory, and the thread's shared objects released after.
class InPluginDirectory : public ::testing::Test {
 protected:
  InPluginDirectory() { common::SetPluginDirectory(dir.Path()); }
  ~InPluginDirectory() override {
    vantrel::ReleaseSharedObjects();
    common::SetPluginDirectory("");
  }

  void Definitions(const std::string &text) const {
    testing_support::WriteFile(dir.File("KvVantrel.CFG"), text);
  }
  // Switches tracing on and starts the trace log afresh.
  void TraceOn() const {
    vantrel::gConfig().Initialize(";/f/;x.dll;Add;Remove;0.9;0;3;0;False;;True");
    std::remove(dir.File("KvVantrelTrace.LOG").c_str());
  }

  testing_support::TempDir dir;
};

}  // namespace vantrel_testing
