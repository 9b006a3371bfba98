#include "roundtrip/composer.hpp"

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <unordered_set>
#include <utility>

#include "roundtrip/comments.hpp"
#include "scanner/scanner.hpp"
#include "support/hash.hpp"
#include "support/stack_guard.hpp"
#include "support/thread_heap.hpp"
#include "support/words.hpp"

namespace qf {

namespace {

struct KeyedStringHash {
  uint64_t seed = process_hash_seed();
  size_t operator()(const std::string& s) const noexcept { return size_t(hash_bytes(s, seed)); }
};

struct ComposeFailure {
  ScanError error;
};

[[noreturn]] void fail(std::string message, const Span& span) {
  throw ComposeFailure{ScanError{std::move(message), span}};
}

// Lists a composer gathers the children of its open collections in, one per
// depth. A thread keeps one set between compositions, so that a finished
// collection costs one allocation of its exact size.
struct GatherLists {
  // Room kept between compositions, per list, and the depths whose lists
  // are kept (deeper ones are freed): at most some 120 KiB per thread.
  static constexpr size_t kKeptRoom = 32;
  static constexpr size_t kKeptDepths = 16;
  std::deque<NodeList<YamlNode>> items;
  std::deque<NodeList<MappingEntry>> pairs;
  bool busy = false;

  // Entries left by a failed composition go; large rooms are given back.
  void reset() noexcept {
    if (items.size() > kKeptDepths) items.resize(kKeptDepths);
    if (pairs.size() > kKeptDepths) pairs.resize(kKeptDepths);
    for (NodeList<YamlNode>& l : items) l.capacity() > kKeptRoom ? l.clear() : l.resize(0);
    for (NodeList<MappingEntry>& l : pairs) l.capacity() > kKeptRoom ? l.clear() : l.resize(0);
  }
};

class Composer {
 public:
  Composer(std::string_view text, TokenPump& tokens) : text_(text), pump_(tokens) {
    GatherLists* thread_lists = ThreadHeapObject<GatherLists, ThreadSlot::GatherLists>::get();
    lists_ = thread_lists && !thread_lists->busy ? thread_lists : &own_lists_;
    lists_->busy = true;
    uint64_t start = 0;
    if (text.size() >= 3 && uint8_t(text[0]) == 0xEF && uint8_t(text[1]) == 0xBB && uint8_t(text[2]) == 0xBF)
      start = 3;
    line_starts_.reserve(text.size() / 24 + 2);
    line_starts_.push_back(start);
    if (text.find('\r', start) == std::string_view::npos) {
      for (size_t lf = text.find('\n', start); lf != std::string_view::npos; lf = text.find('\n', lf + 1))
        line_starts_.push_back(lf + 1);
      return;
    }
    for (uint64_t i = start; i < text.size(); ++i) {
      char c = text[i];
      if (c == '\n') {
        line_starts_.push_back(i + 1);
      } else if (c == '\r') {
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        line_starts_.push_back(i + 1);
      }
    }
  }

  ~Composer() {
    lists_->reset();
    lists_->busy = false;
  }
  Composer(const Composer&) = delete;
  Composer& operator=(const Composer&) = delete;

  void compose_stream(const ComposeOptions& options, ComposeResult& out);

  IntroducerSet introducers;
  bool track_introducers = true;  // only comment attachment reads them

 private:
  std::string_view text_;
  // Tokens are scanned as composition consumes them, so a large text never
  // holds its whole token vector beside its tree. A scan can move the
  // tokens: what is needed across a further read is copied (Token is small).
  TokenPump& pump_;
  std::vector<uint64_t> line_starts_;
  std::optional<std::string> pending_tag_;
  std::optional<std::string> pending_anchor_;
  std::unordered_set<std::string, KeyedStringHash> anchors_;
  // The %TAG handles declared for the current document (few: a list).
  std::vector<std::string> tag_handles_;
  size_t index_ = 0;
  uint32_t depth_ = 0;
  // Offset just past the closing bracket of the flow collection composed
  // last (0 when it was not closed).
  uint64_t close_end_ = 0;
  Span close_span_;
  StackWatch stack_;
  GatherLists* lists_ = nullptr;
  GatherLists own_lists_;  // when the thread's set is in use
  // Deeper collections (rare) grow their own block and trim it.
  static constexpr uint32_t kGatheredDepths = 64;

