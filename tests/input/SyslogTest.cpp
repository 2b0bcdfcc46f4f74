// syslog from a farm: headers taken off, TCP streams cut into messages, listeners that no
// sender can hold up.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "input/SyslogFramer.h"
#include "input/SyslogMessage.h"
#include "input/SyslogReceiver.h"
#include "input/SyslogSource.h"

namespace {

using host::SyslogFramer;
using host::SyslogMessage;
using host::SyslogReceiver;

constexpr const char *kLine =
    "203.0.113.9 - - [07/Dec/2026:21:34:55 +0100] \"GET /a HTTP/1.1\" 200 5 \"-\" \"curl/8\"";

TEST(SyslogMessage, TakesOffClassicAndStructuredHeaders) {
  struct Case {
    std::string frame;
    const char *hostname, *tag;
  } cases[] = {
      // nginx: "access_log syslog:server=...", with and without nohostname.
      {std::string("<190>Dec  7 21:34:55 web1 nginx: ") + kLine, "web1", "nginx"},
      {std::string("<190>Dec 17 21:34:55 nginx: ") + kLine + "\n", "", "nginx"},
      {std::string("<14>Dec  7 21:34:55 web1 shop[4242]: ") + kLine, "web1", "shop"},
      // rsyslog's forwarding format: an RFC 3339 time.
      {std::string("<190>2026-12-07T21:34:55.123+01:00 web3 nginx: ") + kLine, "web3", "nginx"},
      // RFC 5424, with structured data holding an escaped "]", and a byte order mark.
      {std::string("<165>1 2026-12-07T21:34:55.003Z web2 nginx 77 access - ") + kLine, "web2",
       "nginx"},
      {std::string("<165>1 2026-12-07T21:34:55Z - - - - [a@1 x=\"1\\]\"][b@2] \xEF\xBB\xBF") +
           kLine,
       "", ""},
      // A sender without a time.
      {std::string("<13>web4 nginx: ") + kLine, "web4", "nginx"},
  };
  for (const Case &c : cases) {
    SyslogMessage message;
    ASSERT_TRUE(SyslogMessage::Parse(c.frame, message)) << c.frame;
    EXPECT_EQ(message.hostname, c.hostname) << c.frame;
    EXPECT_EQ(message.tag, c.tag) << c.frame;
    EXPECT_EQ(message.text, kLine) << c.frame;
  }
  for (const char *frame : {"", "hello", "<999>x", "<>x", "<12", "<1234>x", kLine, "<192>x"}) {
    SyslogMessage message;
    EXPECT_FALSE(SyslogMessage::Parse(frame, message)) << frame;
  }
}

std::vector<std::string> Frames(SyslogFramer &framer, const std::vector<std::string> &pieces,
                                bool finish = false) {
  std::vector<std::string> frames;
  auto sink = [&](std::string_view frame) { frames.emplace_back(frame); };
  for (const std::string &piece : pieces) framer.Feed(piece, sink);
  if (finish) framer.Finish(sink);
  return frames;
}

TEST(SyslogFramer, CutsLinesAndCountedMessagesWhereverTheStreamBreaks) {
  using namespace std::string_literals;
  // Lines ended by LF, CR LF or NUL (blank ones skipped), and messages framed by their length
  // whose text holds line ends of its own.
  const std::string whole =
      "<1>a\n<2>b\r\n\n<3>c\0"
      "8 <4>d\ne f\n8 <5>g\nh\ni<6>j"s;
  const std::vector<std::string> expected = {"<1>a",      "<2>b",       "<3>c",
                                             "<4>d\ne f", "<5>g\nh\ni", "<6>j"};
  for (size_t cut = 0; cut <= whole.size(); ++cut) {
    for (size_t second = cut; second <= whole.size(); second += 3) {
      SyslogFramer framer;
      EXPECT_EQ(
          Frames(framer,
                 {whole.substr(0, cut), whole.substr(cut, second - cut), whole.substr(second)},
                 true),
          expected)
          << "cut at " << cut << " and " << second;
    }
  }
}

TEST(SyslogFramer, DropsMessagesLongerThanTheLimitAndGoesOn) {
  SyslogFramer framer;
  const std::string longLine = "<1>" + std::string(SyslogFramer::kMaxFrame + 10, 'x');
  const std::string longCounted = std::to_string(SyslogFramer::kMaxFrame + 1) + " " +
                                  std::string(SyslogFramer::kMaxFrame + 1, 'y');
  std::vector<std::string> pieces;
  for (size_t at = 0; at < longLine.size(); at += 1000) pieces.push_back(longLine.substr(at, 1000));
  pieces.push_back("\n<2>after\n");
  pieces.push_back(longCounted.substr(0, 5000));
  pieces.push_back(longCounted.substr(5000) + "<3>next\n");
  EXPECT_EQ(Frames(framer, pieces), (std::vector<std::string>{"<2>after", "<3>next"}));
  EXPECT_EQ(framer.Oversized(), 2u);
  EXPECT_LE(framer.Pending(), SyslogFramer::kMaxFrame);
}

// A socket connected to 127.0.0.1:port, sending from `from` (another loopback address).
int Connected(int type, uint16_t port, const char *from = nullptr) {
  const int fd = socket(AF_INET, type, 0);
  if (from != nullptr) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from, &local.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
      close(fd);
      return -1;
    }
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void SendAll(int fd, const std::string &bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    ASSERT_GT(n, 0);
    sent += static_cast<size_t>(n);
  }
}

