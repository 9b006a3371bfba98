// QuillfernNode: a cursor onto one node of a round-trip document, down to
// single scalars. It reads the node's position, style, tag, anchor, comments
// and directive provenance, and edits its value, anchor and comments in
// place. The handle holds a path, resolved again on every access from the
// root of its own document; aliases on the way are followed, the last step
// never is, so a node can designate an alias.
//
// Both borrows are checked: host code (a key's __index__, a value's
// conversion) can reach a node while another member holds the document.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ffi/args.hpp"
#include "ffi/borrow.hpp"
#include "ffi/convert/roundtrip_values.hpp"
#include "ffi/convert/to_node.hpp"
#include "ffi/document_edits.hpp"
#include "ffi/errors.hpp"
#include "ffi/frame.hpp"
#include "ffi/getters.hpp"
#include "ffi/pyref.hpp"
#include "ffi/types/document.hpp"
#include "ffi/types/document_access.hpp"
#include "ffi/types/descriptors.hpp"
#include "ffi/types/document_view.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/comment_slot.hpp"
#include "roundtrip/comment_text.hpp"
#include "roundtrip/edit.hpp"
#include "roundtrip/node_edits.hpp"
#include "roundtrip/source_tag.hpp"

namespace qf::py {

namespace {

NodeObject* as_node(PyObject* self) { return reinterpret_cast<NodeObject*>(self); }

PyObject* stale_node() {
  PyErr_SetString(PyExc_KeyError, "stale node");
  return nullptr;
}

int value_error(std::string_view message) {
  PyErr_SetString(PyExc_ValueError, std::string(message).c_str());
  return -1;
}

// ---- reads ----

// What a read works on; the caller holds the node's and the document's
// shared borrows.
struct NodeRead {
  const NodeHandle& handle;
  const RoundTripDocument& doc;
  AliasScope scope;
  const YamlNode* found;  // nullptr: the node is stale
  const YamlNode& node;   // *found, or an empty stand-in

