#include "support/thread_state.hpp"

#include <new>

#include "support/block_pool.hpp"

namespace qf::thread_state {

constinit thread_local ThreadState* detail::t_state = nullptr;

namespace {

constinit thread_local bool t_closed = false;

// Frees the state when the thread ends. The pointer is cleared first, so
// whatever runs after (the kept objects' destructors, other thread-exit
// destructors) finds no state and frees straight to the general allocator;
// the flag keeps it from being made again.
struct Owner {
  ~Owner() {
    ThreadState* s = detail::t_state;
    detail::t_state = nullptr;
    t_closed = true;
    if (!s) return;
    for (unsigned i = static_cast<unsigned>(ThreadSlot::kCount); i-- > 0;) {
      ThreadState::Object& o = s->objects[i];
      if (o.ptr) o.destroy(o.ptr);
    }
    block_pool::detail::release_all(s->pool);
    delete s;
  }
};

}  // namespace

ThreadState* detail::make() noexcept {
  if (t_closed) return nullptr;
  auto* s = new (std::nothrow) ThreadState();
  if (!s) return nullptr;
  thread_local Owner owner;
  (void)owner;
  t_state = s;
  return s;
}

}  // namespace qf::thread_state
