// The shield port and the shield route as somebody other than the shield plug-in tries them:
// a wrong path, no key, a guessed key, a parameter given twice, a sender that never ends its
// line or sends too much, and more waiting senders than the port keeps.
#include "shield/ShieldListener.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace {

using host::ShieldListener;
using host::ShieldRoute;
using Verdict = host::ShieldRoute::Verdict;

TEST(ShieldListener, DecodesTheParametersOfAShieldRequestEachOnce) {
  host::ShieldRequest shield;
  ASSERT_TRUE(host::ParseShieldRequest(
      "/flowdeck/shield?A=add&K=ab&B=203.0.113.66&C=1&D=shop&E=/admin/a%20b.php&F=/sorry/"
      "login.htm&G=1&H=0&I=1 HTTP/1.0",
      shield));
  EXPECT_EQ(shield.address, "203.0.113.66");
  EXPECT_EQ(shield.host, "shop");
  EXPECT_EQ(shield.resource, "/admin/a b.php");
  EXPECT_EQ(shield.deflect, "/sorry/login.htm");
  EXPECT_FALSE(host::ParseShieldRequest("/x?C=1", shield)) << "no address";
  EXPECT_FALSE(host::ParseShieldRequest("/x", shield));
  // A value of the plug-in's is encoded: a second B is somebody's attempt to replace the first.
  EXPECT_FALSE(host::ParseShieldRequest("/x?B=203.0.113.66&E=/a&B=198.51.100.8", shield));
  EXPECT_FALSE(host::ParseShieldRequest("/x?B=203.0.113.66&F=/a&F=/b", shield));
  ASSERT_TRUE(host::ParseShieldRequest("/x?B=203.0.113.66&E=/a%26B%3D198.51.100.8", shield));
  EXPECT_EQ(shield.address, "203.0.113.66");
  EXPECT_EQ(shield.resource, "/a&B=198.51.100.8");
}

std::string KeyOf(const ShieldRoute &route) {
  const std::string keyed = route.KeyedAddShieldURL();
  return keyed.substr(keyed.find("K=") + 2);
}

TEST(ShieldRoute, OnlyTheExactKeyedTargetIsThePluginsAndTheKeyIsNewAtEachStart) {
  host::HostConfig config;
  const ShieldRoute route(config);
  const std::string key = KeyOf(route);
  ASSERT_EQ(key.size(), 2 * ShieldRoute::kKeyBytes);
  EXPECT_EQ(route.KeyedAddShieldURL(), "A=add&K=" + key);
  EXPECT_NE(KeyOf(ShieldRoute(config)), key) << "drawn anew";
  EXPECT_EQ(route.PublicTarget().find(key), std::string::npos);

  const std::string keyed = "/flowdeck/shield?A=add&K=" + key;
  EXPECT_EQ(route.Judge(keyed + "&B=203.0.113.5&C=1"), Verdict::kAuthentic);
  EXPECT_EQ(route.Judge(keyed), Verdict::kAuthentic);
  std::string lastWrong = keyed;
  lastWrong.back() = lastWrong.back() == '0' ? '1' : '0';
  EXPECT_EQ(route.Judge(lastWrong + "&B=203.0.113.5"), Verdict::kForged);
  EXPECT_EQ(route.Judge(keyed.substr(0, keyed.size() - 1) + "&B=203.0.113.5"), Verdict::kForged);
  EXPECT_EQ(route.Judge(keyed + "0&B=203.0.113.5"), Verdict::kForged) << "a longer key";
  EXPECT_EQ(route.Judge("/flowdeck/shield?A=add&B=203.0.113.5"), Verdict::kForged);
  EXPECT_EQ(route.Judge("/flowdeck/shield?"), Verdict::kForged);
  EXPECT_EQ(route.Judge("/x?B=203.0.113.5&F=/y"), Verdict::kElsewhere);
  EXPECT_EQ(route.Judge("/flowdeck/shield"), Verdict::kElsewhere);
  EXPECT_EQ(route.Judge("/flowdeck/shields.html?A=add"), Verdict::kElsewhere);

  // A reload keeps the key, with the newly configured path.
  ShieldRoute reloaded(config);
  const std::string reloadedKey = KeyOf(reloaded);
  config.Set("FlowdeckURL", "/fd", "test");
  reloaded.Reconfigure(config);
  EXPECT_EQ(reloaded.Judge("/fd/shield?A=add&K=" + reloadedKey + "&B=1"), Verdict::kAuthentic);
  EXPECT_EQ(reloaded.Judge("/flowdeck/shield?A=add&K=" + reloadedKey), Verdict::kElsewhere);
}

