// Internal to the scanner: the scanning routines over one Scanner record and
// the byte-class tables they share. Errors unwind as ScanFailure and become
// the one ScanError of tokenize.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/scanner.hpp"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace qf::scan_detail {

// The vector routine of the control-character check. Tests run the check
// through each routine this CPU can run; false where `which` cannot run here
// (the routine in use is then unchanged).
enum class ControlCheckRoutine { Best, Sse2, Avx2 };
bool select_control_check(ControlCheckRoutine which);

struct ScanFailure {
  ScanError error;
};

struct ByteTable {
  bool v[256];
  constexpr bool operator[](unsigned char c) const { return v[c]; }
};

template <class Pred>
constexpr ByteTable make_table(Pred pred) {
  ByteTable t{};
  for (int i = 0; i < 256; ++i) t.v[i] = pred(i);
  return t;
}

// Byte 0 stands for the end of input: U+0000 never survives the control
// character check, so byte_at() returning 0 is unambiguous.
inline constexpr ByteTable kBlankBreakEnd =
    make_table([](int c) { return c == 0 || c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
inline constexpr ByteTable kFlowIndicator =
    make_table([](int c) { return c == ',' || c == '[' || c == ']' || c == '{' || c == '}'; });
inline constexpr ByteTable kBlankBreakEndFlowInd =
    make_table([](int c) { return kBlankBreakEnd[c] || kFlowIndicator[c]; });
// Bytes that end a run of plain-scalar characters (blanks included: they
// matter only before a "#" or at the end of the run).
inline constexpr ByteTable kPlainStopBlock = make_table([](int c) {
  return (c < 0x20 && c != '\t') || c == '#' || c == ':' || c >= 0x80;
});
inline constexpr ByteTable kPlainStopFlow =
    make_table([](int c) { return kPlainStopBlock[c] || kFlowIndicator[c]; });
// The characters block_dispatch looks at before taking a plain scalar.
inline constexpr ByteTable kBlockIndicator = make_table([](int c) {
  return std::string_view("!&*\"'|>[]{}#,@`-:?").find(static_cast<char>(c)) !=
         std::string_view::npos;
});
// The characters flow_dispatch treats apart; any other starts a plain scalar.
inline constexpr ByteTable kFlowSpecial = make_table([](int c) {
  return std::string_view(":,-?#@`[{]}!&*\"'").find(static_cast<char>(c)) != std::string_view::npos;
});
// Anchor and alias names end here.
inline constexpr ByteTable kNameStop = kBlankBreakEndFlowInd;
// A verbatim tag's URI ends at its ">" (or, unterminated, at white space).
inline constexpr ByteTable kVerbatimTagStop =
    make_table([](int c) { return c == '>' || kBlankBreakEnd[c]; });
// Tag suffixes end here ("[" and "{" belong to the tag).
inline constexpr ByteTable kTagStop = make_table([](int c) {
  return c == 0 || c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',' || c == ']' ||
         c == '}';
});

inline bool is_break(unsigned char c) { return c == '\n' || c == '\r'; }
inline bool is_blank(unsigned char c) { return c == ' ' || c == '\t'; }
inline bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }
inline uint32_t utf8_length(unsigned char c) {
  return c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
}

// The index of the lowest set bit of a nonzero mask, as a 64-bit value: the
// builtin's int result is sign-extended before it is added to a position,
// one more step on the chain from one stop to the next.
inline uint64_t lowest_bit(uint64_t mask) {
#if defined(__x86_64__) && defined(__GNUC__)
  uint64_t r;
  // Zeroed first: some CPUs wait for the register's old value.
  __asm__("xorl %k0, %k0\n\ttzcnt %1, %0" : "=&r"(r) : "r"(mask) : "cc");
  return r;
#else
  return static_cast<uint64_t>(std::countr_zero(mask));
#endif
}

#ifdef __SSE2__
// Moves `pos` to the first byte that `mask_at` (the marks of the 16 bytes
// from a position) marks, 16 bytes a step; false, with `pos` where fewer
// than 16 bytes are left, when no whole block holds a mark. The first step
// is taken apart, where most searches end: its load is addressed by `pos`
// itself, not by a position the loop has moved on first.
template <class MaskAt>
[[gnu::always_inline]] inline bool find_in_blocks(uint64_t& pos, uint64_t len, MaskAt mask_at) {
  if (pos + 16 > len) return false;
  unsigned mask = mask_at(pos);
  while (mask == 0) {
    pos += 16;
    if (pos + 16 > len) return false;
    mask = mask_at(pos);
  }
  pos += lowest_bit(mask);
  return true;
}
#endif

// First byte at or after `pos` that is not a SPACE, sixteen bytes at a time:
// indentation runs are often long, and one step for every run under sixteen
// keeps the loop's exit predictable whatever the nesting depth.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
inline uint64_t skip_space_run(const char* t, uint64_t pos, uint64_t len) {
#ifdef __SSE2__
  const __m128i space = _mm_set1_epi8(' ');
  const auto others = [&](uint64_t at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + at));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, space))) ^ 0xFFFFu;
  };
  if (find_in_blocks(pos, len, others)) return pos;