TEST(SyslogReceiver, ReadsUdpAndTcpAndCountsWhatIsNoSyslog) {
  SyslogReceiver receiver({SyslogReceiver::Endpoint::Parse("udp://127.0.0.1:0"),
                           SyslogReceiver::Endpoint::Parse("tcp://127.0.0.1:0")});
  const int udp = Connected(SOCK_DGRAM, receiver.Port(0));
  const int tcp = Connected(SOCK_STREAM, receiver.Port(1));
  ASSERT_GE(udp, 0);
  ASSERT_GE(tcp, 0);
  for (const std::string &datagram :
       {std::string("<190>Dec  7 21:34:55 web1 nginx: udp one"), std::string("not syslog"),
        std::string("<190>Dec  7 21:34:55 web2 nginx: udp two\n")}) {
    ASSERT_EQ(send(udp, datagram.data(), datagram.size(), 0),
              static_cast<ssize_t>(datagram.size()));
  }
  SendAll(tcp, "<190>Dec  7 21:34:55 web3 nginx: tcp one\n27 <13>Dec  7 21:34:55 x: tcp\n");
  std::vector<std::string> got;
  for (int i = 0; i < 50 && got.size() < 4; ++i) {
    receiver.Poll(100, [&](const SyslogMessage &m) {
      got.push_back(std::string(m.hostname) + "/" + std::string(m.tag) + "/" + std::string(m.text));
    });
  }
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"/x/tcp", "web1/nginx/udp one", "web2/nginx/udp two",
                                           "web3/nginx/tcp one"}));
  EXPECT_EQ(receiver.Stats().notSyslog, 1u);
  EXPECT_EQ(receiver.Stats().datagrams, 3u);
  EXPECT_EQ(receiver.Stats().connections, 1u);
  close(udp);
  close(tcp);
  EXPECT_THROW(SyslogReceiver::Endpoint::Parse("udp://127.0.0.1"), std::invalid_argument);
  EXPECT_THROW(SyslogReceiver::Endpoint::Parse("http://127.0.0.1:80"), std::invalid_argument);
  EXPECT_THROW(SyslogReceiver::Endpoint::Parse("tcp://127.0.0.1:65536"), std::invalid_argument);
  EXPECT_EQ(SyslogReceiver::Endpoint::Parse("tcp://[::1]:514").host, "::1");
  EXPECT_THROW(SyslogReceiver({SyslogReceiver::Endpoint::Parse("udp://192.0.2.1:5514")}),
               std::runtime_error);
}

