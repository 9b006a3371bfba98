// Deep recursion support: every recursive walk calls through ensure_stack so
// that a nearly exhausted stack continues on a freshly mapped one.
#pragma once
#include <utility>

namespace qf {

// Runs fn() on the current stack when enough of it remains, otherwise on a
// newly allocated stack; exceptions thrown by fn propagate to the caller.
// (Stub: runs fn directly until the real guard lands.)
template <class F>
decltype(auto) ensure_stack(F&& fn) {
  return std::forward<F>(fn)();
}

}  // namespace qf
