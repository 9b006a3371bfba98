#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "ffi/borrow.hpp"
#include "ffi/errors.hpp"
#include "ffi/frame.hpp"
#include "ffi/pyref.hpp"
#include "ffi/types/annotated.hpp"
#include "python_env.hpp"
#include "support/stack_guard.hpp"

using qf::py::DirectiveErrorKind;
using qf::py::DirectiveErrorView;
using qf::py::Error;
using qf::py::ExcClass;
using qf::py::IncludeFrameView;
using qf::py::PyRef;

namespace {

// Takes the raised exception; fails the test when none is set.
PyRef take() {
  PyObject* e = qf::py::take_raised_exception();
  EXPECT_NE(e, nullptr);
  return PyRef::steal(e);
}

std::string str(PyObject* o) {
  PyRef s = PyRef::steal(PyObject_Str(o));
  return s ? PyUnicode_AsUTF8(s.get()) : "<error>";
}

std::string attr_repr(PyObject* o, const char* name) {
  PyRef a = PyRef::steal(PyObject_GetAttrString(o, name));
  if (!a) {
    PyErr_Clear();
    return "<missing>";
  }
  PyRef r = PyRef::steal(PyObject_Repr(a.get()));
  return PyUnicode_AsUTF8(r.get());
}

// "module.QualName" of an object's class ("MemoryError" for builtins).
std::string type_name(PyObject* o) {
  PyObject* t = reinterpret_cast<PyObject*>(Py_TYPE(o));
  PyRef mod = PyRef::steal(PyObject_GetAttrString(t, "__module__"));
  PyRef qual = PyRef::steal(PyObject_GetAttrString(t, "__qualname__"));
  if (!mod || !qual) {
    PyErr_Clear();
    return Py_TYPE(o)->tp_name;
  }
  std::string m = PyUnicode_AsUTF8(mod.get());
  std::string q = PyUnicode_AsUTF8(qual.get());
  return m == "builtins" ? q : m + "." + q;
}

// Raises `err` through the frame and returns the exception.
PyRef raised(Error err) {
  PyObject* r = qf::py::guarded([&]() -> PyObject* { throw std::move(err); });
  EXPECT_EQ(r, nullptr);
  return take();
}

}  // namespace

TEST(Errors, PositionErrorMessageAndAttributes) {
  PyRef e = raised(qf::py::position_error(ExcClass::ParseError, "did not find expected key", 0, 0));
  EXPECT_EQ(type_name(e.get()), "quillfern.exceptions.QuillfernParseError");
  EXPECT_EQ(str(e.get()), "did not find expected key at line 1, column 1");
  EXPECT_EQ(attr_repr(e.get(), "file"), "None");
  EXPECT_EQ(attr_repr(e.get(), "line"), "1");
  EXPECT_EQ(attr_repr(e.get(), "column"), "1");
  EXPECT_EQ(attr_repr(e.get(), "include_stack"), "<missing>");

  PyRef d = raised(qf::py::position_error(ExcClass::DuplicateKeyError, "duplicate key", 4, 9, "conf/a.yaml"));
  EXPECT_EQ(str(d.get()), "duplicate key at line 5, column 10");
  EXPECT_EQ(attr_repr(d.get(), "file"), "'conf/a.yaml'");
  EXPECT_EQ(attr_repr(d.get(), "line"), "5");
}

TEST(Errors, LazyErrorTakesOneMessageArgument) {
  PyRef e = raised(Error::lazy(ExcClass::ComplexKeyError, "complex key"));
  EXPECT_EQ(type_name(e.get()), "quillfern.exceptions.QuillfernComplexKeyError");
  EXPECT_EQ(attr_repr(e.get(), "args"), "('complex key',)");
}

TEST(Errors, DirectiveParseErrorWithoutPosition) {
  DirectiveErrorView v{DirectiveErrorKind::Parse, "bad indentation", std::nullopt, "inc/x.yaml", {}};
  PyRef e = raised(qf::py::directive_error_to_exception(v));
  EXPECT_EQ(type_name(e.get()), "quillfern.exceptions.QuillfernParseError");
  EXPECT_EQ(str(e.get()), "bad indentation at line 1, column 1");
  EXPECT_EQ(attr_repr(e.get(), "file"), "'inc/x.yaml'");
  EXPECT_EQ(attr_repr(e.get(), "line"), "1");
  EXPECT_EQ(attr_repr(e.get(), "column"), "1");
  EXPECT_EQ(attr_repr(e.get(), "include_stack"), "[]");
}

