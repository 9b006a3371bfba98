#include "roundtrip/emit.hpp"

#include <span>
#include <algorithm>
#include <array>
#include <vector>

#include "encode/scalar_safety.hpp"
#include "encode/scalar_text.hpp"
#include "roundtrip/changes.hpp"
#include "roundtrip/walk.hpp"
#include "support/stack_guard.hpp"

namespace qf {

namespace {

bool ends_with_newline(const std::string& out) { return !out.empty() && out.back() == '\n'; }

bool has_properties(const YamlNode& n) { return n.tag().has_value() || n.anchor().has_value(); }

bool has_comments(const YamlNode& n) {
  const Comments& c = n.comments();
  return !c.head.empty() || c.inline_.has_value() || c.inline_after_value.has_value() || !c.foot.empty();
}

// Any comment in the node or below it.
bool subtree_has_comments(const YamlNode& node) { return any_in_tree(node, has_comments); }

// "---" or "..." alone or before a blank: at the start of a line it would
// open or close a document.
bool looks_like_document_marker(std::string_view s) {
  return s.size() >= 3 && (s.substr(0, 3) == "---" || s.substr(0, 3) == "...") &&
         (s.size() == 3 || s[3] == ' ' || s[3] == '\t');
}

// "-", "?" or ":" alone or before a blank would be read as an indicator.
bool looks_like_indicator(std::string_view s) {
  return !s.empty() && (s[0] == '-' || s[0] == '?' || s[0] == ':') &&
         (s.size() == 1 || s[1] == ' ' || s[1] == '\t');
}

// A plain scalar holding a line break, ": " or " #" (a tab for the blank
// too), or in flow context a flow indicator, would not read back as written.
// One pass with a table: nearly every byte is none of these.
bool plain_text_breaks(std::string_view s, bool in_flow) {
  static constexpr auto kNotable = [] {
    std::array<uint8_t, 256> t{};
    for (unsigned char c : std::string_view("\r\n:#")) t[c] = 1;
    for (unsigned char c : std::string_view("[]{},")) t[c] = 2;
    return t;
  }();
  const size_t n = s.size();
  for (size_t i = 0; i < n; ++i) {
    const uint8_t kind = kNotable[uint8_t(s[i])];
    if (kind == 0) [[likely]]
      continue;
    if (kind == 2) {
      if (in_flow) return true;
      continue;
    }
    switch (s[i]) {
      case ':':
        if (i + 1 < n && (s[i + 1] == ' ' || s[i + 1] == '\t')) return true;
        break;
      case '#':
        if (i > 0 && (s[i - 1] == ' ' || s[i - 1] == '\t')) return true;
        break;
      default:
        return true;  // a line break
    }
  }
  return false;
}

bool starts_with_bom(std::string_view s) {
  return s.size() >= 3 && uint8_t(s[0]) == 0xEF && uint8_t(s[1]) == 0xBB && uint8_t(s[2]) == 0xBF;
}

// Printable text (tab allowed, line feed allowed when `allow_lf`).
bool printable_text(std::string_view s, bool allow_lf) {
  for (size_t i = 0; i < s.size(); ++i) {
    uint8_t c = uint8_t(s[i]);
    if (c < 0x20 && c != '\t' && !(allow_lf && c == '\n')) return false;
    if (c == 0x7F) return false;
    if (c == 0xC2 && i + 1 < s.size()) {
      uint8_t d = uint8_t(s[i + 1]);
      if (d >= 0x80 && d <= 0x9F && d != 0x85) return false;
    }
    if (c == 0xEF && i + 2 < s.size() && uint8_t(s[i + 1]) == 0xBF &&
        (uint8_t(s[i + 2]) == 0xBE || uint8_t(s[i + 2]) == 0xBF))
      return false;
  }
  return true;
}

// The text reads back unchanged as a literal block scalar without an
// indentation indicator: printable, no carriage return, some content, no
// line of blanks only, and its first non-empty line does not begin with a
// blank.
bool literal_block_safe(std::string_view s, bool known_printable = false) {
  if (!known_printable && !printable_text(s, true)) return false;
  bool seen_content = false;
  size_t start = 0;
  for (;;) {
    size_t lf = s.find('\n', start);
    std::string_view line = s.substr(start, lf == std::string_view::npos ? std::string_view::npos : lf - start);
    if (!line.empty()) {
      if (line.find_first_not_of(" \t") == std::string_view::npos) return false;
      if (!seen_content && (line[0] == ' ' || line[0] == '\t')) return false;
      seen_content = true;
    }
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
  // Without a content line the indentation would be taken from whatever
  // follows (a comment line, say).
  return seen_content;
}

// The leading SPACEs of a line.
size_t leading_spaces(std::string_view line) {
  const size_t n = line.find_first_not_of(' ');
  return n == std::string_view::npos ? line.size() : n;
}

// Line `index` of the lines after the header of verbatim block text, without
// its line break; nullopt past the last.
std::optional<std::string_view> raw_body_line(std::string_view raw, size_t index) {
  size_t pos = raw.find('\n');
  if (pos == std::string_view::npos) return std::nullopt;
  ++pos;
  for (; index > 0; --index) {
    pos = raw.find('\n', pos);
    if (pos == std::string_view::npos) return std::nullopt;
    ++pos;
  }
  if (pos >= raw.size()) return std::nullopt;
  std::string_view line = raw.substr(pos, raw.find('\n', pos) - pos);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Whether verbatim block-scalar text can be pasted under a parent whose
// indentation is `parent_indent` (-1 at the document level) and read back as
// `value`. Without an indentation indicator its content must stay more
// indented than the parent. With one, the content indentation is the
// parent's plus the indicator, so the text is pasted only where that sum is
// what it was in the source: the SPACEs of the first content line less
// those its value line begins with.
bool raw_fits(std::string_view raw, std::string_view value, int64_t parent_indent) {
  size_t i = 1;  // after '|' or '>'
  int digit = 0;
  for (; i < raw.size() && i < 3; ++i) {
    char c = raw[i];
    if (c >= '1' && c <= '9') digit = c - '0';
    else if (c != '-' && c != '+') break;
  }
  if (digit != 0) {
    const size_t here = size_t(std::max<int64_t>(parent_indent, 0)) + size_t(digit);
    // Leading empty lines are one line break each in both styles.
    const size_t first = value.find_first_not_of('\n');
    if (first == std::string_view::npos) {
      // No content: every line must stay empty here.
      size_t pos = raw.find('\n');
      while (pos != std::string_view::npos && pos + 1 < raw.size()) {
        const size_t end = std::min(raw.find('\n', pos + 1), raw.size());
        std::string_view line = raw.substr(pos + 1, end - pos - 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (leading_spaces(line) != line.size() || line.size() > here) return false;
        pos = end < raw.size() ? end : std::string_view::npos;
      }
      return true;
    }
    const std::optional<std::string_view> line = raw_body_line(raw, first);
    if (!line) return false;
    const std::string_view rest = value.substr(first);
    const size_t value_spaces = std::min(leading_spaces(rest), rest.find('\n'));
    const size_t spaces = leading_spaces(*line);
    return spaces >= value_spaces && spaces - value_spaces == here;
  }
  size_t lf = raw.find('\n');
  if (lf == std::string_view::npos) return true;
  size_t pos = lf + 1;
  while (pos < raw.size()) {
    size_t end = raw.find('\n', pos);
    if (end == std::string_view::npos) end = raw.size();
    std::string_view line = raw.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t spaces = line.find_first_not_of(' ');
    if (spaces != std::string_view::npos) return int64_t(spaces) > parent_indent;
    pos = end + 1;
  }
  return true;
}

// Literal block header and body from a value (never wraps, never folds).
void write_literal_header(std::string& out, std::string_view text, char indicator) {
  size_t content_end = text.size();
  while (content_end > 0 && text[content_end - 1] == '\n') --content_end;
  size_t trailing = text.size() - content_end;
  out.push_back(indicator);
  if (trailing == 0) out.push_back('-');
  else if (trailing > 1 || content_end == 0) out.push_back('+');
}

void write_literal_body(std::string& out, std::string_view text, uint64_t indent) {
  size_t content_end = text.size();
  while (content_end > 0 && text[content_end - 1] == '\n') --content_end;
  size_t trailing = text.size() - content_end;
  out.push_back('\n');
  std::string_view content = text.substr(0, content_end);
  if (!content.empty()) {
    size_t start = 0;
    for (;;) {
      size_t lf = content.find('\n', start);
      std::string_view line = content.substr(start, lf == std::string_view::npos ? std::string_view::npos : lf - start);
      if (!line.empty()) {
        append_spaces(out, indent);
        out.append(line);
      }
      out.push_back('\n');
      if (lf == std::string_view::npos) break;
      start = lf + 1;
    }
    if (trailing > 1) out.append(trailing - 1, '\n');
  } else {
    out.append(trailing, '\n');
  }
}

class Writer {
 public:
  explicit Writer(RoundTripEmitter& e) : e_(e), out_(e.out) {}

  void document(const YamlNode& root);

  // Used by emit_document for roots.
  void node(const YamlNode& n, uint64_t indent) {
    nested([&] { node_inner(n, indent); });
  }

 private:
  RoundTripEmitter& e_;
  std::string& out_;
  // Indentation of the block parent of the scalar being written; a pasted
  // block scalar must stay more indented than it.
  int64_t parent_indent_ = -1;
  // A plain scalar was just written quoted.
  bool plain_requoted_ = false;
  bool ignore_value_pad_ = false;
  uint32_t colon_gap_ = 0;
  // The value's head comments were written above its explicit ":" line.
  bool skip_value_heads_ = false;
  // The first entry's head comments were written above the "?" of the key.
  bool skip_first_heads_ = false;
  // Output length right after a block scalar: blank lines written there
  // would be read as the scalar's trailing lines.
  size_t block_scalar_end_ = SIZE_MAX;
  // Nesting of the recursive steps below.
  uint32_t depth_ = 0;

  // A recursive step. The stack is checked every fourth level only (the
  // check reads a thread-local): a few levels take far less than the
  // reserve it keeps.
  template <class F>
  void nested(F&& f) {
    struct Level {
      uint32_t& d;
      ~Level() { --d; }
    } level{++depth_};
    if (depth_ % 4 != 0) f();
    else ensure_stack(f);
  }

  void blank_lines(uint32_t count) {
    if (out_.size() != block_scalar_end_) out_.append(count, '\n');
  }

  uint64_t step() const { return e_.step(); }
  uint64_t column() const { return current_line_length(out_); }
  void newline_if_needed() {
    if (!ends_with_newline(out_)) out_.push_back('\n');
  }

  void comment_line(const std::string& text, uint64_t indent) {
    append_spaces(out_, indent);
    out_.push_back('#');
    if (!text.empty()) {
      out_.push_back(' ');
      out_.append(text);
    }
    out_.push_back('\n');
  }

  void head_comments(const YamlNode& n, uint64_t indent, bool skip_below) {
    for (const HeadComment& h : n.comments().head)
      if (!(skip_below && h.below_introducer)) comment_line(h.text, indent);
  }
  void below_introducer_comments(const YamlNode& n, uint64_t indent) {
    if (!n.comments().inline_before_value) return;
    for (const HeadComment& h : n.comments().head)
      if (h.below_introducer) comment_line(h.text, indent);
  }
  static bool has_below_introducer_heads(const YamlNode& n) {
    if (!n.comments().inline_before_value) return false;
    for (const HeadComment& h : n.comments().head)
      if (h.below_introducer) return true;
    return false;
  }
  void foot_comments(const YamlNode& n, uint64_t indent) {
    for (const std::string& f : n.comments().foot) comment_line(f, indent);
  }

  // `adjust` columns were already written since the position the recorded
  // spacing counts from (a "," after a flow entry, the ":" or "-" before an
  // empty value).
  void inline_comment(const YamlNode& n, uint32_t adjust = 0) {
    if (!n.comments().inline_ || e_.last_inline_comment_node == &n) return;
    uint32_t spaces = n.comments().inline_spaces > adjust ? n.comments().inline_spaces - adjust : 0;
    append_spaces(out_, std::max<uint32_t>(spaces, 1));
    out_.push_back('#');
    if (!n.comments().inline_->empty()) {
      out_.push_back(' ');
      out_.append(*n.comments().inline_);
    }
    e_.last_inline_comment_node = &n;
  }

  void node_properties(const YamlNode& n) {
    if (n.tag()) {
      out_.append(*n.tag());
      out_.push_back(' ');
    }
    if (n.anchor()) {
      out_.push_back('&');
      out_.append(*n.anchor());
      out_.push_back(' ');
    }
  }
  void trailing_properties(const YamlNode& n) {
    if (n.tag()) {
      out_.push_back(' ');
      out_.append(*n.tag());
    }
    if (n.anchor()) {
      out_.append(" &");
      out_.append(*n.anchor());
    }
  }
  void leading_properties(const YamlNode& n) {
    if (!has_properties(n)) return;
    if (n.tag()) out_.append(*n.tag());
    if (n.anchor()) {
      if (n.tag()) out_.push_back(' ');
      out_.push_back('&');
      out_.append(*n.anchor());
    }
    out_.push_back('\n');
  }

  // The directive as written, with the anchor it carried: its argument
  // quoted as it was, or
  // double-quoted when a plain or block form would not read back the same.
  void include_directive(const YamlNode& n) {
    const IncludeSource& s = *n.source();
    if (n.anchor()) {
      out_.push_back('&');
      out_.append(*n.anchor());
      out_.push_back(' ');
    }
    out_.append(s.tag);
    out_.push_back(' ');
    const bool plain_reads_back = !s.target.empty() && is_single_line_printable(s.target) &&
                                  !needs_quotes(s.target, ResolverMode::Yaml12);
    if (s.target_style == ScalarStyle::Plain && plain_reads_back)
      out_.append(s.target);
    else if (s.target_style == ScalarStyle::SingleQuoted && is_single_line_printable(s.target))
      write_single_quoted(out_, s.target);
    else
      write_double_quoted(out_, s.target);
  }

  // A Null read from the text that carries a tag or an anchor is written as
  // its properties alone: "!!str" stays an empty string, never "!!str null".
  static bool properties_only(const YamlNode& n) {
    // A tagged empty value made from None is written as its properties
    // alone too: the tag over "null" would read back as the text "null".
    return has_properties(n) && (!n.synthetic || (n.is_null() && n.tag())) &&
           (n.is_null() || (n.is_scalar() && n.scalar_style == ScalarStyle::Plain && n.text.empty()));
  }

  // Properties and the node, inline form.
  void props_and_node(const YamlNode& n, uint64_t indent) {
    if (!n.source() && properties_only(n)) {
      leading_properties(n);
      out_.pop_back();  // the line feed
      return;
    }
    if (!n.source()) node_properties(n);
    node(n, indent);
  }

  // An empty value after "key:" or "-": written as nothing.
  bool writes_as_nothing(const YamlNode& n) const {
    bool empty = n.is_null() || (n.is_scalar() && n.scalar_style == ScalarStyle::Plain && n.text.empty());
    if (!empty) return false;
    if (n.is_null() && !n.synthetic) return true;
    if (n.comments().inline_) return false;
    return !(n.is_null() && n.synthetic && e_.null_style != NullStyle::Default);
  }

  void empty_value(const YamlNode& n) {
    trailing_properties(n);
    // Spacing counts from the end of the properties, or from the indicator.
    if (n.comments().inline_) inline_comment(n, has_properties(n) ? 0 : 1);
    out_.push_back('\n');
  }

  // The value of a flow-mapping entry or explicit key written without ":"
  // ("{a, b}", "? a"): a Null that no text position was found for.
  static bool absent_value(const YamlNode& v) {
    return v.is_null() && !v.synthetic && !v.source() && !has_properties(v) && !has_comments(v) &&
           v.span.offset == 0 && v.span.line == 0 && v.end_offset == 0;
  }

  bool explicit_entry(const YamlNode& key, bool first) const {
    if (key.explicit_key) return true;
    if (key.is_block_collection()) return true;
    if (key.is_scalar() && (key.scalar_style == ScalarStyle::Literal || key.scalar_style == ScalarStyle::Folded))
      return true;
    if (!first && key.synthetic && has_properties(key)) return true;
    // A simple key must stay on one line.
    if (key.is_collection() && subtree_has_comments(key)) return true;
    return false;
  }

  // A scalar with no side record (no comments, properties or directive):
  // its text and style are all there is to write. Such a leaf is written
  // straight from its entry; an empty plain one (written as nothing or as
  // null) and a block scalar key take the general road.
  static bool bare_scalar(const YamlNode& n) { return n.is_scalar() && !n.has_extra(); }
  static bool bare_value(const YamlNode& n) {
    return bare_scalar(n) && !(n.scalar_style == ScalarStyle::Plain && n.text.empty());
  }
  static bool bare_key(const YamlNode& n) {
    return bare_scalar(n) && !n.explicit_key && n.scalar_style != ScalarStyle::Literal &&
           n.scalar_style != ScalarStyle::Folded;
  }

  // ":" or "-" and the blanks after it, in one append when they are few.
  void indicator(char c, uint32_t pad) {
    static constexpr std::string_view kColon = ":                               ";
    static constexpr std::string_view kDash = "-                               ";
    if (pad < kColon.size()) {
      out_.append(c == ':' ? kColon.data() : kDash.data(), 1 + size_t(pad));
    } else {
      out_.push_back(c);
      append_spaces(out_, pad);
    }
  }

  // A bare value with its ":" or "-" before it (`indent` is the parent's).
  void bare_value_line(char c, const YamlNode& v, uint32_t pad, uint64_t indent, uint64_t value_indent) {
    const int64_t saved_parent = parent_indent_;
    parent_indent_ = int64_t(indent);
    indicator(c, pad);
    scalar(v, value_indent);
    newline_if_needed();
    parent_indent_ = saved_parent;
  }

  void block_mapping(std::span<const MappingEntry> pairs, uint64_t indent, bool compact_first) {
    for (size_t i = 0; i < pairs.size(); ++i) {
      const MappingEntry& e = pairs[i];
      if (bare_key(e.key)) {
        if (!(compact_first && i == 0)) append_spaces(out_, indent);
        const bool saved = e_.in_key;
        e_.in_key = true;
        plain_requoted_ = false;
        scalar(e.key, indent);
        e_.in_key = saved;
        // The recorded padding counts from a plain key; a key that had to be
        // quoted is followed by one space.
        if (bare_value(e.value)) {
          bare_value_line(':', e.value, plain_requoted_ ? 1 : std::max<uint32_t>(e.value.value_pad, 1), indent,
                          indent + step());
        } else {
          out_.push_back(':');
          ignore_value_pad_ = plain_requoted_;
          colon_gap_ = 0;
          mapping_value(e.value, indent);
          ignore_value_pad_ = false;
        }
        continue;
      }
      if (!(compact_first && i == 0)) {
        blank_lines(e.key.comments().blank_before);
        head_comments(e.key, indent, false);
        if (hoists_first_heads(e.key)) lead_heads(&e.key.items[0], indent);
        append_spaces(out_, indent);
      }
      if (explicit_entry(e.key, i == 0)) {
        explicit_key_entry(e.key, e.value, indent);
        continue;
      }
      bool saved = e_.in_key;
      e_.in_key = true;
      plain_requoted_ = false;
      props_and_node(e.key, indent);
      e_.in_key = saved;
      bool gap = e.key.is_alias() || properties_only(e.key);
      if (gap) out_.push_back(' ');
      out_.push_back(':');
      // The recorded padding counts from a plain key; a key that had to be
      // quoted is followed by one space.
      ignore_value_pad_ = plain_requoted_;
      // The introducer-line comment's spacing counts from the key's end.
      colon_gap_ = gap ? 1 : 0;
      mapping_value(e.value, indent);
      ignore_value_pad_ = false;
      colon_gap_ = 0;
    }
  }

  void explicit_key_entry(const YamlNode& key, const YamlNode& value, uint64_t indent) {
    out_.push_back('?');
    uint64_t ki = indent + step();
    if (key.is_block_collection() && !key.source()) {
      trailing_properties(key);
      out_.push_back('\n');
      if (key.is_sequence()) {
        skip_first_heads_ = hoists_first_heads(key);
        block_sequence(key.items, ki, false);
      } else {
        block_mapping(key.pairs, ki, false);
      }
    } else {
      out_.push_back(' ');
      bool saved = e_.in_key;
      e_.in_key = true;
      int64_t saved_parent = parent_indent_;
      parent_indent_ = int64_t(indent);
      props_and_node(key, ki);
      parent_indent_ = saved_parent;
      e_.in_key = saved;
      newline_if_needed();
    }
    if (absent_value(value)) return;
    // Comment lines above a value written on the ":" line stand above it
    // (a block collection value has them below the ":" line).
    if (!value.is_block_collection()) {
      head_comments(value, indent, value.comments().inline_before_value);
      skip_value_heads_ = true;
    }
    append_spaces(out_, indent);
    out_.push_back(':');
    mapping_value(value, indent);
  }

  void mapping_value(const YamlNode& v, uint64_t indent) {
    nested([&] { mapping_value_inner(v, indent); });
  }

  void mapping_value_inner(const YamlNode& v, uint64_t indent) {
    uint64_t a = indent + step();
    const uint32_t colon_gap = colon_gap_;
    colon_gap_ = 0;
    if (v.source()) {
      out_.push_back(' ');
      include_directive(v);
      inline_comment(v);
      out_.push_back('\n');
      return;
    }
    const bool hoisted = skip_value_heads_;
    const bool heads = !v.comments().head.empty() && !hoisted;
    skip_value_heads_ = false;
    if (writes_as_nothing(v)) {
      // Comment lines above an empty value that carries properties: the
      // properties go below them, on a line of their own.
      colon_gap_ = colon_gap;
      if (heads || v.comments().inline_after_value)
        value_after_introducer_comment(v, a, heads ? Heads::All : hoisted ? Heads::BelowIntroducer : Heads::None);
      else empty_value(v);
      return;
    }
    if (v.is_sequence() && v.is_block_collection()) {
      trailing_properties(v);
      inline_comment(v, colon_gap);
      out_.push_back('\n');
      uint64_t d;
      if (e_.dumps_layout) d = (e_.indentless && !v.tag()) ? indent : a;
      else d = v.span.column > indent ? a : indent;
      if (heads) head_comments(v, d, false);
      block_sequence(v.items, d, false);
      foot_comments(v, d);
      return;
    }
    if (v.is_mapping() && v.is_block_collection()) {
      trailing_properties(v);
      inline_comment(v, colon_gap);
      out_.push_back('\n');
      if (heads) head_comments(v, a, false);
      block_mapping(v.pairs, a, false);
      foot_comments(v, a);
      return;
    }
    int64_t saved_parent = parent_indent_;
    parent_indent_ = int64_t(indent);
    if (v.comments().inline_before_value || heads) {
      colon_gap_ = colon_gap;
      value_after_introducer_comment(v, a, heads ? Heads::All : hoisted ? Heads::BelowIntroducer : Heads::None);
    } else {
      append_spaces(out_, ignore_value_pad_ ? 1 : std::max<uint32_t>(v.value_pad, 1));
      props_and_node(v, a);
      inline_comment(v);
      newline_if_needed();
    }
    parent_indent_ = saved_parent;
  }

  // The rest of the introducer line (properties, the introducer-line
  // comment), the comment lines below it, then the node on its own line.
  enum class Heads { None, BelowIntroducer, All };
  void value_after_introducer_comment(const YamlNode& n, uint64_t indent, Heads heads) {
    if (!properties_only(n)) trailing_properties(n);
    if (n.comments().inline_before_value) inline_comment(n, colon_gap_);
    colon_gap_ = 0;
    out_.push_back('\n');
    if (heads == Heads::All) head_comments(n, indent, false);
    else if (heads == Heads::BelowIntroducer) below_introducer_comments(n, indent);
    append_spaces(out_, indent);
    if (properties_only(n)) {
      leading_properties(n);
      out_.pop_back();
      inline_comment(n);
      after_value_comment(n);
      out_.push_back('\n');
      return;
    }
    node(n, indent);
    inline_comment(n);
    after_value_comment(n);
    newline_if_needed();
  }

  void after_value_comment(const YamlNode& n) {
    if (!n.comments().inline_after_value) return;
    append_spaces(out_, std::max<uint32_t>(n.comments().inline_after_spaces, 1));
    out_.push_back('#');
    if (!n.comments().inline_after_value->empty()) {
      out_.push_back(' ');
      out_.append(*n.comments().inline_after_value);
    }
  }

  // A block collection item written on its "- " line ("- k: v", "- - a").
  // An item with a directive record is written as its directive.
  static bool compact_mapping_form(const YamlNode& item) {
    return !item.source() && item.is_mapping() && item.is_block_collection() && !has_properties(item) &&
           !item.comments().inline_ && !item.comments().inline_before_value;
  }
  static bool compact_sequence_form(const YamlNode& item) {
    return !item.source() && item.is_sequence() && item.is_block_collection() && !has_properties(item) &&
           item.comments().compact && !item.comments().inline_;
  }

  // A block sequence written as an explicit key starts on the line below its
  // "?": comment lines above its first entry would read back as comments
  // above the key, so they are written above the "?".
  static bool hoists_first_heads(const YamlNode& key) {
    return key.is_sequence() && key.is_block_collection() && !key.source() && !key.items.empty();
  }

  // The comment lines written above an item's "- " line: its own, and those
  // of what continues that line ("- k: v", "- - a", "- ? - a").
  void lead_heads(const YamlNode* item, uint64_t indent) {
    for (;;) {
      head_comments(*item, indent, item->comments().inline_before_value);
      const YamlNode* key = nullptr;
      for (const YamlNode* first = item;;) {
        bool mapping = compact_mapping_form(*first);
        if (mapping) first = &first->pairs[0].key;
        else if (compact_sequence_form(*first)) first = &first->items[0];
        else break;
        head_comments(*first, indent, first->comments().inline_before_value);
        if (mapping) {
          key = first;
          break;
        }
      }
      if (!key || !hoists_first_heads(*key)) return;
      item = &key->items[0];
    }
  }

  void block_sequence(std::span<const YamlNode> items, uint64_t indent, bool compact_first) {
    const bool skip_first_heads = skip_first_heads_;
    skip_first_heads_ = false;
    for (size_t i = 0; i < items.size(); ++i) {
      const YamlNode& item = items[i];
      if (bare_value(item)) {
        if (!(compact_first && i == 0)) append_spaces(out_, indent);
        bare_value_line('-', item, std::max<uint32_t>(item.value_pad, 1), indent, indent + 2);
        continue;
      }
      if (!(compact_first && i == 0)) {
        blank_lines(item.comments().blank_before);
        if (!(skip_first_heads && i == 0)) lead_heads(&item, indent);
        append_spaces(out_, indent);
      }
      sequence_item(item, indent);
    }
  }

  void sequence_item(const YamlNode& item, uint64_t indent) {
    nested([&] { sequence_item_inner(item, indent); });
  }

  void sequence_item_inner(const YamlNode& item, uint64_t indent) {
    uint64_t c = indent + 2;
    out_.push_back('-');
    if (item.source()) {
      out_.push_back(' ');
      include_directive(item);
      inline_comment(item);
      out_.push_back('\n');
      return;
    }
    if (writes_as_nothing(item) && (item.comments().inline_after_value || has_below_introducer_heads(item))) {
      // Properties on a later line than the "-", with a comment after them
      // or comment lines between the "-" line and them.
      value_after_introducer_comment(item, c, Heads::BelowIntroducer);
      return;
    }
    if (writes_as_nothing(item)) {
      trailing_properties(item);
      if (item.comments().inline_) inline_comment(item, has_properties(item) ? 0 : 1);
      out_.push_back('\n');
      return;
    }
    if (item.is_sequence() && item.is_block_collection()) {
      if (has_properties(item)) {
        trailing_properties(item);
        inline_comment(item);
        out_.push_back('\n');
        below_introducer_comments(item, c);
        block_sequence(item.items, c, false);
      } else if (compact_sequence_form(item)) {
        out_.push_back(' ');
        block_sequence(item.items, c, true);
      } else {
        inline_comment(item);
        out_.push_back('\n');
        below_introducer_comments(item, c);
        block_sequence(item.items, c, false);
      }
      foot_comments(item, c);
      return;
    }
    if (item.is_mapping() && item.is_block_collection()) {
      if (has_properties(item)) {
        trailing_properties(item);
        inline_comment(item);
        out_.push_back('\n');
        below_introducer_comments(item, indent + step());
        block_mapping(item.pairs, indent + step(), false);
      } else if (!compact_mapping_form(item)) {
        inline_comment(item);
        out_.push_back('\n');
        below_introducer_comments(item, c);
        block_mapping(item.pairs, c, false);
      } else {
        out_.push_back(' ');
        block_mapping(item.pairs, c, true);
      }
      foot_comments(item, c);
      return;
    }
    int64_t saved_parent = parent_indent_;
    parent_indent_ = int64_t(indent);
    if (item.comments().inline_before_value) {
      value_after_introducer_comment(item, c, Heads::BelowIntroducer);
    } else {
      append_spaces(out_, std::max<uint32_t>(item.value_pad, 1));
      props_and_node(item, c);
      inline_comment(item);
      newline_if_needed();
    }
    parent_indent_ = saved_parent;
  }

  void flow_separator(uint64_t indent) {
    out_.push_back(',');
    if (e_.width != 0 && !e_.in_key && column() >= e_.width) {
      out_.push_back('\n');
      append_spaces(out_, std::max<uint64_t>(indent, 1));
    } else {
      out_.push_back(' ');
    }
  }

  void flow_key(const YamlNode& key, uint64_t indent) {
    bool saved = e_.in_key;
    e_.in_key = true;
    props_and_node(key, indent);
    e_.in_key = saved;
    if (key.is_alias() || properties_only(key)) out_.push_back(' ');
  }

  void flow_sequence(const YamlNode& n, uint64_t indent) {
    ++e_.flow_depth;
    bool multi = std::any_of(n.items.begin(), n.items.end(), [](const YamlNode& i) { return has_comments(i); });
    if (!multi) {
      out_.push_back('[');
      for (size_t i = 0; i < n.items.size(); ++i) {
        if (i) flow_separator(indent);
        props_and_node(n.items[i], indent);
      }
      out_.push_back(']');
    } else {
      uint64_t inner = indent + step();
      out_.append("[\n");
      for (size_t i = 0; i < n.items.size(); ++i) {
        const YamlNode& item = n.items[i];
        head_comments(item, inner, false);
        append_spaces(out_, inner);
        props_and_node(item, inner);
        bool comma = i + 1 < n.items.size();
        if (comma) out_.push_back(',');
        inline_comment(item, comma ? 1 : 0);
        out_.push_back('\n');
        foot_comments(item, inner);
      }
      append_spaces(out_, indent);
      out_.push_back(']');
    }
    --e_.flow_depth;
  }

  void flow_mapping(const YamlNode& n, uint64_t indent) {
    ++e_.flow_depth;
    bool multi = std::any_of(n.pairs.begin(), n.pairs.end(),
                             [](const MappingEntry& e) { return has_comments(e.key) || has_comments(e.value); });
    if (!multi) {
      out_.push_back('{');
      for (size_t i = 0; i < n.pairs.size(); ++i) {
        if (i) flow_separator(indent);
        if (absent_value(n.pairs[i].value)) {
          bool saved = e_.in_key;
          e_.in_key = true;
          props_and_node(n.pairs[i].key, indent);
          e_.in_key = saved;
          continue;
        }
        flow_key(n.pairs[i].key, indent);
        out_.append(": ");
        props_and_node(n.pairs[i].value, indent);
      }
      out_.push_back('}');
    } else {
      uint64_t inner = indent + step();
      out_.append("{\n");
      for (size_t i = 0; i < n.pairs.size(); ++i) {
        const MappingEntry& e = n.pairs[i];
        head_comments(e.key, inner, false);
        head_comments(e.value, inner, false);
        append_spaces(out_, inner);
        if (absent_value(e.value)) {
          bool saved = e_.in_key;
          e_.in_key = true;
          props_and_node(e.key, inner);
          e_.in_key = saved;
        } else {
          flow_key(e.key, inner);
          out_.append(": ");
          props_and_node(e.value, inner);
        }
        bool comma = i + 1 < n.pairs.size();
        if (comma) out_.push_back(',');
        inline_comment(e.value, comma ? 1 : 0);
        out_.push_back('\n');
        foot_comments(e.key, inner);
        foot_comments(e.value, inner);
      }
      append_spaces(out_, indent);
      out_.push_back('}');
    }
    --e_.flow_depth;
  }

  void node_inner(const YamlNode& n, uint64_t indent) {
    if (n.source()) {
      include_directive(n);
      return;
    }
    switch (n.kind) {
      case NodeKind::Scalar:
        scalar(n, indent);
        return;
      case NodeKind::Sequence:
        flow_sequence(n, indent);
        return;
      case NodeKind::Mapping:
        flow_mapping(n, indent);
        return;
      case NodeKind::Alias:
        out_.push_back('*');
        out_.append(n.text);
        return;
      case NodeKind::Null:
        // A tagged empty value reads back as the tag over empty text, not
        // over "null".
        if (n.tag() || (!n.synthetic && has_properties(n))) return;
        out_.append(n.synthetic && e_.null_style == NullStyle::Tilde ? "~" : "null");
        return;
    }
  }

  void requoted(std::string_view text) {
    bool single = e_.single_quotes && text.find('\'') == std::string_view::npos && is_single_line_printable(text);
    quoted(text, single);
  }

  void quoted(std::string_view text, bool single) {
    if (e_.width == 0 || e_.in_key) {
      if (single) write_single_quoted(out_, text);
      else write_double_quoted(out_, text);
      return;
    }
    uint64_t k = column();
    if (k == 0) k = 1;
    std::string body;
    if (single) append_single_quoted_body(body, text);
    else append_escaped_double_quoted(body, text);
    char q = single ? '\'' : '"';
    out_.push_back(q);
    write_wrapped_text(out_, body, k, e_.width);
    out_.push_back(q);
  }

  void scalar(const YamlNode& n, uint64_t indent) {
    // Most scalars are checked plain texts in block context: written as
    // they are, with nothing to test.
    if (n.scalar_style == ScalarStyle::Plain && e_.checked_scalars && n.synthetic && e_.flow_depth == 0 &&
        e_.width == 0 && !n.text.empty() && !n.has_extra()) {
      out_.append(n.text.data(), n.text.size());
      return;
    }
    any_scalar(n, indent);
  }

  // Verbatim keep-chomped block text that ends without a line break reads
  // differently once a line break and more text follow it: its partial last
  // line becomes a line of its own. The text that reads as the node's value
  // in that place, ending in a line break; nullopt when the verbatim text
  // reads the same (another chomping, or a final line break).
  std::optional<std::string> closed_keep_text(const YamlNode& n, std::string_view raw, uint64_t indent) {
    if (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) return std::nullopt;
    size_t keep = 0;
    for (size_t i = 1; i < raw.size() && i < 3 && keep == 0; ++i) {
      if (raw[i] == '+') keep = i;
      else if (raw[i] != '-' && (raw[i] < '1' || raw[i] > '9')) break;
    }
    if (keep == 0) return std::nullopt;
    const std::string_view text = n.text;
    std::string closed;
    if (!text.empty() && text.back() != '\n') {
      // The last line holds content, so the value ends without a line break
      // under either chomping; strip says so once a break follows.
      closed.assign(raw);
      closed[keep] = '-';
      closed.push_back('\n');
      return closed;
    }
    // The last line holds only SPACEs; whether it counted as a line break
    // depends on the lines above it. Written from the value instead.
    const YamlNode* const comment_node = e_.last_inline_comment_node;
    const size_t mark = out_.size();
    if (literal_block_safe(text)) {
      const bool folded = n.scalar_style == ScalarStyle::Folded && text.find('\n') == std::string::npos;
      write_literal_header(out_, text, folded ? '>' : '|');
      inline_comment(n);
      write_literal_body(out_, text, indent);
    } else {
      write_double_quoted(out_, text);
      inline_comment(n);
      out_.push_back('\n');
    }
    closed.assign(out_, mark);
    out_.resize(mark);
    e_.last_inline_comment_node = comment_node;
    return closed;
  }

  void any_scalar(const YamlNode& n, uint64_t indent) {
    const std::string_view text = n.text;
    const bool checked = e_.checked_scalars && n.synthetic;
    if (n.comments().raw && !n.comments().modified && e_.flow_depth == 0 &&
        raw_fits(*n.comments().raw, text, parent_indent_)) {
      const std::string_view raw = *n.comments().raw;
      const size_t start = out_.size();
      std::optional<std::string> closed = closed_keep_text(n, raw, indent);
      out_.append(raw);
      // A comment on the header line is part of the verbatim text.
      if (n.comments().inline_ && !n.comments().inline_before_value) e_.last_inline_comment_node = &n;
      if (raw.empty() || (raw.back() != '\n' && raw.back() != '\r')) e_.pending_newline_at = out_.size();
      if (closed) e_.open_keep_texts.push_back({start, out_.size(), std::move(*closed)});
      block_scalar_end_ = out_.size();
      return;
    }
    switch (n.scalar_style) {
      case ScalarStyle::SingleQuoted:
        // A line break inside single quotes would fold on reading.
        quoted(text, checked || printable_text(text, false));
        return;
      case ScalarStyle::DoubleQuoted:
        quoted(text, false);
        return;
      case ScalarStyle::Literal:
      case ScalarStyle::Folded:
        if (e_.flow_depth != 0 || !literal_block_safe(text, checked)) {
          write_double_quoted(out_, text);
          return;
        }
        // A single line reads back the same folded; written from the value,
        // a folded scalar with line breaks would fold them on reading, so it
        // is written literal.
        write_literal_header(out_, text,
                             n.scalar_style == ScalarStyle::Folded && text.find('\n') == std::string::npos ? '>' : '|');
        inline_comment(n);
        write_literal_body(out_, text, indent);
        block_scalar_end_ = out_.size();
        return;
      case ScalarStyle::Plain:
        break;
    }
    if (text.empty() && !has_properties(n)) {
      // An empty plain scalar reads as null wherever it stands.
      out_.append("null");
      return;
    }
    // Folding a multi-line plain scalar onto one line can bring ": " or " #"
    // together, or leave a final ":", which would read differently.
    bool requote;
    if (checked)
      requote = e_.flow_depth != 0 && plain_text_breaks(text, true);
    else
      requote = starts_with_bom(text) || looks_like_indicator(text) || (!text.empty() && text.back() == ':') ||
                plain_text_breaks(text, e_.flow_depth != 0) ||
                ((looks_like_document_marker(text) || text[0] == '%') && column() == 0);
    if (!requote && e_.width != 0 && !e_.in_key && column() + text.size() > e_.width &&
        has_single_inner_space(text))
      requote = true;
    if (requote) {
      plain_requoted_ = true;
      requoted(text);
    } else {
      out_.append(text);
    }
  }

};

void Writer::document(const YamlNode& root) {
  uint32_t empties = root.empty_documents_before();
  for (uint32_t i = 0; i < empties; ++i) out_.append("---\n");
  if (empties && !root.directives().empty()) out_.append("...\n");
  for (const std::string& d : root.directives()) {
    out_.push_back('%');
    out_.append(d);
    out_.push_back('\n');
  }
  if (root.explicit_start || empties) out_.append("---\n");
  // Comment lines between a block collection's properties and its first
  // entry are read as its head comments: they are written there.
  const bool heads_after_properties = !root.source() && root.is_block_collection() && has_properties(root);
  if (!heads_after_properties)
    for (const HeadComment& h : root.comments().head) comment_line(h.text, 0);
  bool tagged_synthetic = root.tag() && root.synthetic;
  uint64_t s = step();
  if (root.source()) {
    include_directive(root);
    inline_comment(root);
    out_.push_back('\n');
  } else if (root.is_collection() && root.is_block_collection()) {
    // A comment on the first line of a block collection that none of its
    // entries took: kept on a line of its own above it (below properties,
    // where it reads back as a head comment).
    if (root.comments().inline_ && !heads_after_properties) comment_line(*root.comments().inline_, 0);
    leading_properties(root);
    if (heads_after_properties) {
      if (root.comments().inline_) comment_line(*root.comments().inline_, 0);
      for (const HeadComment& h : root.comments().head) comment_line(h.text, 0);
    }
    if (root.is_mapping()) block_mapping(root.pairs, tagged_synthetic ? s : 0, false);
    else block_sequence(root.items, tagged_synthetic && !e_.indentless ? s : 0, false);
  } else if (root.is_null() && tagged_synthetic && !root.comments().inline_ && !root.anchor() &&
             e_.null_style == NullStyle::Default) {
    leading_properties(root);
  } else if (root.is_null() && !root.synthetic && !has_properties(root) && !root.comments().inline_ &&
             (root.explicit_start || empties)) {
    // An empty document stays empty.
  } else {
    props_and_node(root, s);
    inline_comment(root);
    newline_if_needed();
  }
  for (const std::string& f : root.comments().foot) comment_line(f, 0);
  if (root.explicit_end) out_.append("...\n");
  for (uint32_t i = 0; i < root.empty_documents_after(); ++i) out_.append("---\n");
}

}  // namespace

void emit_document(RoundTripEmitter& emitter, const YamlNode& root) {
  Writer w(emitter);
  w.document(root);
}

void close_output(RoundTripEmitter& e) {
  if (e.pending_newline_at && e.out.size() == *e.pending_newline_at + 1 && e.out.back() == '\n') e.out.pop_back();
  // Last first, so the earlier offsets stay valid.
  for (auto it = e.open_keep_texts.rbegin(); it != e.open_keep_texts.rend(); ++it) {
    if (e.out.size() <= it->end) continue;  // nothing follows: the text stays as read
    // The line break written after the text is part of the closed form.
    const size_t stop = e.out[it->end] == '\n' ? it->end + 1 : it->end;
    e.out.replace(it->start, stop - it->start, it->closed);
  }
}

bool subtree_is_modified(const YamlNode& node) {
  return any_in_tree(node, [](const YamlNode& n) { return n.comments().modified; });
}

namespace {

// About the length a root renders to when it was read from text: its source
// range, and a little room for edits (output then grows once at most).
size_t expected_length(const YamlNode& root) {
  size_t read = root.end_offset > root.span.offset ? root.end_offset - root.span.offset : 0;
  return read + read / 16;
}

}  // namespace

std::string emit_root(const YamlNode& node, NullStyle null_style) {
  RoundTripEmitter e;
  e.null_style = null_style;
  e.out.reserve(expected_length(node));
  if (node.leading_bom) e.out.append("\xEF\xBB\xBF");
  emit_document(e, node);
  close_output(e);
  return std::move(e.out);
}

std::string emit_included_root(const YamlNode& node) {
  YamlNode copy(node);
  // The file's own anchor, comments and markers, not the directive's: those
  // of the innermost file of a chain, whose content the node is.
  // A file that held no document is stood for by a mapping at the
  // directive, in the including file: it has no fields of its own.
  const IncludeSource* s = node.source() ? &node.source()->innermost() : nullptr;
  const bool stand_in = s && s->target_file_id && node.span.file_id != *s->target_file_id;
  if (s && (s->included_root || stand_in)) {
    const bool modified = node.comments().modified;
    put_own_fields(copy, s->included_root ? *s->included_root : IncludedRootFields{});
    copy.edit_comments().modified = modified;
  }
  copy.set_source(std::nullopt);
  return emit_root(copy, NullStyle::Keyword);
}

std::string render_document(const RoundTripDocument& doc) {
  std::string result;
  // Edits inside included files, secrets or environment values leave the
  // main text as it was loaded: it shows their directives, not their content.
  if (doc.source && !roots_have_local_change(doc.docs)) {
    result = *doc.source;
  } else if (doc.docs.size() == 1) {
    result = emit_root(doc.docs.front(), doc.null_style);
  } else {
    RoundTripEmitter e;
    e.null_style = doc.null_style;
    size_t expected = 0;
    for (const YamlNode& root : doc.docs) expected += expected_length(root);
    e.out.reserve(expected);
    if (!doc.docs.empty() && doc.docs.front().leading_bom) e.out.append("\xEF\xBB\xBF");
    for (size_t i = 0; i < doc.docs.size(); ++i) {
      const YamlNode& root = doc.docs[i];
      if (i > 0 && root.empty_documents_before() == 0) {
        if (!root.directives().empty()) {
          if (!doc.docs[i - 1].explicit_end) e.out.append("...\n");
        } else if (!root.explicit_start) {
          e.out.append("---\n");
        }
      }
      emit_document(e, root);
    }
    close_output(e);
    result = std::move(e.out);
  }
  if (doc.declare_yaml_1_2) result = apply_yaml12_header(result);
  return result;
}

std::string apply_yaml12_header(std::string_view bytes) {
  size_t h = starts_with_bom(bytes) ? 3 : 0;
  std::string body(bytes.substr(h));
  size_t pos = 0;
  bool at_document_start = false;
  while (pos < body.size()) {
    size_t lf = body.find('\n', pos);
    size_t end = lf == std::string::npos ? body.size() : lf + 1;
    std::string_view line = std::string_view(body).substr(pos, end - pos);
    if (line.substr(0, 5) == "%YAML") {
      body.erase(pos, end - pos);
      continue;
    }
    if (!line.empty() && line[0] == '%') {
      pos = end;
      continue;
    }
    // Comment and blank lines above a %YAML line are passed over.
    size_t first = line.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos || line[first] == '#') {
      pos = end;
      continue;
    }
    if (line.size() >= 3 && line.substr(0, 3) == "---" &&
        (line.size() == 3 || line[3] == ' ' || line[3] == '\t' || line[3] == '\n' || line[3] == '\r'))
      at_document_start = true;
    break;
  }
  std::string out;
  out.reserve(bytes.size() + 16);
  out.append(bytes.substr(0, h));
  out.append("%YAML 1.2\n");
  if (!at_document_start) out.append("---\n");
  out.append(body);
  return out;
}

}  // namespace qf