TEST(SyslogReceiver, AStallingOrFloodingSenderHoldsUpNobody) {
  SyslogReceiver receiver({SyslogReceiver::Endpoint::Parse("tcp://127.0.0.1:0")});
  const uint16_t port = receiver.Port(0);
  const int stalling = Connected(SOCK_STREAM, port);
  const int flooding = Connected(SOCK_STREAM, port);
  const int quiet = Connected(SOCK_STREAM, port);
  int quietSeen = 0, floodSeen = 0;
  auto count = [&](const SyslogMessage &m) {
    quietSeen += m.hostname == "quiet";
    floodSeen += m.hostname == "flood";
  };
  for (int i = 0; i < 100 && receiver.Stats().connections < 3; ++i) receiver.Poll(10, count);
  ASSERT_EQ(receiver.Stats().connections, 3u);
  // Half a message, never finished; megabytes queued at once; then one message.
  SendAll(stalling, "<190>Dec  7 21:34:55 stall nginx: half a mess");
  const std::string message = "<190>Dec  7 21:34:55 flood nginx: " + std::string(200, 'f') + "\n";
  std::string flood;
  for (int i = 0; i < 4000; ++i) flood += message;
  const int big = 8 * 1024 * 1024;
  setsockopt(flooding, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  size_t queued = 0;
  for (ssize_t n;
       (n = send(flooding, flood.data(), flood.size(), MSG_NOSIGNAL | MSG_DONTWAIT)) > 0;) {
    queued += static_cast<size_t>(n);
  }
  ASSERT_GT(queued, 1024u * 1024u);
  SendAll(quiet, "<190>Dec  7 21:34:55 quiet nginx: hello\n");
  // Each sender gets a bounded share of a poll: the quiet one is heard at once.
  receiver.Poll(1000, count);
  EXPECT_EQ(quietSeen, 1);
  EXPECT_GT(floodSeen, 0);
  EXPECT_LE(floodSeen * message.size(), 64u * 1024u + message.size());
  for (int i = 0; i < 2000 && floodSeen * message.size() < queued - message.size(); ++i) {
    receiver.Poll(10, count);
  }
  EXPECT_GE(floodSeen * message.size() + message.size(), queued);
  close(stalling);
  close(flooding);
  close(quiet);
}

// True when the receiver has closed the client's connection (within `milliseconds`).
bool ClosedByPeer(int fd, int milliseconds) {
  pollfd wait{fd, POLLIN, 0};
  if (poll(&wait, 1, milliseconds) <= 0) return false;
  char byte;
  return recv(fd, &byte, 1, MSG_DONTWAIT) <= 0;
}

SyslogReceiver::Limits Bounded(size_t connections, std::chrono::milliseconds idle) {
  SyslogReceiver::Limits limits;
  limits.maxConnections = connections;
  limits.idle = idle;
  return limits;
}

TEST(SyslogReceiver, IdleConnectionsGiveWayAtTheBoundAndAfterTheirTimeout) {
  SyslogReceiver receiver({SyslogReceiver::Endpoint::Parse("tcp://127.0.0.1:0")},
                          Bounded(3, std::chrono::milliseconds(1500)));
  const uint16_t port = receiver.Port(0);
  int heard = 0;
  auto count = [&](const SyslogMessage &) { ++heard; };
  const int a = Connected(SOCK_STREAM, port), b = Connected(SOCK_STREAM, port),
            c = Connected(SOCK_STREAM, port);
  for (int i = 0; i < 100 && receiver.Stats().connections < 3; ++i) receiver.Poll(10, count);
  ASSERT_EQ(receiver.Stats().open, 3u);
  // a speaks: b is now idle the longest, and gives way to d.
  SendAll(a, "<190>Dec  7 21:34:55 web1 nginx: a\n");
  for (int i = 0; i < 100 && heard < 1; ++i) receiver.Poll(10, count);
  const int d = Connected(SOCK_STREAM, port);
  for (int i = 0; i < 100 && receiver.Stats().connections < 4; ++i) receiver.Poll(10, count);
  EXPECT_EQ(receiver.Stats().open, 3u);
  EXPECT_EQ(receiver.Stats().refused.connections, 1u);
  EXPECT_TRUE(ClosedByPeer(b, 1000));
  EXPECT_FALSE(ClosedByPeer(a, 0));
  EXPECT_FALSE(ClosedByPeer(c, 0));
  SendAll(d, "<190>Dec  7 21:34:55 web1 nginx: d\n");
  for (int i = 0; i < 100 && heard < 2; ++i) receiver.Poll(10, count);
  EXPECT_EQ(heard, 2);
  // a keeps speaking; c and d say nothing more and are closed once their time is up.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (int i = 0; receiver.Stats().refused.idle < 2 && std::chrono::steady_clock::now() < giveUp;
       ++i) {
    if (i % 10 == 0) SendAll(a, "<190>Dec  7 21:34:55 web1 nginx: a\n");
    receiver.Poll(10, count);
  }
  EXPECT_EQ(receiver.Stats().refused.idle, 2u);
  EXPECT_TRUE(ClosedByPeer(c, 1000));
  EXPECT_TRUE(ClosedByPeer(d, 1000));
  EXPECT_FALSE(ClosedByPeer(a, 0));
  EXPECT_EQ(receiver.Stats().open, 1u);
  for (int fd : {a, b, c, d}) close(fd);
}

