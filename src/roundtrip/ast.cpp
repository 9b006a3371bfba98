#include "roundtrip/ast.hpp"

#include <utility>

namespace qf {

namespace {

// Child blocks detached from their nodes, waiting for release.
struct PendingLists {
  std::vector<NodeList<YamlNode>> items;
  std::vector<NodeList<MappingEntry>> pairs;

  void take_children(YamlNode& node) {
    if (!node.items.empty()) items.push_back(std::move(node.items));
    if (!node.pairs.empty()) pairs.push_back(std::move(node.pairs));
  }
};

bool has_grandchildren(const YamlNode& node) {
  for (const YamlNode& item : node.items)
    if (!item.items.empty() || !item.pairs.empty()) return true;
  for (const MappingEntry& e : node.pairs)
    if (!e.key.items.empty() || !e.key.pairs.empty() || !e.value.items.empty() || !e.value.pairs.empty())
      return true;
  return false;
}

}  // namespace

void YamlNode::release_children() noexcept {
  // Collections of leaves are freed by their blocks directly; only deeper
  // trees need the work stack. A block is released once the children blocks
  // of its nodes are detached (moved by pointer), so no release recurses.
  if (!has_grandchildren(*this)) return;
  PendingLists pending;
  pending.take_children(*this);
  while (!pending.items.empty() || !pending.pairs.empty()) {
    if (!pending.items.empty()) {
      NodeList<YamlNode> list = std::move(pending.items.back());
      pending.items.pop_back();
      for (YamlNode& n : list) pending.take_children(n);
    } else {
      NodeList<MappingEntry> list = std::move(pending.pairs.back());
      pending.pairs.pop_back();
      for (MappingEntry& e : list) {
        pending.take_children(e.key);
        pending.take_children(e.value);
      }
    }
  }
}

bool NodeExtra::empty() const noexcept {
  static const Comments none;
  // The comments, the costliest to compare, last.
  return !anchor && !tag && !source && directives.empty() && empty_documents_before == 0 &&
         empty_documents_after == 0 && comments == none;
}

constinit const NodeExtra YamlNode::kNoExtra{};

NodeExtra& YamlNode::extra() { return extra_.writable(); }

void YamlNode::trim_extra() noexcept {
  if (extra_ && !extra_->kept_text && extra_->empty()) extra_.reset();
}

void YamlNode::set_comments(const Comments& c) {
  static const Comments none;
  if (!extra_ && c == none) return;
  extra().comments = c;
  trim_extra();
}

void YamlNode::set_anchor(std::optional<std::string> v) {
  if (!v && !extra_) return;
  extra().anchor = std::move(v);
  trim_extra();
}

void YamlNode::set_tag(std::optional<std::string> v) {
  if (!v && !extra_) return;
  extra().tag = std::move(v);
  trim_extra();
}

void YamlNode::set_source(std::optional<IncludeSource> v) {
  if (!v && !extra_) return;
  extra().source = std::move(v);
  trim_extra();
}

void YamlNode::set_directives(std::vector<std::string> v) {
  if (v.empty() && !extra_) return;
  extra().directives = std::move(v);
  trim_extra();
}

void YamlNode::set_empty_documents_before(uint32_t n) {
  if (n == 0 && !extra_) return;
  extra().empty_documents_before = n;
}

void YamlNode::set_empty_documents_after(uint32_t n) {
  if (n == 0 && !extra_) return;
  extra().empty_documents_after = n;
}

void YamlNode::keep_text(std::shared_ptr<const std::string> text) { extra().kept_text = std::move(text); }

void YamlNode::copy_fields_from(const YamlNode& o) {
  kind = o.kind;
  text = o.text;
  scalar_style = o.scalar_style;
  span = o.span;
  end_offset = o.end_offset;
  end_line = o.end_line;
  end_column = o.end_column;
  value_pad = o.value_pad;
  extra_.reset(o.extra_ ? new NodeExtra(*o.extra_) : nullptr);
  style = o.style;
  explicit_start = o.explicit_start;
  leading_bom = o.leading_bom;
  synthetic = o.synthetic;
  explicit_key = o.explicit_key;
  explicit_end = o.explicit_end;
}

namespace {

void clone_into(YamlNode& dst, const YamlNode& src) {
  struct Job {
    const YamlNode* src;
    YamlNode* dst;
  };
  std::vector<Job> stack;
  stack.push_back({&src, &dst});
  while (!stack.empty()) {
    Job job = stack.back();
    stack.pop_back();
    job.dst->copy_fields_from(*job.src);
    // Children vectors are sized once, so the pointers pushed stay valid.
    job.dst->items.clear();
    job.dst->pairs.clear();
    if (!job.src->items.empty()) {
      job.dst->items.resize(job.src->items.size());
      for (size_t i = job.src->items.size(); i-- > 0;)
        stack.push_back({&job.src->items[i], &job.dst->items[i]});
    }
    if (!job.src->pairs.empty()) {
      job.dst->pairs.resize(job.src->pairs.size());
      for (size_t i = job.src->pairs.size(); i-- > 0;) {
        stack.push_back({&job.src->pairs[i].value, &job.dst->pairs[i].value});
        stack.push_back({&job.src->pairs[i].key, &job.dst->pairs[i].key});
      }
    }
  }
}

}  // namespace

YamlNode::YamlNode(const YamlNode& other) { clone_into(*this, other); }

YamlNode& YamlNode::operator=(const YamlNode& other) {
  if (this != &other) {
    YamlNode copy(other);
    *this = std::move(copy);
  }
  return *this;
}

YamlNode YamlNode::scalar(std::string_view text, ScalarStyle style) {
  YamlNode n;
  n.kind = NodeKind::Scalar;
  n.text.assign(text);
  n.scalar_style = style;
  return n;
}

YamlNode YamlNode::alias(std::string_view name) {
  YamlNode n;
  n.kind = NodeKind::Alias;
  n.text.assign(name);
  return n;
}

YamlNode YamlNode::null_at(const Span& span) {
  YamlNode n;
  n.kind = NodeKind::Null;
  n.span = span;
  n.end_offset = span.offset;
  n.end_line = span.line;
  n.end_column = span.column;
  return n;
}

YamlNode YamlNode::sequence(CollectionStyle style) {
  YamlNode n;
  n.kind = NodeKind::Sequence;
  n.style = style;
  return n;
}

YamlNode YamlNode::mapping(CollectionStyle style) {
  YamlNode n;
  n.kind = NodeKind::Mapping;
  n.style = style;
  return n;
}

void drop_node_tree(YamlNode&& root) {
  // Post-order over pointers: a node's children are released only once
  // their own children are gone, so every destructor takes its flat path
  // and no node is moved.
  YamlNode released(std::move(root));
  struct Frame {
    YamlNode* node;
    bool expanded;
  };
  std::vector<Frame> stack;
  stack.reserve(32);  // one block for most trees
  stack.push_back({&released, false});
  while (!stack.empty()) {
    const size_t top = stack.size() - 1;
    YamlNode* n = stack[top].node;
    if (!stack[top].expanded) {
      stack[top].expanded = true;
      for (YamlNode& item : n->items)
        if (!item.items.empty() || !item.pairs.empty()) stack.push_back({&item, false});
      for (MappingEntry& e : n->pairs) {
        if (!e.key.items.empty() || !e.key.pairs.empty()) stack.push_back({&e.key, false});
        if (!e.value.items.empty() || !e.value.pairs.empty()) stack.push_back({&e.value, false});
      }
      continue;
    }
    n->items.clear();
    n->pairs.clear();
    stack.pop_back();
  }
}

YamlNode clone_node(const YamlNode& node) { return YamlNode(node); }

bool nodes_equal(const YamlNode& a, const YamlNode& b) {
  std::vector<std::pair<const YamlNode*, const YamlNode*>> stack;
  stack.emplace_back(&a, &b);
  while (!stack.empty()) {
    auto [x, y] = stack.back();
    stack.pop_back();
    if (x->kind != y->kind || x->text != y->text || x->scalar_style != y->scalar_style ||
        !(x->span == y->span) || x->end_offset != y->end_offset || x->end_line != y->end_line ||
        x->end_column != y->end_column || x->value_pad != y->value_pad || x->anchor() != y->anchor() || x->tag() != y->tag() ||
        !(x->comments() == y->comments()) || x->style != y->style || x->source() != y->source() ||
        x->explicit_start != y->explicit_start || x->directives() != y->directives() ||
        x->leading_bom != y->leading_bom || x->synthetic != y->synthetic ||
        x->explicit_key != y->explicit_key || x->explicit_end != y->explicit_end ||
        x->empty_documents_before() != y->empty_documents_before() ||
        x->empty_documents_after() != y->empty_documents_after() || x->items.size() != y->items.size() ||
        x->pairs.size() != y->pairs.size())
      return false;
    for (size_t i = 0; i < x->items.size(); ++i) stack.emplace_back(&x->items[i], &y->items[i]);
    for (size_t i = 0; i < x->pairs.size(); ++i) {
      stack.emplace_back(&x->pairs[i].key, &y->pairs[i].key);
      stack.emplace_back(&x->pairs[i].value, &y->pairs[i].value);
    }
  }
  return true;
}

}  // namespace qf

namespace qf {

IncludedRootFields take_own_fields(YamlNode& node) {
  IncludedRootFields f;
  f.explicit_start = node.explicit_start;
  f.explicit_end = node.explicit_end;
  f.leading_bom = node.leading_bom;
  if (node.has_extra()) {
    NodeExtra& x = node.extra();
    f.anchor = std::move(x.anchor);
    f.comments = std::move(x.comments);
    f.directives = std::move(x.directives);
    f.empty_documents_before = x.empty_documents_before;
    f.empty_documents_after = x.empty_documents_after;
    x.anchor.reset();
    x.comments = Comments{};
    x.directives.clear();
    x.empty_documents_before = x.empty_documents_after = 0;
  }
  return f;
}

void put_own_fields(YamlNode& node, IncludedRootFields f) {
  node.explicit_start = f.explicit_start;
  node.explicit_end = f.explicit_end;
  node.leading_bom = f.leading_bom;
  node.set_anchor(std::move(f.anchor));
  node.set_comments(f.comments);
  node.set_directives(std::move(f.directives));
  node.set_empty_documents_before(f.empty_documents_before);
  node.set_empty_documents_after(f.empty_documents_after);
}

}  // namespace qf
