#pragma once

#include <cstddef>
#include <cstdint>
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

// A host and a request path: the identity of a visitor's resource record.
struct HostAndResource {
  std::string_view host;
  std::string_view resource;
};

struct HashHostAndResource {
  size_t operator()(const HostAndResource &key) const {
    // Hashed apart and joined unevenly, "ab"+"c" and "a"+"bc" stay apart.
    const uint64_t host = common::HashIgnoreCase(key.host);
    return static_cast<size_t>((host * 31) ^ common::HashIgnoreCase(key.resource));
  }
};

struct EqualHostAndResource {
  bool operator()(const HostAndResource &a, const HostAndResource &b) const noexcept {
    return common::EqualsIgnoreCase(a.host, b.host) &&
           common::EqualsIgnoreCase(a.resource, b.resource);
  }
};

}  // namespace vantrel
