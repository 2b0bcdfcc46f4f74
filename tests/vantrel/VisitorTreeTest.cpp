#include <gtest/gtest.h>

#include "InPluginDirectory.h"
#include "KvError.h"
#include "clsShieldedResources.h"
#include "clsUsers.h"
#include "modKvGlobal.h"

namespace {

using vantrel::HitAction;

class VisitorTree : public vantrel_testing::InPluginDirectory {
 protected:
  VisitorTree() {
    Definitions(
        "<TRIPWIRE ACTIVE=\"1\" RESOURCE=\"/*.*\" SENSITIVITY=\"0\" STRENGTH=\"0\" "
        "INVERSE=\"0\" CARRYPARAMETERS=\"0\" />");
  }
  void Add(const char *key, double serial, const char *path = "/Shop/Cart.asp",
           const char *host = "shop", const char *address = "1.1.1.1") {
    users.AddTransaction(HitAction::kGet, serial, key, address, "r", path, "", host, 1);
  }
  vantrel::clsUsers users;
};

TEST_F(VisitorTree, KeysHostsAndPathsIgnoreCaseAndKeepTheirFirstValues) {
  vantrel::gShieldedResources();
  TraceOn();
  Add("Key", 5);
  Add("KEY", 3, "/shop/cart.ASP", "SHOP", "2.2.2.2");
  Add("key", 4, "/shop/cart.asp", "other");
  EXPECT_EQ(testing_support::ReadLines(dir.File("KvVantrelTrace.LOG")),
            (std::vector<std::string>{"Adding Hit", "\tNew User Added", "\tNew Resource Added",
                                      "\tHit Added", "Adding Hit", "\tHit Added", "Adding Hit",
                                      "\tNew Resource Added", "\tHit Added"}));
  ASSERT_EQ(users.Count(), 1);
  const vantrel::clsUser &user = users.Item(1);
  EXPECT_EQ(user.RemoteAddr(), "1.1.1.1");
  ASSERT_EQ(user.Resources().Count(), 2);
  const vantrel::clsResource &record = user.Resources().Item(1);
  EXPECT_EQ(record.Resource(), "/Shop/Cart.asp");
  EXPECT_EQ(record.Host(), "shop");
  EXPECT_EQ(record.Hits().Count(), 2);
  EXPECT_EQ(user.Resources().ItemByHostAndResource("SHOP", "/SHOP/CART.ASP"), &record);
}

TEST_F(VisitorTree, HitsStayInSerialOrderWithEqualSerialsInArrivalOrder) {
  vantrel::clsHits hits;
  hits.AddHit(HitAction::kGet, 5);
  hits.AddHit(HitAction::kPost, 3);
  hits.AddHit(HitAction::kPut, 4);
  hits.AddHit(HitAction::kHead, 3);
  hits.AddHit(HitAction::kGet, 1);
  std::string order;
  for (int32_t i = 1; i <= hits.Count(); ++i) {
    order += std::to_string(static_cast<int>(hits.Hit(i).ArrivalSerial()));
    order += hits.Hit(i).Action();
  }
  EXPECT_EQ(order, "1GET3POST3HEAD4PUT5GET");
  EXPECT_THROW(hits.Hit(0), common::KvError);
  EXPECT_THROW(hits.Hit(6), common::KvError);
}

TEST_F(VisitorTree, RemovingClosesTheGapAndKeepsLookupsRight) {
  for (const char *key : {"a", "b", "c", "d"}) Add(key, 1);
  users.Remove(2);
  users.RemoveIf([](const vantrel::clsUser &user) { return user.UserKey() == "a"; });
  ASSERT_EQ(users.Count(), 2);
  EXPECT_EQ(users.Item(1).UserKey(), "c");
  EXPECT_EQ(users.ItemByUserKey("B"), nullptr);
  EXPECT_EQ(users.ItemByUserKey("D"), &users.Item(2));
  Add("b", 2);
  EXPECT_EQ(users.Item(3).UserKey(), "b");
  try {
    users.Remove(4);
    FAIL();
  } catch (const common::KvError &error) {
    EXPECT_EQ(error.Number(), 5);
    EXPECT_EQ(error.Source(), "  Class: clsUsers  Sub: Remove\rKvVantrel.clsUsers");
  }
}

}  // namespace

