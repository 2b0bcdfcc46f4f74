#pragma once

#include <string>

namespace host {

// A shield the shield plug-in asked for: its request's parameters, decoded.
struct ShieldRequest {
  std::string address;                // B
  std::string host;                   // D
  std::string resource;               // E
  std::string deflect;                // F
  std::string source = "regularity";  // the test that asked: the plug-in's, or flowdeck's "pace"
  std::string
      figures;  // what the test saw, when it says: "hits 22, mean gap 1.000 s, spread 0.012"
  bool reportOnly = false;  // a judgement to note, never to act on (CrawlTest = Report)
};

}  // namespace host
