#include "encode/represent_style.hpp"

#include <cstdint>

#include "encode/scalar_safety.hpp"

namespace qf {

namespace {

// What the text holds that a style may not carry.
struct TextFacts {
  bool line_feed = false;
  bool carriage_return = false;
  bool tab = false;
  bool other_control = false;  // C0 but TAB/LF/CR, DEL, C1 but NEL, U+FFFE, U+FFFF
};

TextFacts scan(std::string_view s) noexcept {
  TextFacts f;
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<uint8_t>(s[i]);
    if (c == '\n') f.line_feed = true;
    else if (c == '\r') f.carriage_return = true;
    else if (c == '\t') f.tab = true;
    else if (c < 0x20 || c == 0x7F) f.other_control = true;
    else if (c == 0xC2 && i + 1 < s.size()) {
      const auto d = static_cast<uint8_t>(s[i + 1]);
      if (d >= 0x80 && d <= 0x9F && d != 0x85) f.other_control = true;
    } else if (c == 0xEF && i + 2 < s.size() && static_cast<uint8_t>(s[i + 1]) == 0xBF &&
               (static_cast<uint8_t>(s[i + 2]) == 0xBE || static_cast<uint8_t>(s[i + 2]) == 0xBF)) {
      f.other_control = true;
    }
  }
  return f;
}

bool is_leading_indicator(char c) noexcept {
  switch (c) {
    case '!': case '#': case '%': case '&': case '\'': case '*': case ',': case '>': case '[': case ']':
    case '{': case '|': case '}': case '"': case '@': case '`':
      return true;
    default:
      return false;
  }
}

std::optional<std::string_view> plain_refusal(std::string_view t, const TextFacts& f) noexcept {
  if (t.empty()) return "an empty string has no plain rendering";
  if (f.line_feed || f.carriage_return) return "a plain scalar cannot hold a line break";
  if (f.tab || f.other_control) return "it contains a tab or control character";
  if (t.size() >= 3 && static_cast<uint8_t>(t[0]) == 0xEF && static_cast<uint8_t>(t[1]) == 0xBB &&
      static_cast<uint8_t>(t[2]) == 0xBF)
    return "a leading byte order mark would be stripped on reload";
  if (t.front() == ' ' || t.back() == ' ') return "leading or trailing spaces would be trimmed on reload";
  const char first = t[0];
  if (is_leading_indicator(first) ||
      ((first == '-' || first == ':' || first == '?') && (t.size() == 1 || t[1] == ' ')))
    return "it begins with a YAML indicator";
  if (t == "---" || t == "..." || t.starts_with("--- ") || t.starts_with("... "))
    return "it re-reads as a document marker";
  for (size_t i = 1; i < t.size(); ++i) {
    if (t[i] == '#' && t[i - 1] == ' ') return "it contains a ' #' comment starter";
    if (t[i] == ':' && (i + 1 == t.size() || t[i + 1] == ' ')) return "it contains a ':' mapping indicator";
  }
  return std::nullopt;
}

std::optional<std::string_view> block_refusal(ScalarStyle style, std::string_view t, const TextFacts& f) noexcept {
  if (t.empty()) return std::nullopt;
  if (f.carriage_return) return "it contains a carriage return";
  if (f.other_control) return "it contains a non-printable control character";
  if (style == ScalarStyle::Folded && f.line_feed) return "folding would rewrite its line breaks";
  size_t start = 0;
  while (start < t.size() && t[start] == '\n') ++start;
  if (start < t.size() && (t[start] == ' ' || t[start] == '\t')) return "its first line begins with whitespace";
  return std::nullopt;
}

}  // namespace

ScalarStyle scalar_style_for_represented_str(std::string_view text, bool prefer_double_quotes, ResolverMode mode) {
  // A text that needs no quotes has no line break, so it cannot be a
  // literal block: most texts are plain and take the one scan.
  if (!needs_quotes(text, mode)) return ScalarStyle::Plain;
  if (fits_literal_block(text)) return ScalarStyle::Literal;
  if (prefer_double_quotes || text.find('\'') != std::string_view::npos) return ScalarStyle::DoubleQuoted;
  return is_single_line_printable(text) ? ScalarStyle::SingleQuoted : ScalarStyle::DoubleQuoted;
}

std::optional<std::string_view> explicit_style_refusal(ScalarStyle style, std::string_view text) noexcept {
  const TextFacts f = scan(text);
  switch (style) {
    case ScalarStyle::Plain:
      return plain_refusal(text, f);
    case ScalarStyle::SingleQuoted:
      if (f.line_feed || f.carriage_return) return "single quotes cannot hold a line break";
      if (f.other_control) return "single quotes cannot escape a control character";
      return std::nullopt;
    case ScalarStyle::DoubleQuoted:
      return std::nullopt;
    case ScalarStyle::Literal:
    case ScalarStyle::Folded:
      return block_refusal(style, text, f);
  }
  return std::nullopt;
}

std::string_view represent_style_name(ScalarStyle style) noexcept {
  switch (style) {
    case ScalarStyle::Plain: return "plain";
    case ScalarStyle::SingleQuoted: return "single";
    case ScalarStyle::DoubleQuoted: return "double";
    case ScalarStyle::Literal: return "literal";
    case ScalarStyle::Folded: return "folded";
  }
  return "plain";
}

}  // namespace qf
