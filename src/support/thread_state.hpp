// Everything the library keeps per thread lives in one heap object, reached
// through one thread-local pointer: made on the thread's first call and
// freed when the thread ends.
//
// The static TLS block of a process is small and shared by every library it
// loads; what one library takes there another cannot get (a later dlopen of a
// library with initial-exec TLS fails). So nothing here is initial-exec: the
// module is then not marked as needing static TLS, and the TLS of the
// pattern engine's runtime linked into it stays out of that block too.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qf {

namespace block_pool {
inline constexpr size_t kGranule = 32;
inline constexpr size_t kMaxPooledBytes = 2048;
// What a thread keeps between calls is bounded (a worker that went idle
// holds it until it ends): enough for the collections of a document of a
// thousand small mappings, so that loading such documents one after another
// reuses blocks. The blocks of a larger tree all go back to the general
// allocator.
inline constexpr size_t kCachedBytes = 256 * 1024;

namespace detail {
inline constexpr size_t kClasses = kMaxPooledBytes / kGranule;

struct FreeBlock {
  FreeBlock* next;
};

struct Cache {
  FreeBlock* heads[kClasses] = {};
  size_t cached_bytes = 0;
  // The cache overflowed and was emptied: nothing is kept (cached_bytes
  // reads as full) until the thread allocates again.
  bool dropped = false;
};
}  // namespace detail
}  // namespace block_pool

// The stack the thread runs on (see stack_guard.hpp).
struct StackBounds {
  uintptr_t low = 0;
  uintptr_t high = 0;
  bool known = false;
};

// The objects of higher layers that a thread keeps between calls, one slot
// each (see ThreadHeapObject).
enum class ThreadSlot : unsigned { DecodeStacks, SpareTokens, GatherLists, TagCache, kCount };

struct ThreadState {
  block_pool::detail::Cache pool;
  StackBounds stack;
  struct Object {
    void* ptr = nullptr;
    void (*destroy)(void*) noexcept = nullptr;
  };
  Object objects[static_cast<unsigned>(ThreadSlot::kCount)];
};

namespace thread_state {
namespace detail {
extern constinit thread_local ThreadState* t_state;
[[gnu::noinline]] ThreadState* make() noexcept;
}  // namespace detail

// The calling thread's state without making it: nullptr before its first
// use and once the thread is ending.
inline ThreadState* peek() noexcept { return detail::t_state; }

// The calling thread's state, made on first use; nullptr once the thread is
// ending (its thread-exit destructors run) or when it cannot be allocated.
inline ThreadState* current() noexcept {
  ThreadState* s = detail::t_state;
  if (!s) [[unlikely]]
    s = detail::make();
  return s;
}
}  // namespace thread_state

}  // namespace qf