  template <class List>
  static List& gathering_list(std::deque<List>& lists, uint32_t depth) {
    while (lists.size() <= depth) lists.emplace_back();
    return lists[depth];
  }
  NodeList<YamlNode>& item_list(YamlNode& node) {
    return depth_ < kGatheredDepths ? gathering_list(lists_->items, depth_) : node.items;
  }
  NodeList<MappingEntry>& pair_list(YamlNode& node) {
    return depth_ < kGatheredDepths ? gathering_list(lists_->pairs, depth_) : node.pairs;
  }
  // The children are final: they move into their exact room.
  void finish_children(YamlNode& node) {
    if (depth_ >= kGatheredDepths) {
      node.pairs.shrink_to_fit();
      node.items.shrink_to_fit();
    } else if (node.kind == NodeKind::Mapping) {
      node.pairs.take_entries(lists_->pairs[depth_]);
    } else {
      node.items.take_entries(lists_->items[depth_]);
    }
  }

  // Token `i`, or nullptr past the end; a scan error ends the composition.
  const Token* peek(size_t i) {
    const Token* t = pump_.get(i, index_);
    if (!t && pump_.error()) [[unlikely]]
      throw ComposeFailure{*pump_.error()};
    return t;
  }
  bool at_end() { return peek(index_) == nullptr; }
  // The current token (there must be one), copied.
  Token tok() { return *peek(index_); }
  TokenKind kind() { return peek(index_)->kind; }

