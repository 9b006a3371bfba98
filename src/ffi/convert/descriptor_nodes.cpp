#include "ffi/convert/descriptor_nodes.hpp"

#include <string_view>
#include <utility>

#include "encode/represent_style.hpp"
#include "encode/scalar_safety.hpp"
#include "encode/scalar_text.hpp"
#include "ffi/frame.hpp"
#include "ffi/types/descriptors.hpp"
#include "resolver/timestamp.hpp"
#include "roundtrip/comment_text.hpp"
#include "roundtrip/walk.hpp"
#include "support/stack_guard.hpp"

namespace qf::py {

namespace {

YamlNode plain(std::string text) { return synthetic_scalar(std::move(text), ScalarStyle::Plain); }

// Comment text split at "\n" ("\r" before it dropped), no empty piece after
// a final "\n".
std::vector<std::string> comment_lines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t lf = text.find('\n', start);
    std::string_view line = text.substr(start, lf == std::string_view::npos ? std::string_view::npos : lf - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (lf == std::string_view::npos || lf + 1 == text.size()) break;
    start = lf + 1;
  }
  return lines;
}

bool has_any_comment(const YamlNode& n) {
  const Comments& c = n.comments();
  return !c.head.empty() || c.inline_.has_value() || !c.foot.empty();
}

ScalarStyle quoted_for_tag(std::string_view text) {
  return is_single_line_printable(text) ? ScalarStyle::SingleQuoted : ScalarStyle::DoubleQuoted;
}

// The core tag that a plain reading of the text satisfies, making the tag
// redundant ("!!int" on 12); nothing when the tag must stay.
bool core_tag_matches(std::string_view tag, ResolvedKind kind) {
  if (tag == "!!null") return kind == ResolvedKind::Null;
  if (tag == "!!bool") return kind == ResolvedKind::Bool;
  if (tag == "!!int") return kind == ResolvedKind::Int || kind == ResolvedKind::BigInt;
  if (tag == "!!float") return kind == ResolvedKind::Float;
  return false;
}

YamlNode scalar_node(RepresentState& s, const ScalarObject& d, uint32_t depth, bool key_or_flow) {
  const std::string* tag = normalized_tag(s, d.tag);
  const std::string_view text = d.value;
  std::optional<YamlNode> node;
  if (d.style < 0 && !tag) {
    node = represented_scalar(s, text, represented_str_style(s, text, key_or_flow));
  } else if (d.style < 0) {
    const ResolvedKind kind = resolve_scalar(s.resolver_mode, text, ScalarStyle::Plain).kind;
    if (core_tag_matches(*tag, kind)) {
      // An empty text read as null stays a null node, which the null style
      // writes; an empty plain scalar would vanish from a flow collection.
      node = text.empty() ? synthetic_null() : plain(d.value);
    } else if (*tag == "!!str") {
      node = represented_scalar(
          s, text, kind == ResolvedKind::Str ? represented_str_style(s, text, key_or_flow) : quoted_for_tag(text));
    } else {
      node = represented_scalar(s, text, quoted_for_tag(text));
      node->share_extra(s.tags.model);
    }
  } else {
    auto style = static_cast<ScalarStyle>(d.style);
    if (key_or_flow && style != ScalarStyle::Plain && style != ScalarStyle::SingleQuoted)
      style = ScalarStyle::DoubleQuoted;
    if (std::optional<std::string_view> reason = explicit_style_refusal(style, text)) {
      std::string message = "a ";
      message += represent_style_name(style);
      message += " scalar cannot represent this value without changing it on reload (";
      message += *reason;
      message += "); use \"double\" or the default style";
      throw_value_error(message);
    }
    node = represented_scalar(s, text, style);
    if (tag) node->share_extra(s.tags.model);
  }
  attach_descriptor_comments(*node, d.comment_before, d.comment, d.comment_after, depth == 0);
  return std::move(*node);
}

std::optional<bool> flow_override(const CollectionDescriptorObject& d) {
  if (d.flow == 2) return std::nullopt;
  return d.flow == 1;
}

// The stored items of an exact list or tuple, which iterate as stored; any
// other object (a subclass may iterate differently) through its iteration.
void push_entries(RepresentState& s, PyObject* entries) {
  const bool list = PyList_CheckExact(entries);
  if (!list && !PyTuple_CheckExact(entries)) {
    push_iterated(s, entries);
    return;
  }
  const Py_ssize_t n = list ? PyList_GET_SIZE(entries) : PyTuple_GET_SIZE(entries);
  reserve_entries(s, static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i)
    s.entries.push_back(PyRef::borrow(list ? PyList_GET_ITEM(entries, i) : PyTuple_GET_ITEM(entries, i)));
}

void check_pair(PyObject* item) {
  if (!PyTuple_Check(item)) throw_value_error("a QuillfernMapping pair must be a (key, value) tuple");
  if (PyTuple_GET_SIZE(item) != 2)
    throw_value_error("a QuillfernMapping pair must be a (key, value) tuple of exactly two items");
}

// Every pair's shape is checked before any key or value is represented. The
// entries hold each key and value, so the tuples may go while they are
// represented.
void push_pairs(RepresentState& s, PyObject* entries) {
  const bool list = PyList_CheckExact(entries);
  if (list || PyTuple_CheckExact(entries)) {
    // Nothing here runs host code, so the stored items stay put.
    const Py_ssize_t n = list ? PyList_GET_SIZE(entries) : PyTuple_GET_SIZE(entries);
    reserve_entries(s, 2 * static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* item = list ? PyList_GET_ITEM(entries, i) : PyTuple_GET_ITEM(entries, i);
      check_pair(item);
      s.entries.push_back(PyRef::borrow(PyTuple_GET_ITEM(item, 0)));
      s.entries.push_back(PyRef::borrow(PyTuple_GET_ITEM(item, 1)));
    }
    return;
  }
  // The items are read first (iteration runs host code), then split.
  const size_t first = s.entries.size();
  push_iterated(s, entries);
  const size_t n = s.entries.size() - first;
  for (size_t i = first; i < first + n; ++i) check_pair(s.entries[i].get());
  reserve_entries(s, 2 * n);
  for (size_t i = first; i < first + n; ++i) {
    PyObject* item = s.entries[i].get();
    s.entries.push_back(PyRef::borrow(PyTuple_GET_ITEM(item, 0)));
    s.entries.push_back(PyRef::borrow(PyTuple_GET_ITEM(item, 1)));
  }
  s.entries.erase(s.entries.begin() + std::ptrdiff_t(first), s.entries.begin() + std::ptrdiff_t(first + n));
}

YamlNode value_node(const RepresentState& s, Value v, bool key_or_flow) {
  switch (v.kind()) {
    case ValueKind::Null: return synthetic_null();
    case ValueKind::Bool: return plain(v.as_bool() ? "true" : "false");
    case ValueKind::Int: {
      std::string text;
      append_int64(text, v.as_int());
      return plain(std::move(text));
    }
    case ValueKind::BigInt: return plain(std::string(v.big_int_text()));
    case ValueKind::Float: return plain(format_yaml_float(v.as_float()));
    case ValueKind::String: {
      std::string_view text = v.as_string();
      return represented_scalar(s, text, represented_str_style(s, text, key_or_flow));
    }
    case ValueKind::Timestamp: return plain(format_timestamp(v.as_timestamp()));
    case ValueKind::Sequence: {
      YamlNode seq = synthetic_collection(false, false);
      seq.items.reserve(v.items().size());
      for (Value& item : v.items()) seq.items.push_back(value_to_node(s, item.take(), key_or_flow));
      return seq;
    }
    case ValueKind::Mapping: {
      YamlNode map = synthetic_collection(true, false);
      map.pairs.reserve(v.pairs().size());
      for (ValuePair& p : v.pairs()) {
        YamlNode k = value_to_node(s, p.key.take(), key_or_flow);
        YamlNode val = value_to_node(s, p.value.take(), key_or_flow);
        map.pairs.push_back(MappingEntry{std::move(k), std::move(val)});
      }
      return map;
    }
    case ValueKind::Tagged: {
      std::string tag = v.tag();
      YamlNode inner = value_to_node(s, v.inner().take(), key_or_flow);
      inner.set_tag(std::move(tag));
      return inner;
    }
  }
  return synthetic_null();
}

}  // namespace

