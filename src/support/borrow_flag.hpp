// The borrow flag of the mutable native classes: one signed 64-bit word,
// 0 free, n > 0 shared borrows, -1 exclusively borrowed. Taken with atomic
// compare-and-swap; a conflict fails at once, nothing ever waits.
#pragma once
#include <atomic>
#include <cstdint>

namespace qf {

class BorrowFlag {
 public:
  BorrowFlag() noexcept = default;

  // Adds one shared borrow; false when exclusively borrowed.
  bool try_share() noexcept {
    int64_t cur = word_.load(std::memory_order_relaxed);
    while (cur != -1) {
      if (word_.compare_exchange_weak(cur, cur + 1, std::memory_order_acquire, std::memory_order_relaxed))
        return true;
    }
    return false;
  }
  void release_share() noexcept { word_.fetch_sub(1, std::memory_order_release); }

  // Takes the exclusive borrow; false when any borrow is held.
  bool try_exclusive() noexcept {
    int64_t expected = 0;
    return word_.compare_exchange_strong(expected, -1, std::memory_order_acquire, std::memory_order_relaxed);
  }
  void release_exclusive() noexcept {
    ++exclusive_releases_;
    word_.store(0, std::memory_order_release);
  }
  // How many exclusive borrows have ended. What the flag guards can have
  // changed only when this moved. Read it while holding a borrow.
  uint64_t exclusive_releases() const noexcept { return exclusive_releases_; }

  int64_t value() const noexcept { return word_.load(std::memory_order_relaxed); }

 private:
  std::atomic<int64_t> word_{0};
  uint64_t exclusive_releases_ = 0;  // written only by the exclusive holder
};

}  // namespace qf
