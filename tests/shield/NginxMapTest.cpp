// The nginx map file: one safe entry per shield, and a file nginx always accepts.
#include "shield/NginxMap.h"

#include "shield/ActiveShields.h"
#include "shield/MapLines.h"

#include <gtest/gtest.h>

#include <map>

#include "MapTesting.h"
#include "ShieldTesting.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace {

using host::ActiveShields;
using host::NginxMap;
using host::Shield;
using shield_testing::MakeShield;

// The map file of these shields, raised in this order.
std::string Render(std::vector<Shield> shields) {
  return shield_testing::RenderMap(NginxMap::AppendEntry, true, std::move(shields));
}

std::string Entry(const Shield &shield) {
  std::string line;
  NginxMap::AppendEntry(line, shield);
  return line;
}

TEST(NginxMap, WritesOneLinePerShieldKeyedByAddressHostAndPath) {
  EXPECT_EQ(Render({MakeShield(), MakeShield("2001:DB8::1", "Shop.Test", "/caf\xC3\xA9/x.php",
                                             "/sorry/x.htm?from=shield")}),
            "\"127.0.0.66 shop.test /admin/login.php\" /deflect.html;\n"
            "\"2001:db8::1 shop.test /caf\xC3\xA9/x.php\" /sorry/x.htm?from=shield;\n");
  EXPECT_EQ(Render({}), "");
}

TEST(NginxMap, EscapesEveryByteThatWouldEndTheEntryOrStartAnother) {
  EXPECT_EQ(Entry(MakeShield("127.0.0.66", "shop.test", "/a\"b\\c\r\nd\te f;g{h}i#j'k$l")),
            "\"127.0.0.66 shop.test /a\\\"b\\\\c\\r\\nd\\te f;g{h}i#j'k$l\" /deflect.html;\n");
  EXPECT_EQ(Entry(MakeShield("127.0.0.66", "a\"; }", "/x", "/d e;f{g}h\"i\\j#k'l\r\n")),
            "\"127.0.0.66 a\\\"; } /x\" \"/d e;f{g}h\\\"i\\\\j#k'l\\r\\n\";\n");
  // A deflect path of plain characters stays bare, as operators' scripts expect.
  EXPECT_EQ(Entry(MakeShield("127.0.0.66", "h", "/x", "/a-b_c.d~e%20f&g=h?i+j,k:l@m!n*o")),
            "\"127.0.0.66 h /x\" /a-b_c.d~e%20f&g=h?i+j,k:l@m!n*o;\n");
}

TEST(NginxMap, WritesOnceTheShieldsNginxCannotTellApart) {
  // nginx folds keys to lower case and stops on a key it has twice.
  host::MapLines lines(NginxMap::AppendEntry, true);
  std::vector<Shield> shields = {MakeShield("127.0.0.66", "shop.test", "/Admin"),
                                 MakeShield("127.0.0.66", "SHOP.test", "/admin", "/other.html"),
                                 MakeShield("127.0.0.66", "shop.test", "/ADMIN"),
                                 MakeShield("127.0.0.66", "other.test", "/admin"),
                                 MakeShield("127.0.0.67", "shop.test", "/admin")};
  for (Shield &shield : shields) {
    ActiveShields::Normalize(shield);
    lines.Raise(shield);
  }
  std::string file;
  lines.Render(file);
  EXPECT_EQ(file,
            "\"127.0.0.66 shop.test /Admin\" /deflect.html;\n"
            "\"127.0.0.66 other.test /admin\" /deflect.html;\n"
            "\"127.0.0.67 shop.test /admin\" /deflect.html;\n");
  // The key stays in the file while any of its shields is in force.
  lines.Lift(shields[0]);
  lines.Lift(shields[2]);
  lines.Render(file);
  EXPECT_EQ(file,
            "\"127.0.0.66 other.test /admin\" /deflect.html;\n"
            "\"127.0.0.67 shop.test /admin\" /deflect.html;\n"
            "\"127.0.0.66 shop.test /admin\" /other.html;\n");
  lines.Lift(shields[1]);
  lines.Render(file);
  EXPECT_EQ(file,
            "\"127.0.0.66 other.test /admin\" /deflect.html;\n"
            "\"127.0.0.67 shop.test /admin\" /deflect.html;\n");
}

