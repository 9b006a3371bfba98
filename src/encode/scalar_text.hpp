// Exact characters of one scalar: float and integer text, quoted scalars,
// folded quoted bodies and literal block scalars. Shared by every YAML writer
// (the value writer, the round-trip emitter) and the JSON writer. The style
// decisions live in scalar_safety.hpp; these functions only write, append to
// the caller's buffer and never fail.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace qf {

// Shortest round-trip text of a double as YAML writes it: ".inf", "-.inf",
// ".nan"; plain decimal with at least ".0" when the decimal exponent lies in
// [-4, 15]; otherwise "<mantissa>e<sign><2+ digits>" (1.0e+16, 1.5e-07).
std::string format_yaml_float(double x);
void append_yaml_float(std::string& out, double x);

// Signed 64-bit decimal, the whole range included.
void append_int64(std::string& out, int64_t v);

// Body of a double-quoted scalar, without the quotes.
std::string escape_double_quoted(std::string_view text);
void append_escaped_double_quoted(std::string& out, std::string_view text);

// '"' + escaped body + '"'. Never wraps.
void write_double_quoted(std::string& out, std::string_view text);
// "'" + text with every "'" doubled + "'". The caller guarantees a text that
// may be single-quoted. Never wraps.
void write_single_quoted(std::string& out, std::string_view text);
// The text with every "'" doubled (the single-quoted body).
void append_single_quoted_body(std::string& out, std::string_view text);

// Appends an already escaped quoted body, folding greedily at single inner
// spaces: the next word stays on the line while the column after it is at
// most `width`, else the space becomes a line feed and `indent` spaces.
// Words are never split. A space next to a tab is never a break point: the
// fold would strip that tab on reading.
void write_wrapped_text(std::string& out, std::string_view body, uint64_t indent, uint64_t width);
// The same with the current line's length already known (saves the search
// for the last line feed on long lines).
void write_wrapped_text(std::string& out, std::string_view body, uint64_t indent, uint64_t width,
                        uint64_t column);

// Block scalar header: the indicator ('|' or '>') and the chomping indicator
// of the text ("-" no final line feed, "" exactly one, "+" more or only
// line feeds). No line feed, no indentation indicator.
void write_block_scalar_header(std::string& out, std::string_view text, char indicator);
// The line feed ending the header line, the lines of the text at `indent`
// (empty lines without spaces), and the extra final line feeds that "+" keeps.
void write_block_scalar_body(std::string& out, std::string_view text, uint64_t indent);

// Length in bytes of the current line of the buffer (after its last line feed).
inline size_t current_line_length(std::string_view out) {
  size_t nl = out.rfind('\n');
  return nl == std::string_view::npos ? out.size() : out.size() - nl - 1;
}

inline void append_spaces(std::string& out, uint64_t n) { out.append(static_cast<size_t>(n), ' '); }

}  // namespace qf
