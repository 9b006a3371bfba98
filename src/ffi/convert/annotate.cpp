#include "ffi/convert/annotate.hpp"

#include <atomic>
#include <optional>

#include "ffi/convert/node_walk.hpp"
#include "ffi/pyref.hpp"
#include "ffi/types/annotated.hpp"
#include "ffi/types/descriptors.hpp"
#include "roundtrip/source_tag.hpp"

namespace qf::py {

namespace {

struct ClassCell {
  const char* name;
  std::atomic<PyObject*> cls{nullptr};
};

constexpr const char* kClassNames[] = {"QuillfernAnnotatedStr", "QuillfernAnnotatedInt", "QuillfernAnnotatedFloat"};
ClassCell g_cells[] = {{kClassNames[0]}, {kClassNames[1]}, {kClassNames[2]}};

// The attributes of an annotated scalar, in the order of the call after the
// value.
constexpr const char* kAttributeNames[] = {"__line__",       "__column__", "__file__",          "__end_line__",
                                           "__end_column__", "__style__",  "__source_tag__",    "__source_target__",
                                           "__offset__",     "__end_offset__"};

std::optional<std::string> owned(std::optional<std::string_view> s) {
  if (!s) return std::nullopt;
  return std::string(*s);
}

PyObject* opt_str(std::optional<std::string_view> s) {
  if (!s) Py_RETURN_NONE;
  return PyUnicode_DecodeUTF8(s->data(), static_cast<Py_ssize_t>(s->size()), "surrogateescape");
}

// Builds annotated containers and scalars; one per conversion.
class AnnotatedBuild {
 public:
  static constexpr bool kTags = true;

  AnnotatedBuild(const FileNames& files, const AnnotateSettings& s) : files_(files), s_(s) {}

  PyObject* new_list(const YamlNode& n) { return new_annotated_list(annotation(n)); }
  PyObject* new_dict(const YamlNode& n) { return new_annotated_dict(annotation(n)); }

  PyObject* scalar(const YamlNode& n, ScalarTag tag) {
    if (n.is_null()) return scalar_node_to_python(n, s_.values, tag);
    if (PyObject* d = scalar_timestamp(n, s_.values)) return d;
    const Resolution r = resolve_scalar(s_.values.mode, n.text, n.scalar_style, tag);
    switch (r.kind) {
      case ResolvedKind::Str:
      case ResolvedKind::Merge: {
        // A !!merge scalar reads as "<<" whatever its text.
        const std::string_view text = r.kind == ResolvedKind::Merge ? std::string_view("<<") : std::string_view(n.text);
        PyRef v = PyRef::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
        return v ? annotated_scalar(AnnotatedScalarClass::Str, v.get(), n) : nullptr;
      }
      case ResolvedKind::Int:
        if (!s_.annotate_numbers) break;
        return annotated_number(AnnotatedScalarClass::Int, PyLong_FromLongLong(r.int_value), n);
      case ResolvedKind::Float:
        if (!s_.annotate_numbers) break;
        return annotated_number(AnnotatedScalarClass::Float, PyFloat_FromDouble(r.float_value), n);
      default: break;
    }
    return resolved_to_python(r, n.text);
  }

 private:
  const std::string* file_of(const YamlNode& n) const {
    return n.span.file_id < files_.size() ? &files_[n.span.file_id] : nullptr;
  }

  NodeAnnotation annotation(const YamlNode& n) const {
    NodeAnnotation a;
    a.line = n.span.line + 1;
    a.column = n.span.column + 1;
    if (const std::string* f = file_of(n)) a.file = *f;
    a.end_line = n.end_line + 1;
    a.end_column = n.end_column + 1;
    a.source_tag = owned(effective_source_tag(n));
    a.source_target = owned(effective_source_target(n));
    a.offset = n.span.offset;
    a.end_offset = n.end_offset;
    return a;
  }

  PyObject* annotated_number(AnnotatedScalarClass which, PyObject* value, const YamlNode& n) {
    PyRef v = PyRef::steal(value);
    return v ? annotated_scalar(which, v.get(), n) : nullptr;
  }

  // cls(value, line, column, file, end_line, end_column, style, source_tag,
  //     source_target, offset, end_offset)
  PyObject* annotated_scalar(AnnotatedScalarClass which, PyObject* value, const YamlNode& n) {
    PyObject* cls = annotated_scalar_class(which);
    if (!cls) return nullptr;
    PyObject* file = file_object(n);
    if (!file) return nullptr;
    PyObject* style = style_object(n.scalar_style);
    if (!style) return nullptr;
    PyRef line = PyRef::steal(PyLong_FromUnsignedLongLong(uint64_t{n.span.line} + 1));
    PyRef column = PyRef::steal(PyLong_FromUnsignedLongLong(uint64_t{n.span.column} + 1));
    PyRef end_line = PyRef::steal(PyLong_FromUnsignedLongLong(uint64_t{n.end_line} + 1));
    PyRef end_column = PyRef::steal(PyLong_FromUnsignedLongLong(uint64_t{n.end_column} + 1));
    PyRef tag = PyRef::steal(opt_str(effective_source_tag(n)));
    PyRef target = PyRef::steal(opt_str(effective_source_target(n)));
    PyRef offset = PyRef::steal(PyLong_FromUnsignedLongLong(n.span.offset));
    PyRef end_offset = PyRef::steal(PyLong_FromUnsignedLongLong(n.end_offset));
    if (!line || !column || !end_line || !end_column || !tag || !target || !offset || !end_offset) return nullptr;
    PyObject* args[] = {value,         line.get(), column.get(), file,          end_line.get(), end_column.get(),
                        style,         tag.get(),  target.get(), offset.get(),  end_offset.get()};
    const int direct = constructs_directly(which, cls);
    if (direct < 0) return nullptr;
    if (direct) return construct(which, cls, args);
    return PyObject_Vectorcall(cls, args, 11, nullptr);
  }

