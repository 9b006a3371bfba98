// A set of 64-bit object identities (addresses): open addressing with linear
// probing and backward-shift deletion, keyed with the process's random hash
// seed. 0 marks an empty slot, so 0 is never stored (no object lives there).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/hash.hpp"

namespace qf {

class IdentitySet {
 public:
  IdentitySet() : seed_(process_hash_seed() | 1) {}

  // False when the identity was already present.
  bool insert(uint64_t id) {
    if ((size_ + 1) * 2 > slots_.size()) grow();
    size_t i = home(id);
    while (slots_[i] != 0) {
      if (slots_[i] == id) return false;
      i = (i + 1) & mask_;
    }
    slots_[i] = id;
    ++size_;
    return true;
  }

  bool contains(uint64_t id) const noexcept { return find(id) != kNone; }

  // False when the identity was not present.
  bool erase(uint64_t id) noexcept {
    size_t i = find(id);
    if (i == kNone) return false;
    // Entries after the hole that could have sat in it move back, so every
    // probe sequence stays unbroken.
    for (size_t j = (i + 1) & mask_; slots_[j] != 0; j = (j + 1) & mask_) {
      const size_t k = home(slots_[j]);
      const bool stays = i <= j ? (i < k && k <= j) : (i < k || k <= j);
      if (!stays) {
        slots_[i] = slots_[j];
        i = j;
      }
    }
    slots_[i] = 0;
    --size_;
    return true;
  }

  size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }

 private:
  static constexpr size_t kNone = SIZE_MAX;

  size_t home(uint64_t id) const noexcept {
    return static_cast<size_t>(hash_detail::mix(id ^ seed_, 0x9E3779B97F4A7C15ull)) & mask_;
  }

  size_t find(uint64_t id) const noexcept {
    if (size_ == 0) return kNone;
    for (size_t i = home(id); slots_[i] != 0; i = (i + 1) & mask_)
      if (slots_[i] == id) return i;
    return kNone;
  }

  void grow() {
    std::vector<uint64_t> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, 0);
    mask_ = slots_.size() - 1;
    for (uint64_t id : old) {
      if (id == 0) continue;
      size_t i = home(id);
      while (slots_[i] != 0) i = (i + 1) & mask_;
      slots_[i] = id;
    }
  }

  std::vector<uint64_t> slots_;
  size_t mask_ = 0;
  size_t size_ = 0;
  uint64_t seed_;
};

}  // namespace qf
