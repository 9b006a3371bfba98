// Scoped borrows of a native object's BorrowFlag. A conflict fails at once:
// RuntimeError "Already mutably borrowed" (shared refused) or "Already
// borrowed" (exclusive refused). Host code run while a borrow is held (a
// key's __eq__ or __index__) can reach any member of the same object or of
// the document behind it, so every such member uses these checked forms.
// The `expected` forms are only for a flag that no host code can hold when
// the borrow is taken: a conflict there is an internal failure (thrown
// qf::InternalError).
#pragma once
#include <type_traits>
#include <utility>

#include "ffi/frame.hpp"
#include "ffi/py.hpp"
#include "support/borrow_flag.hpp"
#include "support/internal_error.hpp"

namespace qf::py {

class SharedBorrow {
 public:
  // Raises RuntimeError on conflict; test with operator bool.
  explicit SharedBorrow(BorrowFlag& f) noexcept : f_(&f) {
    if (!f.try_share()) {
      f_ = nullptr;
      PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
    }
  }
  // Throws qf::InternalError on conflict.
  static SharedBorrow expected(BorrowFlag& f) {
    if (!f.try_share()) throw InternalError("Already mutably borrowed");
    return SharedBorrow(&f);
  }
  SharedBorrow(SharedBorrow&& o) noexcept : f_(std::exchange(o.f_, nullptr)) {}
  SharedBorrow(const SharedBorrow&) = delete;
  SharedBorrow& operator=(const SharedBorrow&) = delete;
  ~SharedBorrow() {
    if (f_) f_->release_share();
  }
  explicit operator bool() const noexcept { return f_ != nullptr; }

 private:
  explicit SharedBorrow(BorrowFlag* f) noexcept : f_(f) {}
  BorrowFlag* f_;
};

class ExclusiveBorrow {
 public:
  explicit ExclusiveBorrow(BorrowFlag& f) noexcept : f_(&f) {
    if (!f.try_exclusive()) {
      f_ = nullptr;
      PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
    }
  }
  static ExclusiveBorrow expected(BorrowFlag& f) {
    if (!f.try_exclusive()) throw InternalError("Already borrowed");
    return ExclusiveBorrow(&f);
  }
  ExclusiveBorrow(ExclusiveBorrow&& o) noexcept : f_(std::exchange(o.f_, nullptr)) {}
  ExclusiveBorrow(const ExclusiveBorrow&) = delete;
  ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
  ~ExclusiveBorrow() {
    if (f_) f_->release_exclusive();
  }
  explicit operator bool() const noexcept { return f_ != nullptr; }

 private:
  explicit ExclusiveBorrow(BorrowFlag* f) noexcept : f_(f) {}
  BorrowFlag* f_;
};

// The failure result of a host-call implementation: nullptr, or -1 for the
// status-returning slots.
template <class R>
constexpr R failure() noexcept {
  if constexpr (std::is_pointer_v<R>) return nullptr;
  else return R(-1);
}

// Runs body() in the host-call frame (frame.hpp) under the shared borrow of
// `flag`; on a conflict body does not run and RuntimeError is raised. R is
// PyObject* or the status type of a slot (-1 on failure).
template <class R = PyObject*, class F>
R with_shared_borrow(BorrowFlag& flag, F&& body) noexcept {
  auto run = [&]() -> R {
    SharedBorrow b(flag);
    if (!b) return failure<R>();
    return body();
  };
  if constexpr (std::is_pointer_v<R>) return guarded(run);
  else return guarded_status<R>(run);
}

}  // namespace qf::py
