#include "ffi/types/descriptors.hpp"

#include <memory>
#include <string_view>

#include "ffi/args.hpp"
#include "ffi/getters.hpp"
#include "roundtrip/comment_text.hpp"

namespace qf::py {

const char* scalar_style_name(int8_t code) noexcept {
  switch (code) {
    case 0: return "plain";
    case 1: return "single";
    case 2: return "double";
    case 3: return "literal";
    case 4: return "folded";
    default: return "auto";
  }
}

std::string debug_quoted(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t cp = c;
    size_t len = 1;
    if (c == 0xC2 && i + 1 < text.size()) {  // C1 controls are the only 2-byte escapes
      cp = static_cast<unsigned char>(text[i + 1]) & 0x3F | 0x80;
      len = 2;
      if (cp > 0x9F) {
        out.append(text.substr(i, 2));
        ++i;
        continue;
      }
    }
    switch (cp) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case 0: out += "\\0"; break;
      default:
        if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F && (len == 2 || cp == 0x7F))) {
          out += "\\u{";
          if (cp >= 0x10) out.push_back(kHex[cp >> 4]);
          out.push_back(kHex[cp & 0xF]);
          out.push_back('}');
        } else {
          out.append(text.substr(i, len));
        }
    }
    i += len - 1;
  }
  out.push_back('"');
  return out;
}

bool normalize_comment_argument(std::optional<std::string>& text) {
  if (!text) return true;
  CommentLines split = split_comment_lines(*text);
  if (!split.ok()) {
    PyErr_SetString(PyExc_ValueError, std::string(*split.error).c_str());
    return false;
  }
  std::string joined;
  joined.reserve(text->size());
  for (size_t i = 0; i < split.lines.size(); ++i) {
    if (i) joined.push_back('\n');
    joined += split.lines[i];
  }
  *text = std::move(joined);
  return true;
}

namespace {

// The comment arguments shared by the three classes, converted, checked and
// normalised.
struct CommentArgs {
  std::optional<std::string> comment, before, after;

  bool convert(PyObject* comment_obj, PyObject* before_obj, PyObject* after_obj) {
    return arg_opt_str(comment_obj, "comment", comment) && arg_opt_str(before_obj, "comment_before", before) &&
           arg_opt_str(after_obj, "comment_after", after);
  }
  bool check() {
    if (comment) {
      if (auto problem = validate_inline_comment(*comment)) {
        PyErr_SetString(PyExc_ValueError, std::string(*problem).c_str());
        return false;
      }
    }
    return normalize_comment_argument(before) && normalize_comment_argument(after);
  }
};

// ---- QuillfernScalar ----

const char* const kScalarParams[] = {"value", "tag", "style", "comment", "comment_before", "comment_after"};
const ArgSpec kScalarSpec{"QuillfernScalar.__new__()", kScalarParams, 1, 0, 1, 5};

PyObject* make_scalar(PyTypeObject* tp, const CallArgs& a) {
  std::string value;
  std::optional<std::string> tag, style_name;
  CommentArgs comments;
  if (!arg_str(a[0], "value", value) || !arg_opt_str(a[1], "tag", tag) || !arg_opt_str(a[2], "style", style_name) ||
      !comments.convert(a[3], a[4], a[5]))
    return nullptr;
  int8_t style = -1;
  if (style_name) {
    static constexpr std::string_view kNames[] = {"auto", "plain", "single", "double", "literal", "folded"};
    style = -2;
    for (size_t i = 0; i < std::size(kNames); ++i)
      if (*style_name == kNames[i]) style = static_cast<int8_t>(int(i) - 1);
    if (style == -2) {
      std::string message = "invalid scalar style " + debug_quoted(*style_name) +
                            ": expected one of 'auto', 'plain', 'single', 'double', 'literal', 'folded'";
      PyErr_SetString(PyExc_ValueError, message.c_str());
      return nullptr;
    }
  }
  if (!comments.check()) return nullptr;
  auto* o = reinterpret_cast<ScalarObject*>(tp->tp_alloc(tp, 0));
  if (!o) return nullptr;
  std::construct_at(&o->value, std::move(value));
  std::construct_at(&o->tag, std::move(tag));
  std::construct_at(&o->comment, std::move(comments.comment));
  std::construct_at(&o->comment_before, std::move(comments.before));
  std::construct_at(&o->comment_after, std::move(comments.after));
  o->style = style;
  return reinterpret_cast<PyObject*>(o);
}

PyObject* scalar_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    CallArgs a;
    if (!parse_args(kScalarSpec, args, kwargs, a)) return nullptr;
    return make_scalar(tp, a);
  });
}

