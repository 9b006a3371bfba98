// Keyed hashing for the library's hash tables; the key comes from the system
// random source once per process.
#pragma once
#include <cstdint>
#include <string_view>

namespace qf {

uint64_t process_hash_seed();
uint64_t hash_bytes(std::string_view data, uint64_t seed);
inline uint64_t hash_bytes(std::string_view data) { return hash_bytes(data, process_hash_seed()); }

}  // namespace qf