namespace {

TEST(HitCorrelation, EqualsPearsonsRHoweverTheHitsArrive) {
  vantrel::clsHits hits;
  const double serials[] = {40305140709000, 40305140709100, 40305140709400,
                            40305140709600, 40305140709350, 40305140710000,
                            40305140710000, 40305140759999, 40305140800001};
  for (double serial : serials) {
    hits.AddHit(HitAction::kGet, serial);
    EXPECT_EQ(hits.Correlation(), common::PearsonsR(hits)) << hits.Count() << " hits";
    if (hits.Count() == 4) {
      EXPECT_EQ(hits.Correlation(), 0.821994960308075f);
    }
  }
  hits.Clear();
  EXPECT_EQ(hits.Correlation(), 0.0f);
}

}  // namespace

namespace {

// The serial of a moment some milliseconds after 14:00 on 5 March 2004.
double SerialAfter(int64_t milliseconds) {
  const int64_t seconds = milliseconds / 1000;
  return 40305000000000.0 +
         static_cast<double>((14 + seconds / 3600) * 10'000'000 + seconds / 60 % 60 * 100'000 +
                             seconds % 60 * 1000 + milliseconds % 1000);
}

TEST(HitsOfARecord, KeepTheLatestAtTheCapAndCorrelateOverThemOnly) {
  constexpr int32_t kCap = vantrel::clsHits::kKeptHits;
  std::vector<double> serials;
  int64_t now = 0;
  for (int32_t i = 0; i < kCap + 100; ++i) {
    now += i < 100 ? 5000 : 1 + i * 7 % 13;  // a slow start, then an uneven flood
    serials.push_back(SerialAfter(now));
  }
  vantrel::clsHits hits;
  for (double serial : serials) hits.AddHit(HitAction::kGet, serial);
  ASSERT_EQ(hits.Count(), kCap);
  EXPECT_EQ(hits.Hit(1).ArrivalSerial(), serials[100]);
  EXPECT_EQ(hits.Hit(kCap).ArrivalSerial(), serials.back());
  vantrel::clsHits latest;
  for (size_t i = 100; i < serials.size(); ++i) latest.AddHit(HitAction::kGet, serials[i]);
  EXPECT_EQ(hits.Correlation(), latest.Correlation());
  EXPECT_EQ(hits.Correlation(), common::PearsonsR(hits));

  // A hit earlier than every one kept is not kept; a later one takes its place in serial order.
  hits.AddHit(HitAction::kPost, serials[50]);
  EXPECT_EQ(hits.Hit(1).ArrivalSerial(), serials[100]);
  hits.AddHit(HitAction::kPut, serials[200]);
  EXPECT_EQ(hits.Count(), kCap);
  EXPECT_EQ(hits.Hit(1).ArrivalSerial(), serials[101]);
  EXPECT_EQ(hits.Hit(100).ArrivalSerial(), serials[200]);
  EXPECT_EQ(hits.Hit(100).Action(), "GET");
  EXPECT_EQ(hits.Hit(101).Action(), "PUT");
  EXPECT_EQ(hits.Hit(kCap).ArrivalSerial(), serials.back());
  for (int32_t i = 2; i <= kCap; ++i) {
    ASSERT_LE(hits.Hit(i - 1).ArrivalSerial(), hits.Hit(i).ArrivalSerial()) << i;
  }
  EXPECT_EQ(hits.Correlation(), common::PearsonsR(hits));
  hits.AddHit(HitAction::kHead, serials.back());
  EXPECT_EQ(hits.Hit(kCap).Action(), "HEAD");
  EXPECT_EQ(hits.Correlation(), common::PearsonsR(hits));
}

}  // namespace
