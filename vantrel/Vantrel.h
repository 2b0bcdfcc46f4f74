#pragma once

#include <string>
#include <vector>

#include "StreamFields.h"
#include "clsHit.h"
#include "clsUsers.h"

namespace vantrel {

// The shield plug-in's public class: routes every request and control action of the host.
class Vantrel {
 public:
  Vantrel();
  // Releases the visitors and also the definitions and configuration of the calling thread.
  ~Vantrel();
  Vantrel(const Vantrel &) = delete;
  Vantrel &operator=(const Vantrel &) = delete;

  // Never fails for the host: a failure ends in one line of the error log.
  void Stream(const common::StreamFields &fields);

 private:
  void ProcessCycle();
  void RecordRequest(HitAction method, const common::StreamFields &fields);

  clsUsers mUsers;
  // Lines of shields sent to the host that the tripwire file does not hold yet.
  std::vector<std::string> mUnfiledTripwires;
};

}  // namespace vantrel