#endif
  if constexpr (std::endian::native == std::endian::little) {
    while (pos + 8 <= len) {
      uint64_t w;
      std::memcpy(&w, t + pos, 8);
      w ^= 0x2020202020202020ULL;
      if (w != 0) return pos + (static_cast<uint64_t>(std::countr_zero(w)) >> 3);
      pos += 8;
    }
  }
  while (pos < len && t[pos] == ' ') ++pos;
  return pos;
}
#pragma GCC diagnostic pop

// The first LF or CR at or after `p`, or `len`.
inline uint64_t find_line_end(const char* t, uint64_t p, uint64_t len) {
#ifdef __SSE2__
  const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
  const auto breaks = [&](uint64_t at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + at));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr))));
  };
  if (find_in_blocks(p, len, breaks)) return p;
#endif
  while (p < len && t[p] != '\n' && t[p] != '\r') ++p;
  return p;
}

class ScanEngine {
 public:
  // Holds no state of its own: an engine can be made for each call.
  explicit ScanEngine(Scanner& s) : s_(s), c_(s.cursor), scratch_(s.scratch) {}

  // Scans the whole text into s_.queue; throws ScanFailure.
  void run();
  // The same in pieces: begin(), then next() until the stream has ended.
  void begin();
  void next() { step(); }

