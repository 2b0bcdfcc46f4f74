#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "DateTime.h"
#include "clsResources.h"

namespace vantrel {

// One visitor: the addresses of its first recorded request, its expiry and its records.
class clsUser {
 public:
  clsUser(std::string userKey, std::string remoteAddr, std::string resolvedAddr);
  clsUser(const clsUser &) = delete;
  clsUser &operator=(const clsUser &) = delete;

  const std::string &UserKey() const noexcept { return userKey_; }
  const std::string &RemoteAddr() const noexcept { return remoteAddr_; }
  const std::string &ResolvedAddr() const noexcept { return resolvedAddr_; }
  common::DateTime Expires() const noexcept { return expires_; }
  clsResources &Resources() noexcept { return resources_; }
  const clsResources &Resources() const noexcept { return resources_; }

  // Renews the expiry to 300 seconds from now and records the hit.
  void AddTransaction(HitAction action, double arrivalSerial, std::string_view pathInfo,
                      std::string_view pathTranslated, std::string_view host,
                      int32_t tripwireIndex);

 private:
  std::string userKey_;
  std::string remoteAddr_;
  std::string resolvedAddr_;
  common::DateTime expires_ = 0;
  clsResources resources_;
};

}  // namespace vantrel
