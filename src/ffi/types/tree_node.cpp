#include "ffi/types/tree_node.hpp"

#include <memory>

#include "ffi/getters.hpp"
#include "ffi/pyref.hpp"
#include "ffi/types/descriptors.hpp"
#include "roundtrip/comment_text.hpp"
#include "support/stack_guard.hpp"

namespace qf::py {

namespace {

void tree_node_dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  auto* o = reinterpret_cast<TreeNodeObject*>(self);
  Py_CLEAR(o->value);
  std::destroy_at(&o->tag);
  std::destroy_at(&o->anchor);
  std::destroy_at(&o->comment);
  std::destroy_at(&o->comment_before);
  std::destroy_at(&o->comment_after);
  tp->tp_free(self);
  Py_DECREF(tp);
}

PyGetSetDef getset[] = {
    {"kind", get_field<&TreeNodeObject::kind>, nullptr, nullptr, nullptr},
    {"value", get_field<&TreeNodeObject::value>, nullptr, nullptr, nullptr},
    {"style", get_field<&TreeNodeObject::style>, nullptr, nullptr, nullptr},
    {"tag", get_field<&TreeNodeObject::tag>, nullptr, nullptr, nullptr},
    {"anchor", get_field<&TreeNodeObject::anchor>, nullptr, nullptr, nullptr},
    {"comment", get_field<&TreeNodeObject::comment>, nullptr, nullptr, nullptr},
    {"comment_before", get_field<&TreeNodeObject::comment_before>, nullptr, nullptr, nullptr},
    {"comment_after", get_field<&TreeNodeObject::comment_after>, nullptr, nullptr, nullptr},
    {"is_merge_key", get_field<&TreeNodeObject::is_merge_key>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "An owned node snapshot. Collections contain child snapshots rather than\n"
                    "live cursors, scalar values are resolved by the same schema as `to_dict()`,\n"
                    "and aliases and merge keys remain explicit so that the caller can choose\n"
                    "whether to expand them.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(tree_node_dealloc)},
    {Py_tp_getset, getset},
    {0, nullptr},
};

PyType_Spec spec = {"quillfern.QuillfernTreeNode", sizeof(TreeNodeObject), 0,
                    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};

}  // namespace

TypeCell& tree_node_type_cell() {
  static TypeCell cell(&spec);
  return cell;
}

PyObject* new_tree_node(TreeNodeFields f, PyObject* value) {
  PyTypeObject* tp;
  try {
    tp = tree_node_type_cell().require();
  } catch (...) {
    Py_XDECREF(value);
    throw;
  }
  auto* o = reinterpret_cast<TreeNodeObject*>(tp->tp_alloc(tp, 0));
  if (!o) {
    Py_XDECREF(value);
    return nullptr;
  }
  o->kind = f.kind;
  o->style = f.style;
  std::construct_at(&o->tag, std::move(f.tag));
  std::construct_at(&o->anchor, std::move(f.anchor));
  std::construct_at(&o->comment, std::move(f.comment));
  std::construct_at(&o->comment_before, std::move(f.comment_before));
  std::construct_at(&o->comment_after, std::move(f.comment_after));
  o->is_merge_key = f.is_merge_key;
  o->value = value;
  return reinterpret_cast<PyObject*>(o);
}

namespace {

std::optional<std::string> foot_text(const std::vector<std::string>& foot) {
  if (foot.empty()) return std::nullopt;
  std::string out;
  for (size_t i = 0; i < foot.size(); ++i) {
    if (i) out.push_back('\n');
    out.append(foot[i]);
  }
  return out;
}

PyObject* snapshot(const YamlNode& node, const ValueSettings& s, std::optional<std::string> before, bool is_item);

PyObject* snapshot_level(const YamlNode& node, const ValueSettings& s, std::optional<std::string> before,
                         bool is_item) {
  TreeNodeFields f;
  PyRef value;
  switch (node.kind) {
    case NodeKind::Scalar:
    case NodeKind::Null:
      f.kind = "scalar";
      f.style = node.is_null() ? "null" : scalar_style_name(node.scalar_style);
      value = PyRef::steal(scalar_node_to_python(node, s));
      if (!value) return nullptr;
      break;
    case NodeKind::Alias:
      f.kind = "alias";
      f.style = "alias";
      value = PyRef::steal(to_py(node.text));
      if (!value) return nullptr;
      break;
    case NodeKind::Sequence: {
      f.kind = "sequence";
      f.style = node.style == CollectionStyle::Flow ? "flow" : "block";
      std::vector<PyRef> children;
      children.reserve(node.items.size());
      for (const YamlNode& item : node.items) {
        auto text = head_comment_text(item.comments().head, item.comments().inline_before_value
                                                              ? HeadCommentFilter::Above
                                                              : HeadCommentFilter::All);
        children.push_back(PyRef::steal(snapshot(item, s, std::move(text), true)));
        if (!children.back()) return nullptr;
      }
      value = PyRef::steal(tuple_of(children));
      if (!value) return nullptr;
      break;
    }
    case NodeKind::Mapping: {
      f.kind = "mapping";
      f.style = node.style == CollectionStyle::Flow ? "flow" : "block";
      std::vector<PyRef> pairs;
      pairs.reserve(node.pairs.size());
      for (size_t i = 0; i < node.pairs.size(); ++i) {
        const MappingEntry& e = node.pairs[i];
        auto key_before = head_comment_text(e.key.comments().head, HeadCommentFilter::All);
        // The first value repeats the lines above the mapping itself (only
        // those below its introducer when it is an item with a comment on
        // its dash line); later values repeat their key's lines.
        std::optional<std::string> value_before;
        if (i == 0)
          value_before = head_comment_text(node.comments().head, is_item && node.comments().inline_before_value
                                                                   ? HeadCommentFilter::Below
                                                                   : HeadCommentFilter::All);
        else
          value_before = key_before;
        // Lines attached to the value itself (above the first item of a
        // block sequence, or the first key of a block mapping, written below
        // "key:") are reported with it too, so no comment is left out.
        if (auto own = head_comment_text(e.value.comments().head, HeadCommentFilter::All)) {
          if (value_before) {
            value_before->push_back('\n');
            value_before->append(*own);
          } else {
            value_before = std::move(own);
          }
        }
        PyRef k = PyRef::steal(snapshot(e.key, s, std::move(key_before), false));
        if (!k) return nullptr;
        PyRef v = PyRef::steal(snapshot(e.value, s, std::move(value_before), false));
        if (!v) return nullptr;
        pairs.push_back(PyRef::steal(PyTuple_Pack(2, k.get(), v.get())));
        if (!pairs.back()) return nullptr;
      }
      value = PyRef::steal(tuple_of(pairs));
      if (!value) return nullptr;
      break;
    }
  }
  f.tag = node.tag();
  f.anchor = node.anchor();
  f.comment = node.comments().inline_;
  f.comment_before = std::move(before);
  f.comment_after = foot_text(node.comments().foot);
  f.is_merge_key = is_merge_key(node);
  return new_tree_node(std::move(f), value.release());
}

PyObject* snapshot(const YamlNode& node, const ValueSettings& s, std::optional<std::string> before, bool is_item) {
  return ensure_stack([&]() { return snapshot_level(node, s, std::move(before), is_item); });
}

}  // namespace

PyObject* snapshot_node(const YamlNode& node, const ValueSettings& settings,
                        std::optional<std::string> comment_before) {
  return snapshot(node, settings, std::move(comment_before), false);
}

}  // namespace qf::py
