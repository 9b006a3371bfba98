#include "support/block_pool.hpp"

#include <cstdint>

namespace qf::block_pool {

constinit __attribute__((tls_model("initial-exec"))) thread_local detail::Cache detail::t_cache{};

namespace {

using detail::Cache;
using detail::FreeBlock;
using detail::kClasses;
using detail::t_cache;

void release_all(Cache& c) noexcept {
  for (FreeBlock*& head : c.heads) {
    while (FreeBlock* b = head) {
      head = b->next;
      ::operator delete(static_cast<void*>(b));
    }
  }
  c.cached_bytes = 0;
}

// Gives the thread's blocks back when it ends; later frees on that thread
// (other thread-exit destructors) bypass the cache.
struct Releaser {
  ~Releaser() {
    t_cache.closed = true;
    t_cache.keeping = false;
    release_all(t_cache);
  }
};

inline size_t class_of(size_t bytes) noexcept { return (bytes - 1) / kGranule; }

}  // namespace

// A size past the pooled ones, or an empty list.
void* detail::allocate_slow(size_t bytes) {
  if (bytes == 0 || bytes > kMaxPooledBytes) return ::operator new(bytes);
  return ::operator new((class_of(bytes) + 1) * kGranule);
}

// A size past the pooled ones, a full cache, a closing thread, or the first
// block a thread gives back (which arms its releaser).
void detail::deallocate_slow(void* p, size_t bytes) noexcept {
  if (!p) return;
  if (bytes == 0 || bytes > kMaxPooledBytes) {
    ::operator delete(p);
    return;
  }
  const size_t k = class_of(bytes);
  const size_t size = (k + 1) * kGranule;
  Cache& c = t_cache;
  if (c.closed || c.cached_bytes + size > kCachedBytes) {
    ::operator delete(p);
    return;
  }
  if (!c.registered) {
    c.registered = true;
    thread_local Releaser releaser;
    (void)releaser;
    c.keeping = true;
  }
  auto* b = static_cast<FreeBlock*>(p);
  b->next = c.heads[k];
  c.heads[k] = b;
  c.cached_bytes += size;
}

}  // namespace qf::block_pool