// The first address of an interface that is not loopback, if the machine has one.
std::string InterfaceAddress() {
  ifaddrs *interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return "";
  std::string found;
  for (const ifaddrs *entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(entry->ifa_addr)->sin_addr, text,
              sizeof text);
    if (std::string(text).rfind("127.", 0) != 0) {
      found = text;
      break;
    }
  }
  freeifaddrs(interfaces);
  return found;
}

TEST(OwnAddresses, KnowsThisMachineAndReadsItsInterfacesAtMostOnceASecond) {
  host::OwnAddresses own;
  const auto now = host::OwnAddresses::Clock::now();
  for (const char *address : {"127.0.0.1", "127.12.0.66", "::1", "::ffff:127.0.0.1"}) {
    EXPECT_TRUE(own.Contains(std::string_view(address), now)) << address;
  }
  EXPECT_EQ(own.Reads(), 0u) << "loopback needs no look at the interfaces";
  for (int i = 0; i < 1000; ++i) {
    for (const char *stranger : {"203.0.113.5", "2001:db8::1", "::ffff:8.8.8.8"}) {
      ASSERT_FALSE(own.Contains(std::string_view(stranger), now)) << stranger;
    }
  }
  EXPECT_FALSE(own.Contains(std::string_view("not an address"), now));
  EXPECT_EQ(own.Reads(), 1u);
  EXPECT_FALSE(own.Contains(std::string_view("203.0.113.5"), now + std::chrono::seconds(1)));
  EXPECT_EQ(own.Reads(), 2u);
  const std::string address = InterfaceAddress();
  if (address.empty()) GTEST_SKIP() << "no interface beside loopback";
  EXPECT_TRUE(own.Contains(std::string_view(address), now)) << address;
}

