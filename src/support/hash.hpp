// Keyed hashing for the library's hash tables; the key comes from the system
// random source once per process.
#pragma once
#include <cstdint>
#include <cstring>
#include <string_view>

namespace qf {

uint64_t process_hash_seed();

namespace hash_detail {
inline uint64_t mix(uint64_t a, uint64_t b) noexcept {
  const __uint128_t r = static_cast<__uint128_t>(a) * b;
  return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}
inline uint64_t read8(const unsigned char* p) noexcept {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline uint64_t read4(const unsigned char* p) noexcept {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
uint64_t hash_long(const unsigned char* p, size_t n, uint64_t seed) noexcept;
}  // namespace hash_detail

// A keyed 64-bit multiply-fold hash (wyhash-style). Texts of up to 16 bytes,
// the usual mapping keys, take two overlapping reads and two multiplies.
inline uint64_t hash_bytes(std::string_view data, uint64_t seed) noexcept {
  using namespace hash_detail;
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  const size_t n = data.size();
  if (n > 16) return hash_long(p, n, seed);
  uint64_t a = 0, b = 0;
  if (n >= 8) {
    a = read8(p);
    b = read8(p + n - 8);
  } else if (n >= 4) {
    a = read4(p);
    b = read4(p + n - 4);
  } else if (n > 0) {
    a = (uint64_t{p[0]} << 16) | (uint64_t{p[n >> 1]} << 8) | p[n - 1];
  }
  return mix(0xa0761d6478bd642full ^ n, mix(a ^ 0xe7037ed1a0b428dbull, b ^ seed));
}
inline uint64_t hash_bytes(std::string_view data) { return hash_bytes(data, process_hash_seed()); }

}  // namespace qf