PyObject* scalar_vectorcall(PyObject* tp, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    CallArgs a;
    if (!parse_args(kScalarSpec, args, static_cast<Py_ssize_t>(nargsf), kwnames, a)) return nullptr;
    return make_scalar(reinterpret_cast<PyTypeObject*>(tp), a);
  });
}

PyObject* scalar_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    auto* o = reinterpret_cast<ScalarObject*>(self);
    std::string s = "QuillfernScalar(" + debug_quoted(o->value);
    if (o->tag) s += ", tag=" + debug_quoted(*o->tag);
    s += ", style=" + debug_quoted(scalar_style_name(o->style)) + ")";
    return to_py(s);
  });
}

PyObject* scalar_style(PyObject* self, void*) {
  return guarded([&] { return to_py(scalar_style_name(reinterpret_cast<ScalarObject*>(self)->style)); });
}

void scalar_dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  auto* o = reinterpret_cast<ScalarObject*>(self);
  std::destroy_at(&o->value);
  std::destroy_at(&o->tag);
  std::destroy_at(&o->comment);
  std::destroy_at(&o->comment_before);
  std::destroy_at(&o->comment_after);
  tp->tp_free(self);
  Py_DECREF(tp);
}

PyGetSetDef scalar_getset[] = {
    {"value", get_field<&ScalarObject::value>, nullptr, nullptr, nullptr},
    {"tag", get_field<&ScalarObject::tag>, nullptr, nullptr, nullptr},
    {"style", scalar_style, nullptr, nullptr, nullptr},
    {"comment", get_field<&ScalarObject::comment>, nullptr, nullptr, nullptr},
    {"comment_before", get_field<&ScalarObject::comment_before>, nullptr, nullptr, nullptr},
    {"comment_after", get_field<&ScalarObject::comment_after>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot scalar_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "QuillfernScalar(value, *, tag=None, style=\"auto\", comment=None, comment_before=None, "
                    "comment_after=None)\n--\n\n"
                    "A scalar node descriptor returned by a `represent` callback: the text to emit,\n"
                    "an optional explicit tag, and a style. `style=\"auto\"` lets the emitter apply\n"
                    "its implicit-resolver quoting; an explicit style is validated against the\n"
                    "value and then honored.")},
    {Py_tp_new, reinterpret_cast<void*>(scalar_new)},
    {Py_tp_repr, reinterpret_cast<void*>(scalar_repr)},
    {Py_tp_dealloc, reinterpret_cast<void*>(scalar_dealloc)},
    {Py_tp_getset, scalar_getset},
    {0, nullptr},
};

PyType_Spec scalar_spec = {"quillfern.QuillfernScalar", sizeof(ScalarObject), 0, Py_TPFLAGS_DEFAULT, scalar_slots};

// ---- QuillfernMapping / QuillfernSequence ----

const char* const kMappingParams[] = {"pairs", "tag", "flow", "comment", "comment_before", "comment_after"};
const ArgSpec kMappingSpec{"QuillfernMapping.__new__()", kMappingParams, 1, 0, 1, 5};
const char* const kSequenceParams[] = {"items", "tag", "flow", "comment", "comment_before", "comment_after"};
const ArgSpec kSequenceSpec{"QuillfernSequence.__new__()", kSequenceParams, 1, 0, 1, 5};

PyObject* make_collection(PyTypeObject* tp, const CallArgs& a) {
  std::optional<std::string> tag;
  std::optional<bool> flow;
  CommentArgs comments;
  if (!arg_opt_str(a[1], "tag", tag) || !arg_opt_bool(a[2], "flow", flow) || !comments.convert(a[3], a[4], a[5]))
    return nullptr;
  // A list or tuple is kept as that very object (the caller may still
  // change a list); anything else is read once into a new list.
  PyRef entries = PyList_Check(a[0]) || PyTuple_Check(a[0])
                      ? PyRef::borrow(a[0])
                      : PyRef::steal(PyObject_CallOneArg(reinterpret_cast<PyObject*>(&PyList_Type), a[0]));
  if (!entries || !comments.check()) return nullptr;
  auto* o = reinterpret_cast<CollectionDescriptorObject*>(tp->tp_alloc(tp, 0));
  if (!o) return nullptr;
  std::construct_at(&o->tag, std::move(tag));
  std::construct_at(&o->comment, std::move(comments.comment));
  std::construct_at(&o->comment_before, std::move(comments.before));
  std::construct_at(&o->comment_after, std::move(comments.after));
  o->flow = flow ? uint8_t(*flow) : uint8_t{2};
  o->entries = entries.release();
  return reinterpret_cast<PyObject*>(o);
}

