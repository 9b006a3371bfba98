// A per-thread cache of small freed blocks for the containers of value
// trees. A loaded document allocates one exactly sized block per collection
// and frees them all soon after (when the host objects are built); the
// general allocator's own per-thread cache holds only a few blocks of each
// size, so most of those calls would reach its slower paths.
//
// Blocks keep their size class (a multiple of kGranule bytes); a thread keeps
// at most kCachedBytes of freed blocks (in its ThreadState) and gives the
// rest back. A block may be freed on another thread than the one that made
// it.
#pragma once
#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

#include "support/thread_state.hpp"

namespace qf {

namespace block_pool {
namespace detail {
void* allocate_slow(size_t bytes);
void deallocate_slow(void* p, size_t bytes) noexcept;
void release_all(Cache& c) noexcept;
}  // namespace detail

// The cached case inline (a list pop or push); the rest out of line. A size
// of 0 wraps to a class past the last one.
inline void* allocate(size_t bytes) {
  const size_t k = (bytes - 1) / kGranule;
  if (k < detail::kClasses) {
    if (ThreadState* s = thread_state::peek()) [[likely]] {
      detail::Cache& c = s->pool;
      if (detail::FreeBlock* b = c.heads[k]) {
        c.heads[k] = b->next;
        c.cached_bytes -= (k + 1) * kGranule;
        return b;
      }
    }
  }
  return detail::allocate_slow(bytes);
}

inline void deallocate(void* p, size_t bytes) noexcept {
  const size_t k = (bytes - 1) / kGranule;
  const size_t size = (k + 1) * kGranule;
  ThreadState* s = thread_state::peek();
  if (p && k < detail::kClasses && s && s->pool.cached_bytes + size <= kCachedBytes) {
    detail::Cache& c = s->pool;
    auto* b = static_cast<detail::FreeBlock*>(p);
    b->next = c.heads[k];
    c.heads[k] = b;
    c.cached_bytes += size;
    return;
  }
  detail::deallocate_slow(p, bytes);
}
}  // namespace block_pool

// The bytes of a T on its way to a new place (see PoolAllocator::construct).
template <class T>
struct RelocatedBytes {
  alignas(T) unsigned char bytes[sizeof(T)];
};

// std::allocator stand-in that serves small blocks from the pool. Stateless:
// every instance can free what any other made.
template <class T>
struct PoolAllocator {
  using value_type = T;

  PoolAllocator() noexcept = default;
  template <class U>
  PoolAllocator(const PoolAllocator<U>&) noexcept {}

  T* allocate(size_t n) {
    if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(block_pool::allocate(n * sizeof(T)));
  }
  void deallocate(T* p, size_t n) noexcept { block_pool::deallocate(p, n * sizeof(T)); }

  // An element made from RelocatedBytes is a copy of those bytes: for a type
  // that a byte copy moves (nothing in it points into itself), a vector
  // built from a run of such elements takes them over in one copy, with no
  // move and no destructor per element. The run must then be forgotten,
  // not destroyed.
  template <class U>
  void construct(U* p, const RelocatedBytes<U>& from) noexcept {
    std::memcpy(static_cast<void*>(p), from.bytes, sizeof(U));
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }

  template <class U>
  friend bool operator==(const PoolAllocator&, const PoolAllocator<U>&) noexcept {
    return true;
  }
};

}  // namespace qf
