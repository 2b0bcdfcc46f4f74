#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace host {

// One shield as every action receives it: who is shielded from which resource, where the
// visitor is sent instead, and for how long.
struct Shield {
  std::string address;   // the visitor's IPv4 or IPv6 address, as text
  std::string host;      // the host the visitor asked for, in lower case
  std::string resource;  // the path as the request carried it, percent-decoded
  std::string deflect;   // where the web server sends the visitor instead
  int64_t raisedAt = 0;  // Unix seconds
  int64_t expiresAt = 0;
  std::string source = "regularity";  // what raised it
  std::string figures;                // what that test saw, when it says (the pace test does)
};

// A Unix time as ISO 8601 in UTC: "2026-12-09T05:12:23Z", as shields are written down.
inline std::string IsoTime(int64_t seconds) {
  const time_t time = static_cast<time_t>(seconds);
  tm parts{};
  gmtime_r(&time, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

}  // namespace host