 private:
  // main loop, block structure (scanner.cpp)
  void check_control_characters();
  void step();
  // Most tokens start right where the previous one ended (after ": ", or
  // after the indentation a plain scalar consumed): that case is inline.
  // At the end of input (once per text) there is nothing to skip either.
  void skip_to_next_token() {
    s_.tab_before = false;
    if (c_.position < c_.length) {
      if (static_cast<unsigned char>(c_.text[c_.position]) > '#') return;
      skip_blanks_and_comments();
    }
  }
  void skip_blanks_and_comments();
  void scan_comment();
  // A comment that is not kept only moves the cursor to its line break
  // (whose consumption resets the column); kept, or at the end of input,
  // scan_comment takes it.
  void skip_comment() {
    if (!s_.keep_comments) {
      const uint64_t p = find_line_end(c_.text, c_.position + 1, c_.length);
      if (p < c_.length) {
        c_.position = p;
        return;
      }
    }
    scan_comment();
  }
  // In block context, a comment that is not kept and the comment lines
  // straight after it (over a third of the bytes of real-world files): one
  // tight loop over their line breaks and indentation, the marks a line
  // break sets written once. Stops after the indentation of the first line
  // that does not start with "#", or at a comment ending at a CR or at the
  // end of input, for the caller's loop.
  void skip_comment_lines() {
    if (s_.keep_comments) return scan_comment();
    const char* t = c_.text;
    const uint64_t len = c_.length;
    uint64_t p = find_line_end(t, c_.position + 1, len);
    if (p >= len) return scan_comment();
    if (t[p] != '\n') {
      c_.position = p;
      return;
    }
    uint32_t line = c_.line;
    uint64_t line_start;
    for (;;) {
      ++line;
      line_start = ++p;
      p = skip_space_run(t, p, len);
      if (p >= len || t[p] != '#') break;
      const uint64_t e = find_line_end(t, p + 1, len);
      if (e >= len || t[e] != '\n') break;
      p = e;
    }
    c_.position = p;
    c_.line = line;
    c_.column = static_cast<uint32_t>(p - line_start);
    s_.document_start_line = false;
    s_.tab_before = false;
    drop_key_from_other_line(line);
    s_.simple_key_allowed = true;
  }
  // The flags a block line that starts with a plain scalar leaves behind.
  [[gnu::always_inline]] bool plain_line_taken(bool dedented) {
    s_.tab_before = false;
    s_.dedented = dedented;
    s_.after_block_value = false;
    s_.after_entry = false;
    s_.directives_enabled = false;
    return true;
  }
  // A possible simple key cannot span lines: once the cursor is on `line`,
  // one started on another line is gone.
  [[gnu::always_inline]] void drop_key_from_other_line(uint32_t line) {
    if (s_.possible_key.state != SimpleKeyState::Absent &&
        s_.possible_key.line != static_cast<int32_t>(line))
      s_.possible_key.state = SimpleKeyState::Absent;
  }
  [[gnu::always_inline]] inline void block_dispatch();
  void flow_dispatch();
  // Steps of one line one flow_dispatch call takes, at most (each makes up
  // to four tokens).
  static constexpr int kFlowStepsPerCall = 16;
  void unroll_indent(int32_t column);
  // Queues a BlockEnd at the cursor and pops one indentation level.
  void close_block_level();
  void pop_block_level() {
    if (s_.indents.empty()) {
      s_.indent = -1;
      s_.in_sequence = false;
    } else {
      s_.indent = s_.indents.back().indent;
      s_.in_sequence = s_.indents.back().sequence;
      s_.indents.pop_back();
    }
  }
  // Opens a block level at `column` when it is deeper than the current one.
  // Most calls (every key of a mapping after its first) change nothing, so
  // that test is inline and the rest out of line.
  void roll_indent(int32_t column, Span span, TokenKind kind) {
    if (s_.flow_level != 0) return;
    if (s_.document_start_line || s_.indent < column) [[unlikely]]
      open_block_level(column, span, kind);
  }
  [[gnu::noinline]] void open_block_level(int32_t column, Span span, TokenKind kind);
  void save_possible_key();
  void scan_block_entry(bool after_entry);
  void scan_value_indicator();
  // The implicit block key just scanned, its ":" at the cursor.
  void make_scalar_key(std::string_view text, ScalarStyle style, Span start, uint64_t end,
                       bool tab_before);
  void make_flow_key(std::string_view text, ScalarStyle style, Span start, uint64_t end);
  void scan_flow_collection_start(bool mapping);
  void scan_flow_collection_end(unsigned char closer);
  void scan_flow_entry();  // ","
  void scan_directive();
  void scan_document_start();
  void scan_document_end();
  void scan_alias();
  void scan_anchor();
  void scan_tag();
  void scan_explicit_key();
  void check_property_indent(Span at);
  void raise_pending_property();
  std::string_view scan_name();

