#include "roundtrip/comment_text.hpp"

#include <array>

namespace qf {

namespace {

// Bytes that need a closer look: C0 controls but TAB, DEL, and the lead
// bytes of NEL/C1 controls (0xC2), LS/PS (0xE2) and U+FFFE/U+FFFF (0xEF).
constexpr std::array<bool, 256> kLook = [] {
  std::array<bool, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = c != '\t';
  t[0x7F] = true;
  t[0xC2] = t[0xE2] = t[0xEF] = true;
  return t;
}();

// Ordered by precedence: a Unicode break outranks LF/CR (splitting refuses
// it wherever it stands), and any break outranks a control character.
enum class Found : uint8_t { None, Control, LineBreak, UnicodeBreak };

// The special character of highest precedence in the text (the first one
// met with stop_at_first), LF and CR reported as line breaks, NEL/LS/PS as
// Unicode breaks.
Found classify(std::string_view text, bool stop_at_first) noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  Found worst = Found::None;
  for (size_t i = 0; i < n; ++i) {
    unsigned char b = s[i];
    if (!kLook[b]) continue;
    Found f = Found::None;
    if (b == '\n' || b == '\r') f = Found::LineBreak;
    else if (b < 0x20 || b == 0x7F) f = Found::Control;
    else if (b == 0xC2) {
      if (i + 1 < n) {
        unsigned char c = s[i + 1];
        if (c == 0x85) f = Found::UnicodeBreak;
        else if (c >= 0x80 && c <= 0x9F) f = Found::Control;
      }
    } else if (b == 0xE2) {
      if (i + 2 < n && s[i + 1] == 0x80 && (s[i + 2] == 0xA8 || s[i + 2] == 0xA9)) f = Found::UnicodeBreak;
    } else if (b == 0xEF) {
      if (i + 2 < n && s[i + 1] == 0xBF && (s[i + 2] == 0xBE || s[i + 2] == 0xBF)) f = Found::Control;
    }
    if (f == Found::None) continue;
    if (stop_at_first || f == Found::UnicodeBreak) return f;
    if (f > worst) worst = f;
  }
  return worst;
}

}  // namespace

std::optional<std::string> head_comment_text(const std::vector<HeadComment>& head, HeadCommentFilter filter) {
  std::optional<std::string> out;
  for (const HeadComment& h : head) {
    if (filter == HeadCommentFilter::Above && h.below_introducer) continue;
    if (filter == HeadCommentFilter::Below && !h.below_introducer) continue;
    if (out) out->push_back('\n');
    else out.emplace();
    out->append(h.text);
  }
  return out;
}

bool has_disallowed_comment_char(std::string_view text) noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char b = s[i];
    if (!kLook[b]) continue;
    if (b < 0x20 || b == 0x7F) return true;
    if (b == 0xC2 && i + 1 < text.size() && s[i + 1] >= 0x80 && s[i + 1] <= 0x9F && s[i + 1] != 0x85) return true;
    if (b == 0xEF && i + 2 < text.size() && s[i + 1] == 0xBF && (s[i + 2] == 0xBE || s[i + 2] == 0xBF))
      return true;
  }
  return false;
}

std::optional<std::string_view> validate_inline_comment(std::string_view text) noexcept {
  // A line break of any kind wins over a control character.
  switch (classify(text, false)) {
    case Found::None: return std::nullopt;
    case Found::LineBreak:
    case Found::UnicodeBreak: return kInlineCommentBreakMessage;
    case Found::Control: return kCommentControlCharMessage;
  }
  return std::nullopt;
}

CommentLines split_comment_lines(std::string_view text) {
  CommentLines r;
  const Found f = classify(text, false);
  if (f == Found::UnicodeBreak) {
    r.error = kCommentUnicodeBreakMessage;
    return r;
  }
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\n' && c != '\r') continue;
    r.lines.emplace_back(text.substr(start, i - start));
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  r.lines.emplace_back(text.substr(start));
  for (const std::string& line : r.lines) {
    if (has_disallowed_comment_char(line)) {
      r.lines.clear();
      r.error = kCommentControlCharMessage;
      return r;
    }
  }
  return r;
}

std::optional<std::string_view> inline_comment_placement_error(const YamlNode&, bool is_mapping_key) noexcept {
  if (is_mapping_key) return kInlineCommentOnKeyMessage;
  return std::nullopt;
}

std::vector<HeadComment> head_comments_from_lines(std::vector<std::string> lines) {
  std::vector<HeadComment> out;
  out.reserve(lines.size());
  for (std::string& l : lines) out.push_back(HeadComment{std::move(l), false});
  return out;
}

}  // namespace qf
