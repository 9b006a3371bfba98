// Host exceptions for the loader's error values (ScanError, LoadError).
// Header-only, so that including src/ffi/ does not tie every build to the
// scanner and decoder libraries.
#pragma once
#include <optional>
#include <string_view>

#include "decode/load_error.hpp"
#include "ffi/errors.hpp"
#include "scanner/token.hpp"

namespace qf::py {

inline ExcClass load_error_class(LoadErrorKind kind) {
  switch (kind) {
    case LoadErrorKind::DuplicateKey: return ExcClass::DuplicateKeyError;
    case LoadErrorKind::ComplexKey: return ExcClass::ComplexKeyError;
    case LoadErrorKind::Parse: break;
  }
  return ExcClass::ParseError;
}

// "{} at line {}, column {}" of the class chosen by the kind; attributes
// file (the given text, or None), line and column (1-based).
inline Error load_error_to_exception(const LoadError& err, std::optional<std::string_view> file = std::nullopt) {
  return position_error(load_error_class(err.kind), err.message, err.span.line, err.span.column, file);
}

// QuillfernParseError with file None.
inline Error parse_error_to_exception(const ScanError& err) {
  return position_error(ExcClass::ParseError, err.message, err.span.line, err.span.column);
}

// QuillfernDuplicateKeyError with file None (duplicate keys on source trees).
inline Error duplicate_key_error_to_exception(const ScanError& err) {
  return position_error(ExcClass::DuplicateKeyError, err.message, err.span.line, err.span.column);
}

// The same conversions, consuming the record.
inline Error convert_load_error(LoadError&& err) {
  LoadError e = std::move(err);
  return load_error_to_exception(e);
}
inline Error convert_parse_error(ScanError&& err) {
  ScanError e = std::move(err);
  return parse_error_to_exception(e);
}
inline Error convert_duplicate_key_error(ScanError&& err) {
  ScanError e = std::move(err);
  return duplicate_key_error_to_exception(e);
}

}  // namespace qf::py
