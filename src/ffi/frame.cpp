#include "ffi/frame.hpp"

#include <atomic>
#include <exception>
#include <new>
#include <string>

#include "ffi/errors.hpp"
#include "ffi/pyref.hpp"

namespace qf::py {

namespace {
constexpr const char* kDefaultInternalMessage = "internal error in quillfern (no further detail)";
std::atomic<PyObject*> g_internal_error{nullptr};
}  // namespace

PyObject* internal_error_class() noexcept {
  if (PyObject* c = g_internal_error.load(std::memory_order_acquire)) return c;
  PyObject* doc = nullptr;
  PyObject* cls = PyErr_NewExceptionWithDoc(
      "quillfern.QuillfernInternalError",
      "An invariant inside quillfern was broken. Derives from BaseException so that\n"
      "ordinary `except Exception` handlers do not swallow it; please report it.",
      PyExc_BaseException, doc);
  if (!cls) return nullptr;
  PyObject* expected = nullptr;
  if (!g_internal_error.compare_exchange_strong(expected, cls, std::memory_order_acq_rel)) {
    Py_DECREF(cls);  // another thread stored one first
    return expected;
  }
  return cls;
}

void raise_internal_error(std::string_view message) noexcept {
  PyObject* cause = take_raised_exception();
  PyObject* cls = internal_error_class();
  if (!cls) {
    Py_XDECREF(cause);
    return;  // the creation failure stays raised
  }
  std::string_view text = message.empty() ? std::string_view(kDefaultInternalMessage) : message;
  PyObject* msg = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
  if (!msg) {
    Py_XDECREF(cause);
    return;
  }
  PyObject* exc = PyObject_CallOneArg(cls, msg);
  Py_DECREF(msg);
  if (!exc) {
    Py_XDECREF(cause);
    return;
  }
  // Keep what was pending as the context so that nothing is lost.
  if (cause) PyException_SetContext(exc, cause);
  PyErr_SetObject(cls, exc);
  Py_DECREF(exc);
}

void rethrow_if_internal_error() {
  PyObject* cls = g_internal_error.load(std::memory_order_acquire);
  if (!cls || !PyErr_Occurred() || !PyErr_ExceptionMatches(cls)) return;
  PyRef exc = PyRef::steal(take_raised_exception());
  std::string message;
  if (PyRef s = PyRef::steal(PyObject_Str(exc.get()))) {
    Py_ssize_t n = 0;
    if (const char* u = PyUnicode_AsUTF8AndSize(s.get(), &n)) message.assign(u, static_cast<size_t>(n));
  }
  PyErr_Clear();
  throw InternalError(message);
}

void set_error_from_current_exception() noexcept {
  try {
    throw;
  } catch (const ErrorAlreadySet&) {
    if (!PyErr_Occurred()) raise_internal_error("an error was reported without an exception being set");
  } catch (Error& e) {
    try {
      std::move(e).raise();
    } catch (const ErrorAlreadySet&) {
      // The exception class itself raised while being called.
      if (!PyErr_Occurred()) raise_internal_error("an exception could not be created");
    } catch (const InternalError& ie) {
      raise_internal_error(ie.what());
    } catch (const std::bad_alloc&) {
      PyErr_NoMemory();
    } catch (...) {
      raise_internal_error({});
    }
  } catch (const InternalError& e) {
    raise_internal_error(e.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    raise_internal_error(e.what());
  } catch (...) {
    raise_internal_error({});
  }
}

namespace detail {
void check_result_consistency(bool failed) noexcept {
  if (failed && !PyErr_Occurred())
    raise_internal_error("a native call failed without setting an exception");
  else if (!failed)
    raise_internal_error("a native call returned a result with an exception set");
}
}  // namespace detail

}  // namespace qf::py