TEST(NginxMap, RefusesWhatItCannotWriteSafelyAndLeavesItOut) {
  EXPECT_EQ(NginxMap::Refusal(MakeShield()), "");
  EXPECT_EQ(NginxMap::Refusal(MakeShield("127.0.0.66", "h", "/x", "/d$host")),
            "its deflect path holds '$', which nginx would read as a variable");
  EXPECT_EQ(NginxMap::Refusal(MakeShield("127.0.0.66", "h", "/x", "")), "it has no deflect path");
  EXPECT_EQ(NginxMap::Refusal(MakeShield("127.0.0.66", "h", std::string("/x\0y", 4))),
            "it holds a NUL byte, which an nginx configuration cannot carry");
  const std::string tooLong =
      "its map entry would hold a parameter longer than nginx reads (4000 bytes)";
  // The key holds the address, two blanks, the host and the path, quoted: 4000 bytes at most.
  const std::string fits(4000 - 2 - 10 - 2 - 1, 'a');
  EXPECT_EQ(NginxMap::Refusal(MakeShield("127.0.0.66", "h", "/" + fits.substr(1))), "");
  EXPECT_EQ(NginxMap::Refusal(MakeShield("127.0.0.66", "h", "/" + fits)), tooLong);
  EXPECT_EQ(NginxMap::Refusal(MakeShield("127.0.0.66", "h", "/" + fits.substr(2) + "\"")), tooLong);
  EXPECT_EQ(NginxMap::Refusal(MakeShield("127.0.0.66", "h", "/x", "/" + std::string(4000, 'd'))),
            tooLong);
  EXPECT_EQ(
      Render({MakeShield("127.0.0.66", "h", "/x", "/d$x"), MakeShield("127.0.0.67", "h", "/x")}),
      "\"127.0.0.67 h /x\" /deflect.html;\n");
}

// Every byte value on its own: a deflect path stays bare only of the bytes nginx reads bare, the
// five bytes nginx turns back from an escape are escaped wherever they stand, '$' never reaches
// a value and a NUL reaches no entry.
TEST(NginxMap, WritesEveryByteValueAsNginxReadsIt) {
  const std::string_view bare =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-~%&?=+,:@!*";
  const std::map<char, std::string> escapes = {
      {'"', "\\\""}, {'\\', "\\\\"}, {'\r', "\\r"}, {'\n', "\\n"}, {'\t', "\\t"}};
  for (int value = 0; value < 256; ++value) {
    const std::string byte(1, static_cast<char>(value));
    const std::string escaped = escapes.contains(byte[0]) ? escapes.at(byte[0]) : byte;
    const std::string inResource = Entry(MakeShield("127.0.0.66", "h", "/x" + byte));
    const std::string inDeflect = Entry(MakeShield("127.0.0.66", "h", "/x", "/d" + byte));
    if (value == 0) {
      EXPECT_EQ(inResource + inDeflect, "");
      continue;
    }
    EXPECT_EQ(inResource, "\"127.0.0.66 h /x" + escaped + "\" /deflect.html;\n") << value;
    if (byte == "$") {
      EXPECT_EQ(inDeflect, "");
      continue;
    }
    const std::string deflect =
        bare.find(byte[0]) != std::string_view::npos ? "/d" + byte : "\"/d" + escaped + "\"";
    EXPECT_EQ(inDeflect, "\"127.0.0.66 h /x\" " + deflect + ";\n") << value;
  }
}

