#include "support/block_pool.hpp"

namespace qf::block_pool {

namespace {
inline size_t class_of(size_t bytes) noexcept { return (bytes - 1) / kGranule; }
}  // namespace

void detail::release_all(Cache& c) noexcept {
  for (FreeBlock*& head : c.heads) {
    while (FreeBlock* b = head) {
      head = b->next;
      ::operator delete(static_cast<void*>(b));
    }
  }
  c.cached_bytes = 0;
}

// A size past the pooled ones, an empty list, or a thread without a state.
// A new tree is being made: a dropped cache takes blocks again.
void* detail::allocate_slow(size_t bytes) {
  if (ThreadState* s = thread_state::peek(); s && s->pool.dropped) [[unlikely]] {
    s->pool.dropped = false;
    s->pool.cached_bytes = 0;
  }
  if (bytes == 0 || bytes > kMaxPooledBytes) return ::operator new(bytes);
  return ::operator new((class_of(bytes) + 1) * kGranule);
}

// A size past the pooled ones, a full cache, a thread that is ending, or the
// first block a thread gives back (which makes its state).
void detail::deallocate_slow(void* p, size_t bytes) noexcept {
  if (!p) return;
  if (bytes == 0 || bytes > kMaxPooledBytes) {
    ::operator delete(p);
    return;
  }
  const size_t k = class_of(bytes);
  const size_t size = (k + 1) * kGranule;
  ThreadState* s = thread_state::current();
  if (!s) {
    ::operator delete(p);
    return;
  }
  Cache& c = s->pool;
  if (c.cached_bytes + size > kCachedBytes) {
    // A tree larger than the cache: the blocks it kept would stay scattered
    // over the pages the rest of the tree took, which then could not be
    // given back while the thread lives. It keeps none.
    if (!c.dropped) {
      release_all(c);
      c.cached_bytes = kCachedBytes;
      c.dropped = true;
    }
    ::operator delete(p);
    return;
  }
  auto* b = static_cast<FreeBlock*>(p);
  b->next = c.heads[k];
  c.heads[k] = b;
  c.cached_bytes += size;
}

}  // namespace qf::block_pool
