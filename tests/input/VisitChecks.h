#pragma once

#include <string>
#include <vector>

namespace input_testing {

// One request a test sends to a real server, with everything flowdeck must show of it.
struct Visit {
  std::string source;  // 127.0.0.x
  std::string method, path, query;
  std::string agent, referrer, forwarded;  // empty: the header is not sent
  std::string host;                        // the Host header
  std::string shownPath;                   // the path as the plug-ins get it (percent-decoded)
  std::string visitor;  // the client a RealClient trusting 127.0.0.0/8 and 10.0.0.0/8 finds
};

// Three visitors with what servers must escape: quotes, a backslash, bytes above 127, an
// encoded path, a query with '&', a forwarded chain whose leftmost entry is spoofed.
std::vector<Visit> SampleVisits();

std::string HttpRequest(const Visit &visit);

// Sends one HTTP request from the loopback address `source` (127.0.0.x: every one of them is
// this machine's) and returns the whole response; empty when it failed.
std::string HttpExchange(const std::string &source, int port, const std::string &request);

// Waits until a file holds at least `lines` line ends.
bool WaitForLines(const std::string &path, size_t lines, int timeoutMilliseconds);

// What a replay left: its exit and output, the hit export's lines, the snapshot.
struct Replay {
  int status = -1;
  std::string output;
  std::vector<std::string> hits;
  std::string snapshot;
};

// Runs "flowdeck replay --log-format FORMAT --out DIR LOG" (the plug-ins and definitions of
// this build) with port 80 taken in turn.
Replay RunReplay(const std::string &format, const std::string &log, const std::string &outDir);

// Expects the visit in the hit export (all fifteen fields) and the snapshot (the visitor and
// its hit), served on `port` under `server`, at a time within two minutes of now.
void ExpectShown(const Visit &visit, const Replay &replay, const std::string &server,
                 const std::string &port);

}  // namespace input_testing
