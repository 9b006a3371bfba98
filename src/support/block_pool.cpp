#include "support/block_pool.hpp"

#include <cstdint>

namespace qf::block_pool {

namespace {

constexpr size_t kClasses = kMaxPooledBytes / kGranule;

struct FreeBlock {
  FreeBlock* next;
};

// Plain data, so reaching it costs no initialisation check; initial-exec
// keeps the access a fixed offset from the thread pointer.
struct Cache {
  FreeBlock* heads[kClasses];
  size_t cached_bytes;
  bool registered;  // the releaser below is armed for this thread
  bool closed;      // the thread is ending: blocks go straight back
};

__attribute__((tls_model("initial-exec"))) thread_local Cache t_cache;

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
    release_all(t_cache);
  }
};

inline size_t class_of(size_t bytes) noexcept { return (bytes - 1) / kGranule; }

}  // namespace

void* allocate(size_t bytes) {
  if (bytes == 0 || bytes > kMaxPooledBytes) return ::operator new(bytes);
  const size_t k = class_of(bytes);
  Cache& c = t_cache;
  if (FreeBlock* b = c.heads[k]) {
    c.heads[k] = b->next;
    c.cached_bytes -= (k + 1) * kGranule;
    return b;
  }
  return ::operator new((k + 1) * kGranule);
}

void deallocate(void* p, size_t bytes) noexcept {
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
  if (!c.registered) [[unlikely]] {
    c.registered = true;
    thread_local Releaser releaser;
    (void)releaser;
  }
  auto* b = static_cast<FreeBlock*>(p);
  b->next = c.heads[k];
  c.heads[k] = b;
  c.cached_bytes += size;
}

}  // namespace qf::block_pool