  // scalars (scalar.cpp)
  void scan_plain_scalar() {
    if (s_.fast_paths && (s_.flow_level == 0 ? scan_plain_block_line() : scan_plain_flow_line()))
      return;
    scan_plain_general();
  }
  // Block plain scalars on one line each, and the simple steps between
  // them, a run at a time (scalar.cpp).
  bool scan_plain_block_line();
  enum class PlainLine : uint8_t { Declined, Done, Taken };
  PlainLine plain_block_line();
  bool next_plain_in_block();
  bool next_plain_in_block_slow();
  bool next_entry_in_block();
  enum class RunStop : uint8_t { AtScalar, AfterLine, Limit, EntryAfterDedent };
  RunStop run_usual_lines(int& n);
  // Lines taken per call: about one pump batch of tokens, so that a batch
  // mostly costs one way in through step() and the general road's first
  // line, not two or three.
  static constexpr int kPlainLinesPerCall = 64;
  static constexpr int kRoundsBetweenLines = 8;
  bool scan_plain_flow_line();
  void scan_plain_general();
  void scan_single_quoted();
  void scan_double_quoted();
  void push_quoted_scalar(std::string_view text, ScalarStyle style, Span start, Span after,
                          bool key_allowed, bool tab_before);
  void fold_quoted_line_break(std::string& buffer, int64_t block_indent, Span start);
  char32_t scan_unicode_escape(int digits, Span start);
  void scan_block_scalar(bool literal);
  uint32_t skip_indented_empty_lines(int32_t n);