  // Compose into `out` (a fresh node, usually already in place in its
  // parent's vector, so nothing is moved); false when no node stands here.
  bool compose_node_guarded(YamlNode& out, bool allow_indentless);
  bool compose_node(YamlNode& out, bool allow_indentless);
  void compose_mapping(YamlNode& node, bool flow);
  void compose_sequence(YamlNode& node, bool flow);
  bool compose_sequence_entry(YamlNode& out, bool flow);
  void compose_indentless_sequence(YamlNode& node);
  // The stream-level checks the value loader makes, with its messages and
  // positions, so that a text refused there is refused here too.
  void check_directive(const Token& d, bool& yaml_seen);
  void check_tag_handle(const Token& t);
  void trailing_check();
  void compose_dash_item(NodeList<YamlNode>& items);
  void finish_entry_item(YamlNode& item, const Span& entry, bool dash);
  void set_end(YamlNode& node, uint64_t end_offset);
  // The end when it lies on the line of `from` (the common case) needs no
  // line lookup: the column counts on from the known start.
  void set_end_from(YamlNode& node, const Span& from, uint64_t end_offset);
  void set_end_at_start(YamlNode& node) {
    node.end_offset = node.span.offset;
    node.end_line = node.span.line;
    node.end_column = node.span.column;
  }
  static const YamlNode* last_ending_child(const YamlNode& node);
  // A text that is the source bytes as they stand is viewed, not copied.
  void set_text(YamlNode& node, std::string_view t) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(t.data());
    const uintptr_t base = reinterpret_cast<uintptr_t>(text_.data());
    if (at >= base && at - base <= text_.size() && t.size() <= text_.size() - (at - base))
      node.text = NodeText::view(t);
    else
      node.text.assign(t);
  }
  static void make_null(YamlNode& n, const Span& at) {
    n.kind = NodeKind::Null;
    n.span = at;
    n.end_offset = at.offset;
    n.end_line = at.line;
    n.end_column = at.column;
  }
  // A one-pair flow mapping standing for an entry "k: v" of a flow sequence.
  static void make_pair_mapping(YamlNode& n, const Span& at) {
    n.kind = NodeKind::Mapping;
    n.style = CollectionStyle::Flow;
    n.span = at;
    n.end_offset = at.offset;
    n.end_line = at.line;
    n.end_column = at.column;
  }
};

// The child whose end is the greatest (the earlier one on ties).
const YamlNode* Composer::last_ending_child(const YamlNode& node) {
  const YamlNode* best = nullptr;
  for (const YamlNode& item : node.items)
    if (!best || item.end_offset > best->end_offset) best = &item;
  for (const MappingEntry& e : node.pairs) {
    if (!best || e.key.end_offset > best->end_offset) best = &e.key;
    if (e.value.end_offset > best->end_offset) best = &e.value;
  }
  return best;
}

void Composer::set_end_from(YamlNode& node, const Span& from, uint64_t end_offset) {
  if (end_offset >= from.offset && end_offset <= text_.size()) {
    const char* run = text_.data() + from.offset;
    const size_t length = end_offset - from.offset;
    // Characters are the bytes that do not continue a UTF-8 sequence; one
    // pass counts them and stops at a line break, eight bytes at a time.
    constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
    auto has_byte = [](uint64_t x, uint64_t b) {
      const uint64_t v = x ^ b;
      return ((v - kOnes) & ~v & kHigh) != 0;
    };
    uint32_t chars = 0;
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
      uint64_t x;
      std::memcpy(&x, run + i, 8);
      if (has_byte(x, kOnes * '\n') || has_byte(x, kOnes * '\r')) break;
      // A byte continues a sequence when its top bits are 10: bit 7 marks
      // every other byte, and the multiply sums the marks in the top byte.
      const uint64_t t = (x & (kHigh | kHigh >> 1)) ^ kHigh;
      chars += uint32_t(((((t | t << 1) & kHigh) >> 7) * kOnes) >> 56);
    }
    for (; i < length; ++i) {
      const uint8_t c = uint8_t(run[i]);
      if (c == '\n' || c == '\r') break;
      chars += (c & 0xC0) != 0x80;
    }
    if (i == length) {
      node.end_offset = end_offset;
      node.end_line = from.line;
      node.end_column = from.column + chars;
      return;
    }
  }
  set_end(node, end_offset);
}

void Composer::set_end(YamlNode& node, uint64_t end_offset) {
  node.end_offset = end_offset;
  // Line: the last line start at or below the offset.
  auto it = std::upper_bound(line_starts_.begin(), line_starts_.end(), end_offset);
  size_t line = it == line_starts_.begin() ? 0 : size_t(it - line_starts_.begin()) - 1;
  uint64_t start = line_starts_[line];
  uint32_t column = 0;
  if (start <= end_offset) {
    uint64_t stop = std::min<uint64_t>(end_offset, text_.size());
    for (uint64_t i = start; i < stop; ++i)
      if ((uint8_t(text_[i]) & 0xC0) != 0x80) ++column;
  }
  node.end_line = uint32_t(line);
  node.end_column = column;
}

bool Composer::compose_node_guarded(YamlNode& out, bool allow_indentless) {
  if (depth_ + 1 > kMaxComposeDepth) {
    Span span = at_end() ? Span{} : tok().span;
    fail("maximum nesting depth (" + std::to_string(kMaxComposeDepth) + ") exceeded", span);
  }
  ++depth_;
  bool found = stack_.run([&] { return compose_node(out, allow_indentless); });
  --depth_;
  return found;
}

