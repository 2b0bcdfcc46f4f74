#include "PluginExports.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// A plug-in class whose constructor and calls fail on demand.
struct Object {
  static inline bool failToConstruct = false;
  bool fail = false;

  Object() {
    if (failToConstruct) throw std::bad_alloc();
  }
  void Stream(const common::StreamFields &fields) {
    if (fail || fields[common::kKey] != "k1") throw std::runtime_error("fails");
  }
  int32_t Count() const { return fail ? throw std::runtime_error("fails") : 42; }
};

struct Handle {
  Object object;
};

using Exports = common::PluginExports<Handle>;

// The host sees what failed only as nullptr or a nonzero result; the null checks are in the
// end-to-end interface tests.
TEST(PluginExports, WhatTheObjectThrowsBecomesNullOrOne) {
  Object::failToConstruct = true;
  EXPECT_EQ(Exports::Create(), nullptr);
  Object::failToConstruct = false;
  Handle *plugin = Exports::Create();
  ASSERT_NE(plugin, nullptr);
  flowdeck_text fields[FLOWDECK_FIELD_COUNT] = {};
  fields[common::kKey] = {"k1 and more", 2};  // only the given size counts
  EXPECT_EQ(Exports::Stream(plugin, fields), 0);
  int32_t count = -1;
  EXPECT_EQ(Exports::Count(plugin, &count), 0);
  EXPECT_EQ(count, 42);
  plugin->object.fail = true;
  EXPECT_EQ(Exports::Stream(plugin, fields), 1);
  EXPECT_EQ(Exports::Count(plugin, &count), 1);
  Exports::Destroy(plugin);
}

}  // namespace