ScalarStyle represented_str_style(const RepresentState& s, std::string_view text, bool key_or_flow) {
  ScalarStyle style = scalar_style_for_represented_str(text, s.prefer_double_quotes, s.resolver_mode);
  return style == ScalarStyle::Literal && key_or_flow ? ScalarStyle::DoubleQuoted : style;
}

YamlNode node_from_descriptor(RepresentState& s, PyObject* descriptor, uint32_t depth, bool in_flow, bool is_key) {
  // The classes cannot be subclassed: their exact types decide.
  PyTypeObject* tp = Py_TYPE(descriptor);
  PyTypeObject* mapping_type = mapping_type_cell().require();
  if (tp != mapping_type && tp == scalar_type_cell().require())
    return scalar_node(s, *reinterpret_cast<ScalarObject*>(descriptor), depth, in_flow || is_key);
  const bool sequence = tp != mapping_type && tp == sequence_type_cell().require();
  if (!sequence && tp != mapping_type) {
    PyErr_SetString(PyExc_TypeError,
                    "a represent callback must return a quillfern.QuillfernScalar, quillfern.QuillfernSequence, "
                    "quillfern.QuillfernMapping, or None");
    throw ErrorAlreadySet{};
  }
  const auto& d = *reinterpret_cast<CollectionDescriptorObject*>(descriptor);
  PyRef entries = PyRef::borrow(d.entries ? d.entries : Py_None);
  EntryMark mark(s);
  if (sequence) push_entries(s, entries.get());
  else push_pairs(s, entries.get());
  YamlNode node = sequence ? represent_sequence(s, mark, depth, d.tag, flow_override(d), in_flow, is_key)
                           : represent_mapping(s, mark, depth, d.tag, flow_override(d), in_flow, is_key);
  attach_descriptor_comments(node, d.comment_before, d.comment, d.comment_after, depth == 0);
  return node;
}

