// Scoped borrows of a native object's BorrowFlag. A conflict fails at once:
// RuntimeError "Already mutably borrowed" (shared refused) or "Already
// borrowed" (exclusive refused). Where an operation takes the flag of a
// second object that it expects to be free, use the *Expected forms: a
// conflict there is an internal failure (thrown qf::InternalError).
#pragma once
#include <utility>

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

}  // namespace qf::py
