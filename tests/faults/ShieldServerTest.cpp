// The host's web server refuses the shield request, cannot be found, or takes the connection
// and never reads: the cycle still returns at once and the record counts as shielded.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "FaultTesting.h"
#include "support/Port80Lock.h"

namespace {

using faults::Action;
using faults::LinesWith;
using testing_support::ReadLines;
using Clock = std::chrono::steady_clock;

// How long the plug-in may wait for a server that does not answer.
constexpr auto kConnectTimeout = std::chrono::seconds(2);

// A socket bound to port 80 of a loopback address, listening when backlog >= 0; -1 when the
// port is taken there or cannot be bound at all.
int BindPort80(const char *address, int backlog) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(80);
  inet_pton(AF_INET, address, &at.sin_addr);
  if (bind(fd, reinterpret_cast<const sockaddr *>(&at), sizeof at) != 0 ||
      (backlog >= 0 && listen(fd, backlog) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

// What one connection waiting on a listener sent, read only now.
std::string ReceivedLater(int listener) {
  pollfd wait{listener, POLLIN, 0};
  if (poll(&wait, 1, 2000) <= 0) return "";
  const int peer = accept(listener, nullptr, nullptr);
  std::string received;
  char buffer[1024];
  while (poll(&(wait = {peer, POLLIN, 0}), 1, 2000) > 0) {
    const ssize_t n = read(peer, buffer, sizeof buffer);
    if (n <= 0) break;
    received.append(buffer, static_cast<size_t>(n));
  }
  close(peer);
  return received;
}

struct Outcome {
  Clock::duration cycle;
  faults::Lines trace;
  size_t filed;       // TRIPWIRE lines of the shield after two cycles
  size_t sentTraces;  // "Shield sent to Flowdeck" lines after two cycles
};

// One visitor shielded with the shield request going to the server, then a cycle more.
Outcome ShieldThrough(const std::string &server) {
  testing_support::TempDir dir;
  testing_support::WriteFile(dir.File("KvVantrel.CFG"), faults::TripwireDefinition());
  faults::PluginObject shield("KvVantrel.so", dir.Path());
  EXPECT_EQ(shield.Stream(Action("CONFIG", faults::ShieldSettings(server, true))), 0);
  shield.SteadyHits("v1", 1);
  const auto start = Clock::now();
  EXPECT_EQ(shield.Stream(Action("CYCLE")), 0);
  Outcome outcome{Clock::now() - start, ReadLines(dir.File("KvVantrelTrace.LOG")), 0, 0};
  EXPECT_EQ(shield.Stream(Action("CYCLE")), 0);
  outcome.filed = LinesWith(ReadLines(dir.File("KvVantrel.xml")), "<TRIPWIRE ").size();
  outcome.sentTraces =
      LinesWith(ReadLines(dir.File("KvVantrelTrace.LOG")), "\t\tShield sent to Flowdeck").size();
  EXPECT_FALSE(testing_support::FileExists(dir.File("KvVantrelErrors.LOG")));
  return outcome;
}

bool Traced(const Outcome &outcome, const std::string &line) {
  return std::find(outcome.trace.begin(), outcome.trace.end(), line) != outcome.trace.end();
}

TEST(ShieldServer, RefusedUnknownOrSilentServersNeitherHoldTheCycleNorUnmarkTheRecord) {
  const testing_support::Port80Lock port80;
  // Nothing listens on 127.0.0.2:80 when it can be bound; the listener on 127.0.0.3 never reads.
  const int probe = BindPort80("127.0.0.2", -1);
  const int silent = BindPort80("127.0.0.3", 4);
  if (probe < 0 || silent < 0) GTEST_SKIP() << "port 80 of 127.0.0.2 and 127.0.0.3 is needed";
  close(probe);

  const Outcome refused = ShieldThrough("127.0.0.2");
  EXPECT_LT(refused.cycle, kConnectTimeout);
  EXPECT_TRUE(Traced(refused, "\tConnect Failed for port:20480 Address:33554559 Family:2"));

  const auto lookupStart = Clock::now();
  addrinfo *found = nullptr;
  if (getaddrinfo("shield.invalid", nullptr, nullptr, &found) == 0) freeaddrinfo(found);
  const auto lookup = Clock::now() - lookupStart;
  const Outcome unknown = ShieldThrough("shield.invalid");
  // The lookup is the resolver's; only a resolver that answers at once lets the bound hold.
  if (lookup < std::chrono::milliseconds(500)) {
    EXPECT_LT(unknown.cycle, kConnectTimeout);
  }
  EXPECT_TRUE(Traced(unknown, "GetAddress of shield.invalid is -1"));
  EXPECT_TRUE(Traced(unknown, "\tINVALID ADDRESS"));

  const Outcome unread = ShieldThrough("127.0.0.3");
  EXPECT_LT(unread.cycle, kConnectTimeout);
  const std::string request =
      "GET /flowdeck/filter.dll?AddShield&B=10.0.0.7&C=1&D=shop&E=/a/p.htm&F=/x/p.htm"
      "&G=1&H=0&I=1\r\n";
  // The request's own CR LF ends its trace line.
  EXPECT_TRUE(Traced(unread, "\tData Sent=" + request.substr(0, request.size() - 2)));
  EXPECT_EQ(ReceivedLater(silent), request);
  close(silent);

  for (const Outcome *outcome : {&refused, &unknown, &unread}) {
    EXPECT_EQ(outcome->filed, 1u);
    EXPECT_EQ(outcome->sentTraces, 1u) << "a marked record is not shielded again";
  }
}

}  // namespace
