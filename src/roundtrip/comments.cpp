#include "roundtrip/comments.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <optional>
#include <utility>

#include "roundtrip/walk.hpp"
#include "support/hash.hpp"
#include "support/stack_guard.hpp"

namespace qf {

void IntroducerSet::seal() {
  if (sorted_) return;
  std::sort(positions_.begin(), positions_.end());
  positions_.erase(std::unique(positions_.begin(), positions_.end()), positions_.end());
  sorted_ = true;
}

size_t IntroducerSet::count(uint64_t position) const noexcept {
  assert(sorted_);
  return std::binary_search(positions_.begin(), positions_.end(), position) ? 1 : 0;
}

namespace {

using Position = std::pair<uint32_t, uint32_t>;

uint32_t count_chars(std::string_view s) {
  uint32_t n = 0;
  for (char c : s)
    if ((uint8_t(c) & 0xC0) != 0x80) ++n;
  return n;
}

Position scalar_end(const YamlNode& node) {
  if (node.end_offset > node.span.offset) return {node.end_line, node.end_column};
  size_t lf = node.text.rfind('\n');
  if (lf == std::string::npos)
    return {node.span.line, node.span.column + count_chars(node.text)};
  uint32_t lines = uint32_t(std::count(node.text.begin(), node.text.end(), '\n'));
  return {node.span.line + lines, count_chars(std::string_view(node.text).substr(lf + 1))};
}

bool is_unicode_space_at(std::string_view s, size_t i, size_t& len) {
  uint8_t c = uint8_t(s[i]);
  if (c == ' ' || (c >= 0x09 && c <= 0x0D)) {
    len = 1;
    return true;
  }
  if (c == 0xC2 && i + 1 < s.size() && (uint8_t(s[i + 1]) == 0x85 || uint8_t(s[i + 1]) == 0xA0)) {
    len = 2;
    return true;
  }
  if (c == 0xE1 && i + 2 < s.size() && uint8_t(s[i + 1]) == 0x9A && uint8_t(s[i + 2]) == 0x80) {
    len = 3;
    return true;
  }
  if (c == 0xE2 && i + 2 < s.size()) {
    uint8_t b = uint8_t(s[i + 1]), d = uint8_t(s[i + 2]);
    if ((b == 0x80 && ((d >= 0x80 && d <= 0x8A) || d == 0xA8 || d == 0xA9 || d == 0xAF)) || (b == 0x81 && d == 0x9F)) {
      len = 3;
      return true;
    }
  }
  if (c == 0xE3 && i + 2 < s.size() && uint8_t(s[i + 1]) == 0x80 && uint8_t(s[i + 2]) == 0x80) {
    len = 3;
    return true;
  }
  return false;
}

bool is_blank_piece(std::string_view piece) {
  size_t i = 0;
  while (i < piece.size()) {
    size_t len = 0;
    if (!is_unicode_space_at(piece, i, len)) return false;
    i += len;
  }
  return true;
}

// Blank lines counted over LF-separated pieces: entry i is the number of
// blank pieces before piece i.
std::vector<uint32_t> blank_prefix(std::string_view text) {
  std::vector<uint32_t> prefix;
  prefix.reserve(text.size() / 24 + 2);
  prefix.push_back(0);
  size_t start = 0;
  for (;;) {
    size_t lf = text.find('\n', start);
    const size_t stop = lf == std::string_view::npos ? text.size() : lf;
    // Most lines are ASCII indentation and then text: decided at the first
    // character after the indentation, without the Unicode scan.
    size_t i = start;
    constexpr uint64_t kSpaces = 0x2020202020202020ull;  // eight at a time first
    while (i + 8 <= stop) {
      uint64_t chunk;
      std::memcpy(&chunk, text.data() + i, 8);
      if (chunk != kSpaces) break;
      i += 8;
    }
    while (i < stop && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool blank = true;
    if (i < stop) {
      const uint8_t c = uint8_t(text[i]);
      blank = c > ' ' && c < 0x80 ? false : is_blank_piece(text.substr(i, stop - i));
    }
    prefix.push_back(prefix.back() + (blank ? 1 : 0));
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
  return prefix;
}

// node_end_position, its common case inline: a node composed from text ends
// where its source ends (an empty block collection ends at its start).
Position end_of(const YamlNode& n) {
  if (n.end_offset > n.span.offset && (!n.is_collection() || n.style == CollectionStyle::Flow || n.size() > 0))
    return {n.end_line, n.end_column};
  return node_end_position(n);
}

enum class IntroKind { None, AfterKey, SequenceItem, ExplicitKey, ExplicitValue };
struct Introducer {
  IntroKind kind = IntroKind::None;
  uint32_t line = 0;
  uint32_t column = 0;
};

class Attacher {
 public:
  Attacher(std::vector<RawComment>& comments, size_t begin, size_t end, const IntroducerSet& introducers,
           const std::vector<uint32_t>* prefix)
      : comments_(comments), next_(begin), end_(end), introducers_(introducers), prefix_(prefix) {}

  void attach(YamlNode& node, bool is_value, Introducer ctx) {
    stack_.run([&] { attach_inner(node, is_value, ctx); });
  }

  void leftovers(YamlNode& last_root) {
    for (; next_ < end_; ++next_) {
      RawComment& c = comments_[next_];
      trailing_comment_owner(last_root, c.span.column).edit_comments().foot.push_back(std::move(c.text));
    }
  }

 private:
  std::vector<RawComment>& comments_;  // each text is moved out once taken
  size_t next_;
  size_t end_;
  const IntroducerSet& introducers_;
  const std::vector<uint32_t>* prefix_;  // prefix counts of blank lines
  StackWatch stack_;
  bool has_last_ = false;
  uint32_t last_line_ = 0;
  uint32_t key_depth_ = 0;  // nesting of mapping keys around the current node
  // End of the innermost flow collection around the current node: a comment
  // past it follows the collection, not one of its entries.
  std::optional<Position> flow_end_;

  RawComment* pending() { return next_ < end_ ? &comments_[next_] : nullptr; }

  uint32_t blanks_between(uint32_t lo, uint32_t hi) const {  // lines j with lo < j < hi
    if (hi <= lo + 1) return 0;
    size_t a = std::min<size_t>(lo + 1, prefix_->size() - 1), b = std::min<size_t>(hi, prefix_->size() - 1);
    return b > a ? (*prefix_)[b] - (*prefix_)[a] : 0;
  }

  void note_line(uint32_t line) {
    last_line_ = has_last_ ? std::max(last_line_, line) : line;
    has_last_ = true;
  }

  static YamlNode& trailing_comment_owner(YamlNode& root, uint32_t column) {
    YamlNode* cur = &root;
    for (;;) {
      YamlNode* last = nullptr;
      if (cur->is_sequence() && !cur->items.empty()) last = &cur->items.back();
      else if (cur->is_mapping() && !cur->pairs.empty()) last = &cur->pairs.back().value;
      if (!last || !last->is_collection() || last->style != CollectionStyle::Block || last->size() == 0 ||
          last->span.column > column)
        return *cur;
      cur = last;
    }
  }

  void attach_inner(YamlNode& node, bool is_value, Introducer ctx) {
    const uint32_t L = node.span.line, M = node.span.column;
    // Most nodes have no comment: their side record is made on first write.
    auto cm = [&node]() -> const Comments& { return node.comments(); };
    auto w = [&node]() -> Comments& { return node.edit_comments(); };
    // 1. blank lines before the node
    uint32_t limit = L;
    std::optional<uint32_t> indicator_line;  // of the "-" or "?" when above the node
    if ((ctx.kind == IntroKind::SequenceItem || ctx.kind == IntroKind::ExplicitKey) && has_last_) {
      // Blank lines between an item's "-" (or a key's "?") and the node
      // itself are not before the entry: count only those above the
      // indicator.
      for (uint32_t l = L; l > last_line_; --l)
        if (introducers_.count(pack_position(l - 1, ctx.column))) {
          limit = l - 1;
          indicator_line = l - 1;
          break;
        }
    }
    // Comment lines between that indicator and a block collection starting
    // below it belong to the collection's first entry: the emitter writes
    // them above that entry, where they read back the same.
    const bool to_first_entry = indicator_line && node.is_block_collection() && node.size() > 0;
    if (const RawComment* c = pending(); c && c->span.line < limit) limit = c->span.line;
    if (has_last_)
      if (uint32_t blanks = blanks_between(last_line_, limit); blanks || node.has_extra()) w().blank_before = blanks;
    // 2. comments above the node
    while (RawComment* c = pending()) {
      // (After a comment on the indicator line, the lines below it stay with
      // the node: the emitter writes them under that line.)
      if (c->span.line >= L || (to_first_entry && !cm().inline_before_value && c->span.line > *indicator_line)) break;
      bool intro = false;
      uint32_t d = 0;
      if (ctx.kind == IntroKind::AfterKey && c->span.line == ctx.line && c->span.column >= ctx.column + 1) {
        intro = true;
        d = c->span.column - ctx.column - 1;
      } else if ((ctx.kind == IntroKind::SequenceItem || ctx.kind == IntroKind::ExplicitValue) &&
                 introducers_.count(pack_position(c->span.line, ctx.column)) && c->span.column >= ctx.column + 1) {
        intro = true;
        d = c->span.column - ctx.column - 1;
      }
      if (intro && !cm().inline_) {
        w().inline_ = std::move(c->text);
        w().inline_before_value = true;
        if (!node.anchor() && !node.tag()) w().inline_spaces = d;
      } else {
        w().head.push_back(HeadComment{std::move(c->text), cm().inline_before_value});
      }
      note_line(c->span.line);
      ++next_;
    }
    // 3.
    note_line(L);
    // 4. children
    const std::optional<Position> outer_flow_end = flow_end_;
    if (node.is_collection() && node.style == CollectionStyle::Flow && node.end_offset > node.span.offset) {
      Position end{node.end_line, node.end_column};
      if (!flow_end_ || end < *flow_end_) flow_end_ = end;
    }
    if (node.is_sequence()) {
      for (YamlNode& item : node.items) attach(item, true, Introducer{IntroKind::SequenceItem, 0, M});
    } else if (node.is_mapping()) {
      for (MappingEntry& e : node.pairs) {
        ++key_depth_;
        attach(e.key, false, e.key.explicit_key ? Introducer{IntroKind::ExplicitKey, 0, M} : Introducer{});
        --key_depth_;
        // (After an explicit key the ":" need not follow the key, and the
        // value is written on the ":" line with its own spacing.)
        if (e.key.is_scalar() && e.key.scalar_style == ScalarStyle::Plain && !e.key.explicit_key &&
            !e.value.anchor() && !e.value.tag()) {
          Position ke = end_of(e.key);
          if (ke.first == e.value.span.line && e.value.span.column > ke.second)
            e.value.value_pad = e.value.span.column - ke.second - 1;
        }
        Introducer vctx;
        if (node.style == CollectionStyle::Block && e.key.end_line >= L && !e.key.explicit_key)
          vctx = Introducer{IntroKind::AfterKey, e.key.end_line, e.key.end_column};
        else if (node.style == CollectionStyle::Block && e.key.explicit_key)
          vctx = Introducer{IntroKind::ExplicitValue, 0, M};  // the ":" stands at the mapping's column
        attach(e.value, true, vctx);
      }
    }
    flow_end_ = outer_flow_end;
    // 5. the node's last line
    uint32_t last;
    if (cm().raw) last = L + uint32_t(std::count(cm().raw->begin(), cm().raw->end(), '\n'));
    else last = end_of(node).first;
    note_line(last);
    // 6. trailing comment (nothing inside a key takes one)
    if (is_value && key_depth_ == 0) {
      RawComment* c = pending();
      Position end{};
      bool on_line = false;
      if (c && c->span.line >= L) {
        end = end_of(node);
        // A multi-line flow collection takes the comment after its closing
        // bracket.
        on_line = c->span.line == L ? c->span.column > M
                                    : node.is_collection() && node.style == CollectionStyle::Flow &&
                                          c->span.line == end.first && c->span.column >= end.second;
      }
      if (on_line && (!flow_end_ || Position{c->span.line, c->span.column} < *flow_end_)) {
        uint32_t spaces = end.first == c->span.line && end.second < c->span.column ? c->span.column - end.second : 0;
        // A block collection's comment is written after its properties,
        // where spacing from its content would not hold.
        if (node.is_block_collection() && (node.anchor() || node.tag())) spaces = 0;
        if (cm().inline_ && cm().inline_before_value && node.is_block_collection()) {
          // On the first line of a block collection whose introducer line
          // has its comment already: kept as a comment line below that one.
          w().head.push_back(HeadComment{std::move(c->text), true});
        } else if (cm().inline_ && cm().inline_before_value) {
          // The introducer line has its comment already: this one follows
          // the node.
          w().inline_after_value = std::move(c->text);
          w().inline_after_spaces = spaces;
        } else {
          if (spaces) w().inline_spaces = spaces;
          w().inline_ = std::move(c->text);
        }
        ++next_;
      }
    }
  }
};

}  // namespace

std::pair<uint32_t, uint32_t> node_end_position(const YamlNode& node) {
  if (node.is_scalar()) return scalar_end(node);
  // Aliases and flow collections read from text end where their source ends.
  if ((node.is_alias() || node.is_null() || (node.is_collection() && node.style == CollectionStyle::Flow)) &&
      node.end_offset > node.span.offset)
    return {node.end_line, node.end_column};
  if (!node.is_collection() || node.size() == 0) return {node.span.line, node.span.column};
  // Composed collections carry their end already.
  if (node.end_offset > node.span.offset) return {node.end_line, node.end_column};
  // The furthest end among the leaves and the flow collections below.
  std::optional<Position> best;
  walk_tree(node, [&](const YamlNode& n) {
    if (&n == &node ||
        (n.is_collection() && n.size() > 0 && !(n.style == CollectionStyle::Flow && n.end_offset > n.span.offset)))
      return Walk::Into;
    Position p = n.is_scalar() ? scalar_end(n) : node_end_position(n);
    if (!best || p > *best) best = p;
    return Walk::Over;
  });
  return *best;
}

void attach_comments(std::vector<YamlNode>& roots, std::vector<RawComment>& comments, std::string_view text,
                     const IntroducerSet& introducers) {
  if (roots.empty()) return;
  std::vector<uint32_t> prefix = blank_prefix(text);
  Attacher a(comments, 0, comments.size(), introducers, &prefix);
  for (YamlNode& root : roots) a.attach(root, true, Introducer{});
  a.leftovers(roots.back());
}

void attach_comments_per_document(std::vector<YamlNode>& roots, const std::vector<uint64_t>& document_starts,
                                  std::vector<RawComment>& comments, std::string_view text,
                                  const IntroducerSet& introducers) {
  if (roots.empty()) return;
  std::vector<uint32_t> prefix = blank_prefix(text);
  size_t begin = 0;
  for (size_t i = 0; i < roots.size(); ++i) {
    uint64_t stop = i + 1 < document_starts.size() ? document_starts[i + 1] : UINT64_MAX;
    size_t end = begin;
    while (end < comments.size() && comments[end].span.offset < stop) ++end;
    if (i + 1 == roots.size()) end = comments.size();
    Attacher a(comments, begin, end, introducers, &prefix);
    a.attach(roots[i], true, Introducer{});
    a.leftovers(roots[i]);
    begin = end;
  }
}

}  // namespace qf
