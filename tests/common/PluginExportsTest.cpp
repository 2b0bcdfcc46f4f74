#include "PluginExports.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

// A plug-in class whose constructor and calls fail on demand.
struct Object {
  static inline bool failToConstruct = false;
  static inline int alive = 0;
  std::string seen;
  bool failNext = false;

  Object() {
    if (failToConstruct) throw std::bad_alloc();
    ++alive;
  }
  ~Object() { --alive; }
  void Stream(const common::StreamFields &fields) {
    if (failNext) throw std::runtime_error("fails");
    seen.assign(fields[common::kAction]).append("|").append(fields[common::kKey]);
  }
  int32_t Count() const {
    if (failNext) throw std::runtime_error("fails");
    return 42;
  }
};

struct Handle {
  Object object;
};

using Exports = common::PluginExports<Handle>;

TEST(PluginExports, NothingThrownOrNullEverReachesTheObjectOrTheHost) {
  Object::failToConstruct = true;
  EXPECT_EQ(Exports::Create(), nullptr);
  Object::failToConstruct = false;
  Handle *plugin = Exports::Create();
  ASSERT_NE(plugin, nullptr);

  flowdeck_text fields[FLOWDECK_FIELD_COUNT] = {};
  fields[common::kAction] = {"GET", 3};
  fields[common::kKey] = {"k1 and more", 2};  // only the given size counts
  EXPECT_EQ(Exports::Stream(plugin, fields), 0);
  EXPECT_EQ(plugin->object.seen, "GET|k1");
  EXPECT_EQ(Exports::Stream(nullptr, fields), 1);
  EXPECT_EQ(Exports::Stream(plugin, nullptr), 1);

  int32_t count = -1;
  EXPECT_EQ(Exports::Count(plugin, &count), 0);
  EXPECT_EQ(count, 42);
  EXPECT_EQ(Exports::Count(nullptr, &count), 1);
  EXPECT_EQ(Exports::Count(plugin, nullptr), 1);

  plugin->object.failNext = true;
  EXPECT_EQ(Exports::Stream(plugin, fields), 1);
  count = -1;
  EXPECT_EQ(Exports::Count(plugin, &count), 1);
  EXPECT_EQ(count, -1);

  Exports::Destroy(plugin);
  Exports::Destroy(nullptr);
  EXPECT_EQ(Object::alive, 0);
}

}  // namespace
