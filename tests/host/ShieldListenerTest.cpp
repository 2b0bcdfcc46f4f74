#include "ShieldListener.h"

#include <gtest/gtest.h>

namespace {

TEST(ShieldListener, DecodesTheParametersOfAShieldRequest) {
  host::ShieldRequest shield;
  ASSERT_TRUE(host::ParseShieldRequest(
      "GET /flowdeck/shield?A=add&B=203.0.113.66&C=1&D=shop&E=/admin/a%20b.php&F=/sorry/"
      "login.htm&G=1&H=0&I=1",
      shield));
  EXPECT_EQ(shield.address, "203.0.113.66");
  EXPECT_EQ(shield.host, "shop");
  EXPECT_EQ(shield.resource, "/admin/a b.php");
  EXPECT_EQ(shield.deflect, "/sorry/login.htm");
  EXPECT_FALSE(host::ParseShieldRequest("POST /x?B=1", shield));
  EXPECT_FALSE(host::ParseShieldRequest("GET /x?C=1", shield));
}

}  // namespace
