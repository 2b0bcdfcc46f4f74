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
