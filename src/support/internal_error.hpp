// The internal-error value: a broken invariant inside the library. It is
// thrown as a C++ exception and turned into the host's internal-error
// exception at the boundary of every host call; it is never an expected
// outcome.
#pragma once
#include <stdexcept>
#include <string>

namespace qf {

class InternalError : public std::runtime_error {
 public:
  explicit InternalError(const std::string& message) : std::runtime_error(message) {}
  explicit InternalError(const char* message) : std::runtime_error(message) {}
};

// Throws InternalError with `message` when `cond` is false.
inline void check_invariant(bool cond, const char* message) {
  if (!cond) throw InternalError(message);
}

}  // namespace qf
