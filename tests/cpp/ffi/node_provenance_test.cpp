// Directive provenance through QuillfernNode: a hand-built include source and
// file table, as the directive road will leave them.
#include <gtest/gtest.h>

#include <string>

#include "ffi/pyref.hpp"
#include "ffi/types/document.hpp"
#include "python_env.hpp"
#include "roundtrip/composer.hpp"

using qf::py::PyRef;

namespace {

std::string repr_attr(PyObject* o, const char* attr) {
  PyRef v = PyRef::steal(PyObject_GetAttrString(o, attr));
  if (!v) {
    PyErr_Clear();
    return "<error>";
  }
  PyRef r = PyRef::steal(PyObject_Repr(v.get()));
  return PyUnicode_AsUTF8(r.get());
}

PyRef item(PyObject* node, const char* key) {
  return PyRef::steal(PyObject_GetItem(node, PyRef::steal(PyUnicode_FromString(key)).get()));
}

TEST(NodeProvenance, IncludeSourceWinsOverTagAndFilesComeFromTheTable) {
  qf::ComposeResult r = qf::compose_documents("db: !secret db_pass\ninc: !custom x\nplain: 1\nstd: !!str 2\n");
  ASSERT_TRUE(r.ok());
  qf::RoundTripDocument d;
  d.docs = std::move(r.roots);
  d.files = {"main.yaml", "conf/\xFF" "bad.yaml"};
  qf::YamlNode& inc = d.docs[0].pairs[1].value;
  inc.set_source(qf::IncludeSource{"!include", "conf/x.yaml", 1});
  inc.span.file_id = 1;
  d.docs[0].pairs[2].value.span.file_id = 7;  // not in the table
  PyRef doc = PyRef::steal(qf::py::new_document_object(std::move(d)));
  ASSERT_TRUE(doc);
  PyRef root = PyRef::steal(PyObject_GetAttrString(doc.get(), "node"));
  ASSERT_TRUE(root);

  PyRef db = item(root.get(), "db");
  EXPECT_EQ(repr_attr(db.get(), "source_tag"), "'!secret'");
  EXPECT_EQ(repr_attr(db.get(), "is_secret"), "True");
  EXPECT_EQ(repr_attr(db.get(), "source_target"), "None");
  EXPECT_EQ(repr_attr(db.get(), "file"), "'main.yaml'");

  PyRef i = item(root.get(), "inc");
  EXPECT_EQ(repr_attr(i.get(), "source_tag"), "'!include'");
  EXPECT_EQ(repr_attr(i.get(), "tag"), "'!custom'");
  EXPECT_EQ(repr_attr(i.get(), "is_include"), "True");
  EXPECT_EQ(repr_attr(i.get(), "is_secret"), "False");
  EXPECT_EQ(repr_attr(i.get(), "source_target"), "'conf/x.yaml'");
  EXPECT_EQ(repr_attr(i.get(), "file"), "'conf/\xEF\xBF\xBD" "bad.yaml'");

  PyRef p = item(root.get(), "plain");
  EXPECT_EQ(repr_attr(p.get(), "file"), "None");
  EXPECT_EQ(repr_attr(p.get(), "source_tag"), "None");
  PyRef s = item(root.get(), "std");
  EXPECT_EQ(repr_attr(s.get(), "source_tag"), "None");
  EXPECT_EQ(repr_attr(s.get(), "is_env_var"), "False");
}

}  // namespace