  // helpers
  [[noreturn]] static void fail(std::string message, Span at) {
    throw ScanFailure{ScanError{std::move(message), at}};
  }
  // Errors shared by the block and flow dispatchers and the comment skipper.
  [[noreturn]] static void fail_comment_without_blank(Span at) {
    fail("a comment must be preceded by whitespace", at);
  }
  [[noreturn]] static void fail_reserved_indicator(unsigned char ch, Span at) {
    fail(std::string("'") + char(ch) + "' is a reserved indicator and cannot start a plain scalar", at);
  }
  // Token pushes are the scanner's most frequent write: a check for room,
  // then every field stored once into the next slot; making room is out of
  // line. Forced inline: in the long routines the compiler would otherwise
  // call them.
  [[gnu::always_inline]] void push(TokenKind kind, Span span, uint64_t end_offset) {
    next_slot() = Token{kind, ScalarStyle::Plain, false, static_cast<uint32_t>(end_offset), span,
                        std::string_view()};
  }
  [[gnu::always_inline]] void push_text(TokenKind kind, Span span, uint64_t end_offset,
                                       std::string_view text,
                                       ScalarStyle style = ScalarStyle::Plain) {
    next_slot() = Token{kind, style, false, static_cast<uint32_t>(end_offset), span, text};
  }
  [[gnu::always_inline]] void push_flag(TokenKind kind, Span span, bool flag) {
    next_slot() = Token{kind, ScalarStyle::Plain, flag, static_cast<uint32_t>(span.offset), span,
                        std::string_view()};
  }
  // A token without its flag (plain style unless told) written as the
  // 8-byte words of its layout, the word of file and line shared by the
  // tokens of one line: a Span built field by field is assembled in vector
  // registers first, which costs more than the stores.
  [[gnu::always_inline]] static void put_token(Token* q, TokenKind kind, uint32_t end_offset,
                                               uint64_t file_line, uint32_t column,
                                               uint64_t offset, std::string_view text,
                                               ScalarStyle style = ScalarStyle::Plain) {
    if constexpr (kTokenWords) {
      const uint64_t w0 = static_cast<uint64_t>(kind) | static_cast<uint64_t>(style) << 8 |
                          static_cast<uint64_t>(end_offset) << 32;
      const uint64_t w2 = column;
      unsigned char* b = reinterpret_cast<unsigned char*>(q);
      std::memcpy(b, &w0, 8);
      std::memcpy(b + 8, &file_line, 8);
      std::memcpy(b + 16, &w2, 8);
      std::memcpy(b + 24, &offset, 8);
      q->text = text;
    } else {
      *q = Token{kind,
                 style,
                 false,
                 end_offset,
                 Span{static_cast<uint32_t>(file_line), static_cast<uint32_t>(file_line >> 32),
                      column, offset},
                 text};
    }
  }
  static uint64_t file_line(uint32_t file_id, uint32_t line) {
    return file_id | static_cast<uint64_t>(line) << 32;
  }
  static constexpr bool kTokenWords =
      std::endian::native == std::endian::little && sizeof(TokenKind) == 1 && offsetof(Token, style) == 1 &&
      offsetof(Token, flag) == 2 && offsetof(Token, end_offset) == 4 &&
      offsetof(Token, span) == 8 && offsetof(Span, line) == 4 && offsetof(Span, column) == 8 &&
      offsetof(Span, offset) == 16 && offsetof(Token, text) == 32 &&
      static_cast<int>(ScalarStyle::Plain) == 0;
  // The room checks compare pointers: a vector's size() divides by the
  // token's size.
  [[gnu::always_inline]] Token& next_slot() {
    if (s_.queue.data() + s_.queue_size == std::to_address(s_.queue.end())) [[unlikely]]
      extend_queue();
    return s_.queue.data()[s_.queue_size++];
  }
  // Room for `n` tokens at the end of the queue, to be counted in by the
  // caller once written.
  [[gnu::always_inline]] Token* room(uint64_t n) {
    while (s_.queue.data() + s_.queue_size + n > std::to_address(s_.queue.end())) [[unlikely]]
      extend_queue();
    return s_.queue.data() + s_.queue_size;
  }
  // Adds room for a few more tokens past the end of the queue.
  [[gnu::noinline]] void extend_queue();
  // Inserts `n` tokens before queue[at].
  void insert_tokens(uint64_t at, const Token* tokens, uint64_t n);
  std::string_view view(uint64_t from, uint64_t to) const {
    return std::string_view(c_.text + from, to - from);
  }
  // A scalar's text is built in scratch_ from its first fold or escape on.
  void start_scratch(bool& built) {
    if (built) return;
    scratch_.clear();
    built = true;
  }
  // The text of a quoted scalar whose closing quote is at `quote`, the input
  // from `seg` on being its last stretch: a view of the input when nothing
  // was built, else the built text kept in the scanner's storage.
  std::string_view close_quoted(bool built, uint64_t seg, uint64_t quote) {
    if (!built) return view(seg, quote);
    scratch_.append(c_.text + seg, quote - seg);
    return s_.strings.store(scratch_);
  }
  // Advances over ASCII bytes that stay on the current line.
  void advance_bytes(uint32_t n) { c_.advance_ascii(n); }
  // Moves the cursor to the next LF or CR (or the end of input); returns the
  // new position. The column is only counted when the end of input comes
  // first: otherwise every caller consumes the line break next, which resets
  // it.
  uint64_t advance_to_line_end();
  // Moves the cursor to the next byte marked in `stop` (or the end of
  // input), counting characters; returns the new position.
  uint64_t advance_to_stop(const ByteTable& stop) {
    const char* t = c_.text;
    uint64_t p = c_.position;
    uint32_t col = c_.column;
    while (p < c_.length && !stop[static_cast<unsigned char>(t[p])]) {
      col += !is_continuation(static_cast<unsigned char>(t[p]));
      ++p;
    }
    c_.position = p;
    c_.column = col;
    return p;
  }
  unsigned char first_non_blank() const {
    uint64_t p = c_.position;
    while (p < c_.length && is_blank(static_cast<unsigned char>(c_.text[p]))) ++p;
    return p < c_.length ? static_cast<unsigned char>(c_.text[p]) : 0;
  }
  void skip_one_space() {
    if (c_.cur() == ' ') advance_bytes(1);
  }

  Scanner& s_;
  TextCursor& c_;
  std::string& scratch_;
};

std::string format_code_point(const char* prefix, char32_t cp);
// A generous guess of the number of tokens of a text, from a count of its
// indicator characters; used to reserve the token vector of large texts.
uint64_t estimate_token_count(const char* text, uint64_t len);
std::string char_at(const TextCursor& c);

}  // namespace qf::scan_detail