bool Composer::compose_node(YamlNode& node, bool allow_indentless) {
  for (;;) {
    // (Each token is looked up once: a read past it may move it.)
    const Token* next = peek(index_);
    if (!next) return false;
    std::optional<Token> last_property;
    while (next->kind == TokenKind::Tag || next->kind == TokenKind::Anchor) {
      const Token t = *next;
      last_property = t;
      if (t.kind == TokenKind::Tag) {
        check_tag_handle(t);
        pending_tag_ = std::string(t.text);
      } else {
        if (pending_anchor_) fail("a node cannot have two anchors", t.span);
        pending_anchor_ = std::string(t.text);
      }
      ++index_;
      next = peek(index_);
      if (!next) return false;
    }
    std::optional<std::string> tag = std::move(pending_tag_);
    std::optional<std::string> anchor = std::move(pending_anchor_);
    pending_tag_.reset();
    pending_anchor_.reset();
    const Token t = *next;
    node.span = t.span;
    switch (t.kind) {
      case TokenKind::MappingStart:
        ++index_;
        node.kind = NodeKind::Mapping;
        node.style = t.flow() ? CollectionStyle::Flow : CollectionStyle::Block;
        close_end_ = 0;
        compose_mapping(node, t.flow());
        break;
      case TokenKind::SequenceStart:
        ++index_;
        node.kind = NodeKind::Sequence;
        node.style = t.flow() ? CollectionStyle::Flow : CollectionStyle::Block;
        close_end_ = 0;
        compose_sequence(node, t.flow());
        break;
      case TokenKind::SequenceEntry:
        if (!allow_indentless) goto no_content;
        node.kind = NodeKind::Sequence;
        compose_indentless_sequence(node);
        break;
      case TokenKind::Scalar:
        ++index_;
        node.kind = NodeKind::Scalar;
        set_text(node, t.text);
        node.scalar_style = t.style;
        break;
      case TokenKind::Alias:
        if (tag || anchor) fail("an alias node cannot have an anchor or tag", t.span);
        if (!anchors_.count(std::string(t.text))) fail("unknown alias: *" + std::string(t.text), t.span);
        ++index_;
        node.kind = NodeKind::Alias;
        set_text(node, t.text);
        break;
      case TokenKind::StreamStart:
      case TokenKind::Directive:
        ++index_;
        continue;
      default:
      no_content:
        if (!tag && !anchor) return false;
        node.kind = NodeKind::Null;
        // An empty node stands where its properties are written, not at the
        // next token (which belongs to another node, often on a later line).
        if (last_property) node.span = last_property->span;
        break;
    }
    // (The node is fresh: absent properties need no write.)
    if (anchor) {
      anchors_.insert(*anchor);
      node.set_anchor(std::move(anchor));
    }
    if (tag) node.set_tag(std::move(tag));
    switch (node.kind) {
      case NodeKind::Mapping:
      case NodeKind::Sequence:
        finish_children(node);
        // A flow collection ends past its closing bracket, so its range
        // slices the whole collection and a comment after it is measured
        // from the bracket.
        if (node.style == CollectionStyle::Flow && close_end_ > node.span.offset) {
          set_end_from(node, close_span_, close_end_);
        } else if (const YamlNode* last = last_ending_child(node); last && last->end_offset >= node.span.offset) {
          node.end_offset = last->end_offset;
          node.end_line = last->end_line;
          node.end_column = last->end_column;
        } else {
          set_end_from(node, node.span, node.span.offset);
        }
        close_end_ = 0;
        break;
      case NodeKind::Alias:
        set_end_from(node, node.span, node.span.offset + 1 + node.text.size());
        break;
      case NodeKind::Scalar:
        set_end_from(node, node.span, t.end_offset);
        if ((t.style == ScalarStyle::Literal || t.style == ScalarStyle::Folded) &&
            node.end_offset > node.span.offset && node.end_offset <= text_.size()) {
          auto boundary = [&](uint64_t o) { return o >= text_.size() || (uint8_t(text_[o]) & 0xC0) != 0x80; };
          if (boundary(node.span.offset) && boundary(node.end_offset))
            node.edit_comments().raw = NodeText::view(source_text_slice(text_, node.span.offset, node.end_offset));
        }
        break;
      case NodeKind::Null:
        if (last_property && node.span == last_property->span)
          set_end_from(node, node.span,
                       node.span.offset + last_property->text.size() +
                           (last_property->kind == TokenKind::Anchor ? 1 : 0));
        else
          set_end_from(node, node.span, node.span.offset);
        break;
      default:
        set_end_from(node, node.span, node.span.offset);
        break;
    }
    return true;
  }
}

