#include "shield/ShieldRoute.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/Error.h"

namespace host {

namespace {

std::string DrawKey() {
  unsigned char bytes[ShieldRoute::kKeyBytes];
  size_t filled = 0;
  while (filled < sizeof bytes) {
    const ssize_t n = getrandom(bytes + filled, sizeof bytes - filled, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      throw Error("", std::string("cannot draw the shield route's key: ") + std::strerror(errno));
    }
    filled += static_cast<size_t>(n);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string key;
  for (unsigned char byte : bytes) key.append(1, kHex[byte >> 4]).append(1, kHex[byte & 15]);
  return key;
}

// Looks at every byte whatever the first difference, so that the time taken tells a forger
// nothing about how much of the key he has right.
bool SameBytes(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

}  // namespace

ShieldRoute::ShieldRoute(const HostConfig &config) : key_(DrawKey()) {
  Reconfigure(config);
}

void ShieldRoute::Reconfigure(const HostConfig &config) {
  path_ = config.Get("FlowdeckURL") + config.Get("FlowdeckFilterURI") + "?";
  addShieldURL_ = config.Get("AddShieldURL");
  keyed_ = path_ + KeyedAddShieldURL();
}

std::string ShieldRoute::KeyedAddShieldURL() const {
  return addShieldURL_ + (addShieldURL_.empty() ? "K=" : "&K=") + key_;
}

ShieldRoute::Verdict ShieldRoute::Judge(std::string_view target) const {
  if (!target.starts_with(path_)) return Verdict::kElsewhere;
  if (target.size() < keyed_.size() || !SameBytes(target.substr(0, keyed_.size()), keyed_))
    return Verdict::kForged;
  // The key ends where the plug-in's parameters begin: a longer key is another key.
  if (target.size() > keyed_.size() && target[keyed_.size()] != '&') return Verdict::kForged;
  return Verdict::kAuthentic;
}

}  // namespace host
