// Host exceptions of the package's own classes and warnings.
//
// The exception classes live in the pure-Python module quillfern.exceptions;
// each is looked up by name on first use and cached for the process. Errors
// travel as qf::py::Error values (returned or thrown) until the host-call
// frame raises them.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "directives/directive_error.hpp"
#include "ffi/py.hpp"
#include "ffi/pyref.hpp"

namespace qf::py {

// One lookup cell per class; UnserializableErrorCheck is a second cell of
// QuillfernUnserializableError kept for instance tests by the encoder.
enum class ExcClass : uint8_t {
  ParseError,
  DuplicateKeyError,
  ComplexKeyError,
  DecodeError,
  IncludeNotFoundError,
  CircularIncludeError,
  IncludeDepthError,
  IncludeConfinementError,
  SecretNotFoundError,
  EnvVarError,
  IncludeError,
  EncodeError,
  UnserializableError,
  UnserializableErrorCheck,
  SchemaError,
  Count_
};

// The class object (borrowed, cached for the process). Throws
// qf::InternalError "failed to import exception quillfern.exceptions.{}: {}"
// when the module or class cannot be found or is not a type; the cell then
// stays empty and the next use tries again.
PyObject* exception_class(ExcClass cls);

// True when `obj` is an instance of the class (looked up as above).
bool is_exception_instance(ExcClass cls, PyObject* obj);

// Creates the exception object of `cls` with `message` as its one argument.
// Throws qf::InternalError when the class cannot be found and
// ErrorAlreadySet when the class's constructor raises.
PyRef new_exception(ExcClass cls, std::string_view message);

// An error value: an exception still to be made (class and message, created
// only when raised) or an exception object that already exists.
class Error {
 public:
  static Error lazy(ExcClass cls, std::string message) { return Error(Lazy{cls, std::move(message)}); }
  static Error object(PyRef exc) { return Error(std::move(exc)); }
  // Takes the currently raised host exception.
  static Error fetch() { return Error(PyRef::steal(take_raised_exception())); }

  // Makes the exception object (a lazy error looks its class up now).
  // Throws like new_exception.
  PyRef into_exception() &&;
  // Sets it as the raised host exception. Throws like new_exception.
  void raise() &&;

 private:
  struct Lazy {
    ExcClass cls;
    std::string message;
  };
  explicit Error(Lazy l) : v_(std::move(l)) {}
  explicit Error(PyRef r) : v_(std::move(r)) {}
  std::variant<Lazy, PyRef> v_;
};

// Raises `err` now and returns nullptr: `return raise(Error::lazy(...));`
// inside a guarded implementation.
PyObject* raise(Error err);

// A lazy QuillfernDecodeError whose only argument is `message`.
inline Error decode_error_from_message(std::string_view message) {
  return Error::lazy(ExcClass::DecodeError, std::string(message));
}

// "{} at line {}, column {}" with the 0-based line and column each plus 1.
std::string position_message(std::string_view message, uint32_t line0, uint32_t column0);

// Attribute setters. Each reports failure (false, the host exception
// discarded); callers ignore it.
bool set_file_attribute(PyObject* exc, std::optional<std::string_view> file);
bool set_uint_attribute(PyObject* exc, const char* name, uint32_t value);
// Sets `file`, `line` (line0 + 1) and `column` (column0 + 1), in that order.
void set_location_attributes(PyObject* exc, std::optional<std::string_view> file, uint32_t line0, uint32_t column0);

// The exception of a positioned failure (ScanError, LoadError, duplicate keys
// on source trees): class `cls`, message "{} at line {}, column {}",
// attributes file (None unless given), line and column (1-based). Returned
// already created.
Error position_error(ExcClass cls, std::string_view message, uint32_t line0, uint32_t column0,
                     std::optional<std::string_view> file = std::nullopt);

// Directive failures (include / secret / env_var expansion and write-back).
using directives::DirectiveErrorKind;

// One step of an include chain: the included file's path (bytes; invalid
// UTF-8 is shown with replacement characters) and the 0-based line of the
// directive that included it.
struct IncludeFrameView {
  std::string_view path;
  uint32_t line0;
};

// What the exception layer reads of a DirectiveError.
struct DirectiveErrorView {
  DirectiveErrorKind kind;
  std::string_view message;
  std::optional<std::pair<uint32_t, uint32_t>> position;  // 0-based line, column
  std::string_view file;
  std::span<const IncludeFrameView> include_chain;
};

// "{} in {}" then "\n  included from {}, line {}" per frame.
std::string format_directive_error(const DirectiveErrorView& err);
ExcClass directive_error_class(DirectiveErrorKind kind);
// include_stack: a list of (path, 1-based line) tuples, one per frame.
bool set_include_stack_attribute(PyObject* exc, std::span<const IncludeFrameView> frames);
Error directive_error_to_exception(const DirectiveErrorView& err);

// Passes one warning to logging.getLogger("quillfern").warning. Never fails:
// any error on the way is discarded (a pending exception is preserved).
void log_warning(std::string_view text) noexcept;

}  // namespace qf::py