  NodeRead(const NodeHandle& h, const RoundTripDocument& d)
      : handle(h),
        doc(d),
        scope(handle_root(d, h.root)),
        found(resolve_handle(d, h.root, h.path, scope, false)),
        node(found ? *found : stand_in()) {}
  static const YamlNode& stand_in() {
    static const YamlNode none;
    return none;
  }
  const YamlNode& root() const { return doc.docs[handle.root]; }
};

// Runs body(NodeRead&) in the host-call frame under the node's shared borrow
// and then its document's; a conflict on either raises RuntimeError.
template <class R = PyObject*, class F>
R with_node_read(PyObject* self, F&& body) {
  return with_shared_borrow<R>(as_node(self)->borrow, [&]() -> R {
    const NodeHandle& h = as_node(self)->handle;
    SharedBorrow doc(document_borrow(h.document));
    if (!doc) return failure<R>();
    NodeRead r(h, document_content(h.document));
    return body(r);
  });
}

// with_node_read for the members that raise KeyError "stale node".
template <class R = PyObject*, class F>
R read_node(PyObject* self, F&& body) {
  return with_node_read<R>(self, [&](NodeRead& r) -> R {
    if (r.found) return body(r);
    stale_node();
    return failure<R>();
  });
}

template <PyObject* (*Read)(NodeRead&)>
PyObject* node_getter(PyObject* self, void*) {
  return read_node(self, Read);
}

PyObject* read_line(NodeRead& r) { return to_py(uint64_t(r.node.span.line) + 1); }
PyObject* read_column(NodeRead& r) { return to_py(uint64_t(r.node.span.column) + 1); }
PyObject* read_offset(NodeRead& r) { return to_py(uint64_t(r.node.span.offset)); }
PyObject* read_end_offset(NodeRead& r) { return to_py(uint64_t(r.node.end_offset)); }
PyObject* read_tag(NodeRead& r) { return to_py(r.node.tag()); }
PyObject* read_anchor(NodeRead& r) { return to_py(r.node.anchor()); }
PyObject* read_comment(NodeRead& r) { return to_py(r.node.comments().inline_); }
PyObject* read_is_alias(NodeRead& r) { return to_py(r.node.is_alias()); }

PyObject* read_comment_after(NodeRead& r) {
  const std::vector<std::string>& foot = r.node.comments().foot;
  if (foot.empty()) Py_RETURN_NONE;
  std::string text;
  for (size_t i = 0; i < foot.size(); ++i) {
    if (i) text.push_back('\n');
    text += foot[i];
  }
  return to_py(text);
}

PyObject* read_source_target(NodeRead& r) {
  if (!r.node.source()) Py_RETURN_NONE;
  return to_py(r.node.source()->target);
}

PyObject* read_file(NodeRead& r) {
  const uint32_t id = r.node.span.file_id;
  if (id >= r.doc.files.size()) Py_RETURN_NONE;
  const std::string& path = r.doc.files[id];
  return PyUnicode_DecodeUTF8(path.data(), static_cast<Py_ssize_t>(path.size()), "replace");
}

const char* style_name(const YamlNode& n) {
  switch (n.kind) {
    case NodeKind::Scalar: return scalar_style_name(n.scalar_style);
    case NodeKind::Sequence:
    case NodeKind::Mapping: return n.style == CollectionStyle::Flow ? "flow" : "block";
    case NodeKind::Alias: return "alias";
    case NodeKind::Null: return "null";
  }
  return "null";
}

PyObject* read_style(NodeRead& r) { return PyUnicode_FromString(style_name(r.node)); }

PyObject* read_value(NodeRead& r) {
  AnchorObjectCache cache;
  return node_to_python(r.node, value_settings(r.doc), r.scope, cache);
}

PyObject* read_source_tag(NodeRead& r) {
  std::optional<std::string_view> t = effective_source_tag(r.node);
  if (!t) Py_RETURN_NONE;
  return to_py(*t);
}
PyObject* read_is_secret(NodeRead& r) { return to_py(effective_source_tag(r.node) == "!secret"); }
PyObject* read_is_env_var(NodeRead& r) { return to_py(effective_source_tag(r.node) == "!env_var"); }
PyObject* read_is_include(NodeRead& r) { return to_py(is_include_tag(effective_source_tag(r.node))); }

AliasFollower follower(AliasScope& scope) {
  return [&scope](const YamlNode& alias) { return scope.final_target(alias); };
}

PyObject* read_comment_before(NodeRead& r) {
  std::optional<HeadCommentSlot> slot = head_comment_slot(r.root(), r.handle.path, follower(r.scope));
  if (!slot) return stale_node();
  return to_py(head_comment_text(slot->node->comments().head, slot->part));
}

PyObject* read_target(NodeRead& r) {
  if (!r.node.is_alias()) Py_RETURN_NONE;
  const YamlNode* t = r.scope.target(r.node);
  if (!t) Py_RETURN_NONE;
  std::optional<NodePath> path = path_of_node(r.root(), *t);
  if (!path) Py_RETURN_NONE;
  return new_node_object(r.handle.document, r.handle.root, std::move(*path));
}

PyObject* read_aliases(NodeRead& r) {
  std::vector<NodePath> paths;
  if (r.node.anchor()) paths = collect_aliases_of(r.root(), r.node, r.scope.resolver());
  std::vector<PyRef> nodes;
  nodes.reserve(paths.size());
  for (NodePath& path : paths) {
    nodes.push_back(PyRef::steal(new_node_object(r.handle.document, r.handle.root, std::move(path))));
    if (!nodes.back()) return nullptr;
  }
  return list_of(nodes);
}

PyObject* node_range(PyObject* self, PyObject*) {
  return read_node(self, [](NodeRead& r) { return range_to_py(r.node); });
}

PyObject* node_repr(PyObject* self) {
  return with_node_read(self, [](NodeRead& r) {
    if (!r.found) return PyUnicode_FromString("QuillfernNode(<stale>)");
    return PyUnicode_FromFormat("QuillfernNode(%s)", node_kind_name(r.node.kind));
  });
}

// ---- item access and containment ----

// The node children are looked up in: an alias stands for what it refers to.
// `base` is the path a child's path extends: the definition's own path when
// a path reaches it, else the node's path (which then runs through the
// alias). nullptr when the alias dangles.
const YamlNode* child_base(NodeRead& r, NodePath& base) {
  if (!r.node.is_alias()) {
    base = r.handle.path;
    return &r.node;
  }
  const YamlNode* t = r.scope.final_target(r.node);
  if (!t) {
    base = r.handle.path;
    return &r.node;
  }
  if (std::optional<NodePath> def = path_of_node(r.root(), *t)) base = std::move(*def);
  else base = r.handle.path;
  return t;
}

PyObject* node_subscript(PyObject* self, PyObject* key) {
  return read_node(self, [&](NodeRead& r) -> PyObject* {
    NodePath path;
    const YamlNode* base = child_base(r, path);
    PathSegment seg;
    if (!path_segment_from_py(key, seg)) return nullptr;
    if (!child_by_segment(*base, seg)) return missing_child_error(base->kind, key);
    path.push_back(std::move(seg));
    return new_node_object(r.handle.document, r.handle.root, std::move(path));
  });
}

int node_contains(PyObject* self, PyObject* key) {
  return read_node<int>(self, [&](NodeRead& r) -> int {
    NodePath path;
    return contains_str_key(*child_base(r, path), key) ? 1 : 0;
  });
}

// ---- edits ----

// What an edit works on: the node's shared borrow and the document's
// exclusive one are held; the node is looked up by find(), when the
// member's checks come to it.
struct NodeEdit {
  NodeObject* self;
  RoundTripDocument& doc;
  AliasScope scope;