TEST(Errors, DirectiveErrorWithIncludeChain) {
  std::vector<IncludeFrameView> chain = {{"main.yaml", 2}, {"sub/a.yaml", 0}};
  DirectiveErrorView v{DirectiveErrorKind::CircularInclude, "circular include", std::make_pair(3u, 4u),
                       "sub/b.yaml", chain};
  PyRef e = raised(qf::py::directive_error_to_exception(v));
  EXPECT_EQ(type_name(e.get()), "quillfern.exceptions.QuillfernCircularIncludeError");
  EXPECT_EQ(str(e.get()),
            "circular include in sub/b.yaml\n  included from main.yaml, line 3\n  included from sub/a.yaml, line 1");
  EXPECT_EQ(attr_repr(e.get(), "include_stack"), "[('main.yaml', 3), ('sub/a.yaml', 1)]");
  EXPECT_EQ(attr_repr(e.get(), "line"), "4");
  EXPECT_EQ(attr_repr(e.get(), "column"), "5");
}

TEST(Errors, DirectiveErrorKindsAndAttributes) {
  struct Case {
    DirectiveErrorKind kind;
    const char* cls;
    bool include_stack;
  } cases[] = {
      {DirectiveErrorKind::IncludeNotFound, "QuillfernIncludeNotFoundError", true},
      {DirectiveErrorKind::IncludeDepth, "QuillfernIncludeDepthError", true},
      {DirectiveErrorKind::IncludeConfinement, "QuillfernIncludeConfinementError", true},
      {DirectiveErrorKind::SecretNotFound, "QuillfernSecretNotFoundError", false},
      {DirectiveErrorKind::EnvVar, "QuillfernEnvVarError", false},
      {DirectiveErrorKind::Include, "QuillfernIncludeError", true},
  };
  for (const auto& c : cases) {
    DirectiveErrorView v{c.kind, "failed", std::nullopt, "bad\xff.yaml", {}};
    PyRef e = raised(qf::py::directive_error_to_exception(v));
    EXPECT_EQ(type_name(e.get()), std::string("quillfern.exceptions.") + c.cls);
    EXPECT_EQ(str(e.get()), "failed in bad\xEF\xBF\xBD.yaml");
    EXPECT_EQ(attr_repr(e.get(), "file"), "'bad\xEF\xBF\xBD.yaml'");
    EXPECT_EQ(attr_repr(e.get(), "line"), "<missing>");
    EXPECT_EQ(attr_repr(e.get(), "include_stack"), c.include_stack ? "[]" : "<missing>");
  }
}

TEST(Errors, AttributeFailuresAreIgnored) {
  ASSERT_TRUE(qf_test::run_python("class Slotted(Exception):\n    __slots__ = ()\n"
                                  "    def __setattr__(self, k, v): raise AttributeError(k)\n"));
  PyRef cls = PyRef::steal(qf_test::eval_python("Slotted"));
  PyRef exc = PyRef::steal(PyObject_CallFunction(cls.get(), "s", "m"));
  qf::py::set_location_attributes(exc.get(), std::nullopt, 1, 2);
  EXPECT_FALSE(PyErr_Occurred());
}

TEST(Frame, InternalFailuresBecomeTheInternalError) {
  PyObject* r = qf::py::guarded([]() -> PyObject* { throw qf::InternalError("broken invariant"); });
  EXPECT_EQ(r, nullptr);
  PyRef e = take();
  EXPECT_EQ(type_name(e.get()), "quillfern.QuillfernInternalError");
  EXPECT_EQ(str(e.get()), "broken invariant");
  PyObject* base = reinterpret_cast<PyObject*>(Py_TYPE(e.get())->tp_base);
  EXPECT_EQ(base, PyExc_BaseException);

  qf::py::guarded([]() -> PyObject* { throw std::runtime_error("std failure"); });
  EXPECT_EQ(str(take().get()), "std failure");
  qf::py::guarded([]() -> PyObject* { throw 42; });
  EXPECT_NE(str(take().get()), "");
  qf::py::guarded([]() -> PyObject* { throw std::bad_alloc(); });
  EXPECT_EQ(type_name(take().get()), "MemoryError");
  qf::py::guarded([]() -> PyObject* { return nullptr; });  // failure without an exception
  EXPECT_EQ(type_name(take().get()), "quillfern.QuillfernInternalError");
  int rc = qf::py::guarded_status([]() -> int { throw qf::InternalError("x"); });
  EXPECT_EQ(rc, -1);
  take();
}

