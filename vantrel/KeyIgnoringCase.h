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

  static uint64_t Mix(uint64_t hash, std::string_view text) noexcept {
    for (char c : text) {
      hash ^= static_cast<unsigned char>(common::UpperAscii(c));
      hash *= 1099511628211ull;
    }
    return hash;
  }

  size_t operator()(std::string_view text) const {
    return static_cast<size_t>(Mix(14695981039346656037ull, text));
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
    // The length keeps "ab"+"c" apart from "a"+"bc".
    uint64_t hash = HashIgnoringCase::Mix(14695981039346656037ull, key.host);
    hash = (hash ^ key.host.size()) * 1099511628211ull;
    return static_cast<size_t>(HashIgnoringCase::Mix(hash, key.resource));
  }
};

struct EqualHostAndResource {
  bool operator()(const HostAndResource &a, const HostAndResource &b) const noexcept {
    return common::EqualsIgnoreCase(a.host, b.host) &&
           common::EqualsIgnoreCase(a.resource, b.resource);
  }
};

}  // namespace vantrel