TEST(SyslogReceiver, TakesNothingFromOutsideItsSenders) {
  SyslogReceiver::Limits limits;
  limits.senders = host::AddressRanges::Parse("127.0.0.1");
  SyslogReceiver receiver({SyslogReceiver::Endpoint::Parse("udp://127.0.0.1:0"),
                           SyslogReceiver::Endpoint::Parse("tcp://127.0.0.1:0")},
                          limits);
  std::vector<std::string> got;
  auto keep = [&](const SyslogMessage &m) { got.emplace_back(m.hostname); };
  const std::string outside = "<190>Dec  7 21:34:55 outside nginx: x\n";
  const int udp = Connected(SOCK_DGRAM, receiver.Port(0), "127.0.0.3");
  const int tcp = Connected(SOCK_STREAM, receiver.Port(1), "127.0.0.3");
  ASSERT_GE(udp, 0);
  ASSERT_GE(tcp, 0);
  send(udp, outside.data(), outside.size(), 0);
  send(tcp, outside.data(), outside.size(), MSG_NOSIGNAL);
  for (int i = 0; i < 100 && receiver.Stats().refused.sender < 2; ++i) receiver.Poll(10, keep);
  EXPECT_EQ(receiver.Stats().refused.sender, 2u);
  EXPECT_TRUE(ClosedByPeer(tcp, 1000));
  // A listed sender is heard, until a reload takes it off the list.
  const int inside = Connected(SOCK_STREAM, receiver.Port(1));
  SendAll(inside, "<190>Dec  7 21:34:55 inside nginx: x\n");
  for (int i = 0; i < 100 && got.empty(); ++i) receiver.Poll(10, keep);
  EXPECT_EQ(got, std::vector<std::string>{"inside"});
  EXPECT_EQ(receiver.Stats().datagrams + receiver.Stats().connections, 1u);
  receiver.Reconfigure(host::AddressRanges::Parse("127.0.0.3"), 10);
  EXPECT_TRUE(ClosedByPeer(inside, 1000));
  EXPECT_EQ(receiver.Stats().refused.sender, 3u);
  for (int fd : {udp, tcp, inside}) close(fd);

  // A dual-stack socket sees an IPv4 sender as ::ffff:127.0.0.1: listed as 127.0.0.1 all the same.
  std::unique_ptr<SyslogReceiver> dual;
  try {
    dual = std::make_unique<SyslogReceiver>(
        std::vector{SyslogReceiver::Endpoint::Parse("udp://[::]:0")}, limits);
  } catch (const std::runtime_error &error) {
    GTEST_SKIP() << "no IPv6: " << error.what();
  }
  const int mapped = Connected(SOCK_DGRAM, dual->Port(0));
  const std::string line = "<190>Dec  7 21:34:55 mapped nginx: x";
  send(mapped, line.data(), line.size(), 0);
  for (int i = 0; i < 100 && got.size() < 2; ++i) dual->Poll(10, keep);
  EXPECT_EQ(got, (std::vector<std::string>{"inside", "mapped"}));
  close(mapped);
}

// Sets the soft open-file limit so that exactly `room` more descriptors can be opened, and puts
// the old one back when it goes.
class DescriptorRoom {
 public:
  explicit DescriptorRoom(int room) {
    getrlimit(RLIMIT_NOFILE, &old_);
    rlimit limit = old_;
    const int lowest = dup(0);
    close(lowest);
    // Descriptors above the lowest free one may be taken: widen until `room` can be had.
    for (limit.rlim_cur = static_cast<rlim_t>(lowest + room); Free(limit) < room;) {
      ++limit.rlim_cur;
    }
  }
  ~DescriptorRoom() { setrlimit(RLIMIT_NOFILE, &old_); }