TEST(Frame, InternalErrorFromACallbackStaysInternal) {
  PyObject* r = qf::py::guarded([]() -> PyObject* {
    qf::py::raise_internal_error("from a callback");
    qf::py::rethrow_if_internal_error();
    return nullptr;
  });
  EXPECT_EQ(r, nullptr);
  PyRef e = take();
  EXPECT_EQ(type_name(e.get()), "quillfern.QuillfernInternalError");
  EXPECT_EQ(str(e.get()), "from a callback");
}

TEST(Frame, MissingExceptionClassIsInternal) {
  ASSERT_TRUE(qf_test::run_python("import quillfern.exceptions as qe\n"
                                  "saved = qe.QuillfernSchemaError\n"
                                  "del qe.QuillfernSchemaError\n"));
  PyRef e = raised(Error::lazy(ExcClass::SchemaError, "x"));
  EXPECT_EQ(type_name(e.get()), "quillfern.QuillfernInternalError");
  EXPECT_EQ(str(e.get()).rfind("failed to import exception quillfern.exceptions.QuillfernSchemaError: ", 0), 0u)
      << str(e.get());
  ASSERT_TRUE(qf_test::run_python("qe.QuillfernSchemaError = saved\n"));
  PyRef ok = raised(Error::lazy(ExcClass::SchemaError, "x"));
  EXPECT_EQ(type_name(ok.get()), "quillfern.exceptions.QuillfernSchemaError");
}

TEST(Warnings, LogWarningReachesLoggingAndNeverFails) {
  ASSERT_TRUE(qf_test::run_python(
      "import logging\n"
      "seen = []\n"
      "class H(logging.Handler):\n"
      "    def emit(self, record): seen.append((record.name, record.levelname, record.getMessage()))\n"
      "class Boom(logging.Handler):\n"
      "    def emit(self, record): raise RuntimeError('handler failed')\n"
      "    def handleError(self, record): raise\n"
      "log = logging.getLogger('quillfern')\n"
      "log.addHandler(H())\n"
      "log.propagate = False\n"));
  qf::py::log_warning("first warning at line 1, column 2");
  EXPECT_FALSE(PyErr_Occurred());
  ASSERT_TRUE(qf_test::run_python("assert seen == [('quillfern', 'WARNING', 'first warning at line 1, column 2')], seen\n"
                                  "log.addHandler(Boom())\n"));
  // A raising handler is silenced, and an exception already pending survives.
  PyErr_SetString(PyExc_KeyError, "pending");
  qf::py::log_warning("second");
  PyRef e = take();
  EXPECT_EQ(type_name(e.get()), "KeyError");
  ASSERT_TRUE(qf_test::run_python("assert len(seen) == 2\nlog.handlers.clear()\n"));
}

TEST(Borrow, GettersRefuseWhileExclusivelyBorrowed) {
  qf::py::NodeAnnotation ann;
  ann.line = 3;
  ann.column = 4;
  PyObject* d = qf::py::guarded([&] { return qf::py::new_annotated_dict(ann); });
  ASSERT_NE(d, nullptr);
  PyRef dict = PyRef::steal(d);
  qf::py::AnnotatedRecord* rec = qf::py::annotated_record(dict.get());
  {
    qf::py::ExclusiveBorrow w(rec->borrow);
    ASSERT_TRUE(static_cast<bool>(w));
    EXPECT_EQ(PyObject_GetAttrString(dict.get(), "__line__"), nullptr);
    PyRef e = take();
    EXPECT_EQ(type_name(e.get()), "RuntimeError");
    EXPECT_EQ(str(e.get()), "Already mutably borrowed");
    qf::py::ExclusiveBorrow again(rec->borrow);
    EXPECT_FALSE(static_cast<bool>(again));
    EXPECT_EQ(str(take().get()), "Already borrowed");
    EXPECT_THROW(qf::py::ExclusiveBorrow::expected(rec->borrow), qf::InternalError);
  }
  PyRef line = PyRef::steal(PyObject_GetAttrString(dict.get(), "__line__"));
  ASSERT_TRUE(line);
  EXPECT_EQ(PyLong_AsLong(line.get()), 3);
  EXPECT_EQ(rec->borrow.value(), 0);
}

