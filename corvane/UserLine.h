#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "clsHits.h"

namespace corvane {

class clsUser;

// A visitor's USER line, followed by the HITS opening line, kept from cycle to cycle. What the
// visitor's first request fixed (KEY to RHOST, and BRSR to LHOST with the browser worked out
// from the user agent) is built once; SVR and the links again only when the server name
// changes; STRT only when the first hit changes. The line is built again only when the
// visitor's hits, level, lock or server name changed since the last cycle: a visitor that
// made no request costs a comparison.
class UserLine {
 public:
  // Brings the line up to date for the level of this cycle and returns it, each line ended by
  // CR LF; valid until the next call.
  std::string_view Update(const clsUser &user, uint8_t level);
  // Bytes held, for the owner's memory budget.
  size_t Footprint() const noexcept;
  // Forgets everything built, keeping the memory: the next Update builds from nothing.
  void Clear() noexcept;
  // Forgets everything built and gives back the memory.
  void Release() noexcept;

 private:
  // What the changing part of the line was built from.
  struct Basis {
    clsHits::History hits;
    uint8_t level = 0;
    bool locked = false;
    bool operator==(const Basis &) const = default;
  };

  void BuildFixed(const clsUser &user);
  void BuildServer(const clsUser &user);
  void AppendStart(const clsHits &hits);
  void Build(const clsUser &user, uint8_t level);

  std::string line_;  // begins with the fixed head, KEY to RHOST
  size_t headSize_ = 0;
  std::string browser_;     // BRSR to LHOST
  std::string server_;      // SVR, LINK and ULINK
  std::string serverName_;  // what server_ was built from
  std::string start_;       // STRT's value
  double startSerial_ = 0;  // the first hit's serial start_ was built from
  bool startBuilt_ = false;
  Basis basis_;
  bool built_ = false;  // line_ is whole and matches basis_
};

}  // namespace corvane