YamlNode value_to_node(const RepresentState& s, Value value, bool key_or_flow) {
  return ensure_stack([&] { return value_node(s, std::move(value), key_or_flow); });
}

void attach_descriptor_comments(YamlNode& node, const std::optional<std::string>& before,
                                const std::optional<std::string>& inline_comment,
                                const std::optional<std::string>& after, bool is_root) {
  if (after && !is_root && !node.is_block_collection())
    throw_value_error("comment_after is only supported on a block mapping, a block sequence, or the document root");
  if (before) node.edit_comments().head = head_comments_from_lines(comment_lines(*before));
  if (inline_comment) node.edit_comments().inline_ = inline_comment;
  if (after) node.edit_comments().foot = comment_lines(*after);
}

void check_key_comments(const YamlNode& key) {
  if (key.comments().inline_ || !key.comments().foot.empty())
    throw_value_error("a mapping key cannot carry an inline comment or comment_after");
  if (key.is_collection() && any_in_tree(key, [&](const YamlNode& n) { return &n != &key && has_any_comment(n); }))
    throw_value_error("a comment inside a mapping key is not supported, since the key must stay on one line");
}

void hoist_value_comments(std::span<MappingEntry> pairs) {
  if (pairs.empty()) return;
  MappingEntry& last = pairs.back();
  if (last.value.comments().head.empty()) return;
  std::vector<HeadComment>& heads = last.value.edit_comments().head;
  auto& key_heads = last.key.edit_comments().head;
  key_heads.insert(key_heads.end(), std::make_move_iterator(heads.begin()), std::make_move_iterator(heads.end()));
  heads.clear();
}

}  // namespace qf::py
