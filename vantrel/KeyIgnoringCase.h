#pragma once

#include <cstddef>
#include <string_view>

#include "Convert.h"

namespace vantrel {

// Hash and equality of texts without regard to ASCII letter case, so that a lookup by a
// request's text needs no upper-cased copy of it. The hashes are deliberately not noexcept: the
// standard library then keeps each key's hash in its node and compares those while walking a
// bucket, instead of hashing every key it passes again (which would reach into each record).
struct HashIgnoringCase {
  using is_transparent = void;

  size_t operator()(std::string_view text) const {
    return static_cast<size_t>(common::HashIgnoreCase(text));
  }
};

struct EqualIgnoringCase {
  using is_transparent = void;

  bool operator()(std::string_view a, std::string_view b) const noexcept {
    return common::EqualsIgnoreCase(a, b);
  }
};

}  // namespace vantrel
