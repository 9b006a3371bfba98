// The single failure of a fast load: a message, the position it refers to,
// and the kind that selects the host exception class.
#pragma once
#include <cstdint>
#include <string>

#include "scanner/token.hpp"  // Span, ScanError

namespace qf {

enum class LoadErrorKind : uint8_t {
  Parse = 0,         // scanner errors, stream structure, limits, tags, aliases
  DuplicateKey = 1,  // duplicate-key policy in error mode
  ComplexKey = 2,    // complex-key policy
};

struct LoadError {
  std::string message;  // without position
  Span span;            // all zero when no token was left to point at
  LoadErrorKind kind = LoadErrorKind::Parse;

  static LoadError parse(std::string message, Span span) {
    return LoadError{std::move(message), span, LoadErrorKind::Parse};
  }
  // A scan error becomes a Parse error with the same message and span.
  static LoadError from_scan_error(ScanError error) {
    return LoadError{std::move(error.message), error.span, LoadErrorKind::Parse};
  }
};

}  // namespace qf
