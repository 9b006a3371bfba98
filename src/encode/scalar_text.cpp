#include "encode/scalar_text.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace qf {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// Bytes that escape_double_quoted must look at: C0 controls, '"', '\\', DEL,
// 0xC2 (lead byte of U+0080..U+00BF, the C1 controls among them) and 0xEF
// (lead byte of U+FFFE/U+FFFF). Everything else is copied in runs.
constexpr std::array<bool, 256> make_dq_table() {
  std::array<bool, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = true;
  t['"'] = true;
  t['\\'] = true;
  t[0x7F] = true;
  t[0xC2] = true;
  t[0xEF] = true;
  return t;
}
constexpr auto kDqSpecial = make_dq_table();

void append_hex_escape(std::string& out, char kind, uint32_t cp, int digits) {
  out.push_back('\\');
  out.push_back(kind);
  for (int i = digits - 1; i >= 0; --i) out.push_back(kHex[(cp >> (4 * i)) & 0xF]);
}

}  // namespace

void append_yaml_float(std::string& out, double x) {
  if (std::isnan(x)) {
    out.append(".nan");
    return;
  }
  if (std::isinf(x)) {
    out.append(x > 0 ? ".inf" : "-.inf");
    return;
  }
  char sci[64];
  auto rs = std::to_chars(sci, sci + sizeof sci, x, std::chars_format::scientific);
  std::string_view s(sci, static_cast<size_t>(rs.ptr - sci));
  size_t epos = s.find('e');
  std::string_view mantissa = s.substr(0, epos);
  int exp = 0;
  {
    std::string_view es = s.substr(epos + 1);
    bool neg = !es.empty() && es[0] == '-';
    if (!es.empty() && (es[0] == '-' || es[0] == '+')) es.remove_prefix(1);
    for (char c : es) exp = exp * 10 + (c - '0');
    if (neg) exp = -exp;
  }
  if (exp >= -4 && exp <= 15) {
    char fix[64];
    auto rf = std::to_chars(fix, fix + sizeof fix, x, std::chars_format::fixed);
    std::string_view f(fix, static_cast<size_t>(rf.ptr - fix));
    out.append(f);
    if (f.find('.') == std::string_view::npos) out.append(".0");
    return;
  }
  out.append(mantissa);
  if (mantissa.find('.') == std::string_view::npos) out.append(".0");
  out.push_back('e');
  out.push_back(exp < 0 ? '-' : '+');
  unsigned ae = static_cast<unsigned>(exp < 0 ? -exp : exp);
  if (ae < 10) out.push_back('0');
  char eb[8];
  auto re = std::to_chars(eb, eb + sizeof eb, ae);
  out.append(eb, re.ptr);
}

std::string format_yaml_float(double x) {
  std::string s;
  append_yaml_float(s, x);
  return s;
}

void append_int64(std::string& out, int64_t v) {
  char b[24];
  auto r = std::to_chars(b, b + sizeof b, v);
  out.append(b, r.ptr);
}

void append_escaped_double_quoted(std::string& out, std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t run = 0;  // start of the pending verbatim run
  size_t i = 0;
  while (i < n) {
    unsigned char c = p[i];
    if (!kDqSpecial[c]) {
      ++i;
      continue;
    }
    if (c == 0xC2) {
      // U+0080..U+009F except NEL are C1 controls; U+00A0.. is printable.
      if (i + 1 < n && p[i + 1] >= 0x80 && p[i + 1] <= 0x9F && p[i + 1] != 0x85) {
        out.append(text.data() + run, i - run);
        append_hex_escape(out, 'x', p[i + 1], 2);
        i += 2;
        run = i;
      } else {
        ++i;
      }
      continue;
    }
    if (c == 0xEF) {
      if (i + 2 < n && p[i + 1] == 0xBF && (p[i + 2] == 0xBE || p[i + 2] == 0xBF)) {
        out.append(text.data() + run, i - run);
        append_hex_escape(out, 'u', p[i + 2] == 0xBE ? 0xFFFEu : 0xFFFFu, 4);
        i += 3;
        run = i;
      } else {
        ++i;
      }
      continue;
    }
    out.append(text.data() + run, i - run);
    switch (c) {
      case 0x00: out.append("\\0"); break;
      case '\t': out.append("\\t"); break;
      case '\n': out.append("\\n"); break;
      case '\r': out.append("\\r"); break;
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      default: append_hex_escape(out, 'x', c, 2); break;
    }
    ++i;
    run = i;
  }
  out.append(text.data() + run, n - run);
}

