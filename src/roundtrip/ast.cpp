#include "roundtrip/ast.hpp"

#include <utility>

namespace qf {

namespace {

// Moves a node's children onto the stack and frees the child vectors, so the
// node can then be destroyed without recursing.
void move_children_to(YamlNode& node, std::vector<YamlNode>& stack) {
  if (!node.items.empty()) {
    for (YamlNode& item : node.items) stack.push_back(std::move(item));
    std::vector<YamlNode>().swap(node.items);
  }
  if (!node.pairs.empty()) {
    for (MappingEntry& entry : node.pairs) {
      stack.push_back(std::move(entry.key));
      stack.push_back(std::move(entry.value));
    }
    std::vector<MappingEntry>().swap(node.pairs);
  }
}

bool has_grandchildren(const YamlNode& node) {
  for (const YamlNode& item : node.items)
    if (!item.items.empty() || !item.pairs.empty()) return true;
  for (const MappingEntry& e : node.pairs)
    if (!e.key.items.empty() || !e.key.pairs.empty() || !e.value.items.empty() || !e.value.pairs.empty())
      return true;
  return false;
}

}  // namespace

YamlNode::~YamlNode() {
  // Leaves and collections of leaves are freed by the vectors directly; only
  // deeper trees need the work stack.
  if ((items.empty() && pairs.empty()) || !has_grandchildren(*this)) return;
  std::vector<YamlNode> stack;
  stack.reserve(items.size() + 2 * pairs.size());
  move_children_to(*this, stack);
  while (!stack.empty()) {
    YamlNode current = std::move(stack.back());
    stack.pop_back();
    move_children_to(current, stack);
  }
}

void YamlNode::copy_fields_from(const YamlNode& o) {
  kind = o.kind;
  text = o.text;
  scalar_style = o.scalar_style;
  span = o.span;
  end_offset = o.end_offset;
  end_line = o.end_line;
  end_column = o.end_column;
  anchor = o.anchor;
  tag = o.tag;
  comments = o.comments;
  style = o.style;
  source = o.source;
  explicit_start = o.explicit_start;
  directives = o.directives;
  leading_bom = o.leading_bom;
  synthetic = o.synthetic;
  explicit_key = o.explicit_key;
  explicit_end = o.explicit_end;
  empty_documents_before = o.empty_documents_before;
  empty_documents_after = o.empty_documents_after;
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

YamlNode YamlNode::scalar(std::string text, ScalarStyle style) {
  YamlNode n;
  n.kind = NodeKind::Scalar;
  n.text = std::move(text);
  n.scalar_style = style;
  return n;
}

YamlNode YamlNode::alias(std::string name) {
  YamlNode n;
  n.kind = NodeKind::Alias;
  n.text = std::move(name);
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
  std::vector<Frame> stack{{&released, false}};
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
    std::vector<YamlNode>().swap(n->items);
    std::vector<MappingEntry>().swap(n->pairs);
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
        x->end_column != y->end_column || x->anchor != y->anchor || x->tag != y->tag ||
        !(x->comments == y->comments) || x->style != y->style || x->source != y->source ||
        x->explicit_start != y->explicit_start || x->directives != y->directives ||
        x->leading_bom != y->leading_bom || x->synthetic != y->synthetic ||
        x->explicit_key != y->explicit_key || x->explicit_end != y->explicit_end ||
        x->empty_documents_before != y->empty_documents_before ||
        x->empty_documents_after != y->empty_documents_after || x->items.size() != y->items.size() ||
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