  // The package's own classes, unchanged, are built here as their __new__
  // would build them (the plain value, then one dict of the ten location
  // attributes), without running it: a few times faster, and one is made per
  // scalar. A replaced class, or one whose __new__ was replaced, is called.
  // -1 with the exception set when that cannot be found out.
  int constructs_directly(AnnotatedScalarClass which, PyObject* cls) {
    int8_t& known = direct_[static_cast<size_t>(which)];
    if (known >= 0) return known;
    PyRef module = PyRef::steal(PyImport_ImportModule("quillfern._annotated"));
    if (!module) return -1;
    PyRef own = PyRef::steal(PyObject_GetAttrString(module.get(), kClassNames[static_cast<size_t>(which)]));
    PyRef own_new = PyRef::steal(PyObject_GetAttrString(module.get(), "_NATIVE_NEW"));
    if (!own || !own_new) return -1;
    known = 0;
    if (own.get() != cls) return known;
    PyRef cls_new = PyRef::steal(PyObject_GetAttrString(cls, "__new__"));
    if (!cls_new) return -1;
    known = cls_new.get() == own_new.get() ? 1 : 0;
    return known;
  }

  PyObject* construct(AnnotatedScalarClass which, PyObject* cls, PyObject* const* args) {
    static PyTypeObject* const kBases[] = {&PyUnicode_Type, &PyLong_Type, &PyFloat_Type};
    if (!dict_template_) {
      PyRef t = PyRef::steal(PyDict_New());
      if (!t) return nullptr;
      for (size_t i = 0; i < 10; ++i) {
        attr_names_[i] = PyRef::steal(PyUnicode_InternFromString(kAttributeNames[i]));
        if (!attr_names_[i] || PyDict_SetItem(t.get(), attr_names_[i].get(), Py_None) < 0) return nullptr;
      }
      dict_template_ = std::move(t);
    }
    PyRef value_args = PyRef::steal(PyTuple_Pack(1, args[0]));
    if (!value_args) return nullptr;
    PyTypeObject* base = kBases[static_cast<size_t>(which)];
    PyRef obj = PyRef::steal(base->tp_new(reinterpret_cast<PyTypeObject*>(cls), value_args.get(), nullptr));
    PyRef dict = PyRef::steal(obj ? PyDict_Copy(dict_template_.get()) : nullptr);
    if (!dict) return nullptr;
    for (size_t i = 0; i < 10; ++i)
      if (PyDict_SetItem(dict.get(), attr_names_[i].get(), args[i + 1]) < 0) return nullptr;
    if (PyObject_GenericSetDict(obj.get(), dict.get(), nullptr) < 0) return nullptr;
    return obj.release();
  }

  // Borrowed; made once per conversion.
  PyObject* file_object(const YamlNode& n) {
    const uint32_t id = n.span.file_id;
    if (id >= files_.size()) return Py_None;
    if (file_objects_.empty()) file_objects_.resize(files_.size());
    PyRef& slot = file_objects_[id];
    if (!slot) slot = PyRef::steal(PyUnicode_DecodeUTF8(files_[id].data(), Py_ssize_t(files_[id].size()), "replace"));
    return slot.get();
  }

  PyObject* style_object(ScalarStyle style) {
    PyRef& slot = styles_[static_cast<size_t>(style) % 5];
    if (!slot) slot = PyRef::steal(PyUnicode_InternFromString(scalar_style_name(style)));
    return slot.get();
  }

  const FileNames& files_;
  const AnnotateSettings& s_;
  std::vector<PyRef> file_objects_;
  PyRef styles_[5];
  int8_t direct_[3] = {-1, -1, -1};  // per class: not known yet, no, yes
  PyRef dict_template_;              // the ten attribute names, in call order
  PyRef attr_names_[10];
};

}  // namespace

PyObject* annotated_scalar_class(AnnotatedScalarClass which) {
  ClassCell& cell = g_cells[static_cast<size_t>(which)];
  if (PyObject* c = cell.cls.load(std::memory_order_acquire)) return c;
  PyRef module = PyRef::steal(PyImport_ImportModule("quillfern"));
  if (!module) return nullptr;
  PyRef found = PyRef::steal(PyObject_GetAttrString(module.get(), cell.name));
  if (!found) return nullptr;
  // The import can let another thread run; the first class stored is kept.
  PyObject* expected = nullptr;
  if (cell.cls.compare_exchange_strong(expected, found.get(), std::memory_order_acq_rel)) return found.release();
  return expected;
}

PyObject* node_to_annotated_python(const YamlNode& node, const FileNames& files, const AnnotateSettings& s,
                                   const TagContext& ctx, AliasScope& scope, AnchorObjectCache& cache,
                                   const TagHandles* handles) {
  AnnotatedBuild build(files, s);
  return NodeWalk(build, s.values, &ctx, scope, cache, handles).convert(node);
}

PyObject* annotated_tree_to_python(const YamlNode& root, const FileNames& files, const AnnotateSettings& s,
                                   const TagContext& ctx) {
  AliasScope scope(root);
  AnchorObjectCache cache;
  const TagHandles handles(root);
  // The annotated scalar classes are the package's own and make no cycles.
  CollectorPause pause(ctx);
  return node_to_annotated_python(root, files, s, ctx, scope, cache, handles.empty() ? nullptr : &handles);
}

}  // namespace qf::py
