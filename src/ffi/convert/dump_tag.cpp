#include "ffi/convert/dump_tag.hpp"

#include <cstdio>

#include "ffi/errors.hpp"
#include "support/utf8.hpp"

namespace qf::py {

namespace {

bool is_tag_blank_or_control(char32_t c) {
  if (c <= 0x20 || (c >= 0x7F && c <= 0x9F)) return true;  // C0, space, DEL, C1 (NEL included)
  switch (c) {
    case 0xA0: case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

// Characters shown as \u{...} in messages: controls, separators other than
// the space, format characters, private use and noncharacters.
bool is_printable(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
  if (c < 0xA0) return true;
  if (c == 0xA0 || c == 0xAD || c == 0x1680 || c == 0x061C || c == 0x06DD || c == 0x070F || c == 0x180E)
    return false;
  if (c >= 0x0600 && c <= 0x0605) return false;
  if (c >= 0x2000 && c <= 0x200F) return false;
  if (c >= 0x2028 && c <= 0x202F) return false;
  if (c >= 0x205F && c <= 0x206F) return false;
  if (c == 0x3000 || c == 0xFEFF) return false;
  if (c >= 0xD800 && c <= 0xF8FF) return false;  // surrogates, private use
  if (c >= 0xFFF9 && c <= 0xFFFB) return false;
  if (c == 0xFFFE || c == 0xFFFF) return false;
  if (c >= 0xE0000 && c <= 0xE007F) return false;
  if (c >= 0xF0000) return false;
  return true;
}

void append_escaped(std::string& out, char32_t c, bool in_char) {
  switch (c) {
    case 0: out += "\\0"; return;
    case '\t': out += "\\t"; return;
    case '\r': out += "\\r"; return;
    case '\n': out += "\\n"; return;
    case '\\': out += "\\\\"; return;
    case '"':
      out += in_char ? "\"" : "\\\"";
      return;
    case '\'':
      out += in_char ? "\\'" : "'";
      return;
    default:
      break;
  }
  if (!is_printable(c)) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(c));
    out += buf;
    return;
  }
  append_utf8(out, c);
}

std::string quote_char(char32_t c) {
  std::string s = "'";
  append_escaped(s, c, true);
  s += '\'';
  return s;
}

std::string invalid(std::string_view tag, std::string_view rest) {
  std::string m = "invalid tag ";
  m += quote_tag_for_message(tag);
  m += ": ";
  m += rest;
  return m;
}

}  // namespace

std::string quote_tag_for_message(std::string_view tag) {
  std::string out = "\"";
  const char* p = tag.data();
  const char* end = p + tag.size();
  while (p < end) {
    unsigned len = 1;
    char32_t c = decode_utf8(p, end, &len);
    append_escaped(out, c, false);
    p += len;
  }
  out += '"';
  return out;
}

std::optional<std::string> dump_tag_problem(std::string_view t) {
  if (t.empty() || t[0] != '!') return invalid(t, "a tag must start with '!'");
  {
    const char* p = t.data();
    const char* end = p + t.size();
    while (p < end) {
      unsigned len = 1;
      char32_t c = decode_utf8(p, end, &len);
      if (is_tag_blank_or_control(c))
        return invalid(t, "a tag cannot contain whitespace or control characters (found " + quote_char(c) + ")");
      p += len;
    }
  }
  if (t.size() == 1) return std::nullopt;  // the non-specific tag "!"
  if (t.size() >= 2 && t[1] == '<') {
    bool ok = t.size() >= 4 && t.back() == '>' && t.substr(2, t.size() - 3).find('>') == std::string_view::npos;
    if (ok) return std::nullopt;
    return invalid(t, "a verbatim tag must be '!<...>' with non-empty content and no interior '>'");
  }
  std::string_view suffix = t.substr(t.size() >= 2 && t[1] == '!' ? 2 : 1);
  if (suffix.find('!') != std::string_view::npos)
    return invalid(t,
                   "a named tag handle (!name!suffix) needs a %TAG directive, which dumps does not emit; use a "
                   "primary (!suffix), secondary (!!suffix), or verbatim (!<uri>) tag");
  size_t bad = t.find_first_of(",]}");
  if (bad != std::string_view::npos)
    return invalid(t, "a shorthand tag cannot contain a flow indicator (found " +
                          quote_char(static_cast<char32_t>(t[bad])) + ")");
  return std::nullopt;
}

void validate_dump_tag(std::string_view tag) {
  if (auto problem = dump_tag_problem(tag)) throw Error::lazy(ExcClass::EncodeError, std::move(*problem));
}

void throw_already_tagged() {
  throw Error::lazy(ExcClass::EncodeError, "cannot attach a tag to a value that already carries a tag");
}

void throw_serializer_result_error() {
  throw Error::lazy(ExcClass::EncodeError, "a tags callback must return a QuillfernTag or a (tag, value) tuple");
}

Value attach_dump_tag(std::string tag, Value inner) {
  if (inner.kind() == ValueKind::Tagged) {
    drop_value_tree(std::move(inner));
    throw_already_tagged();
  }
  return Value::tagged(std::move(tag), std::move(inner));
}

}  // namespace qf::py
