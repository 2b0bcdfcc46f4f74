#pragma once

#include <cstdint>
#include <string>

#include "MaskPattern.h"

namespace vantrel {

// One tripwire definition of the definitions file. Resource records share it, so it outlives
// a reload of the file for as long as a record refers to it.
class clsShieldedResource {
 public:
  struct Fields {
    std::string description;
    std::string host;
    std::string resource;
    std::string deflect;
    int16_t sensitivity = 0;
    int16_t strength = 0;
    bool inverse = false;
    bool carryParameters = false;
  };

  explicit clsShieldedResource(Fields fields)
      : fields_(std::move(fields)), mask_(fields_.resource) {}

  const std::string &Description() const noexcept { return fields_.description; }
  const std::string &Host() const noexcept { return fields_.host; }
  const std::string &Resource() const noexcept { return fields_.resource; }
  const std::string &Deflect() const noexcept { return fields_.deflect; }
  bool Inverse() const noexcept { return fields_.inverse; }
  bool CarryParameters() const noexcept { return fields_.carryParameters; }
  int16_t Sensitivity() const noexcept { return fields_.sensitivity; }
  int16_t Strength() const noexcept { return fields_.strength; }
  const MaskPattern &Mask() const noexcept { return mask_; }

 private:
  Fields fields_;
  MaskPattern mask_;
};

}  // namespace vantrel
