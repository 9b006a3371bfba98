// A per-thread cache of small freed blocks for the containers of value
// trees. A loaded document allocates one exactly sized block per collection
// and frees them all soon after (when the host objects are built); the
// general allocator's own per-thread cache holds only a few blocks of each
// size, so most of those calls would reach its slower paths.
//
// Blocks keep their size class (a multiple of kGranule bytes); a thread keeps
// at most kCachedBytes of freed blocks and gives the rest back. A block may
// be freed on another thread than the one that made it.
#pragma once
#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

namespace qf {

namespace block_pool {
inline constexpr size_t kGranule = 32;
inline constexpr size_t kMaxPooledBytes = 2048;
// Enough for the collections of a document of some ten thousand small
// mappings, so that loading such documents one after another reuses blocks.
inline constexpr size_t kCachedBytes = 4 * 1024 * 1024;

namespace detail {
inline constexpr size_t kClasses = kMaxPooledBytes / kGranule;

struct FreeBlock {
  FreeBlock* next;
};

// Plain data with a constant initialiser, so reaching it costs no
// initialisation check; initial-exec keeps the access a fixed offset from
// the thread pointer.
struct Cache {
  FreeBlock* heads[kClasses];
  size_t cached_bytes;
  bool registered;  // the releaser is armed for this thread
  bool closed;      // the thread is ending: blocks go straight back
  bool keeping;     // registered and not closed: one test on the inline path
};
extern constinit __attribute__((tls_model("initial-exec"))) thread_local Cache t_cache;

void* allocate_slow(size_t bytes);
void deallocate_slow(void* p, size_t bytes) noexcept;
}  // namespace detail

// The cached case inline (a list pop or push); the rest out of line. A size
// of 0 wraps to a class past the last one.
inline void* allocate(size_t bytes) {
  const size_t k = (bytes - 1) / kGranule;
  if (k < detail::kClasses) {
    detail::Cache& c = detail::t_cache;
    if (detail::FreeBlock* b = c.heads[k]) {
      c.heads[k] = b->next;
      c.cached_bytes -= (k + 1) * kGranule;
      return b;
    }
  }
  return detail::allocate_slow(bytes);
}

inline void deallocate(void* p, size_t bytes) noexcept {
  const size_t k = (bytes - 1) / kGranule;
  detail::Cache& c = detail::t_cache;
  const size_t size = (k + 1) * kGranule;
  if (p && k < detail::kClasses && c.keeping && c.cached_bytes + size <= kCachedBytes) {
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
