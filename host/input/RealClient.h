#pragma once

#include <functional>
#include <string_view>

#include "base/AddressRanges.h"
#include "input/LogRecord.h"

namespace host {

// The visitor behind trusted proxies, as nginx's realip module finds it with
// real_ip_recursive on: when the connecting address is a trusted proxy, the chain of
// X-Forwarded-For is read from its right end, passing over trusted proxies, and the first
// address that is not one is the client (all trusted: the leftmost). Entries that a client
// sent itself stand left of what the proxies appended and are never reached while a
// proxy's own entry is untrusted. A chain with an entry on that road that is no address is
// passed over as a whole: the connecting address stays.
class RealClient {
 public:
  // Whether an address (IPv4 or IPv6 text, as an entry of the chain or the connecting
  // address, port and brackets taken off) is a proxy whose chain is believed.
  using TrustedProxy = std::function<bool(std::string_view address)>;

  enum class Outcome {
    kConnecting,  // no trusted proxy connected, or no chain: the connecting address
    kForwarded,   // the client is an address of the chain
    kUnreadable,  // a trusted proxy's chain held an entry that is no address: connecting
  };

  // Trusts no proxy: every record keeps its connecting address.
  RealClient() = default;
  explicit RealClient(TrustedProxy trusted) : trusted_(std::move(trusted)) {}
  // Trusts the proxies of TrustedProxies ("10.0.0.0/8, 2001:db8::/32"); none when empty.
  explicit RealClient(AddressRanges trusted);

  bool TrustsAny() const { return static_cast<bool>(trusted_); }

  // Sets record.client to the visitor's address; it views the record's own text.
  Outcome Apply(LogRecord &record) const;

  // An address as logged without the decoration some writers add ("[::1]:80", "1.2.3.4:80",
  // blanks); empty when what is left is no IPv4 or IPv6 address.
  static std::string_view Address(std::string_view text);

 private:
  TrustedProxy trusted_;
};

}  // namespace host
