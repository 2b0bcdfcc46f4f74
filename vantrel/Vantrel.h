#pragma once

#include "StreamFields.h"

namespace vantrel {

// The shield plug-in's public class: routes every request and control action of the host.
class Vantrel {
 public:
  Vantrel();
  ~Vantrel();
  Vantrel(const Vantrel &) = delete;
  Vantrel &operator=(const Vantrel &) = delete;

  // Never fails for the host: a failure ends in one line of the error log.
  void Stream(const common::StreamFields &fields);
};

}  // namespace vantrel