// The map of whole addresses over $remote_addr: the address as nginx prints it, alone in the
// key; the deflect path written as in the map of resources.
TEST(NginxMap, WritesTheMapOfWholeAddressesKeyedByTheAddressAlone) {
  EXPECT_EQ(
      shield_testing::RenderMap(
          NginxMap::AppendAddressEntry, true,
          {MakeShield("127.0.0.66", "", "", "/deflect.html"),
           MakeShield("2001:DB8:0:0:1:0:0:1", "", "", "/sorry page.html"),
           MakeShield("::ffff:127.0.0.67", "", "", "/d\"e\\f;g{h}#i"),
           // The same address written otherwise: the shield renewed, with its new deflect path.
           MakeShield("2001:db8::1:0:0:1", "", "", "/renewed.html")}),
      "127.0.0.66 /deflect.html;\n"
      "127.0.0.67 \"/d\\\"e\\\\f;g{h}#i\";\n"
      "2001:db8::1:0:0:1 /renewed.html;\n");
  EXPECT_EQ(NginxMap::AddressRefusal(MakeShield("127.0.0.66", "", "", "/d$remote_addr")),
            "its deflect path holds '$', which nginx would read as a variable");
  EXPECT_EQ(NginxMap::AddressRefusal(MakeShield("127.0.0.66", "", "", "")),
            "it has no deflect path");
  EXPECT_EQ(
      NginxMap::AddressRefusal(MakeShield("127.0.0.66", "", "", "/" + std::string(3999, 'd'))), "");
  EXPECT_EQ(
      NginxMap::AddressRefusal(MakeShield("127.0.0.66", "", "", "/" + std::string(4000, 'd'))),
      "its map entry would hold a parameter longer than nginx reads (4000 bytes)");
  std::string line;
  EXPECT_FALSE(NginxMap::AppendAddressEntry(line, MakeShield("127.0.0.66", "", "", "/$x")));
  EXPECT_EQ(line, "");
}

// Values that try to end an entry, open or close a block, or add a line, in every field.
std::vector<Shield> HostileShields() {
  std::vector<Shield> shields;
  int n = 0;
  for (const std::string piece : {"\"", ";", "{", "}", "\r\n", " ", "\\", "#", "'", "\t", "\\\"",
                                  "\" /evil; \"127.0.0.67 shop.test /index.html"}) {
    const std::string address = "127.0.1." + std::to_string(++n);
    shields.push_back(MakeShield(address, "shop" + piece + ".test"));
    shields.push_back(MakeShield(address, "shop.test", "/x" + piece + "y"));
    shields.push_back(MakeShield(address, "shop.test", "/z", "/d" + piece + "e"));
    shields.push_back(MakeShield(address, "shop.test", piece + "/w", piece + "/e"));
  }
  shields.push_back(MakeShield("127.0.2.1", "shop.test", "/long/" + std::string(3900, 'l')));
  return shields;
}

TEST(NginxMap, NginxAcceptsAMapOfHostileValues) {
  if (!testing_support::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  testing_support::NginxServer server;
  server.SetHttpLines(
      shield_testing::SnippetWith("nginx-shields-http.conf", server.File("shields.map")));
  const std::vector<Shield> shields = HostileShields();
  const std::string map = Render(shields);
  EXPECT_EQ(std::count(map.begin(), map.end(), '\n'), static_cast<long>(shields.size()));
  testing_support::WriteFile(server.File("shields.map"), map);
  // The same deflect paths in the map of whole addresses.
  std::vector<Shield> whole;
  for (size_t i = 0; i < shields.size(); ++i)
    whole.push_back(MakeShield("127.0.3." + std::to_string(i), "", "", shields[i].deflect));
  whole.push_back(MakeShield("2001:db8::1", "", "", "/sorry page.html"));
  const std::string addressMap =
      shield_testing::RenderMap(NginxMap::AppendAddressEntry, true, whole);
  EXPECT_EQ(std::count(addressMap.begin(), addressMap.end(), '\n'),
            static_cast<long>(whole.size()));
  testing_support::WriteFile(server.File("address-shields.map"), addressMap);
  std::string output;
  EXPECT_TRUE(server.TestConfiguration(output)) << output << "\n" << map << addressMap;
}

}  // namespace