void Composer::compose_mapping(YamlNode& node, bool flow) {
  NodeList<MappingEntry>& pairs = pair_list(node);
  while (!at_end()) {
    const Token t = tok();
    switch (t.kind) {
      case TokenKind::StreamEnd:
      case TokenKind::DocumentStart:
      case TokenKind::DocumentEnd:
        return;
      case TokenKind::MappingEnd:
      case TokenKind::BlockEnd:
        if (flow && t.kind == TokenKind::MappingEnd) {
          close_end_ = t.span.offset + 1;
          close_span_ = t.span;
        }
        ++index_;
        return;
      case TokenKind::FlowEntry:
        ++index_;
        continue;
      case TokenKind::Key: {
        bool is_explicit = t.is_explicit();
        Span key_span = t.span;
        ++index_;
        MappingEntry& entry = pairs.emplace_back();
        // An empty explicit key sits at its "?". An explicit key may be a
        // block sequence at the column of its "?" (its entries end at the ":").
        if (!compose_node_guarded(entry.key, is_explicit)) make_null(entry.key, is_explicit ? key_span : Span{});
        if (is_explicit && entry.key.span.line > key_span.line)
          if (track_introducers) introducers.insert(pack_position(key_span.line, key_span.column));
        entry.key.explicit_key = is_explicit;
        std::optional<Token> colon;
        if (!at_end() && kind() == TokenKind::Value) {
          colon = tok();
          ++index_;
        }
        // An empty value sits at its ":", so a comment after it stays there.
        if (!compose_node_guarded(entry.value, true)) make_null(entry.value, colon ? colon->span : Span{});
        // The ":" of an explicit entry introduces a value on a later line.
        if (colon && entry.value.span.line > colon->span.line)
          if (track_introducers) introducers.insert(pack_position(colon->span.line, colon->span.column));
        continue;
      }
      default:
        break;
    }
    size_t entry_start = index_;
    if (!flow) {
      size_t j = index_;
      while (peek(j) && (peek(j)->kind == TokenKind::Anchor || peek(j)->kind == TokenKind::Tag)) ++j;
      if (const Token* next = peek(j)) {
        const Token f = *next;
        if (((f.kind == TokenKind::MappingStart || f.kind == TokenKind::SequenceStart) && !f.flow()) ||
            f.kind == TokenKind::SequenceEntry)
          fail("a block collection cannot be a mapping key", f.span);
      }
    }
    bool began_with_scalar = t.kind == TokenKind::Scalar;
    Span first_span = t.span;
    MappingEntry& entry = pairs.emplace_back();
    if (!compose_node_guarded(entry.key, false))
      make_null(entry.key, !at_end() && kind() == TokenKind::Value ? tok().span : Span{});
    if (!at_end() && kind() == TokenKind::Value) {
      const Token colon = tok();
      ++index_;
      if (!compose_node_guarded(entry.value, true)) make_null(entry.value, colon.span);
    } else if (!flow && began_with_scalar) {
      fail("expected ':' after mapping key", first_span);
    } else {
      make_null(entry.value, Span{});
    }
    if (index_ == entry_start) return;
  }
}

void Composer::finish_entry_item(YamlNode& item, const Span& entry, bool dash) {
  if (item.kind == NodeKind::Sequence && item.style == CollectionStyle::Block && item.span.line == entry.line)
    item.edit_comments().compact = true;
  if (!dash) return;
  if ((item.kind == NodeKind::Scalar || item.kind == NodeKind::Alias ||
       (item.is_collection() && item.style == CollectionStyle::Flow)) &&
      item.span.line == entry.line && item.span.column > entry.column && !item.anchor() && !item.tag())
    item.value_pad = item.span.column - entry.column - 1;
  if (track_introducers && item.span.line > entry.line) introducers.insert(pack_position(entry.line, entry.column));
}

