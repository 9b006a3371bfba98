// Short byte runs copied with a few fixed-size, possibly overlapping moves
// instead of a call: most keys and scalars are this short.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qf {

inline constexpr size_t kShortCopyMax = 24;

// Copies n <= kShortCopyMax bytes. An empty run may have no data.
[[gnu::always_inline]] inline void copy_short_bytes(char* d, const char* s, size_t n) noexcept {
  if (n >= 8) {
    uint64_t head, tail;
    std::memcpy(&head, s, 8);
    std::memcpy(&tail, s + n - 8, 8);
    if (n > 16) {
      uint64_t mid;
      std::memcpy(&mid, s + 8, 8);
      std::memcpy(d + 8, &mid, 8);
    }
    std::memcpy(d, &head, 8);
    std::memcpy(d + n - 8, &tail, 8);
  } else if (n >= 4) {
    uint32_t head, tail;
    std::memcpy(&head, s, 4);
    std::memcpy(&tail, s + n - 4, 4);
    std::memcpy(d, &head, 4);
    std::memcpy(d + n - 4, &tail, 4);
  } else if (n != 0) {
    d[0] = s[0];
    d[n / 2] = s[n / 2];
    d[n - 1] = s[n - 1];
  }
}

}  // namespace qf
