// Address lists as an operator writes them, and the addresses shields carry.
#include "base/AddressRanges.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "base/IpAddress.h"

namespace {

using host::AddressRanges;
using host::IpAddress;

std::string Canonical(const std::string &text) {
  IpAddress address;
  return IpAddress::Parse(text, address) ? address.Text() : "invalid";
}

TEST(IpAddress, AcceptsOnlyPlainAddressesAndPrintsThemAsWebServersDo) {
  EXPECT_EQ(Canonical("127.0.0.66"), "127.0.0.66");
  EXPECT_EQ(Canonical("2001:DB8:0:0:0:0:0:1"), "2001:db8::1");
  EXPECT_EQ(Canonical("::ffff:10.1.2.3"), "10.1.2.3");
  EXPECT_EQ(Canonical("::1"), "::1");
  for (const char *bad : {"", "127.0.0", "127.0.0.256", "010.0.0.1", "1.2.3.4 ", " 1.2.3.4",
                          "1.2.3.4/32", "fe80::1%eth0", "[::1]", "1.2.3.4:80", "example.com",
                          "1.2.3.4; rm -rf /", "1.2.3.4\n5.6.7.8"}) {
    EXPECT_FALSE(IpAddress::IsValid(bad)) << bad;
  }
  EXPECT_FALSE(IpAddress::IsValid(std::string("1.2.3.4\0x", 9)));
  EXPECT_FALSE(IpAddress::IsValid(std::string(200, '1')));
}

TEST(AddressRanges, HoldsTheAddressesOfEachRangeAndNoOthers) {
  const AddressRanges ranges =
      AddressRanges::Parse("127.0.0.0/8, ::1,10.0.0.0/8  2001:db8::/32, 192.168.1.7");
  for (const char *inside : {"127.0.0.1", "127.255.0.66", "::1", "10.200.3.4", "2001:db8:ffff::9",
                             "192.168.1.7", "::ffff:127.0.0.5"}) {
    EXPECT_TRUE(ranges.Contains(inside)) << inside;
  }
  for (const char *outside : {"128.0.0.1", "::2", "11.0.0.1", "2001:db9::1", "192.168.1.8",
                              "9.255.255.255", "", "not an address", "10.0.0.0/8"}) {
    EXPECT_FALSE(ranges.Contains(outside)) << outside;
  }
  EXPECT_TRUE(AddressRanges::Parse("0.0.0.0/0").Contains("203.0.113.9"));
  EXPECT_FALSE(AddressRanges::Parse("0.0.0.0/0").Contains("2001:db8::1"));
  // Host bits under the prefix do not matter.
  EXPECT_TRUE(AddressRanges::Parse("10.1.2.3/16").Contains("10.1.99.99"));
  EXPECT_TRUE(AddressRanges::Parse("2001:db8::1/127").Contains("2001:db8::"));
  EXPECT_FALSE(AddressRanges::Parse("2001:db8::1/127").Contains("2001:db8::2"));
  EXPECT_TRUE(AddressRanges::Parse("").Empty());
  EXPECT_FALSE(AddressRanges::Parse("").Contains("127.0.0.1"));
}

TEST(AddressRanges, ManyRangesOfOneLengthAreFoundByLookup) {
  std::string list;
  for (int i = 0; i < 256; ++i) list += "10." + std::to_string(i) + ".0.0/16,";
  const AddressRanges ranges = AddressRanges::Parse(list);
  EXPECT_TRUE(ranges.Contains("10.0.0.1"));
  EXPECT_TRUE(ranges.Contains("10.128.7.7"));
  EXPECT_TRUE(ranges.Contains("10.255.255.255"));
  EXPECT_FALSE(ranges.Contains("11.0.0.1"));
}

TEST(AddressRanges, NamesTheEntryItCannotRead) {
  EXPECT_EQ(AddressRanges::Problem("127.0.0.0/8, 10.0.0.0/33"),
            "'10.0.0.0/33': the prefix length of an IPv4 range is 0 to 32");
  EXPECT_EQ(AddressRanges::Problem("::1/129"),
            "'::1/129': the prefix length of an IPv6 range is 0 to 128");
  EXPECT_EQ(AddressRanges::Problem("localhost"), "'localhost' is not an IPv4 or IPv6 address");
  EXPECT_EQ(AddressRanges::Problem("10.0.0.0/"),
            "'10.0.0.0/': the prefix length of an IPv4 range is 0 to 32");
  EXPECT_EQ(AddressRanges::Problem("10.0.0.0/-1"),
            "'10.0.0.0/-1': the prefix length of an IPv4 range is 0 to 32");
  EXPECT_EQ(AddressRanges::Problem("10.0.0.0 /8"), "'/8' is not an IPv4 or IPv6 address");
  EXPECT_EQ(AddressRanges::Problem("10.0.0.0/8;"),
            "'10.0.0.0/8;': the prefix length of an IPv4 range is 0 to 32");
  EXPECT_EQ(AddressRanges::Problem(" , 127.0.0.0/8 ,, ::1 "), "");
  EXPECT_THROW(AddressRanges::Parse("1.2.3"), std::invalid_argument);
}

}  // namespace
