// Hash functor for the loader's tables: keyed with the process seed so that
// crafted keys cannot force collisions.
#pragma once
#include <string>
#include <string_view>

#include "support/hash.hpp"

namespace qf {

struct SeededStringHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept { return static_cast<size_t>(hash_bytes(s)); }
  size_t operator()(const std::string& s) const noexcept {
    return static_cast<size_t>(hash_bytes(s));
  }
};

}  // namespace qf
