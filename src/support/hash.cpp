#include "support/hash.hpp"

#include <sys/random.h>

#include <cstring>

namespace qf {

uint64_t process_hash_seed() {
  static const uint64_t seed = [] {
    uint64_t s = 0;
    if (getrandom(&s, sizeof s, 0) != static_cast<ssize_t>(sizeof s)) s = 0x9e3779b97f4a7c15ull;
    return s;
  }();
  return seed;
}

// A keyed 64-bit mix over 8-byte words (wyhash-style multiply-fold).
static inline uint64_t mix(uint64_t a, uint64_t b) {
  __uint128_t r = static_cast<__uint128_t>(a) * b;
  return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}

uint64_t hash_bytes(std::string_view data, uint64_t seed) {
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  size_t n = data.size();
  uint64_t h = seed ^ (n * 0xa0761d6478bd642full);
  while (n >= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    h = mix(h ^ w, 0xe7037ed1a0b428dbull);
    p += 8;
    n -= 8;
  }
  uint64_t tail = 0;
  for (size_t i = 0; i < n; ++i) tail |= static_cast<uint64_t>(p[i]) << (8 * i);
  h = mix(h ^ tail ^ 0x8ebc6af09c88c6e3ull, 0x589965cc75374cc3ull);
  return mix(h, 0x1d8e4e27c47d124full);
}

}  // namespace qf
