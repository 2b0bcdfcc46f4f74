#pragma once

#include <string>
#include <string_view>

#include "base/HostConfig.h"

namespace host {

// The one way a shield request reaches flowdeck: the target the shield plug-in is told to send
// to, with a key drawn from the kernel's random source at every start. Only a request whose
// target begins with exactly that, key included, is the plug-in's: anybody else who can get a
// line to the shield port or into the web server's log knows the path, never the key. The key
// is never printed, logged or written by flowdeck itself.
class ShieldRoute {
 public:
  // What a request's target is to the route.
  enum class Verdict {
    kElsewhere,  // not for the shield path at all: an ordinary request
    kForged,     // for the shield path, without the key
    kAuthentic,  // the plug-in's own
  };

  // Draws the key; throws Error when the kernel gives no random bytes.
  explicit ShieldRoute(const HostConfig &config);
  // Takes a changed FlowdeckURL, FlowdeckFilterURI or AddShieldURL; the key stays.
  void Reconfigure(const HostConfig &config);

  // The AddShieldURL the shield plug-in is handed: the configured one with the key after it.
  std::string KeyedAddShieldURL() const;
  // Judged in time that does not depend on how much of the key a forger guessed.
  Verdict Judge(std::string_view target) const;

  // The configured target without the key, for messages: "/flowdeck/shield?A=add".
  std::string PublicTarget() const { return path_ + addShieldURL_; }

  static constexpr size_t kKeyBytes = 16;

 private:
  std::string path_;          // FlowdeckURL + FlowdeckFilterURI + "?"
  std::string addShieldURL_;  // as configured
  std::string key_;           // kKeyBytes as lower-case hex
  std::string keyed_;         // path_ + KeyedAddShieldURL()
};

}  // namespace host
