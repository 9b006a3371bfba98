#include "ffi/errors.hpp"

#include <array>
#include <atomic>
#include <cstring>

#include "ffi/frame.hpp"
#include "support/internal_error.hpp"

namespace qf::py {

namespace {

constexpr const char* kExceptionsModule = "quillfern.exceptions";

constexpr std::array<const char*, static_cast<size_t>(ExcClass::Count_)> kClassNames = {
    "QuillfernParseError",
    "QuillfernDuplicateKeyError",
    "QuillfernComplexKeyError",
    "QuillfernDecodeError",
    "QuillfernIncludeNotFoundError",
    "QuillfernCircularIncludeError",
    "QuillfernIncludeDepthError",
    "QuillfernIncludeConfinementError",
    "QuillfernSecretNotFoundError",
    "QuillfernEnvVarError",
    "QuillfernIncludeError",
    "QuillfernEncodeError",
    "QuillfernUnserializableError",
    "QuillfernUnserializableError",
    "QuillfernSchemaError",
};

// Run-once cells: filled under the interpreter lock, first stored wins; a
// failed lookup stores nothing so that the next use tries again.
std::array<std::atomic<PyObject*>, static_cast<size_t>(ExcClass::Count_)> g_cells{};

// "TypeName: text" of the pending exception, which is cleared.
std::string describe_pending_exception() {
  PyRef exc = PyRef::steal(take_raised_exception());
  if (!exc) return "unknown error";
  std::string out = Py_TYPE(exc.get())->tp_name;
  if (const char* dot = std::strrchr(out.c_str(), '.')) out = dot + 1;
  if (PyRef s = PyRef::steal(PyObject_Str(exc.get()))) {
    Py_ssize_t n = 0;
    if (const char* u = PyUnicode_AsUTF8AndSize(s.get(), &n)) {
      if (n > 0) out.append(": ").append(u, static_cast<size_t>(n));
    }
  }
  PyErr_Clear();
  return out;
}

// Paths and messages are bytes that should be UTF-8; anything else is shown
// with replacement characters.
PyRef str_replace(std::string_view s) {
  return PyRef::steal(PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace"));
}

}  // namespace

PyObject* exception_class(ExcClass cls) {
  auto& cell = g_cells[static_cast<size_t>(cls)];
  if (PyObject* c = cell.load(std::memory_order_acquire)) return c;
  const char* name = kClassNames[static_cast<size_t>(cls)];
  std::string failure;
  PyRef module = PyRef::steal(PyImport_ImportModule(kExceptionsModule));
  PyRef obj;
  if (!module) {
    failure = describe_pending_exception();
  } else {
    obj = PyRef::steal(PyObject_GetAttrString(module.get(), name));
    if (!obj) {
      failure = describe_pending_exception();
    } else if (!PyType_Check(obj.get())) {
      failure = std::string("TypeError: '") + Py_TYPE(obj.get())->tp_name + "' object is not a type";
    }
  }
  if (!failure.empty())
    throw InternalError(std::string("failed to import exception ") + kExceptionsModule + "." + name + ": " + failure);
  PyObject* expected = nullptr;
  if (cell.compare_exchange_strong(expected, obj.get(), std::memory_order_acq_rel)) return obj.release();
  return expected;
}

bool is_exception_instance(ExcClass cls, PyObject* obj) {
  int r = PyObject_IsInstance(obj, exception_class(cls));
  if (r < 0) throw ErrorAlreadySet{};
  return r == 1;
}

PyRef new_exception(ExcClass cls, std::string_view message) {
  PyObject* type = exception_class(cls);
  PyRef msg = str_replace(message);
  if (!msg) throw ErrorAlreadySet{};
  PyRef exc = PyRef::steal(PyObject_CallOneArg(type, msg.get()));
  if (!exc) throw ErrorAlreadySet{};
  return exc;
}

PyRef Error::into_exception() && {
  if (auto* l = std::get_if<Lazy>(&v_)) {
    PyRef exc = new_exception(l->cls, l->message);
    l->message = std::string();
    return exc;
  }
  return std::move(std::get<PyRef>(v_));
}

void Error::raise() && {
  PyRef exc = std::move(*this).into_exception();
  if (!exc) {
    if (!PyErr_Occurred()) throw InternalError("an error value held no exception");
    return;
  }
  if (PyExceptionInstance_Check(exc.get())) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc.get());
  } else {
    throw InternalError("an error value held an object that is not an exception");
  }
}

PyObject* raise(Error err) {
  std::move(err).raise();
  return nullptr;
}

std::string position_message(std::string_view message, uint32_t line0, uint32_t column0) {
  std::string out;
  out.reserve(message.size() + 40);
  out.append(message).append(" at line ").append(std::to_string(uint64_t{line0} + 1));
  out.append(", column ").append(std::to_string(uint64_t{column0} + 1));
  return out;
}

bool set_file_attribute(PyObject* exc, std::optional<std::string_view> file) {
  PyRef value = file ? str_replace(*file) : PyRef::borrow(Py_None);
  if (!value || PyObject_SetAttrString(exc, "file", value.get()) < 0) {
    PyErr_Clear();
    return false;
  }
  return true;
}

