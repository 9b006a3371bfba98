// One object per thread on the heap, kept in the thread's ThreadState under
// its own slot: made on first use and freed when the thread ends.
#pragma once
#include "support/thread_state.hpp"

namespace qf {

template <class T, ThreadSlot Slot>
class ThreadHeapObject {
 public:
  // The thread's object; nullptr once the thread is ending (or when no
  // state can be allocated for it).
  static T* get() {
    if (ThreadState* s = thread_state::peek()) [[likely]] {
      if (void* p = s->objects[kIndex].ptr) [[likely]]
        return static_cast<T*>(p);
    }
    return make();
  }

 private:
  static constexpr unsigned kIndex = static_cast<unsigned>(Slot);
  static_assert(kIndex < static_cast<unsigned>(ThreadSlot::kCount));

  [[gnu::noinline]] static T* make() {
    ThreadState* s = thread_state::current();
    if (!s) return nullptr;
    T* p = new T();
    s->objects[kIndex] = {p, [](void* q) noexcept { delete static_cast<T*>(q); }};
    return p;
  }
};

}  // namespace qf
