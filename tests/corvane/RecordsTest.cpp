#include <gtest/gtest.h>

#include "Clock.h"
#include "MonitorTesting.h"
#include "clsHits.h"
#include "clsUsers.h"

namespace {

using monitor_testing::Request;
using monitor_testing::View;

template <class Call>
std::string SourceOfFailure(Call call) {
  try {
    call();
  } catch (const common::KvError &error) {
    return std::to_string(error.Number()) + " " + error.Source();
  }
  return "no failure";
}

TEST(clsHits, KeepsSerialOrderAndDropsTheOldestAtTheCap) {
  corvane::StringPool pool;
  {
    corvane::clsHits hits(pool);
    auto add = [&](double serial, const std::string &path) {
      hits.AddHit(View(Request("k", "0", path)), serial, false, false);
    };
    for (double serial : {10.0, 30.0, 20.0, 20.0, 5.0})
      add(serial, "/" + std::to_string(hits.Count()));
    std::vector<std::string> paths;
    for (int32_t i = 1; i <= hits.Count(); ++i) paths.emplace_back(hits.Hit(i).PathInfo());
    EXPECT_EQ(paths, (std::vector<std::string>{"/4", "/0", "/2", "/3", "/1"}));
    for (int i = 0; i < 495; ++i) add(100 + i, "/p" + std::to_string(i % 7));
    EXPECT_FALSE(hits.Truncated());
    add(50, "/late");  // drops 5, goes behind 30
    EXPECT_EQ(hits.Hit(1).ArrivalSerial(), 10);
    EXPECT_EQ(hits.Hit(5).PathInfo(), "/late");
    for (int i = 0; i < 700; ++i) add(1000 + i, "/q");  // the ring turns more than once
    add(1500.5, "/middle");
    EXPECT_EQ(hits.Count(), 500);
    EXPECT_TRUE(hits.Truncated());
    EXPECT_EQ(hits.FirstArrival(), 10);
    EXPECT_EQ(hits.Hit(1).ArrivalSerial(), 1201);
    EXPECT_EQ(hits.Hit(301).PathInfo(), "/middle");
    for (int32_t i = 1; i < 500; ++i)
      ASSERT_LE(hits.Hit(i).ArrivalSerial(), hits.Hit(i + 1).ArrivalSerial());
    EXPECT_EQ(SourceOfFailure([&] { hits.Hit(501); }),
              "5   Class: clsHists Function: Hit\rKvCorvane.clsHits");
  }
  EXPECT_EQ(pool.Size(), 0u);  // the texts went with their hits
}

TEST(clsUsers, FindsKeysInAnyCaseAndPurgesInOrder) {
  double now = 38051.5;
  common::SetClock([](void *context) { return *static_cast<double *>(context); }, &now);
  corvane::StringPool pool;
  corvane::clsUsers users(pool);
  for (const char *key : {"Visitor-Key-1", "k3", "vISITOR-kEY-1", "x\xC3\xA9", "X\xC3\x89"}) {
    users.AddTransaction(View(Request(key, "1")), 1);
  }
  testing_support::Fields end = Request("k3", "2");
  end[common::kAction] = "SESSION_END";
  users.AddTransaction(View(end), 2);
  ASSERT_EQ(users.Count(), 4);      // bytes above 127 are compared as they are
  for (int i = 0; i < 3000; ++i) {  // every third session ends
    testing_support::Fields request = Request("key" + std::to_string(i), "3");
    if (i % 3 == 0) request[common::kAction] = "SESSION_END";
    users.AddTransaction(View(request), 3);
  }
  EXPECT_EQ(users.ItemByUserKey("VISITOR-key-1")->Key(), "Visitor-Key-1");
  EXPECT_EQ(users.ItemByUserKey("visitor-key-1")->Hits().Count(), 2);
  now += 15.0 / 86400;
  users.Purge(common::Now());
  EXPECT_EQ(users.Count(), 4 + 3000);
  now += 1.0 / 86400;
  users.Purge(common::Now());
  ASSERT_EQ(users.Count(), 3 + 2000);
  EXPECT_EQ(users.Item(2).Key(), "x\xC3\xA9");
  for (int i = 0; i < 3000; ++i) {
    const corvane::clsUser *user = users.ItemByUserKey("KEY" + std::to_string(i));
    ASSERT_EQ(user != nullptr, i % 3 != 0) << i;
  }
  users.Remove(1);
  EXPECT_EQ(users.ItemByUserKey("visitor-key-1"), nullptr);
  EXPECT_EQ(users.Item(2).Key(), "X\xC3\x89");
  EXPECT_EQ(SourceOfFailure([&] { users.Item(0); }),
            "5   Class: Users  Function: Item\rKvCorvane.clsUsers");
  common::SetClock(nullptr, nullptr);
}

}  // namespace