template <const ArgSpec& Spec>
PyObject* collection_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    CallArgs a;
    if (!parse_args(Spec, args, kwargs, a)) return nullptr;
    return make_collection(tp, a);
  });
}

template <const ArgSpec& Spec>
PyObject* collection_vectorcall(PyObject* tp, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    CallArgs a;
    if (!parse_args(Spec, args, static_cast<Py_ssize_t>(nargsf), kwnames, a)) return nullptr;
    return make_collection(reinterpret_cast<PyTypeObject*>(tp), a);
  });
}

PyObject* collection_flow(PyObject* self, void*) {
  uint8_t f = reinterpret_cast<CollectionDescriptorObject*>(self)->flow;
  if (f == 2) Py_RETURN_NONE;
  return PyBool_FromLong(f == 1);
}

int collection_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(reinterpret_cast<CollectionDescriptorObject*>(self)->entries);
  Py_VISIT(Py_TYPE(self));
  return 0;
}

int collection_clear(PyObject* self) {
  Py_CLEAR(reinterpret_cast<CollectionDescriptorObject*>(self)->entries);
  return 0;
}

// The trashcan bounds the native recursion when deeply nested descriptors
// are released at once.
void collection_dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  Py_TRASHCAN_BEGIN(self, collection_dealloc)
  auto* o = reinterpret_cast<CollectionDescriptorObject*>(self);
  Py_CLEAR(o->entries);
  std::destroy_at(&o->tag);
  std::destroy_at(&o->comment);
  std::destroy_at(&o->comment_before);
  std::destroy_at(&o->comment_after);
  tp->tp_free(self);
  Py_DECREF(tp);
  Py_TRASHCAN_END
}

#define QF_COLLECTION_GETSET(entries_name)                                                                \
  {                                                                                                      \
    {entries_name, get_field<&CollectionDescriptorObject::entries>, nullptr, nullptr, nullptr},         \
        {"tag", get_field<&CollectionDescriptorObject::tag>, nullptr, nullptr, nullptr},                 \
        {"flow", collection_flow, nullptr, nullptr, nullptr},                                            \
        {"comment", get_field<&CollectionDescriptorObject::comment>, nullptr, nullptr, nullptr},         \
        {"comment_before", get_field<&CollectionDescriptorObject::comment_before>, nullptr, nullptr,     \
         nullptr},                                                                                       \
        {"comment_after", get_field<&CollectionDescriptorObject::comment_after>, nullptr, nullptr,       \
         nullptr},                                                                                       \
        {nullptr, nullptr, nullptr, nullptr, nullptr},                                                   \
  }

PyGetSetDef mapping_getset[] = QF_COLLECTION_GETSET("pairs");
PyGetSetDef sequence_getset[] = QF_COLLECTION_GETSET("items");
#undef QF_COLLECTION_GETSET

PyType_Slot mapping_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "QuillfernMapping(pairs, *, tag=None, flow=None, comment=None, comment_before=None, "
                    "comment_after=None)\n--\n\n"
                    "A mapping node descriptor: its `(key, value)` pairs (original host objects,\n"
                    "re-dispatched through `represent`), an optional tag, and a flow override.")},
    {Py_tp_new, reinterpret_cast<void*>(collection_new<kMappingSpec>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(collection_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(collection_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(collection_clear)},
    {Py_tp_getset, mapping_getset},
    {0, nullptr},
};

PyType_Slot sequence_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "QuillfernSequence(items, *, tag=None, flow=None, comment=None, comment_before=None, "
                    "comment_after=None)\n--\n\n"
                    "A sequence node descriptor: its items (original host objects, re-dispatched\n"
                    "through `represent`), an optional tag, and an optional flow override.")},
    {Py_tp_new, reinterpret_cast<void*>(collection_new<kSequenceSpec>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(collection_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(collection_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(collection_clear)},
    {Py_tp_getset, sequence_getset},
    {0, nullptr},
};

PyType_Spec mapping_spec = {"quillfern.QuillfernMapping", sizeof(CollectionDescriptorObject), 0,
                            Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, mapping_slots};
PyType_Spec sequence_spec = {"quillfern.QuillfernSequence", sizeof(CollectionDescriptorObject), 0,
                             Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, sequence_slots};

}  // namespace

TypeCell& scalar_type_cell() {
  static TypeCell cell(&scalar_spec, nullptr, scalar_vectorcall);
  return cell;
}
TypeCell& mapping_type_cell() {
  static TypeCell cell(&mapping_spec, nullptr, collection_vectorcall<kMappingSpec>);
  return cell;
}
TypeCell& sequence_type_cell() {
  static TypeCell cell(&sequence_spec, nullptr, collection_vectorcall<kSequenceSpec>);
  return cell;
}

}  // namespace qf::py