void Composer::compose_dash_item(NodeList<YamlNode>& items) {
  const Token dash = tok();
  Span entry = dash.span;
  ++index_;
  if (at_end()) return;
  YamlNode& item = items.emplace_back();
  switch (kind()) {
    case TokenKind::MappingEnd:
    case TokenKind::SequenceEnd:
    case TokenKind::BlockEnd:
    case TokenKind::Key:
    case TokenKind::SequenceEntry:
      make_null(item, entry);
      break;
    default:
      if (!compose_node_guarded(item, false)) {
        items.pop_back();
        return;
      }
  }
  finish_entry_item(item, entry, true);
}

void Composer::compose_sequence(YamlNode& node, bool flow) {
  NodeList<YamlNode>& items = item_list(node);
  while (!at_end()) {
    const Token t = tok();
    switch (t.kind) {
      case TokenKind::StreamEnd:
      case TokenKind::DocumentStart:
      case TokenKind::DocumentEnd:
        return;
      case TokenKind::MappingEnd:
      case TokenKind::SequenceEnd:
      case TokenKind::BlockEnd:
        if (flow && t.kind != TokenKind::BlockEnd) {
          close_end_ = t.span.offset + 1;
          close_span_ = t.span;
        }
        ++index_;
        return;
      case TokenKind::SequenceEntry:
        compose_dash_item(items);
        continue;
      case TokenKind::FlowEntry: {
        Span entry = t.span;
        ++index_;
        YamlNode& item = items.emplace_back();
        if (compose_sequence_entry(item, flow)) finish_entry_item(item, entry, false);
        else items.pop_back();
        continue;
      }
      default: {
        // In a block sequence every entry starts with "-": content at the
        // sequence's column without one (a mapping after "- - a") would
        // otherwise pass for another item.
        if (!flow) fail("a block sequence entry must start with '-'", t.span);
        size_t before = index_;
        YamlNode& item = items.emplace_back();
        if (!compose_sequence_entry(item, flow)) {
          items.pop_back();
          return;
        }
        if (index_ == before) return;
        continue;
      }
    }
  }
}

bool Composer::compose_sequence_entry(YamlNode& out, bool flow) {
  if (at_end()) return false;
  const Token t = tok();
  if (flow && t.kind == TokenKind::Value) {
    ++index_;
    make_pair_mapping(out, t.span);
    MappingEntry& e = out.pairs.emplace_back();
    make_null(e.key, t.span);
    if (!compose_node_guarded(e.value, false)) make_null(e.value, t.span);
    return true;
  }
  if (flow && t.kind == TokenKind::Key) {
    bool is_explicit = t.is_explicit();
    Span at = t.span;
    ++index_;
    make_pair_mapping(out, at);
    MappingEntry& e = out.pairs.emplace_back();
    if (!compose_node_guarded(e.key, false)) make_null(e.key, at);
    e.key.explicit_key = is_explicit;
    if (!at_end() && kind() == TokenKind::Value) ++index_;
    if (!compose_node_guarded(e.value, false)) make_null(e.value, at);
    return true;
  }
  if (!compose_node_guarded(out, false)) return false;
  if (flow && !at_end() && kind() == TokenKind::Value) {
    ++index_;
    // The node becomes the key of a one-pair mapping in its place.
    YamlNode key = std::move(out);
    out = YamlNode();
    make_pair_mapping(out, key.span);
    MappingEntry& e = out.pairs.emplace_back();
    Span key_start = key.span;
    e.key = std::move(key);
    if (!compose_node_guarded(e.value, false)) make_null(e.value, key_start);
  }
  return true;
}

