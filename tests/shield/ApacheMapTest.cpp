// The Apache RewriteMap text file: one line per shield, and nothing Apache could misread.
#include "shield/ApacheMap.h"

#include <gtest/gtest.h>

#include "MapTesting.h"
#include "ShieldTesting.h"

namespace {

using host::ApacheMap;
using host::Shield;
using shield_testing::MakeShield;

// The map file of these shields, raised in this order.
std::string Render(std::vector<Shield> shields) {
  return shield_testing::RenderMap(ApacheMap::AppendEntry, false, std::move(shields));
}

TEST(ApacheMap, WritesOneLinePerShieldKeyedByAddressHostAndPath) {
  EXPECT_EQ(Render({MakeShield(),
                    MakeShield("2001:DB8::1", "Shop.Test", "/caf\xC3\xA9/x.php",
                               "/sorry/x.htm?from=shield"),
                    MakeShield("127.0.0.66", "shop.test", "/Admin/login.php"),
                    MakeShield("127.0.0.66", "shop.test", "/a\"b;c{d}e'f")}),
            "127.0.0.66|shop.test|/admin/login.php /deflect.html\n"
            "2001:db8::1|shop.test|/caf\xC3\xA9/x.php /sorry/x.htm?from=shield\n"
            "127.0.0.66|shop.test|/Admin/login.php /deflect.html\n"
            "127.0.0.66|shop.test|/a\"b;c{d}e'f /deflect.html\n");
}

TEST(ApacheMap, RefusesWhatApacheWouldReadDifferently) {
  EXPECT_EQ(ApacheMap::Refusal(MakeShield()), "");
  const std::string hostBreak =
      "its host holds white space or a NUL byte, which an Apache RewriteMap key cannot hold";
  const std::string resourceBreak =
      "its resource holds white space or a NUL byte, which an Apache RewriteMap key cannot hold";
  const std::string deflectBreak =
      "its deflect path holds white space or a NUL byte, which an Apache RewriteMap value "
      "cannot hold";
  for (const std::string &piece :
       std::vector<std::string>{" ", "\t", "\r\n", "\n", "\v", "\f", std::string(1, '\0')}) {
    EXPECT_EQ(ApacheMap::Refusal(MakeShield("127.0.0.66", "a" + piece + "b")), hostBreak);
    EXPECT_EQ(ApacheMap::Refusal(MakeShield("127.0.0.66", "h", "/a" + piece + "b")), resourceBreak);
    EXPECT_EQ(ApacheMap::Refusal(MakeShield("127.0.0.66", "h", "/x", "/d" + piece)), deflectBreak);
  }
  EXPECT_EQ(ApacheMap::Refusal(MakeShield("127.0.0.66", "shop.test|/index.html")),
            "its host holds '|', which separates the parts of an Apache RewriteMap key");
  EXPECT_EQ(ApacheMap::Refusal(MakeShield("127.0.0.66", "h", "/a|b")), "");
  EXPECT_EQ(ApacheMap::Refusal(MakeShield("127.0.0.66", "h", "/x", "")), "it has no deflect path");
  // 127.0.0.66|h|<path> /deflect.html: 1023 bytes at most, the line end not counted.
  const size_t room = 1023 - 10 - 1 - 3 - 13;
  EXPECT_EQ(ApacheMap::Refusal(MakeShield("127.0.0.66", "h", std::string(room, 'p'))), "");
  EXPECT_EQ(ApacheMap::Refusal(MakeShield("127.0.0.66", "h", std::string(room + 1, 'p'))),
            "its line would be longer than the 1023 bytes Apache reads from a RewriteMap text "
            "file line");
  EXPECT_EQ(Render({MakeShield("127.0.0.66", "h", "/a b"), MakeShield("127.0.0.67", "h", "/x")}),
            "127.0.0.67|h|/x /deflect.html\n");
}

// Every byte value on its own: refused exactly where Apache would split or end the line, and a
// '|' only in the host, where it would move the key's separators.
TEST(ApacheMap, RefusesEveryByteValueApacheWouldReadOtherwiseAndNoOther) {
  const std::string_view breaks(" \t\n\v\f\r\0", 7);
  for (int value = 0; value < 256; ++value) {
    const std::string byte(1, static_cast<char>(value));
    const bool isBreak = breaks.find(byte[0]) != std::string_view::npos;
    EXPECT_EQ(ApacheMap::Refusal(MakeShield("127.0.0.66", "a" + byte + "b")).empty(),
              !isBreak && byte != "|")
        << value;
    EXPECT_EQ(ApacheMap::Refusal(MakeShield("127.0.0.66", "h", "/a" + byte)).empty(), !isBreak)
        << value;
    EXPECT_EQ(ApacheMap::Refusal(MakeShield("127.0.0.66", "h", "/x", "/d" + byte)).empty(),
              !isBreak)
        << value;
    EXPECT_EQ(ApacheMap::AddressRefusal(MakeShield("127.0.0.66", "", "", "/d" + byte)).empty(),
              !isBreak)
        << value;
  }
}

// The map of whole addresses: the address alone as its key, nothing Apache would split.
TEST(ApacheMap, WritesTheMapOfWholeAddressesKeyedByTheAddressAlone) {
  EXPECT_EQ(shield_testing::RenderMap(ApacheMap::AppendAddressEntry, false,
                                      {MakeShield("127.0.0.66", "", ""),
                                       MakeShield("2001:DB8:0:0:1:0:0:1", "", "", "/a\"b;c'd|e"),
                                       MakeShield("::ffff:127.0.0.67", "", "", "/sorry.html")}),
            "127.0.0.66 /deflect.html\n"
            "2001:db8::1:0:0:1 /a\"b;c'd|e\n"
            "127.0.0.67 /sorry.html\n");
  for (const std::string &piece :
       std::vector<std::string>{" ", "\t", "\r\n", "\n", std::string(1, '\0')}) {
    EXPECT_EQ(ApacheMap::AddressRefusal(MakeShield("127.0.0.66", "", "", "/d" + piece + "e")),
              "its deflect path holds white space or a NUL byte, which an Apache RewriteMap value "
              "cannot hold");
  }
  EXPECT_EQ(ApacheMap::AddressRefusal(MakeShield("127.0.0.66", "", "", "")),
            "it has no deflect path");
  // "127.0.0.66 " and the deflect path: 1023 bytes at most.
  EXPECT_EQ(ApacheMap::AddressRefusal(MakeShield("127.0.0.66", "", "", std::string(1012, 'd'))),
            "");
  EXPECT_EQ(ApacheMap::AddressRefusal(MakeShield("127.0.0.66", "", "", std::string(1013, 'd'))),
            "its line would be longer than the 1023 bytes Apache reads from a RewriteMap text "
            "file line");
  std::string line;
  EXPECT_FALSE(ApacheMap::AppendAddressEntry(line, MakeShield("127.0.0.66", "", "", "/a b")));
  EXPECT_EQ(line, "");
}

}  // namespace
