#include "support/words.hpp"

namespace qf {

// Byte length of the Unicode White_Space character at `pos`, or 0.
size_t white_space_len(std::string_view s, size_t pos) {
  auto b = static_cast<unsigned char>(s[pos]);
  if (b == ' ' || (b >= 0x09 && b <= 0x0D)) return 1;
  if (b < 0x80) return 0;
  auto at = [&](size_t k) { return pos + k < s.size() ? static_cast<unsigned char>(s[pos + k]) : 0; };
  if (b == 0xC2 && (at(1) == 0x85 || at(1) == 0xA0)) return 2;
  if (b == 0xE1 && at(1) == 0x9A && at(2) == 0x80) return 3;  // U+1680
  if (b == 0xE2 && at(1) == 0x80) {
    unsigned c = at(2);
    if ((c >= 0x80 && c <= 0x8A) || c == 0xA8 || c == 0xA9 || c == 0xAF) return 3;
  }
  if (b == 0xE2 && at(1) == 0x81 && at(2) == 0x9F) return 3;  // U+205F
  if (b == 0xE3 && at(1) == 0x80 && at(2) == 0x80) return 3;  // U+3000
  return 0;
}

size_t split_words(std::string_view s, std::string_view* words, size_t max) {
  size_t count = 0, pos = 0;
  while (pos < s.size() && count < max) {
    size_t w;
    while (pos < s.size() && (w = white_space_len(s, pos)) != 0) pos += w;
    if (pos >= s.size()) break;
    size_t start = pos;
    while (pos < s.size() && white_space_len(s, pos) == 0) ++pos;
    words[count++] = s.substr(start, pos - start);
  }
  return count;
}

namespace {

bool is_digit_run(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Two non-empty runs of ASCII digits joined by one ".".
bool valid_yaml_version(std::string_view v) {
  size_t dot = v.find('.');
  if (dot == std::string_view::npos) return false;
  return is_digit_run(v.substr(0, dot)) && is_digit_run(v.substr(dot + 1));
}

}  // namespace

DirectiveWords read_directive(std::string_view text) {
  std::string_view words[3];
  const size_t count = split_words(text, words, 3);
  using Kind = DirectiveWords::Kind;
  if (count >= 1 && words[0] == "YAML") {
    const bool valid = count >= 2 && valid_yaml_version(words[1]) && (count < 3 || words[2].front() == '#');
    return {valid ? Kind::Yaml : Kind::BadYaml, {}, {}};
  }
  if (count >= 3 && words[0] == "TAG" && words[1].front() == '!' && words[1].back() == '!')
    return {Kind::Tag, words[1], words[2]};
  return {};
}

std::optional<std::string> directive_error(const DirectiveWords& w, bool& yaml_seen, bool handle_known) {
  using Kind = DirectiveWords::Kind;
  if (w.kind == Kind::Yaml || w.kind == Kind::BadYaml) {
    if (w.kind == Kind::BadYaml) return "invalid %YAML directive";
    if (yaml_seen) return "duplicate %YAML directive";
    yaml_seen = true;
  } else if (w.kind == Kind::Tag && handle_known) {
    return "duplicate %TAG directive for handle '" + std::string(w.handle) + "'";
  }
  return std::nullopt;
}

}  // namespace qf