std::string escape_double_quoted(std::string_view text) {
  std::string s;
  s.reserve(text.size() + 8);
  append_escaped_double_quoted(s, text);
  return s;
}

void write_double_quoted(std::string& out, std::string_view text) {
  out.push_back('"');
  append_escaped_double_quoted(out, text);
  out.push_back('"');
}

void append_single_quoted_body(std::string& out, std::string_view text) {
  size_t run = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\'') {
      out.append(text.data() + run, i + 1 - run);
      out.push_back('\'');
      run = i + 1;
    }
  }
  out.append(text.data() + run, text.size() - run);
}

void write_single_quoted(std::string& out, std::string_view text) {
  out.push_back('\'');
  append_single_quoted_body(out, text);
  out.push_back('\'');
}

namespace {

inline bool is_blank(char c) { return c == ' ' || c == '\t'; }

// A single inner space whose neighbours are neither space nor tab. Folding
// replaces it by a line break, and reading strips blanks around a fold, so a
// neighbouring tab would be lost.
inline bool is_break_point(std::string_view s, size_t j) {
  return s[j] == ' ' && j >= 1 && j + 1 < s.size() && !is_blank(s[j - 1]) && !is_blank(s[j + 1]);
}

}  // namespace

void write_wrapped_text(std::string& out, std::string_view body, uint64_t indent, uint64_t width) {
  write_wrapped_text(out, body, indent, width, current_line_length(out));
}

void write_wrapped_text(std::string& out, std::string_view body, uint64_t indent, uint64_t width,
                        uint64_t column) {
  const size_t n = body.size();
  // The end of the word starting at `from`: the next break point or the end.
  auto word_end = [&](size_t from) {
    size_t j = from;
    while (j < n && !is_break_point(body, j)) ++j;
    return j;
  };
  uint64_t col = column;
  size_t start = 0;
  size_t end = word_end(0);
  out.append(body.data(), end);
  while (end < n) {
    // body[end] is a break point; the next word spans [end + 1, next).
    size_t next_start = end + 1;
    size_t next_end = word_end(next_start);
    uint64_t span = next_end - start;  // current word, the space, next word
    if (col + span <= width) {
      col += (end - start) + 1;
      out.push_back(' ');
    } else {
      out.push_back('\n');
      append_spaces(out, indent);
      col = indent;
    }
    out.append(body.data() + next_start, next_end - next_start);
    start = next_start;
    end = next_end;
  }
}

namespace {

// Number of final line feeds, and the text before them.
inline size_t trailing_line_feeds(std::string_view text) {
  size_t t = 0;
  while (t < text.size() && text[text.size() - 1 - t] == '\n') ++t;
  return t;
}

}  // namespace

void write_block_scalar_header(std::string& out, std::string_view text, char indicator) {
  size_t t = trailing_line_feeds(text);
  bool rest_empty = t == text.size();
  out.push_back(indicator);
  if (t == 0) {
    out.push_back('-');
  } else if (t == 1 && !rest_empty) {
    // clip: nothing
  } else {
    out.push_back('+');
  }
}

void write_block_scalar_body(std::string& out, std::string_view text, uint64_t indent) {
  size_t t = trailing_line_feeds(text);
  std::string_view r = text.substr(0, text.size() - t);
  out.push_back('\n');
  size_t pos = 0;
  while (true) {
    size_t nl = r.find('\n', pos);
    std::string_view piece = r.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    if (!piece.empty()) {
      append_spaces(out, indent);
      out.append(piece);
    }
    out.push_back('\n');
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
  if (t >= 2) out.append(t - 1, '\n');
}

}  // namespace qf
