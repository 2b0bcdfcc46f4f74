// The values of a shield request that a web server would read otherwise than meant: a deflect
// path that leaves the site, a host that moves the parts of a map key.
#include "shield/ShieldValues.h"

#include <gtest/gtest.h>

#include "ShieldTesting.h"

namespace {

using host::ShieldValues;

TEST(ShieldValues, ADeflectPathStaysInsideTheSite) {
  for (const char *fine :
       {"/", "/sorry.htm", "/a/.../b", "/sorry/..htm", "/sorry/x..", "/.well-known/x",
        "/sorry page.htm", "/\"quoted\"'", "/a%20b", "/100%25.htm", "/caf\xC3\xA9.htm", "/x?y=1",
        "/a/b/", "/%", "/%2", "/%zz"}) {
    EXPECT_EQ(ShieldValues::DeflectRefusal(fine), "") << fine;
  }
  EXPECT_EQ(ShieldValues::DeflectRefusal(""), "") << "no deflect sends nobody anywhere";

  const std::string notAPath =
      "its deflect path does not begin with '/', so it is no path of the site";
  for (const char *elsewhere : {"sorry.htm", "http://evil.test/x", "http:x", "javascript:x",
                                " /sorry.htm", "\\sorry.htm", "%2fsorry.htm"}) {
    EXPECT_EQ(ShieldValues::DeflectRefusal(elsewhere), notAPath) << elsewhere;
  }
  EXPECT_EQ(ShieldValues::DeflectRefusal("//evil.test/x"),
            "its deflect path begins with '//', which names another host");

  const std::string dots = "its deflect path holds a '.' or '..' segment";
  for (const char *climbing : {"/..", "/.", "/../../etc/passwd", "/a/./b", "/a/../b", "/a/..",
                               "/a/.", "/a/..;/b", "/a/..?x", "/a/.#x", "/a//../b"}) {
    EXPECT_EQ(ShieldValues::DeflectRefusal(climbing), dots) << climbing;
  }
  for (const char *encoded : {"/%2e%2e/etc/passwd", "/a/%2E%2e", "/a/.%2e/b", "/a/%2e"}) {
    EXPECT_EQ(ShieldValues::DeflectRefusal(encoded), dots + " once percent-decoded") << encoded;
  }
  EXPECT_EQ(ShieldValues::DeflectRefusal("/a/%252e%252e/b"), dots + " once percent-decoded");

  const std::string separator = "its deflect path holds an encoded '/' or '\\'";
  for (const char *encoded : {"/%2F", "/a%2fb", "/a%5Cb", "/a%5c..%5cb"}) {
    EXPECT_EQ(ShieldValues::DeflectRefusal(encoded), separator) << encoded;
  }
  EXPECT_EQ(ShieldValues::DeflectRefusal("/a%252fb"), separator + " once percent-decoded");
  EXPECT_EQ(ShieldValues::DeflectRefusal("/a\\b"), "its deflect path holds '\\'");
  EXPECT_EQ(ShieldValues::DeflectRefusal("/a%5Gb\\"), "its deflect path holds '\\'");
  EXPECT_EQ(ShieldValues::DeflectRefusal(std::string("/a\0b", 4)),
            "its deflect path holds a control character");
  for (const char *control : {"/a\r\nb", "/a\tb", "/a\x7f"}) {
    EXPECT_EQ(ShieldValues::DeflectRefusal(control), "its deflect path holds a control character");
  }
  for (const char *encoded : {"/a%00b", "/a%0d%0aX: y", "/a%7F", "/a%2509"}) {
    EXPECT_EQ(ShieldValues::DeflectRefusal(encoded),
              "its deflect path holds a control character once percent-decoded")
        << encoded;
  }
  // Decoded as often as kDecodings: one more encoding is refused as it is.
  EXPECT_EQ(ShieldValues::DeflectRefusal("/a%252541"), "");
  EXPECT_EQ(ShieldValues::DeflectRefusal("/a%25252541"),
            "its deflect path is still percent-encoded after 3 decodings");
}

TEST(ShieldValues, AHostHoldsNothingThatMovesTheSplitOfAKey) {
  for (const char *fine : {"", "shop.test", "SHOP.test", "shop-1.test", "my_host", "127.0.0.1",
                           "[2001:db8::1]", "shop.test:8080", "xn--caf-dma.test"}) {
    EXPECT_EQ(ShieldValues::HostRefusal(fine), "") << fine;
  }
  const std::string refused =
      "its host holds a character no host name or address holds (only letters, digits, '-', "
      "'_', '.', ':', '[' and ']')";
  for (const char *hostile : {"a b", "a\tb", "a|b", "a\"b", "a/b", "a\\b", "a;b", "caf\xC3\xA9",
                              "a%20b", "a\nb", "a$b"}) {
    EXPECT_EQ(ShieldValues::HostRefusal(hostile), refused) << hostile;
  }
  EXPECT_EQ(ShieldValues::HostRefusal(std::string("a\0b", 3)), refused);

  // The pair that made one nginx key: "203.0.113.70 a b /c".
  EXPECT_EQ(ShieldValues::Refusal(shield_testing::MakeShield("203.0.113.70", "a b", "/c")),
            refused);
  EXPECT_EQ(ShieldValues::Refusal(shield_testing::MakeShield("203.0.113.70", "a", "b /c")), "");
  EXPECT_EQ(ShieldValues::Refusal(shield_testing::MakeShield("203.0.113.70", "a", "/c", "/../x")),
            "its deflect path holds a '.' or '..' segment");
}

// A whole-address shield has neither host nor resource; one of them missing alone does not make
// a shield of every page.
TEST(ShieldValues, OnlyAShieldWithNeitherHostNorResourceCoversTheWholeAddress) {
  using shield_testing::MakeShield;
  EXPECT_TRUE(MakeShield("127.0.0.66", "", "").WholeAddress());
  EXPECT_FALSE(MakeShield("127.0.0.66", "", "/admin/login.php").WholeAddress());
  EXPECT_FALSE(MakeShield("127.0.0.66", "shop.test", "").WholeAddress());
  EXPECT_FALSE(MakeShield().WholeAddress());
  EXPECT_EQ(ShieldValues::Refusal(MakeShield("127.0.0.66", "", "")), "");
  EXPECT_EQ(ShieldValues::Refusal(MakeShield("127.0.0.66", "", "", "/../secret.txt")),
            "its deflect path holds a '.' or '..' segment");
}

}  // namespace
