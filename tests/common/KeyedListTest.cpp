#include "KeyedList.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <new>
#include <string>

namespace {

constexpr common::Site kSite{"  Class: Things  ", "clsThings"};

struct Thing {
  std::string key;
};

// Keys compared without regard to case; the hash fails once when a test arms it, as the index
// would when it cannot grow.
struct ByKey : common::TextKeyIgnoringCase {
  static inline bool failNextHash = false;
  static std::string_view KeyOf(const Thing &thing) { return thing.key; }
  static uint64_t Hash(std::string_view key) {
    if (failNextHash) {
      failNextHash = false;
      throw std::bad_alloc();
    }
    return common::TextKeyIgnoringCase::Hash(key);
  }
};

using Things = common::KeyedList<Thing, ByKey>;

std::string Keys(const Things &things) {
  std::string keys;
  for (int32_t i = 1; i <= things.Count(); ++i) keys += things.At(kSite, i).key;
  return keys;
}

int32_t FailureAt(const std::function<void()> &body) {
  try {
    body();
  } catch (const common::KvError &error) {
    EXPECT_EQ(error.Source(), "KvTest.clsThings");
    return error.Number();
  }
  ADD_FAILURE() << "nothing was raised";
  return 0;
}

TEST(KeyedList, KeepsPositionsInOrderAndFindsEveryKeyAfterRemovals) {
  Things things;
  for (char c = 'a'; c <= 'z'; ++c) things.Add(std::make_unique<Thing>(Thing{std::string(1, c)}));
  EXPECT_EQ(things.Find("Q"), &things.At(kSite, 17));
  things.Remove(kSite, 1);
  things.RemoveIf([](const Thing &thing) { return thing.key < "m" || thing.key == "x"; });
  EXPECT_EQ(Keys(things), "mnopqrstuvwyz");
  for (char c = 'a'; c <= 'z'; ++c) {
    const Thing *found = things.Find(std::string(1, static_cast<char>(c - 'a' + 'A')));
    if (c < 'm' || c == 'x') {
      EXPECT_EQ(found, nullptr) << c;
    } else {
      ASSERT_NE(found, nullptr) << c;
      EXPECT_EQ(found->key, std::string(1, c));
    }
  }
  EXPECT_EQ(FailureAt([&] { things.At(kSite, 0); }), 5);
  EXPECT_EQ(FailureAt([&] { things.Remove(kSite, 14); }), 5);
  things.Clear();
  EXPECT_EQ(things.Count(), 0);
  EXPECT_EQ(things.Find("m"), nullptr);
}

TEST(KeyedList, AnItemThatCannotBeIndexedLeavesAgain) {
  Things things;
  things.Add(std::make_unique<Thing>(Thing{"a"}));
  ByKey::failNextHash = true;
  EXPECT_THROW(things.Add(std::make_unique<Thing>(Thing{"b"})), std::bad_alloc);
  EXPECT_EQ(Keys(things), "a");
  EXPECT_EQ(things.Find("b"), nullptr);
  things.Add(std::make_unique<Thing>(Thing{"b"}));
  EXPECT_EQ(Keys(things), "ab");
  EXPECT_EQ(things.Find("B"), &things.At(kSite, 2));
}

}  // namespace