bool set_uint_attribute(PyObject* exc, const char* name, uint32_t value) {
  PyRef v = PyRef::steal(PyLong_FromUnsignedLong(value));
  if (!v || PyObject_SetAttrString(exc, name, v.get()) < 0) {
    PyErr_Clear();
    return false;
  }
  return true;
}

void set_location_attributes(PyObject* exc, std::optional<std::string_view> file, uint32_t line0, uint32_t column0) {
  set_file_attribute(exc, file);
  // Attribute values are 1-based; saturate rather than wrap at the top.
  set_uint_attribute(exc, "line", line0 == UINT32_MAX ? line0 : line0 + 1);
  set_uint_attribute(exc, "column", column0 == UINT32_MAX ? column0 : column0 + 1);
}

Error position_error(ExcClass cls, std::string_view message, uint32_t line0, uint32_t column0,
                     std::optional<std::string_view> file) {
  PyRef exc = new_exception(cls, position_message(message, line0, column0));
  set_location_attributes(exc.get(), file, line0, column0);
  return Error::object(std::move(exc));
}

ExcClass directive_error_class(DirectiveErrorKind kind) {
  switch (kind) {
    case DirectiveErrorKind::IncludeNotFound: return ExcClass::IncludeNotFoundError;
    case DirectiveErrorKind::CircularInclude: return ExcClass::CircularIncludeError;
    case DirectiveErrorKind::IncludeDepth: return ExcClass::IncludeDepthError;
    case DirectiveErrorKind::IncludeConfinement: return ExcClass::IncludeConfinementError;
    case DirectiveErrorKind::SecretNotFound: return ExcClass::SecretNotFoundError;
    case DirectiveErrorKind::EnvVar: return ExcClass::EnvVarError;
    case DirectiveErrorKind::Parse: return ExcClass::ParseError;
    case DirectiveErrorKind::Include: return ExcClass::IncludeError;
  }
  return ExcClass::IncludeError;
}

std::string format_directive_error(const DirectiveErrorView& err) {
  std::string out;
  out.append(err.message).append(" in ").append(err.file);
  for (const auto& f : err.include_chain) {
    out.append("\n  included from ").append(f.path).append(", line ").append(std::to_string(uint64_t{f.line0} + 1));
  }
  return out;
}

bool set_include_stack_attribute(PyObject* exc, std::span<const IncludeFrameView> frames) {
  std::vector<PyRef> items;
  items.reserve(frames.size());
  for (const auto& f : frames) {
    PyRef path = str_replace(f.path);
    PyRef line = PyRef::steal(PyLong_FromUnsignedLongLong(uint64_t{f.line0} + 1));
    if (!path || !line) {
      PyErr_Clear();
      return false;
    }
    items.push_back(PyRef::steal(PyTuple_Pack(2, path.get(), line.get())));
    if (!items.back()) {
      PyErr_Clear();
      return false;
    }
  }
  PyRef list = PyRef::steal(list_of(items));
  if (!list) {
    PyErr_Clear();
    return false;
  }
  if (PyObject_SetAttrString(exc, "include_stack", list.get()) < 0) {
    PyErr_Clear();
    return false;
  }
  return true;
}

Error directive_error_to_exception(const DirectiveErrorView& err) {
  if (err.kind == DirectiveErrorKind::Parse) {
    uint32_t line0 = err.position ? err.position->first : 0;
    uint32_t column0 = err.position ? err.position->second : 0;
    PyRef exc = new_exception(ExcClass::ParseError, position_message(err.message, line0, column0));
    set_location_attributes(exc.get(), err.file, line0, column0);
    set_include_stack_attribute(exc.get(), err.include_chain);
    return Error::object(std::move(exc));
  }
  PyRef exc = new_exception(directive_error_class(err.kind), format_directive_error(err));
  set_file_attribute(exc.get(), err.file);
  if (err.position) {
    set_uint_attribute(exc.get(), "line", err.position->first + 1);
    set_uint_attribute(exc.get(), "column", err.position->second + 1);
  }
  if (err.kind != DirectiveErrorKind::SecretNotFound && err.kind != DirectiveErrorKind::EnvVar)
    set_include_stack_attribute(exc.get(), err.include_chain);
  return Error::object(std::move(exc));
}

void log_warning(std::string_view text) noexcept {
  // A warning must never disturb the call that logs it, nor an exception it
  // is about to raise.
  PyObject* pending = take_raised_exception();
  {
    PyRef logging = PyRef::steal(PyImport_ImportModule("logging"));
    PyRef logger = logging ? PyRef::steal(PyObject_CallMethod(logging.get(), "getLogger", "s", "quillfern")) : PyRef();
    PyRef msg = logger ? str_replace(text) : PyRef();
    if (msg) {
      PyRef r = PyRef::steal(PyObject_CallMethod(logger.get(), "warning", "O", msg.get()));
    }
    PyErr_Clear();
  }
  restore_raised_exception(pending);
}

}  // namespace qf::py
