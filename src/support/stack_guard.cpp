#include "support/stack_guard.hpp"

#include <pthread.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdint>
#include <exception>
#include <new>

#include "support/thread_state.hpp"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#define QF_ASAN_FIBERS 1
#endif

namespace qf {

namespace {

void load_thread_bounds(StackBounds& b) noexcept {
  b.known = true;
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
  void* addr = nullptr;
  size_t size = 0;
  if (pthread_attr_getstack(&attr, &addr, &size) == 0 && addr != nullptr) {
    size_t guard = 0;
    pthread_attr_getguardsize(&attr, &guard);
    b.low = reinterpret_cast<uintptr_t>(addr) + guard;
    b.high = reinterpret_cast<uintptr_t>(addr) + size;
  }
  pthread_attr_destroy(&attr);
}

struct Switch {
  void (*fn)(void*);
  void* ctx;
  std::exception_ptr error;
  ucontext_t caller;
  ucontext_t callee;
#ifdef QF_ASAN_FIBERS
  const void* caller_bottom = nullptr;
  size_t caller_size = 0;
  void* fake_stack = nullptr;
#endif
};

void fresh_stack_entry(unsigned hi, unsigned lo) {
  auto* sw = reinterpret_cast<Switch*>((static_cast<uintptr_t>(hi) << 32) | static_cast<uintptr_t>(lo));
#ifdef QF_ASAN_FIBERS
  __sanitizer_finish_switch_fiber(nullptr, &sw->caller_bottom, &sw->caller_size);
#endif
  try {
    sw->fn(sw->ctx);
  } catch (...) {
    sw->error = std::current_exception();
  }
#ifdef QF_ASAN_FIBERS
  __sanitizer_start_switch_fiber(nullptr, sw->caller_bottom, sw->caller_size);
#endif
  // Returning resumes `caller` through uc_link.
}

// The bounds of the stack the thread runs on now, found with
// pthread_getattr_np on first use (kept in the thread's state) and replaced
// while work runs on a fresh stack.
StackBounds thread_bounds() noexcept {
  ThreadState* s = thread_state::current();
  if (s && s->stack.known) [[likely]]
    return s->stack;
  StackBounds b;
  load_thread_bounds(b);
  if (s) s->stack = b;
  return b;
}

}  // namespace

size_t remaining_stack() noexcept {
  const StackBounds b = thread_bounds();
  if (b.low == 0) return SIZE_MAX;  // bounds unknown: never switch
  auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  return here > b.low ? here - b.low : 0;
}

StackRange current_stack_range() noexcept {
  const StackBounds b = thread_bounds();
  return {b.low, b.high};
}

void run_on_fresh_stack(void (*fn)(void*), void* ctx) {
  // The walks on the fresh stack measure against it, through the thread's
  // state; without one they would measure against the thread's own stack.
  ThreadState* state = thread_state::current();
  if (!state) throw std::bad_alloc();
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t total = kFreshStackSize + page;
  void* mem = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK | MAP_NORESERVE,
                   -1, 0);
  if (mem == MAP_FAILED) throw std::bad_alloc();
  // The lowest page stays inaccessible so an overflow faults instead of
  // writing into a neighbouring mapping.
  mprotect(mem, page, PROT_NONE);
  char* stack_low = static_cast<char*>(mem) + page;

  Switch sw{fn, ctx, nullptr, {}, {}};
  if (getcontext(&sw.callee) != 0) {
    munmap(mem, total);
    throw std::bad_alloc();
  }
  sw.callee.uc_stack.ss_sp = stack_low;
  sw.callee.uc_stack.ss_size = kFreshStackSize;
  sw.callee.uc_link = &sw.caller;
  auto p = reinterpret_cast<uintptr_t>(&sw);
  makecontext(&sw.callee, reinterpret_cast<void (*)()>(&fresh_stack_entry), 2, static_cast<unsigned>(p >> 32),
              static_cast<unsigned>(p & 0xFFFFFFFFu));

  const StackBounds saved = state->stack;
  state->stack = {reinterpret_cast<uintptr_t>(stack_low), reinterpret_cast<uintptr_t>(stack_low) + kFreshStackSize,
                  true};
#ifdef QF_ASAN_FIBERS
  __sanitizer_start_switch_fiber(&sw.fake_stack, stack_low, kFreshStackSize);
#endif
  int rc = swapcontext(&sw.caller, &sw.callee);
#ifdef QF_ASAN_FIBERS
  __sanitizer_finish_switch_fiber(sw.fake_stack, nullptr, nullptr);
#endif
  state->stack = saved;
  munmap(mem, total);
  if (rc != 0) throw std::bad_alloc();
  if (sw.error) std::rethrow_exception(sw.error);
}

}  // namespace qf
