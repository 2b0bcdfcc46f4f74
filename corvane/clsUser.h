#pragma once

#include <cstdint>
#include <string>

#include "DateTime.h"
#include "HitLines.h"
#include "StreamFields.h"
#include "StringPool.h"
#include "UserLine.h"
#include "clsHits.h"

namespace corvane {

// One visitor: what its first request said about it, its state, and its latest hits.
class clsUser {
 public:
  // A visitor as its first request describes it; it holds no hit until AddTransaction.
  clsUser(const common::StreamFields &request, StringPool &pool);
  clsUser(const clsUser &) = delete;
  clsUser &operator=(const clsUser &) = delete;

  const std::string &Key() const noexcept { return key_; }
  const std::string &Country() const noexcept { return country_; }
  const std::string &AuthUser() const noexcept { return authUser_; }
  const std::string &UserAgent() const noexcept { return userAgent_; }
  const std::string &ResolvedAddr() const noexcept { return resolvedAddr_; }
  const std::string &RemoteAddr() const noexcept { return remoteAddr_; }
  const std::string &RemoteHost() const noexcept { return remoteHost_; }
  bool SessionEnded() const noexcept { return sessionEnded_; }
  common::DateTime Expires() const noexcept { return expires_; }
  const std::string &ShieldLink() const noexcept { return shieldLink_; }
  const std::string &ShieldUnLink() const noexcept { return shieldUnLink_; }
  const std::string &LocalHost() const noexcept { return localHost_; }
  const std::string &ServerName() const noexcept { return serverName_; }
  bool Locked() const noexcept { return locked_; }
  void SetLocked(bool locked) noexcept { locked_ = locked; }
  // The highest alert level reported for the visitor: 0, 1 or 2.
  uint8_t Level() const noexcept { return level_; }
  void SetLevel(uint8_t level) noexcept { level_ = level; }
  const clsHits &Hits() const noexcept { return hits_; }
  // The visitor's USER and HIT lines as the last snapshot wrote them.
  UserLine &SnapshotUserLine() noexcept { return snapshotUserLine_; }
  HitLines &SnapshotLines() noexcept { return snapshotLines_; }

  // Records one request: renews the expiry, takes the server name and the lock value, and
  // adds the hit, starting a new list after a session end.
  void AddTransaction(const common::StreamFields &request, double serial);

 private:
  // What every request touches comes first, close together.
  std::string key_;
  std::string serverName_;
  common::DateTime expires_ = 0;
  bool sessionEnded_ = false;
  bool locked_ = false;
  uint8_t level_ = 0;
  clsHits hits_;
  std::string country_;
  std::string authUser_;
  std::string userAgent_;
  std::string resolvedAddr_;
  std::string remoteAddr_;
  std::string remoteHost_;
  std::string localHost_;
  std::string shieldLink_;
  std::string shieldUnLink_;
  UserLine snapshotUserLine_;
  HitLines snapshotLines_;
};

}  // namespace corvane
