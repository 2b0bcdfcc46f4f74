// The host's web server refuses the shield request, cannot be found, or takes the connection
// and never reads: the cycle still returns at once and the record counts as shielded.
#include <gtest/gtest.h>

#include <netdb.h>

#include <chrono>

#include "FaultTesting.h"
#include "support/Port80.h"

namespace {

using faults::Action;
using faults::LinesWith;
using testing_support::ReadLines;
using Clock = std::chrono::steady_clock;

// How long the plug-in may wait for a server that does not answer.
constexpr auto kConnectTimeout = std::chrono::seconds(2);

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
  // Nothing listens on 127.0.0.2:80; the listener on 127.0.0.3 reads only at the end.
  testing_support::Port80 port;
  if (!port.NothingListens("127.0.0.2") || !port.Listen(4, "127.0.0.3")) {
    GTEST_SKIP() << "port 80 of 127.0.0.2 and 127.0.0.3 is needed";
  }

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
  port.AcceptOne();
  EXPECT_EQ(port.Received(), request);

  for (const Outcome *outcome : {&refused, &unknown, &unread}) {
    EXPECT_EQ(outcome->filed, 1u);
    EXPECT_EQ(outcome->sentTraces, 1u) << "a marked record is not shielded again";
  }
}

}  // namespace
