#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "clsUserAlert.h"

namespace corvane {

// The alerts one cycle raises, in the order they were added.
class clsUserAlerts {
 public:
  // Key, Country, AuthUser, UserAgent, ResolvedAddr, RemoteAddr, RemoteHost, LocalHost,
  // ServerName, the new level and r, as texts.
  using Values = std::array<std::string_view, 11>;

  // Adds the alert line, stamped with the current local time.
  void Add(const Values &values);
  int32_t Count() const noexcept { return static_cast<int32_t>(alerts_.size()); }
  // The alert at a position from 1 to Count; error 5 elsewhere.
  const clsUserAlert &Item(int32_t position) const;
  // Removes the alert at a position; later ones move up by one. Error 5 outside 1 to Count.
  void Remove(int32_t position);

 private:
  std::vector<clsUserAlert> alerts_;
};

}  // namespace corvane