namespace {
// Builds [[[...]]] `depth` levels deep through the stack guard.
PyObject* nest(size_t depth) {
  if (depth == 0) return PyList_New(0);
  return qf::ensure_stack([&]() -> PyObject* {
    PyObject* inner = nest(depth - 1);
    if (!inner) return nullptr;
    PyObject* outer = PyList_New(1);
    if (!outer) {
      Py_DECREF(inner);
      return nullptr;
    }
    PyList_SET_ITEM(outer, 0, inner);
    return outer;
  });
}
}  // namespace

TEST(StackGuard, HostObjectsBuiltOnFreshStacks) {
  PyObject* r = qf::py::guarded([] { return nest(200000); });
  ASSERT_NE(r, nullptr);
  PyObject* cur = r;
  size_t depth = 0;
  while (PyList_GET_SIZE(cur) == 1) {
    cur = PyList_GET_ITEM(cur, 0);
    ++depth;
  }
  EXPECT_EQ(depth, 200000u);
  // Free it without deep recursion in the test itself: unlink level by level.
  PyObject* keep = r;
  while (PyList_GET_SIZE(keep) == 1) {
    PyObject* child = PyList_GET_ITEM(keep, 0);
    Py_INCREF(child);
    PyList_SetSlice(keep, 0, 1, nullptr);
    Py_DECREF(keep);
    keep = child;
  }
  Py_DECREF(keep);
}

TEST(StackGuard, ErrorsThrownDeepArriveAtTheFrame) {
  PyObject* r = qf::py::guarded([] {
    return qf::ensure_stack([] {
      std::function<PyObject*(int)> dive = [&](int n) -> PyObject* {
        if (n == 0) throw Error::lazy(ExcClass::DecodeError, "deep failure");
        return qf::ensure_stack([&] { return dive(n - 1); });
      };
      return dive(100000);
    });
  });
  EXPECT_EQ(r, nullptr);
  PyRef e = take();
  EXPECT_EQ(type_name(e.get()), "quillfern.exceptions.QuillfernDecodeError");
  EXPECT_EQ(str(e.get()), "deep failure");
}

#include "ffi/core_errors.hpp"

TEST(Errors, LoaderErrorValues) {
  qf::LoadError dup{"duplicate mapping key 'a'", qf::Span{0, 2, 0, 10}, qf::LoadErrorKind::DuplicateKey};
  PyRef e = raised(qf::py::load_error_to_exception(dup));
  EXPECT_EQ(type_name(e.get()), "quillfern.exceptions.QuillfernDuplicateKeyError");
  EXPECT_EQ(str(e.get()), "duplicate mapping key 'a' at line 3, column 1");
  EXPECT_EQ(attr_repr(e.get(), "file"), "None");

  qf::LoadError cx{"complex key", qf::Span{}, qf::LoadErrorKind::ComplexKey};
  PyRef c = raised(qf::py::load_error_to_exception(cx, "inc/b.yaml"));
  EXPECT_EQ(type_name(c.get()), "quillfern.exceptions.QuillfernComplexKeyError");
  EXPECT_EQ(attr_repr(c.get(), "file"), "'inc/b.yaml'");

  PyRef p = raised(qf::py::convert_parse_error(qf::ScanError{"found a tab", qf::Span{0, 0, 4, 4}}));
  EXPECT_EQ(type_name(p.get()), "quillfern.exceptions.QuillfernParseError");
  EXPECT_EQ(str(p.get()), "found a tab at line 1, column 5");
  EXPECT_EQ(attr_repr(p.get(), "column"), "5");
}

TEST(Frame, ExceptionClassWhoseConstructorRaises) {
  ASSERT_TRUE(qf_test::run_python("import quillfern.exceptions as qe\n"
                                  "saved_enc = qe.QuillfernEncodeError\n"
                                  "class Refuses(Exception):\n"
                                  "    def __init__(self, msg): raise LookupError('refused: ' + msg)\n"
                                  "qe.QuillfernEncodeError = Refuses\n"));
  PyRef e = raised(Error::lazy(ExcClass::EncodeError, "x"));
  EXPECT_EQ(type_name(e.get()), "LookupError");
  EXPECT_EQ(str(e.get()), "refused: x");
  ASSERT_TRUE(qf_test::run_python("qe.QuillfernEncodeError = saved_enc\n"));
}
