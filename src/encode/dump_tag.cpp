#include "encode/dump_tag.hpp"

#include <cstdint>

#include "support/utf8.hpp"

namespace qf {

namespace {

// Decodes the UTF-8 character at `pos` and advances past it. Invalid bytes
// are taken one at a time as themselves (tags come from valid host text).
uint32_t next_char(std::string_view s, size_t& pos) {
  auto b = static_cast<unsigned char>(s[pos]);
  size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 1;
  if (pos + len > s.size()) len = 1;
  uint32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
  for (size_t i = 1; i < len; ++i) cp = (cp << 6) | (static_cast<unsigned char>(s[pos + i]) & 0x3F);
  pos += len;
  return cp;
}

bool is_white_space(uint32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

bool is_control(uint32_t c) { return c <= 0x1F || (c >= 0x7F && c <= 0x9F); }

// Characters shown as \u{...} in messages: controls, white space other than
// the space, format characters, surrogates, private use and non-characters.
// Everything else is written as it is.
bool is_unprintable(uint32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
  if (c < 0xA0) return false;
  if (c == 0xA0 || c == 0xAD || c == 0x061C || c == 0x06DD || c == 0x070F || c == 0x1680 || c == 0x180E)
    return true;
  if (c >= 0x0600 && c <= 0x0605) return true;
  if (c >= 0x2000 && c <= 0x200F) return true;
  if (c >= 0x2028 && c <= 0x202F) return true;
  if (c >= 0x205F && c <= 0x206F) return true;
  if (c == 0x3000 || c == 0xFEFF) return true;
  if (c >= 0xD800 && c <= 0xF8FF) return true;
  if (c >= 0xFFF9 && c <= 0xFFFB) return true;
  if (c == 0xFFFE || c == 0xFFFF) return true;
  return (c >= 0xE0000 && c <= 0xE007F) || c >= 0xF0000;
}

// One character escaped for a message; `in_single` selects the quoting of
// a lone character ('\'' escaped, '"' as is) or of a text (the reverse).
void append_escaped_char(std::string& out, uint32_t c, bool in_single) {
  switch (c) {
    case '\t': out.append("\\t"); return;
    case '\r': out.append("\\r"); return;
    case '\n': out.append("\\n"); return;
    case '\0': out.append("\\0"); return;
    case '\\': out.append("\\\\"); return;
    case '"': out.append(in_single ? "\"" : "\\\""); return;
    case '\'': out.append(in_single ? "\\'" : "'"); return;
    default: break;
  }
  if (is_unprintable(c)) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.append("\\u{");
    int shift = 28;
    while (shift > 0 && ((c >> shift) & 0xF) == 0) shift -= 4;
    for (; shift >= 0; shift -= 4) out.push_back(kHex[(c >> shift) & 0xF]);
    out.push_back('}');
    return;
  }
  append_utf8(out, c);
}

std::string tag_error(std::string_view tag, std::string_view reason) {
  std::string m = "invalid tag ";
  append_quoted_for_message(m, tag);
  m.append(": ");
  m.append(reason);
  return m;
}

std::string tag_error_found(std::string_view tag, std::string_view reason, uint32_t found) {
  std::string m = tag_error(tag, reason);
  m.append(" (found '");
  append_escaped_char(m, found, true);
  m.append("')");
  return m;
}

}  // namespace

void append_quoted_for_message(std::string& out, std::string_view text) {
  out.push_back('"');
  size_t pos = 0;
  while (pos < text.size()) append_escaped_char(out, next_char(text, pos), false);
  out.push_back('"');
}

std::optional<std::string> validate_dump_tag(std::string_view tag) {
  if (tag.empty() || tag[0] != '!') return tag_error(tag, "a tag must start with '!'");
  size_t chars = 0;
  for (size_t pos = 0; pos < tag.size();) {
    uint32_t c = next_char(tag, pos);
    ++chars;
    if (is_white_space(c) || is_control(c))
      return tag_error_found(tag, "a tag cannot contain whitespace or control characters", c);
  }
  if (tag == "!") return std::nullopt;
  if (tag.starts_with("!<")) {
    std::string_view content = tag.size() >= 3 ? tag.substr(2, tag.size() - 3) : std::string_view();
    if (chars >= 4 && tag.back() == '>' && content.find('>') == std::string_view::npos) return std::nullopt;
    return tag_error(tag, "a verbatim tag must be '!<...>' with non-empty content and no interior '>'");
  }
  std::string_view suffix = tag.starts_with("!!") ? tag.substr(2) : tag.substr(1);
  if (suffix.find('!') != std::string_view::npos)
    return tag_error(tag,
                     "a named tag handle (!name!suffix) needs a %TAG directive, which dumps does not emit; "
                     "use a primary (!suffix), secondary (!!suffix), or verbatim (!<uri>) tag");
  size_t flow = tag.find_first_of(",]}");
  if (flow != std::string_view::npos)
    return tag_error_found(tag, "a shorthand tag cannot contain a flow indicator",
                           static_cast<unsigned char>(tag[flow]));
  return std::nullopt;
}

}  // namespace qf
