// The plain conversion of directive-loaded source trees: custom tags through
// the tag handlers, merge keys, collection keys, shared alias objects.
#include <gtest/gtest.h>

#include <string>

#include "ffi/convert/roundtrip_values.hpp"
#include "ffi/pyref.hpp"
#include "python_env.hpp"
#include "roundtrip/composer.hpp"

using qf::py::PyRef;

namespace {

std::string repr(PyObject* o) {
  PyRef r = PyRef::steal(PyObject_Repr(o));
  return r ? PyUnicode_AsUTF8(r.get()) : "<error>";
}

PyRef eval(const char* expr) {
  PyRef globals = PyRef::steal(PyDict_New());
  PyDict_SetItemString(globals.get(), "__builtins__", PyEval_GetBuiltins());
  return PyRef::steal(PyRun_String(expr, Py_eval_input, globals.get(), globals.get()));
}

PyRef convert(const char* text, const qf::py::TagContext& ctx, qf::py::ValueSettings s = {}) {
  qf::ComposeResult r = qf::compose_documents(text);
  EXPECT_TRUE(r.ok());
  EXPECT_FALSE(r.roots.empty());
  return PyRef::steal(qf::py::document_tree_to_python(r.roots.front(), s, ctx));
}

TEST(NodeToLoadedPython, AppliesCustomTagsOnly) {
  PyRef tags = eval("{'!up': lambda v: v.upper(), '!pair': lambda v: tuple(v)}");
  qf::py::TagContext ctx{tags.get(), nullptr, false};
  PyRef v = convert("a: !up x\nb: !!int '7'\nc: !pair [1, 2]\nd: !other y\n", ctx);
  ASSERT_TRUE(v) << repr(PyErr_Occurred());
  EXPECT_EQ(repr(v.get()), "{'a': 'X', 'b': 7, 'c': (1, 2), 'd': 'y'}");
}

// A custom-tagged scalar reaches the handler as the string of its text.
TEST(NodeToLoadedPython, TagHandlerGetsTheNameAndTheStringValue) {
  PyRef handler = eval("lambda name, v: (name, v)");
  qf::py::TagContext ctx{nullptr, handler.get(), false};
  PyRef v = convert("- !t 1\n- !<verbatim> {k: v}\n", ctx);
  ASSERT_TRUE(v);
  EXPECT_EQ(repr(v.get()), "[('!t', '1'), ('verbatim', {'k': 'v'})]");
}

TEST(NodeToLoadedPython, MergeKeysAndLeftovers) {
  qf::py::TagContext ctx{};
  PyRef v = convert(
      "base: &b {x: 1, y: 2}\n"
      "m: {<<: [*b, 5], y: 3}\n"
      "n: {<<: 5, <<: 6}\n"
      "o: {b: 1, <<: {a: 2, b: 3}}\n",
      ctx);
  ASSERT_TRUE(v);
  EXPECT_EQ(repr(v.get()),
            "{'base': {'x': 1, 'y': 2}, 'm': {'x': 1, 'y': 3, '<<': [5]}, 'n': {'<<': [5, 6]}, "
            "'o': {'b': 1, 'a': 2}}");
}

TEST(NodeToLoadedPython, AliasesShareObjectsAndCollectionKeysBecomeTuples) {
  qf::py::TagContext ctx{};
  PyRef v = convert("a: &x [1]\nb: *x\n? [k, {m: 1}]\n: c\n", ctx);
  ASSERT_TRUE(v);
  PyObject* a = PyDict_GetItemString(v.get(), "a");
  PyObject* b = PyDict_GetItemString(v.get(), "b");
  EXPECT_EQ(a, b);
  EXPECT_EQ(repr(v.get()), "{'a': [1], 'b': [1], ('k', (('m', 1),)): 'c'}");
}

// Keys and values meet one set of tag rules: a tagged scalar inside a
// collection key goes through its handler, and an alias of it elsewhere
// yields what the handler made (plain loads gives the same).
TEST(NodeToLoadedPython, TagsInsideCollectionKeysAsInValues) {
  PyRef tags = eval("{'!up': lambda v: v.upper(), '!t': lambda v: tuple(v)}");
  qf::py::TagContext ctx{tags.get(), nullptr, false};
  PyRef v = convert("? [&x !up a]\n: 1\nb: *x\n? !t [c, d]\n: 2\n", ctx);
  ASSERT_TRUE(v) << repr(PyErr_Occurred());
  EXPECT_EQ(repr(v.get()), "{('A',): 1, 'b': 'A', ('c', 'd'): 2}");
}

// %TAG handles are expanded before resolution and for the handlers.
TEST(NodeToLoadedPython, TagHandlesExpanded) {
  PyRef handler = eval("lambda name, v: (name, v)");
  qf::py::TagContext ctx{nullptr, handler.get(), false};
  PyRef v = convert("%TAG !e! tag:e.com,2000:\n%TAG !c! tag:yaml.org,2002:\n---\na: !e!x y\nb: !c!int '3'\n", ctx);
  ASSERT_TRUE(v) << repr(PyErr_Occurred());
  EXPECT_EQ(repr(v.get()), "{'a': ('tag:e.com,2000:x', 'y'), 'b': 3}");
}

TEST(NodeToLoadedPython, HandlerErrorsPassThrough) {
  PyRef tags = eval("{'!bad': lambda v: 1 / 0}");
  qf::py::TagContext ctx{tags.get(), nullptr, false};
  PyRef v = convert("a: !bad x\n", ctx);
  EXPECT_FALSE(v);
  EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_ZeroDivisionError));
  PyErr_Clear();
}

}  // namespace