void Composer::compose_indentless_sequence(YamlNode& node) {
  NodeList<YamlNode>& items = item_list(node);
  while (!at_end() && kind() == TokenKind::SequenceEntry) compose_dash_item(items);
}

void Composer::check_directive(const Token& d, bool& yaml_seen) {
  const DirectiveWords w = read_directive(d.text);
  bool known = false;
  if (w.kind == DirectiveWords::Kind::Tag) {
    known = std::find(tag_handles_.begin(), tag_handles_.end(), w.handle) != tag_handles_.end();
    if (!known) tag_handles_.emplace_back(w.handle);
  }
  if (std::optional<std::string> error = directive_error(w, yaml_seen, known)) fail(*error, d.span);
}

// A tag written with a named handle ("!e!x") needs that handle's %TAG
// directive; "!", "!!" and verbatim tags need none.
void Composer::check_tag_handle(const Token& t) {
  const std::string_view tag = t.text;
  if (tag.size() < 2 || tag[0] != '!' || tag[1] == '!' || tag[1] == '<') return;
  const size_t second = tag.find('!', 1);
  if (second == std::string_view::npos) return;
  const std::string_view handle = tag.substr(0, second + 1);
  for (const std::string& h : tag_handles_)
    if (h == handle) return;
  fail("undefined tag handle: " + std::string(handle), t.span);
}

// After a document's root only a document marker, a directive or the end
// may follow.
void Composer::trailing_check() {
  const Token* t = peek(index_);
  if (t && !may_follow_document(t->kind)) fail("trailing content after document", t->span);
}

void Composer::compose_stream(const ComposeOptions& options, ComposeResult& out) {
  const bool keep_empty = options.keep_empty;
  std::vector<std::string> directives;
  uint64_t first_directive = 0;
  Span group_span;  // the first directive of the pending group
  bool yaml_seen = false;
  bool directives_allowed = true;
  uint32_t empty_pending = 0;
  // The root is already the last entry of out.roots.
  auto push_root = [&](YamlNode& root, uint64_t start) {
    out.document_starts.push_back(out.roots.size() == 1 ? 0 : start);
    root.set_empty_documents_before(empty_pending);
    empty_pending = 0;
  };
  auto end_document = [&] {
    anchors_.clear();
    tag_handles_.clear();
    directives_allowed = false;
  };
  while (!at_end() && !(options.first_document_only && !out.roots.empty())) {
    const Token t = tok();
    if (!directives.empty() && t.kind != TokenKind::Directive && t.kind != TokenKind::DocumentStart)
      fail("directive must be followed by a document start (---)", group_span);
    switch (t.kind) {
      case TokenKind::StreamStart:
      case TokenKind::StreamEnd:
        ++index_;
        continue;
      case TokenKind::Directive:
        if (directives.empty()) {
          if (!directives_allowed)
            fail("a directive must be at the start of the stream or follow a document-end marker (...)", t.span);
          first_directive = t.span.offset;
          group_span = t.span;
          yaml_seen = false;
        }
        check_directive(t, yaml_seen);
        directives.emplace_back(t.text);
        ++index_;
        continue;
      case TokenKind::DocumentStart: {
        uint64_t start = directives.empty() ? t.span.offset : first_directive;
        Span marker = t.span;
        ++index_;
        anchors_.clear();
        YamlNode& root = out.roots.emplace_back();
        if (compose_node_guarded(root, false)) {
          root.explicit_start = true;
          root.set_directives(std::move(directives));
          push_root(root, start);
        } else if (keep_empty) {
          make_null(root, marker);
          root.explicit_start = true;
          root.set_directives(std::move(directives));
          push_root(root, start);
        } else {
          out.roots.pop_back();
          ++empty_pending;
        }
        directives.clear();
        trailing_check();
        end_document();
        if (!at_end() && kind() == TokenKind::DocumentEnd) {
          if (!out.roots.empty() && empty_pending == 0) out.roots.back().explicit_end = true;
          directives_allowed = true;
          ++index_;
        }
        continue;
      }
      case TokenKind::DocumentEnd:
        if (!out.roots.empty() && empty_pending == 0) out.roots.back().explicit_end = true;
        directives_allowed = true;
        ++index_;
        continue;
      default: {
        uint64_t start = t.span.offset;
        size_t before = index_;
        anchors_.clear();
        YamlNode& root = out.roots.emplace_back();
        if (compose_node_guarded(root, false)) {
          push_root(root, start);
          trailing_check();
        } else {
          out.roots.pop_back();
        }
        end_document();
        if (index_ == before) ++index_;
        continue;
      }
    }
  }
  if (!directives.empty()) fail("directive must be followed by a document start (---)", group_span);
  if (!out.roots.empty()) out.roots.back().set_empty_documents_after(empty_pending);
}

}  // namespace

