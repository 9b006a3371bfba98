// Releasing the interpreter lock around work that touches no host object:
// no reference may be created or dropped while a ReleaseGil is alive.
#pragma once
#include "ffi/py.hpp"

namespace qf::py {

class ReleaseGil {
 public:
  ReleaseGil() noexcept : state_(PyEval_SaveThread()) {}
  ~ReleaseGil() { PyEval_RestoreThread(state_); }
  ReleaseGil(const ReleaseGil&) = delete;
  ReleaseGil& operator=(const ReleaseGil&) = delete;

 private:
  PyThreadState* state_;
};

// Runs fn() with the lock released and returns its result; exceptions thrown
// by fn propagate after the lock is taken again.
template <class F>
decltype(auto) without_gil(F&& fn) {
  ReleaseGil released;
  return std::forward<F>(fn)();
}

}  // namespace qf::py