  NodeEdit(NodeObject* o, RoundTripDocument& d) : self(o), doc(d), scope(root()) {}
  const NodeHandle& handle() const { return self->handle; }
  YamlNode* root() const {
    return self->handle.root < doc.docs.size() ? &doc.docs[self->handle.root] : nullptr;
  }
  // The designated node, or nullptr with KeyError "stale node" raised.
  YamlNode* find() {
    const YamlNode* n = resolve_handle(doc, handle().root, handle().path, scope, false);
    if (!n) stale_node();
    return const_cast<YamlNode*>(n);  // in the tree of root(), held exclusively
  }
  bool is_mapping_key() const {
    return !handle().path.empty() && handle().path.back().kind == PathSegment::Kind::KeyNode;
  }
};

// Runs body(NodeEdit&) -> int under the node's shared borrow and the
// document's exclusive borrow, both checked.
template <class F>
int edit_node(NodeObject* o, F&& body) {
  SharedBorrow own(o->borrow);
  if (!own) return -1;
  ExclusiveBorrow doc(document_borrow(o->handle.document));
  if (!doc) return -1;
  NodeEdit e(o, document_content(o->handle.document));
  return body(e);
}

// A setter's frame: deletion refused, the argument None or a str (noted
// with `name` when not).
template <class F>
int text_setter(PyObject* self, PyObject* value, const char* name, F&& body) {
  return guarded_status([&]() -> int {
    if (!value) {
      PyErr_SetString(PyExc_AttributeError, "property has no deleter");
      return -1;
    }
    std::optional<std::string> text;
    if (!arg_opt_str(value, name, text)) return -1;
    return body(text);
  });
}

int set_value(PyObject* self, PyObject* value, void*) {
  return guarded_status([&]() -> int {
    if (!value) {
      PyErr_SetString(PyExc_AttributeError, "property has no deleter");
      return -1;
    }
    return edit_node(as_node(self), [&](NodeEdit& e) -> int {
      YamlNode* n = e.find();
      if (!n) return -1;
      YamlNode& root = *e.root();
      // Levels count from where the value goes, within the loader's limit.
      const uint32_t depth = node_depth(root, *n).value_or(0);
      YamlNode fresh = python_to_node(value, to_node_settings(e.doc), depth);
      if (auto name = anchor_referenced_from_outside(root, *n, e.scope.resolver(), AnchorsRemoved::Below))
        return raise_edit_error(anchor_removal_error(*name));
      auto err = replace_node(root, *n, std::move(fresh), e.doc.resolver_mode);
      return err ? raise_edit_error(*err) : 0;
    });
  });
}

int set_anchor(PyObject* self, PyObject* value, void*) {
  return text_setter(self, value, "name", [&](std::optional<std::string>& name) -> int {
    if (name)
      if (auto err = anchor_name_error(*name)) return value_error(*err);
    return edit_node(as_node(self), [&](NodeEdit& e) -> int {
      if (!name) {
        YamlNode* n = e.find();
        if (!n) return -1;
        if (!n->anchor()) return 0;
        if (auto used = anchor_referenced_from_outside(*e.root(), *n, e.scope.resolver(), AnchorsRemoved::Root))
          return raise_edit_error(anchor_removal_error(*used));
        n->set_anchor(std::nullopt);
        n->edit_comments().modified = true;
        return 0;
      }
      const YamlNode* carrier = e.root() ? first_anchor_carrier(*e.root(), *name) : nullptr;
      YamlNode* n = carrier ? e.find() : nullptr;
      if (carrier && carrier != n) {
        PyErr_Clear();  // a stale node is reported after this check
        return value_error("anchor name '" + *name + "' is already used by another node");
      }
      if (!n && !(n = e.find())) return -1;
      if (n->is_alias()) return value_error("an alias node cannot have an anchor");
      rename_anchor(*e.root(), *n, std::move(*name), e.scope.resolver());
      return 0;
    });
  });
}

int set_comment(PyObject* self, PyObject* value, void*) {
  return text_setter(self, value, "text", [&](std::optional<std::string>& text) -> int {
    if (text)
      if (auto err = validate_inline_comment(*text)) return value_error(*err);
    return edit_node(as_node(self), [&](NodeEdit& e) -> int {
      YamlNode* n = e.find();
      if (!n) return -1;
      if (auto err = inline_comment_placement_error(*n, e.is_mapping_key())) return value_error(*err);
      n->edit_comments().inline_ = std::move(text);
      n->edit_comments().inline_spaces = 0;
      n->edit_comments().modified = true;
      return 0;
    });
  });
}

// Comment lines of a text (none for None), or -1 with the ValueError raised.
bool comment_lines(const std::optional<std::string>& text, std::vector<std::string>& out) {
  if (!text) return true;
  CommentLines lines = split_comment_lines(*text);
  if (!lines.ok()) {
    value_error(*lines.error);
    return false;
  }
  out = std::move(lines.lines);
  return true;
}

int set_comment_after(PyObject* self, PyObject* value, void*) {
  return text_setter(self, value, "text", [&](std::optional<std::string>& text) -> int {
    return edit_node(as_node(self), [&](NodeEdit& e) -> int {
      YamlNode* n = e.find();
      if (!n) return -1;
      if (text && !e.handle().path.empty() && !n->is_block_collection())
        return value_error("comment_after is only supported on a block mapping, a block sequence, or the document root");
      std::vector<std::string> lines;
      if (!comment_lines(text, lines)) return -1;
      n->edit_comments().foot = std::move(lines);
      n->edit_comments().modified = true;
      return 0;
    });
  });
}

int set_comment_before(PyObject* self, PyObject* value, void*) {
  return text_setter(self, value, "text", [&](std::optional<std::string>& text) -> int {
    return edit_node(as_node(self), [&](NodeEdit& e) -> int {
      std::optional<MutableHeadCommentSlot> slot;
      if (YamlNode* root = e.root()) slot = head_comment_slot(*root, e.handle().path, follower(e.scope));
      if (!slot) {
        stale_node();
        return -1;
      }
      std::vector<std::string> lines;
      if (!comment_lines(text, lines)) return -1;
      write_head_comment_part(*slot, std::move(lines));
      return 0;
    });
  });
}

const char* const kNameParam[] = {"name"};
const ArgSpec kMakeAliasSpec{"QuillfernNode.make_alias()", kNameParam, 1, 0, 1, 0};

PyObject* node_make_alias(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    CallArgs a;
    if (!parse_args(kMakeAliasSpec, args, nargs, kwnames, a)) return nullptr;
    std::string name;
    if (!arg_str(a[0], "name", name)) return nullptr;
    int rc = edit_node(as_node(self), [&](NodeEdit& e) -> int {
      if (!e.root() || !first_anchor_carrier(*e.root(), name))
        return value_error("no anchor '&" + name + "' is defined in this document");
      YamlNode* n = e.find();
      if (!n) return -1;
      YamlNode& root = *e.root();
      switch (make_alias_outcome(root, *n, name)) {
        case MakeAliasOutcome::Ok: break;
        case MakeAliasOutcome::NoAnchor: return value_error("no anchor '&" + name + "' is defined in this document");
        case MakeAliasOutcome::Cycle:
          return value_error("anchor '&" + name + "' contains the alias that would reference it, which is a cycle");
        case MakeAliasOutcome::Order:
          return value_error("anchor '&" + name + "' must be defined before the alias that references it");
      }
      if (auto used = anchor_referenced_from_outside(root, *n, e.scope.resolver(), AnchorsRemoved::All))
        return raise_edit_error(anchor_removal_error(*used));
      make_alias_in_place(*n, std::move(name));
      return 0;
    });
    if (rc < 0) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject* node_detach(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    int rc = edit_node(as_node(self), [&](NodeEdit& e) -> int {
      YamlNode* n = e.find();
      if (!n) return -1;
      if (!n->is_alias()) {
        PyErr_SetString(PyExc_TypeError, "detach() is only valid on an alias node");
        return -1;
      }
      YamlNode& root = *e.root();
      DetachCopy copy = detach_copy(*n, e.scope.resolver(), node_depth(root, *n).value_or(0));
      switch (copy.status) {
        case DetachCopy::Status::Ok: break;
        case DetachCopy::Status::NoDefinition: {
          std::string m = "alias *" + n->text + " has no anchor to detach";
          PyErr_SetString(PyExc_KeyError, m.c_str());
          return -1;
        }
        case DetachCopy::Status::ExpansionFailed: {
          const ExpansionError& x = *copy.expansion_error;
          throw position_error(ExcClass::ParseError, x.message, x.span.line, x.span.column);
        }
        case DetachCopy::Status::TooDeep: return value_error(kDetachTooDeepMessage);
      }
      place_detached_copy(root, *n, std::move(copy.node));
      return 0;
    });
    if (rc < 0) return nullptr;
    const NodeHandle& h = as_node(self)->handle;
    return new_node_object(h.document, h.root, h.path);
  });
}

// ---- the type ----

template <PyObject* (*Read)(NodeRead&)>
constexpr PyGetSetDef getter(const char* name, const char* doc) {
  return {name, node_getter<Read>, nullptr, doc, nullptr};
}

template <PyObject* (*Read)(NodeRead&)>
constexpr PyGetSetDef property(const char* name, setter set, const char* doc) {
  return {name, node_getter<Read>, set, doc, nullptr};
}

PyGetSetDef node_getset[] = {
    getter<read_line>("line", "The 1-based line where the node starts."),
    getter<read_column>("column", "The 1-based column (in characters) where the node starts."),
    getter<read_offset>("offset", "The 0-based byte offset of the node's first character."),
    getter<read_end_offset>("end_offset", "The 0-based byte offset just past the node."),
    getter<read_tag>("tag", "The node's tag as written, or None."),
    property<read_anchor>("anchor", set_anchor, "The node's anchor name (without '&'), or None."),
    property<read_comment>("comment", set_comment, "The comment on the node's line (without '#'), or None."),
    property<read_comment_before>("comment_before", set_comment_before,
                                  "The comment lines above the node, joined with newlines, or None."),
    property<read_comment_after>("comment_after", set_comment_after,
                                 "The comment lines after the node, joined with newlines, or None."),
    property<read_value>("value", set_value, "The node's plain Python value; assigning replaces the node's content."),
    getter<read_style>("style",
                       "plain, single, double, literal or folded for a scalar; block or flow for a collection; "
                       "alias; null."),
    getter<read_is_alias>("is_alias", "Whether the node is an alias."),
    getter<read_source_tag>("source_tag", "The directive or custom tag the node came from, or None."),
    getter<read_source_target>("source_target", "The argument of the directive that produced the node, or None."),
    getter<read_is_secret>("is_secret", "Whether the node comes from !secret."),
    getter<read_is_env_var>("is_env_var", "Whether the node comes from !env_var."),
    getter<read_is_include>("is_include", "Whether the node comes from an include directive."),
    getter<read_file>("file", "The path of the node's source file, or None."),
    getter<read_target>("target", "For an alias, the QuillfernNode of the node it refers to; otherwise None."),
    getter<read_aliases>("aliases", "QuillfernNode objects of the aliases that refer to this node."),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef node_methods[] = {
    {"range", node_range, METH_NOARGS,
     "range($self)\n--\n\n(line, column, end_line, end_column) of the node, 1-based."},
    {"make_alias", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(node_make_alias)),
     METH_FASTCALL | METH_KEYWORDS,
     "make_alias($self, name)\n--\n\nTurns the node into the alias *name of an earlier anchor."},
    {"detach", node_detach, METH_NOARGS,
     "detach($self)\n--\n\nReplaces an alias by a copy of the node it refers to; returns the node."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot node_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "A metadata-bearing handle onto a single node of a [`QuillfernDocument`].\n\n"
                    "It exposes the node's value, position, comments, style, anchor and tag, and\n"
                    "resolves its path again on every access.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(handle_dealloc<NodeObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(node_repr)},
    {Py_tp_getset, node_getset},
    {Py_tp_methods, node_methods},
    {Py_mp_subscript, reinterpret_cast<void*>(node_subscript)},
    {Py_sq_contains, reinterpret_cast<void*>(node_contains)},
    {0, nullptr},
};
PyType_Spec node_spec = {"QuillfernNode", sizeof(NodeObject), 0,
                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, node_slots};

}  // namespace

TypeCell& node_type_cell() {
  static TypeCell cell(&node_spec);
  return cell;
}

}  // namespace qf::py
