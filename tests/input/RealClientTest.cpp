// The visitor behind trusted proxies: the rightmost address of the forwarded chain that is
// not a trusted proxy.
#include "input/RealClient.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using host::LogRecord;
using host::RealClient;
using Outcome = host::RealClient::Outcome;

// Address ranges "10.0.0.0/8" or "2001:db8::/32" as the test's trust predicate.
RealClient::TrustedProxy Ranges(std::vector<std::string> ranges) {
  return [ranges](std::string_view address) {
    unsigned char want[16] = {}, have[16] = {};
    const std::string text(address);
    const int family = text.find(':') == std::string::npos ? AF_INET : AF_INET6;
    if (inet_pton(family, text.c_str(), have) != 1) return false;
    for (const std::string &range : ranges) {
      const size_t slash = range.find('/');
      const std::string base = range.substr(0, slash);
      if ((base.find(':') == std::string::npos ? AF_INET : AF_INET6) != family) continue;
      if (inet_pton(family, base.c_str(), want) != 1) continue;
      int bits = std::stoi(range.substr(slash + 1));
      bool inside = true;
      for (int i = 0; bits > 0; ++i, bits -= 8) {
        const int mask = bits >= 8 ? 0xff : (0xff << (8 - bits)) & 0xff;
        inside = inside && (want[i] & mask) == (have[i] & mask);
      }
      if (inside) return true;
    }
    return false;
  };
}

struct Case {
  const char *connecting, *chain, *client;
  Outcome outcome;
};

TEST(RealClient, TakesTheRightmostAddressThatIsNoTrustedProxy) {
  const RealClient real(Ranges({"10.0.0.0/8", "192.168.1.0/24", "2001:db8:ffff::/48"}));
  const Case cases[] = {
      // A proxy connects: the client it names, past the proxies before it.
      {"10.0.0.1", "203.0.113.9", "203.0.113.9", Outcome::kForwarded},
      {"10.0.0.1", "203.0.113.9, 192.168.1.7, 10.2.3.4", "203.0.113.9", Outcome::kForwarded},
      // A client that sends its own header cannot choose its address: the spoofed entries
      // stand left of the address the first proxy saw.
      {"10.0.0.1", "1.1.1.1, 10.9.9.9, 198.51.100.23", "198.51.100.23", Outcome::kForwarded},
      // Every entry a proxy: the leftmost.
      {"10.0.0.1", "10.0.0.7, 192.168.1.3", "10.0.0.7", Outcome::kForwarded},
      // An untrusted connecting address: its header is nobody's word.
      {"198.51.100.5", "10.0.0.1, 1.2.3.4", "198.51.100.5", Outcome::kConnecting},
      {"10.0.0.1", "", "10.0.0.1", Outcome::kConnecting},
      // IPv6, with and without brackets and ports; IPv4 with a port.
      {"2001:db8:ffff::1", "2001:db8:1::5", "2001:db8:1::5", Outcome::kForwarded},
      {"10.0.0.1", "[2001:db8:1::5]:4711, [2001:db8:ffff::2]", "2001:db8:1::5",
       Outcome::kForwarded},
      {"10.0.0.1", "203.0.113.9:51234", "203.0.113.9", Outcome::kForwarded},
      // A value that is no address: the connecting address stays, and it is told.
      {"10.0.0.1", "unknown", "10.0.0.1", Outcome::kUnreadable},
      {"10.0.0.1", "203.0.113.9, garbage", "10.0.0.1", Outcome::kUnreadable},
      {"10.0.0.1", " , ,, ,", "10.0.0.1", Outcome::kUnreadable},
      {"10.0.0.1", "999.1.1.1", "10.0.0.1", Outcome::kUnreadable},
      {"10.0.0.1", "[2001:db8::1", "10.0.0.1", Outcome::kUnreadable},
      // Past the first untrusted entry nothing is read: a bad entry there does not matter.
      {"10.0.0.1", "garbage, 203.0.113.9", "203.0.113.9", Outcome::kForwarded},
      // Empty entries between commas are passed over.
      {"10.0.0.1", "203.0.113.9,,, 10.0.0.3 ,", "203.0.113.9", Outcome::kForwarded},
  };
  for (const Case &c : cases) {
    LogRecord record;
    record.client = c.connecting;
    record.forwardedFor = c.chain;
    EXPECT_EQ(real.Apply(record), c.outcome) << c.connecting << " | " << c.chain;
    EXPECT_EQ(record.client, c.client) << c.connecting << " | " << c.chain;
  }
}

TEST(RealClient, TrustsTheRangesOfTrustedProxies) {
  const RealClient real(host::AddressRanges::Parse("10.0.0.0/8, 2001:db8:ffff::/48"));
  EXPECT_TRUE(real.TrustsAny());
  LogRecord record;
  record.client = "2001:db8:ffff::9";
  record.forwardedFor = "203.0.113.9, 10.1.2.3";
  EXPECT_EQ(real.Apply(record), Outcome::kForwarded);
  EXPECT_EQ(record.client, "203.0.113.9");
  EXPECT_FALSE(RealClient(host::AddressRanges()).TrustsAny());
}

TEST(RealClient, TrustsNoProxyUnlessTold) {
  const RealClient none;
  EXPECT_FALSE(none.TrustsAny());
  LogRecord record;
  record.client = "10.0.0.1";
  record.forwardedFor = "203.0.113.9";
  EXPECT_EQ(none.Apply(record), Outcome::kConnecting);
  EXPECT_EQ(record.client, "10.0.0.1");
  // A connecting "address" that is a host name is never a trusted proxy.
  const RealClient all([](std::string_view) { return true; });
  record.client = "proxy.example";
  EXPECT_EQ(all.Apply(record), Outcome::kConnecting);
  EXPECT_EQ(RealClient::Address(" [::1]:80 "), "::1");
  EXPECT_EQ(RealClient::Address("::ffff:10.0.0.1"), "::ffff:10.0.0.1");
  EXPECT_EQ(RealClient::Address("1.2.3"), "");
  EXPECT_EQ(RealClient::Address("fe80::1%eth0"), "");
}

}  // namespace