// A client of the shield port on 127.0.0.1.
class Client {
 public:
  explicit Client(uint16_t port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  }
  ~Client() { Close(); }
  bool Send(const std::string &text) {
    return connected_ &&
           send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  // Whether the listener closed its end: a read finds the end of the stream at once.
  bool ClosedByPeer() {
    timeval wait{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char byte;
    return recv(fd_, &byte, 1, 0) == 0;
  }

 private:
  int fd_;
  bool connected_ = false;
};

// As the shield plug-in does: the line, then the connection closed.
void SendOnce(uint16_t port, const std::string &line) {
  Client client(port);
  ASSERT_TRUE(client.Send(line));
}

class ShieldPort : public ::testing::Test {
 protected:
  std::string Keyed(const std::string &parameters) const {
    return "GET /flowdeck/shield?" + route_.KeyedAddShieldURL() + parameters + "\r\n";
  }
  // Collects until the requests sent so far have arrived (the kernel hands a connection over a
  // little after the sender's connect returned).
  std::vector<host::ShieldRequest> CollectAfterSending() {
    usleep(50000);
    return listener_.Collect();
  }

  host::HostConfig config_;
  ShieldRoute route_{config_};
  ShieldListener listener_{"127.0.0.1", 0, route_};
};

TEST_F(ShieldPort, ActsOnThePluginsRequestOnlyAndCountsEveryForgery) {
  ASSERT_TRUE(listener_.Listening()) << listener_.Problem();
  const uint16_t port = listener_.Port();
  SendOnce(port, Keyed("&B=203.0.113.5&C=1&D=shop&E=/admin&F=/sorry.html&G=1&H=0&I=1"));
  SendOnce(port, "GET /x?B=198.51.100.8&F=/y\r\n");
  SendOnce(port, "GET /flowdeck/shield?A=add&B=198.51.100.8&C=1&D=shop&E=/a&F=/b HTTP/1.1\r\n");
  SendOnce(port,
           "GET /flowdeck/shield?A=add&K=0123456789abcdef0123456789abcdef&B=198.51.100.9\r\n");
  SendOnce(port, "POST " + Keyed("&B=198.51.100.10").substr(4));
  SendOnce(port, Keyed("&B=203.0.113.6&E=/a&B=198.51.100.11"));
  const std::vector<host::ShieldRequest> shields = CollectAfterSending();
  ASSERT_EQ(shields.size(), 1u);
  EXPECT_EQ(shields[0].address, "203.0.113.5");
  EXPECT_EQ(shields[0].deflect, "/sorry.html");
  EXPECT_EQ(listener_.Stats().forged, 4u);
  EXPECT_EQ(listener_.Stats().unreadable, 1u) << "the key, and a parameter twice";
  const std::vector<host::ForgedRequest> forged = listener_.TakeForged();
  ASSERT_EQ(forged.size(), 4u);
  EXPECT_EQ(forged[0].peer, "127.0.0.1");
  EXPECT_EQ(forged[0].asked.address, "198.51.100.8");
  EXPECT_EQ(forged[3].asked.address, "") << "not a GET: nothing of it is read";
  EXPECT_TRUE(listener_.TakeForged().empty());
}

TEST_F(ShieldPort, ASlowOrLongWindedSenderHoldsNothingUpAndIsClosedInTime) {
  ASSERT_TRUE(listener_.Listening()) << listener_.Problem();
  const uint16_t port = listener_.Port();
  Client slow(port);
  ASSERT_TRUE(slow.Send("GET /flowdeck/sh"));
  Client longWinded(port);
  ASSERT_TRUE(longWinded.Send(std::string(ShieldListener::kMaxLine, 'a')));
  SendOnce(port, Keyed("&B=203.0.113.5"));
  // The plug-in's request is read while the slow sender still waits for its line end.
  const std::vector<host::ShieldRequest> shields = CollectAfterSending();
  ASSERT_EQ(shields.size(), 1u);
  EXPECT_EQ(listener_.WaitingConnections(), 2u);
  ASSERT_TRUE(longWinded.Send("a"));
  usleep(50000);
  listener_.Tend();
  EXPECT_EQ(listener_.Stats().oversized, 1u);
  EXPECT_TRUE(longWinded.ClosedByPeer());
  // A byte now and then does not buy more time.
  ASSERT_TRUE(slow.Send("i"));
  const auto now = std::chrono::steady_clock::now();
  listener_.Tend(now + ShieldListener::kLineTime / 2);
  EXPECT_EQ(listener_.WaitingConnections(), 1u);
  listener_.Tend(now + ShieldListener::kLineTime);
  EXPECT_EQ(listener_.WaitingConnections(), 0u);
  EXPECT_EQ(listener_.Stats().slow, 1u);
  EXPECT_TRUE(slow.ClosedByPeer());
}

TEST_F(ShieldPort, KeepsAtMostABoundOfWaitingSendersAndTheNewestAlwaysGetsIn) {
  ASSERT_TRUE(listener_.Listening()) << listener_.Problem();
  const uint16_t port = listener_.Port();
  std::vector<std::unique_ptr<Client>> waiting;
  for (size_t i = 0; i < ShieldListener::kMaxWaiting + 5; ++i) {
    waiting.push_back(std::make_unique<Client>(port));
    ASSERT_TRUE(waiting.back()->Send("GET /"));
  }
  SendOnce(port, Keyed("&B=203.0.113.5"));
  EXPECT_EQ(CollectAfterSending().size(), 1u);
  EXPECT_EQ(listener_.WaitingConnections(), ShieldListener::kMaxWaiting);
  EXPECT_EQ(listener_.Stats().crowded, 5u);
  EXPECT_TRUE(waiting.front()->ClosedByPeer()) << "the oldest gave way";
}

}  // namespace
