// Deep recursion support: every recursive walk calls through ensure_stack so
// that a nearly exhausted stack continues on a freshly mapped one instead of
// overflowing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>

namespace qf {

// When fewer bytes than this remain on the current stack, work moves to a new
// stack of kFreshStackSize bytes.
inline constexpr size_t kStackReserve = 102400;
inline constexpr size_t kFreshStackSize = size_t{32} << 20;

// Bytes left between the caller's frame and the end of the stack it runs on.
size_t remaining_stack() noexcept;

// The stack the calling thread runs on now; {0, 0} when its bounds are unknown.
struct StackRange {
  uintptr_t low = 0;
  uintptr_t high = 0;
};
StackRange current_stack_range() noexcept;

// Runs fn(ctx) on a newly mapped stack of kFreshStackSize bytes and returns
// there. An exception thrown by fn is carried back and rethrown on the
// calling stack. Throws std::bad_alloc when no stack can be mapped.
void run_on_fresh_stack(void (*fn)(void*), void* ctx);

// Runs fn() on the current stack when enough of it remains, otherwise on a
// newly allocated stack (chaining as often as needed); returns its result and
// propagates its exceptions.
template <class F>
decltype(auto) ensure_stack(F&& fn) {
  using R = decltype(std::forward<F>(fn)());
  if (remaining_stack() >= kStackReserve) [[likely]]
    return std::forward<F>(fn)();
  if constexpr (std::is_void_v<R>) {
    auto call = [](void* p) { (*static_cast<std::remove_reference_t<F>*>(p))(); };
    run_on_fresh_stack(call, &fn);
  } else if constexpr (std::is_reference_v<R>) {
    struct Ctx {
      std::remove_reference_t<F>* f;
      std::remove_reference_t<R>* out;
    } ctx{&fn, nullptr};
    auto call = [](void* p) {
      auto* c = static_cast<Ctx*>(p);
      c->out = &(*c->f)();
    };
    run_on_fresh_stack(call, &ctx);
    return static_cast<R>(*ctx.out);
  } else {
    struct Ctx {
      std::remove_reference_t<F>* f;
      std::optional<R> out;
    } ctx{&fn, std::nullopt};
    auto call = [](void* p) {
      auto* c = static_cast<Ctx*>(p);
      c->out.emplace((*c->f)());
    };
    run_on_fresh_stack(call, &ctx);
    return R(std::move(*ctx.out));
  }
}

// For recursive walks that check at every level: remembers the stack the walk
// began on, so that while the walk stays on it with room to spare a check is
// two compares (no thread-local lookup). Elsewhere it defers to ensure_stack.
class StackWatch {
 public:
  StackWatch() noexcept {
    const StackRange r = current_stack_range();
    if (r.low != 0 && r.high - r.low > kStackReserve) {
      floor_ = r.low + kStackReserve;
      top_ = r.high;
    }
  }

  template <class F>
  decltype(auto) run(F&& fn) {
    const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    if (here >= floor_ && here < top_) [[likely]]
      return std::forward<F>(fn)();
    return ensure_stack(std::forward<F>(fn));
  }

 private:
  uintptr_t floor_ = 0;
  uintptr_t top_ = 0;
};

}  // namespace qf