 private:
  static int Free(const rlimit &limit) {
    setrlimit(RLIMIT_NOFILE, &limit);
    std::vector<int> opened;
    for (int fd; (fd = dup(0)) >= 0;) opened.push_back(fd);
    for (int fd : opened) close(fd);
    return static_cast<int>(opened.size());
  }
  rlimit old_{};
};

TEST(SyslogReceiver, RunningOutOfDescriptorsEndsNothingAndWakesNoPollAgain) {
  SyslogReceiver withConnections({SyslogReceiver::Endpoint::Parse("tcp://127.0.0.1:0")});
  SyslogReceiver without({SyslogReceiver::Endpoint::Parse("tcp://127.0.0.1:0")});
  std::vector<int> clients;
  for (int i = 0; i < 10; ++i) clients.push_back(Connected(SOCK_STREAM, withConnections.Port(0)));
  for (int i = 0; i < 2; ++i) clients.push_back(Connected(SOCK_STREAM, without.Port(0)));
  int heard = 0;
  auto count = [&](const SyslogMessage &) { ++heard; };
  {
    const DescriptorRoom room(3);
    // Three are taken in; each further one takes the place of the one idle the longest.
    for (int i = 0; i < 20; ++i) withConnections.Poll(10, count);
    EXPECT_EQ(withConnections.Stats().connections, 10u);
    EXPECT_EQ(withConnections.Stats().open, 3u);
    EXPECT_EQ(withConnections.Stats().refused.descriptors, 7u);
    EXPECT_TRUE(ClosedByPeer(clients[0], 1000));
    EXPECT_FALSE(ClosedByPeer(clients[9], 0));
    SendAll(clients[9], "<190>Dec  7 21:34:55 web1 nginx: still heard\n");
    for (int i = 0; i < 100 && heard == 0; ++i) withConnections.Poll(10, count);
    EXPECT_EQ(heard, 1);
  }
  {
    const DescriptorRoom none(0);
    // With no connection to give way, the reserve descriptor refuses the new ones.
    for (int i = 0; i < 20; ++i) without.Poll(10, count);
    EXPECT_EQ(without.Stats().connections, 0u);
    EXPECT_EQ(without.Stats().refused.descriptors, 2u);
    EXPECT_TRUE(ClosedByPeer(clients[10], 1000));
    EXPECT_TRUE(ClosedByPeer(clients[11], 1000));
  }
  // Nothing was counted twice: no listener stayed readable for a connection it could not take.
  for (int i = 0; i < 10; ++i) without.Poll(10, count);
  EXPECT_EQ(without.Stats().refused.descriptors, 2u);
  EXPECT_EQ(withConnections.Stats().refused.descriptors, 7u);
  for (int fd : clients) close(fd);
}

TEST(SyslogSource, HandsOnParsedLinesWithTheTagAsTheirServer) {
  host::LineStats stats;
  host::LineReader reader(host::LogFormat::Compile("combined"), host::RealClient(), stats);
  std::atomic<bool> stop{false};
  host::SyslogSource source({SyslogReceiver::Endpoint::Parse("udp://127.0.0.1:0")}, reader, stop,
                            true);
  const int udp = Connected(SOCK_DGRAM, source.Port(0));
  for (const std::string &datagram :
       {std::string("<190>Dec  7 21:34:55 web1 shop: ") + kLine,
        std::string("<190>Dec  7 21:34:55 web1 shop: garbage"), std::string("no syslog at all")}) {
    send(udp, datagram.data(), datagram.size(), 0);
  }
  host::SourceLine line;
  bool got = false;
  for (int i = 0; i < 50 && !got; ++i) {
    source.Wait(source.Now().local + 1);
    got = source.Next(line);
  }
  ASSERT_TRUE(got);
  EXPECT_EQ(line.record->client, "203.0.113.9");
  EXPECT_EQ(line.serverName, "shop");
  for (int i = 0; i < 20 && stats.malformed == 0; ++i) {
    source.Wait(source.Now().local + 0.1 / 86400);
    source.Next(line);
  }
  EXPECT_EQ(stats.malformed, 1u);            // the message that is no access line
  EXPECT_EQ(source.Counts().notSyslog, 1u);  // the datagram that is no syslog
  close(udp);
}

}  // namespace
