#include "support/hash.hpp"

#include <sys/random.h>

namespace qf {

uint64_t process_hash_seed() {
  static const uint64_t seed = [] {
    uint64_t s = 0;
    if (getrandom(&s, sizeof s, 0) != static_cast<ssize_t>(sizeof s)) s = 0x9e3779b97f4a7c15ull;
    return s;
  }();
  return seed;
}

namespace hash_detail {

uint64_t hash_long(const unsigned char* p, size_t n, uint64_t seed) noexcept {
  uint64_t h = seed;
  size_t left = n;
  while (left > 16) {
    h = mix(read8(p) ^ 0x8ebc6af09c88c6e3ull, read8(p + 8) ^ h);
    p += 16;
    left -= 16;
  }
  // The last 16 bytes, overlapping the block before when `n` is not a multiple.
  const uint64_t a = read8(p + left - 16), b = read8(p + left - 8);
  return mix(0xa0761d6478bd642full ^ n, mix(a ^ 0xe7037ed1a0b428dbull, b ^ h));
}

}  // namespace hash_detail
}  // namespace qf
