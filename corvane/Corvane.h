#pragma once

#include <cstdint>

#include "StreamFields.h"

namespace corvane {

// The visitor monitor's public class: routes every request and control action of the host.
class Corvane {
 public:
  Corvane();
  ~Corvane();
  Corvane(const Corvane &) = delete;
  Corvane &operator=(const Corvane &) = delete;

  // Never fails for the host: a failure ends in one line of the error log.
  void Stream(const common::StreamFields &fields);

  // The number of visitors held, expired ones included until the next cycle.
  int32_t Count() const;
};

}  // namespace corvane
