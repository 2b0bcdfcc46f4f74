#pragma once

#include <cstdint>
#include <iosfwd>

namespace host {

// What a generated log holds.
struct SampleOptions {
  uint64_t seed = 1;
  int humans = 40;            // people browsing pages with their assets, at irregular gaps
  int crawlers = 1;           // robots walking many pages at loosely even gaps
  int scanners = 1;           // fast bursts over many probe paths
  int steadyClients = 0;      // clients hitting one URL at a steady pace (1% jitter)
  int randomClients = 0;      // clients on one URL whose delay is drawn from a range of a period
  double randomJitter = 0.5;  // their delays: (1 - jitter) to (1 + jitter) times the period
  int randomHits = 60;        // and how many requests each makes
  int refreshers = 0;         // people reloading one page by hand, 40 times
  bool probe = true;          // one script probing a tripwired path every 5 s
  double hours = 1;           // the span the traffic is spread over
  int64_t minimumLines = 0;   // add humans until there are this many lines
};

// Writes Combined log lines, in time order, for the traffic of a made-up site.
void WriteSampleLog(std::ostream &out, const SampleOptions &options);

}  // namespace host