std::string_view source_text_slice(std::string_view text, uint64_t start, uint64_t end) {
  end = std::min<uint64_t>(end, text.size());
  start = std::min(start, end);
  std::string_view slice = text.substr(start, end - start);
  if (end < text.size()) {
    size_t brk = slice.find_last_of("\r\n");
    if (brk != std::string_view::npos) {
      bool blanks = true;
      for (size_t i = brk + 1; i < slice.size(); ++i)
        if (slice[i] != ' ' && slice[i] != '\t') {
          blanks = false;
          break;
        }
      if (blanks) slice = slice.substr(0, brk + 1);
    }
  }
  return slice;
}

ComposeResult compose_text(std::string_view text, const ComposeOptions& options) {
  return compose_kept_text(std::make_shared<const std::string>(text), options);
}

ComposeResult compose_kept_text(std::shared_ptr<const std::string> kept, const ComposeOptions& options) {
  ComposeResult result;
  result.text = kept;
  const std::string_view text = *kept;
  Scanner scanner(text);
  scanner.keep_comments = options.keep_comments;
  scanner.cursor.file_id = options.file_id;
  TokenPump pump(scanner);
  Composer composer(text, pump);
  composer.track_introducers = options.keep_comments;
  try {
    composer.compose_stream(options, result);
  } catch (ComposeFailure& failure) {
    result.roots.clear();
    result.document_starts.clear();
    // A scan error anywhere in the text wins over a composition error
    // before it.
    if (const std::optional<ScanError>& scan_error = pump.finish()) result.error = *scan_error;
    else result.error = std::move(failure.error);
    return result;
  }
  // Composition reads through the stream's end: the text is scanned.
  if (const std::optional<ScanError>& scan_error = pump.finish()) {
    result.roots.clear();
    result.document_starts.clear();
    result.error = *scan_error;
    return result;
  }
  std::vector<RawComment> comments = std::move(scanner.comments);
  composer.introducers.seal();
  if (!options.keep_comments) {
    // nothing to attach
  } else if (options.per_document_comments && result.roots.size() > 1) {
    attach_comments_per_document(result.roots, result.document_starts, comments, text, composer.introducers);
  } else {
    attach_comments(result.roots, comments, text, composer.introducers);
  }
  if (!result.roots.empty() && text.size() >= 3 && uint8_t(text[0]) == 0xEF && uint8_t(text[1]) == 0xBB &&
      uint8_t(text[2]) == 0xBF)
    result.roots.front().leading_bom = true;
  for (YamlNode& root : result.roots) root.keep_text(kept);
  return result;
}

ComposeResult compose_documents(std::string_view text) { return compose_text(text, ComposeOptions{}); }

ComposeResult compose_documents_keep_empty(std::string_view text) {
  ComposeOptions o;
  o.keep_empty = true;
  return compose_text(text, o);
}

ComposeResult compose_file_documents(std::string_view text, uint32_t file_id) {
  ComposeOptions o;
  o.file_id = file_id;
  return compose_text(text, o);
}

}  // namespace qf
