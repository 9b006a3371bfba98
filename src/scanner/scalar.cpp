// Scalar scanners: plain, single-quoted, double-quoted, literal and folded.
// A scalar whose value is a contiguous stretch of the input is returned as a
// view of it; anything folded or escaped is built in a scratch buffer and
// kept in the scanner's arena.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "scanner/scan_engine.hpp"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace qf::scan_detail {

namespace {

// First byte at or after `pos` that `stop` flags (the plain-scalar stop
// tables), or `len`.
inline uint64_t find_plain_stop(const char* t, uint64_t pos, uint64_t len, bool flow,
                                const ByteTable& stop) {
#ifdef __SSE2__
  // Sixteen bytes at a time: a signed compare catches every byte below ' '
  // and every byte from 0x80 at once.
  const __m128i space = _mm_set1_epi8(' '), tab = _mm_set1_epi8('\t');
  const __m128i hash = _mm_set1_epi8('#'), colon = _mm_set1_epi8(':');
  const __m128i comma = _mm_set1_epi8(','), lsq = _mm_set1_epi8('['), rsq = _mm_set1_epi8(']');
  const __m128i lcu = _mm_set1_epi8('{'), rcu = _mm_set1_epi8('}');
  const auto stops = [&](uint64_t at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + at));
    __m128i hit = _mm_or_si128(
        _mm_andnot_si128(_mm_cmpeq_epi8(v, tab), _mm_cmplt_epi8(v, space)),
        _mm_or_si128(_mm_cmpeq_epi8(v, hash), _mm_cmpeq_epi8(v, colon)));
    if (flow)
      hit = _mm_or_si128(
          hit, _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, comma), _mm_cmpeq_epi8(v, lsq)),
                            _mm_or_si128(_mm_cmpeq_epi8(v, rsq),
                                         _mm_or_si128(_mm_cmpeq_epi8(v, lcu),
                                                      _mm_cmpeq_epi8(v, rcu)))));
    return static_cast<unsigned>(_mm_movemask_epi8(hit));
  };
  if (find_in_blocks(pos, len, stops)) return pos;
#else
  (void)flow;
#endif
  while (pos < len && !stop[static_cast<unsigned char>(t[pos])]) ++pos;
  return pos;
}

// find_plain_stop in block context for the run of usual lines, stopping at
// TABs too (the caller passes them): one step fewer from the load to the
// mask, on the chain from one stop to the next.
inline uint64_t find_run_stop(const char* t, uint64_t pos, uint64_t len) {
#ifdef __SSE2__
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i hash = _mm_set1_epi8('#'), colon = _mm_set1_epi8(':');
  // Below ' ' as signed bytes: the controls and every byte from 0x80.
  const auto stops = [&](uint64_t at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + at));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
        _mm_cmpgt_epi8(space, v), _mm_or_si128(_mm_cmpeq_epi8(v, hash), _mm_cmpeq_epi8(v, colon)))));
  };
  if (find_in_blocks(pos, len, stops)) return pos;
#endif
  while (pos < len && !kPlainStopBlock[static_cast<unsigned char>(t[pos])]) ++pos;
  return pos;
}

// The first byte at or after `pos` that ends a quoted scalar taken as a
// stretch of ASCII text: `quote`, a line break, a byte from 0x80, and for
// double quotes a backslash; or `len`.
inline uint64_t find_simple_quote_end(const char* t, uint64_t pos, uint64_t len, char quote) {
#ifdef __SSE2__
  const __m128i q = _mm_set1_epi8(quote), lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
  const __m128i bs = _mm_set1_epi8(quote == '"' ? '\\' : quote);
  const auto stops = [&](uint64_t at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + at));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, q), _mm_cmpeq_epi8(v, bs)),
                                     _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)));
    // The sign bits mark the bytes from 0x80.
    return static_cast<unsigned>(_mm_movemask_epi8(hit) | _mm_movemask_epi8(v));
  };
  if (find_in_blocks(pos, len, stops)) return pos;
#endif
  for (; pos < len; ++pos) {
    const char b = t[pos];
    if (b == quote || b == '\n' || b == '\r' || (quote == '"' && b == '\\') ||
        static_cast<unsigned char>(b) >= 0x80)
      break;
  }
  return pos;
}

// The cursor moved to the first byte at or after it that is `quote`, a line
// break or, with `backslash`, a "\\" (or to the end of input), sixteen
// bytes at a time, columns counted from the bytes that are not UTF-8
// continuation bytes; returns the new position.
inline uint64_t advance_to_quoted_stop(TextCursor& c, char quote, bool backslash) {
  const char* t = c.text;
  const uint64_t len = c.length;
  uint64_t pos = c.position;
  uint32_t col = c.column;
#ifdef __SSE2__
  const __m128i q = _mm_set1_epi8(quote), bs = _mm_set1_epi8('\\');
  const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
  // Continuation bytes, 0x80-0xBF, are the signed bytes below -64.
  const __m128i lead_min = _mm_set1_epi8(-64);
  while (pos + 16 <= len) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + pos));
    __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, q),
                               _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)));
    if (backslash) hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, bs));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    const unsigned cont = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(v, lead_min)));
    if (mask != 0) {
      const unsigned n = static_cast<unsigned>(__builtin_ctz(mask));
      col += n;
      if (cont != 0) col -= static_cast<uint32_t>(std::popcount(cont & ((1u << n) - 1)));
      c.position = pos + n;
      c.column = col;
      return pos + n;
    }
    col += 16;
    if (cont != 0) col -= static_cast<uint32_t>(std::popcount(cont));
    pos += 16;
  }
#endif
  for (; pos < len; ++pos) {
    const char b = t[pos];
    if (b == quote || b == '\n' || b == '\r' || (backslash && b == '\\')) break;
    col += !is_continuation(static_cast<unsigned char>(b));
  }
  c.position = pos;
  c.column = col;
  return pos;
}

// Bytes that start a plain scalar in block context at any column ("." and
// "%" may start a marker or a directive at column 0).
constexpr ByteTable kPlainStartAnywhere = make_table(
    [](int c) { return c > '#' && !kBlockIndicator[c] && c != '.' && c != '%'; });

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}
}  // namespace

// ---------------------------------------------------------------------------
// Plain scalars

// The usual block scalar, one line of ASCII text: a key ending at ": ", or
// a value ending at a line break after which the text goes on no deeper
// than the enclosing block level. Anything else is declined having changed
// nothing, for the general scan. Taken says the scalar was taken and
// another may follow (see next_plain_in_block); Done that it was taken and
// step() goes on.
[[gnu::always_inline]] inline ScanEngine::PlainLine ScanEngine::plain_block_line() {
  const char* t = c_.text;
  const uint64_t len = c_.length;
  const uint64_t from = c_.position;
  uint64_t pos = from;
  unsigned char b;
  for (;; ++pos) {
    pos = find_plain_stop(t, pos, len, false, kPlainStopBlock);
    if (pos >= len) return PlainLine::Declined;
    b = static_cast<unsigned char>(t[pos]);
    // A ":" before a non-blank and a "#" after one are text.
    if (b == ':') {
      if (kBlankBreakEnd[pos + 1 < len ? static_cast<unsigned char>(t[pos + 1]) : 0]) break;
    } else if (b != '#' || (pos > from && is_blank(static_cast<unsigned char>(t[pos - 1])))) {
      break;
    }
  }
  if (pos == from) return PlainLine::Declined;
  uint64_t end = pos;
  if (is_blank(static_cast<unsigned char>(t[end - 1]))) {
    do --end;
    while (end > from && is_blank(static_cast<unsigned char>(t[end - 1])));
    if (end == from) return PlainLine::Declined;
  }
  // The start's span is built where a token or an error needs it, from
  // these: one Span kept for all uses would live on the stack.
  const uint32_t file_id = c_.file_id, line = c_.line, column0 = c_.column;
  const auto span_at = [&](uint32_t column, uint64_t offset) {
    return Span{file_id, line, column, offset};
  };
  const bool key_allowed = s_.simple_key_allowed;
  // The cursor to `at` (the stop, as scanning a plain scalar leaves it, or
  // past a key's ":" and one SPACE), the marks as the scalar leaves them.
  const auto stop_scalar = [&](uint64_t at) {
    c_.position = at;
    c_.column = column0 + static_cast<uint32_t>(at - from);
    s_.simple_key_allowed = false;
    drop_key_from_other_line(line);
  };
  if (b == '#') {
    // A comment ends the scalar.
    stop_scalar(pos);
    push_text(TokenKind::Scalar, span_at(column0, from), end, view(from, end));
    return PlainLine::Taken;
  }
  if (b == ':') {
    if (!key_allowed) {
      stop_scalar(pos);
      push_text(TokenKind::Scalar, span_at(column0, from), end, view(from, end));
      return PlainLine::Done;
    }
    // make_scalar_key, its stores side by side.
    stop_scalar(pos + 1 + (pos + 1 < len && t[pos + 1] == ' '));
    if (s_.tab_before) fail("a tab cannot be used for indentation", span_at(column0, from));
    // roll_indent: on the line of "---" it fails; a deeper key opens a
    // mapping, its MappingStart written with the key's tokens.
    const int32_t key_column = static_cast<int32_t>(column0);
    if (s_.document_start_line) [[unlikely]]
      open_block_level(key_column, span_at(column0, from), TokenKind::MappingStart);
    Token* q = room(4);
    const uint64_t fl = file_line(file_id, line);
    if (s_.indent < key_column) {
      s_.indents.push_back(IndentLevel{s_.indent, s_.in_sequence});
      s_.indent = key_column;
      s_.in_sequence = false;
      put_token(q++, TokenKind::MappingStart, static_cast<uint32_t>(from), fl, column0, from,
                std::string_view());
      ++s_.queue_size;
    }
    put_token(q, TokenKind::Key, static_cast<uint32_t>(from), fl, column0, from,
              std::string_view());
    put_token(q + 1, TokenKind::Scalar, static_cast<uint32_t>(end), fl, column0, from,
              view(from, end));
    put_token(q + 2, TokenKind::Value, static_cast<uint32_t>(pos), fl,
              column0 + static_cast<uint32_t>(pos - from), pos, std::string_view());
    s_.queue_size += 3;
    s_.implicit_key_line = static_cast<int32_t>(line);
    s_.after_block_value = true;
    s_.flow_node_seen = false;
    return PlainLine::Taken;
  }
  if (!is_break(b)) return PlainLine::Declined;
  // The next line that is not empty: its indentation (SPACEs and TABs count
  // one column each) must end at a character that closes the scalar.
  uint64_t q = pos;
  uint64_t indent_from;
  uint32_t lines = 0;
  do {
    q += t[q] == '\r' && q + 1 < len && t[q + 1] == '\n' ? 2 : 1;
    ++lines;
    indent_from = q;
    q = skip_space_run(t, q, len);
    while (q < len && is_blank(static_cast<unsigned char>(t[q]))) ++q;
  } while (q < len && is_break(static_cast<unsigned char>(t[q])));
  const uint32_t column = static_cast<uint32_t>(q - indent_from);
  if (q < len && (t[q] == ':' || static_cast<int32_t>(column) > s_.indent))
    return PlainLine::Declined;
  c_.position = q;
  c_.line = line + lines;
  c_.column = column;
  s_.simple_key_allowed = true;
  drop_key_from_other_line(c_.line);
  put_token(&next_slot(), TokenKind::Scalar, static_cast<uint32_t>(end),
            file_line(file_id, line), column0, from, view(from, end));
  return PlainLine::Taken;
}

// After a block scalar: what step() and block_dispatch() would do up to the
// next token when that token is again a plain scalar (line breaks, SPACEs,
// comments, block sequence entries, quoted scalars, the indentation levels
// closed by a dedent); true when it is. Otherwise stops having done only
// what step() resumes from unchanged: it does not pass a TAB, whose mark
// step() would clear.
[[gnu::noinline]] bool ScanEngine::next_plain_in_block_slow() {
  const char* t = c_.text;
  const uint64_t len = c_.length;
  // Each round after the first follows an entry or a quoted scalar: a
  // bounded number of them, so that the pump's batches stay small.
  for (int round = 0;; ++round) {
    if (round == kRoundsBetweenLines) return false;
    s_.tab_before = false;
    if (c_.position >= len) return false;
    unsigned char ch = static_cast<unsigned char>(t[c_.position]);
    while (ch <= '#') {
      if (ch == ' ') {
        c_.skip_spaces();
      } else if (ch == '\n' || ch == '\r') {
        c_.consume_line_break();
        s_.document_start_line = false;
        drop_key_from_other_line(c_.line);
        s_.simple_key_allowed = true;
        c_.skip_spaces();
      } else if (ch == '#') {
        const unsigned char prev = static_cast<unsigned char>(t[c_.position - 1]);
        if (!is_blank(prev) && !is_break(prev)) return false;
        skip_comment_lines();
      } else {
        break;
      }
      if (c_.position >= len) return false;
      ch = static_cast<unsigned char>(t[c_.position]);
    }
    if (s_.property_check_pending) return false;
    const int32_t column = static_cast<int32_t>(c_.column);
    const bool entry = ch == '-' && kBlankBreakEnd[c_.byte_at(1)];
    const bool plain = !entry && ch > '#' && !kBlockIndicator[ch] &&
                       !(column == 0 && (ch == '.' || ch == '%'));
    if (!plain && !entry && ch != '"' && ch != '\'') return false;
    s_.dedented = false;
    // The levels a dedent closes, and a sequence ended by a line at its own
    // column that is no entry: BlockEnds at the cursor, written here.
    if (s_.indent > column || (!entry && s_.in_sequence && column == s_.indent)) {
      const Span at = c_.span();
      const uint32_t offset = static_cast<uint32_t>(at.offset);
      if (s_.indent > column) {
        do {
          next_slot() = Token{TokenKind::BlockEnd, ScalarStyle::Plain, false, offset, at,
                              std::string_view()};
          pop_block_level();
        } while (s_.indent > column);
        s_.dedented = true;
      }
      if (!entry && s_.in_sequence && column == s_.indent) {
        next_slot() = Token{TokenKind::BlockEnd, ScalarStyle::Plain, false, offset, at,
                            std::string_view()};
        pop_block_level();
      }
    }
    s_.after_block_value = false;
    const bool after_entry = s_.after_entry;
    s_.after_entry = false;
    s_.directives_enabled = false;
    if (plain) return true;
    if (entry) {
      // An entry that breaks none of scan_block_entry's rules, written here.
      const int32_t line = static_cast<int32_t>(c_.line);
      if (line == s_.implicit_key_line || line == s_.property_line || s_.document_start_line ||
          (s_.indent < column && s_.in_sequence && !after_entry && s_.dedented)) {
        scan_block_entry(after_entry);
        continue;
      }
      const Span at = c_.span();
      const uint32_t offset = static_cast<uint32_t>(at.offset);
      Token* q = room(2);
      if (s_.indent < column) {
        s_.indents.push_back(IndentLevel{s_.indent, s_.in_sequence});
        s_.indent = column;
        s_.in_sequence = true;
        *q++ = Token{TokenKind::SequenceStart, ScalarStyle::Plain, false, offset, at,
                     std::string_view()};
        ++s_.queue_size;
      }
      *q = Token{TokenKind::SequenceEntry, ScalarStyle::Plain, false, offset, at,
                 std::string_view()};
      ++s_.queue_size;
      advance_bytes(1);
      skip_one_space();
      s_.simple_key_allowed = true;
      // "- item", "- key: value": a plain scalar right after the entry is
      // deeper than the sequence, so the next round would only clear marks.
      if (kPlainStartAnywhere[c_.cur()]) {
        s_.dedented = false;
        return true;
      }
      s_.after_entry = true;
    } else if (ch == '"')
      scan_double_quoted();
    else
      scan_single_quoted();
  }
}

// The usual cases inline: the next token starts right here, a plain scalar
// at a column that closes no level, or one that closes levels by a dedent.
[[gnu::always_inline]] inline bool ScanEngine::next_plain_in_block() {
  uint64_t p = c_.position;
  const uint64_t len = c_.length;
  if (p < len && c_.text[p] == '\n') {
    // A key whose value starts on a later line: its line break and the
    // next line's indentation, as the slow road would take them.
    c_.position = p + 1;
    ++c_.line;
    c_.column = 0;
    s_.document_start_line = false;
    drop_key_from_other_line(c_.line);
    s_.simple_key_allowed = true;
    c_.skip_spaces();
    p = c_.position;
  }
  if (p < len) {
    const unsigned char ch = static_cast<unsigned char>(c_.text[p]);
    const int32_t column = static_cast<int32_t>(c_.column);
    if (kPlainStartAnywhere[ch] && column >= s_.indent &&
        !(column == s_.indent && s_.in_sequence) && !s_.property_check_pending) {
      return plain_line_taken(false);
    }
    // A dedent to a plain scalar: the closed levels' BlockEnds at the cursor.
    if (kPlainStartAnywhere[ch] && column < s_.indent && !s_.property_check_pending) {
      const Span at = c_.span();
      do {
        next_slot() = Token{TokenKind::BlockEnd, ScalarStyle::Plain, false,
                            static_cast<uint32_t>(p), at, std::string_view()};
        pop_block_level();
      } while (s_.indent > column);
      if (s_.in_sequence && column == s_.indent) {
        next_slot() = Token{TokenKind::BlockEnd, ScalarStyle::Plain, false,
                            static_cast<uint32_t>(p), at, std::string_view()};
        pop_block_level();
      }
      return plain_line_taken(true);
    }
    // "- item", "- key: value": an entry with a plain scalar after it, the
    // sequence's first or next, maybe after a dedent, as the slow road
    // writes it.
    if (ch == '-' && p + 2 < len && c_.text[p + 1] == ' ' &&
        kPlainStartAnywhere[static_cast<unsigned char>(c_.text[p + 2])] &&
        !s_.property_check_pending && !s_.document_start_line &&
        static_cast<int32_t>(c_.line) != s_.implicit_key_line &&
        static_cast<int32_t>(c_.line) != s_.property_line)
      return next_entry_in_block();
  }
  return next_plain_in_block_slow();
}

// The entry next_plain_in_block found at the cursor, a plain scalar after
// it: the BlockEnds of a dedent, the entry, a SequenceStart when it opens a
// sequence. An entry that breaks a rule once the dedent is taken goes to
// scan_block_entry, as on the slow road.
[[gnu::always_inline]] inline bool ScanEngine::next_entry_in_block() {
  const uint64_t p = c_.position;
  const int32_t column = static_cast<int32_t>(c_.column);
  const uint64_t fl = file_line(c_.file_id, c_.line);
  const bool after_entry = s_.after_entry;
  s_.tab_before = false;
  s_.after_block_value = false;
  s_.after_entry = false;
  s_.directives_enabled = false;
  bool dedented = false;
  if (s_.indent > column) {
    do {
      put_token(&next_slot(), TokenKind::BlockEnd, static_cast<uint32_t>(p), fl,
                static_cast<uint32_t>(column), p, std::string_view());
      pop_block_level();
    } while (s_.indent > column);
    dedented = true;
  }
  if (s_.indent < column && s_.in_sequence && !after_entry && dedented) [[unlikely]] {
    s_.dedented = true;
    scan_block_entry(after_entry);
    return next_plain_in_block_slow();
  }
  Token* q = room(2);
  if (s_.indent < column) {
    s_.indents.push_back(IndentLevel{s_.indent, s_.in_sequence});
    s_.indent = column;
    s_.in_sequence = true;
    put_token(q++, TokenKind::SequenceStart, static_cast<uint32_t>(p), fl,
              static_cast<uint32_t>(column), p, std::string_view());
    ++s_.queue_size;
  }
  put_token(q, TokenKind::SequenceEntry, static_cast<uint32_t>(p), fl,
            static_cast<uint32_t>(column), p, std::string_view());
  ++s_.queue_size;
  c_.position = p + 2;
  c_.column = static_cast<uint32_t>(column) + 2;
  s_.simple_key_allowed = true;
  s_.dedented = false;
  return true;
}

// The usual lines of a run, with the cursor, the block level and the marks
// they change kept in registers: the token stores would otherwise force the
// scanner's fields to be reloaded after each of them. Entered at a plain
// scalar, it takes keys ending at ": ", values ending their line, and the
// steps from one to the next: a value on the key's line, and at the start
// of a later line (past empty lines and comment lines that are not kept) a
// plain scalar or a block sequence entry with a plain scalar after it, after
// a dedent's BlockEnds too. Lines taken are counted in `n`. Anything else
// stops it, the scanner's fields left as the general routines would have
// left them: AtScalar before the scalar it met (plain_block_line takes it),
// AfterLine after a line (next_plain_in_block goes on), Limit once `n` lines
// are taken, EntryAfterDedent at an entry that breaks a rule once a dedent's
// BlockEnds are written (scan_block_entry fails or takes it).
ScanEngine::RunStop ScanEngine::run_usual_lines(int& n) {
  if (s_.document_start_line || s_.property_check_pending || s_.tab_before ||
      s_.possible_key.state != SimpleKeyState::Absent)
    return RunStop::AtScalar;
  const char* const t = c_.text;
  const uint64_t len = c_.length;
  uint64_t pos = c_.position;
  uint32_t col = c_.column;
  // File and line in the word the tokens take them in.
  uint64_t fl = file_line(c_.file_id, c_.line);
  int32_t indent = s_.indent;
  bool in_sequence = s_.in_sequence;
  bool key_allowed = s_.simple_key_allowed;
  bool after_key = s_.after_block_value;
  bool dedented = s_.dedented;
  // The line of the last key taken, in its word (no line has the highest).
  const uint64_t no_key = ~uint64_t(0);
  uint64_t key_fl = s_.implicit_key_line < 0
                        ? no_key
                        : file_line(c_.file_id, static_cast<uint32_t>(s_.implicit_key_line));
  // The queue's size is written back once, at the end.
  Token* q = s_.queue.data() + s_.queue_size;
  Token* qcap = std::to_address(s_.queue.end());
  // Room for `k` more tokens at q.
  const auto room_for = [&](uint64_t k) {
    if (q + k > qcap) [[unlikely]] {
      const uint64_t size = static_cast<uint64_t>(q - s_.queue.data());
      while (size + k > s_.queue.size()) extend_queue();
      q = s_.queue.data() + size;
      qcap = std::to_address(s_.queue.end());
    }
  };
  // A deeper block level at `column`, its MappingStart or SequenceStart at
  // `at` (room for it already made).
  const auto open_level = [&](int32_t column, bool sequence, uint64_t at) {
    s_.indents.push_back(IndentLevel{indent, in_sequence});
    indent = column;
    in_sequence = sequence;
    put_token(q++, sequence ? TokenKind::SequenceStart : TokenKind::MappingStart,
              static_cast<uint32_t>(at), fl, col, at, std::string_view());
  };
  // The innermost level closed, its BlockEnd at the cursor.
  const auto close_level = [&] {
    room_for(1);
    put_token(q++, TokenKind::BlockEnd, static_cast<uint32_t>(pos), fl, col, pos,
              std::string_view());
    if (s_.indents.empty()) {
      indent = -1;
      in_sequence = false;
    } else {
      indent = s_.indents.back().indent;
      in_sequence = s_.indents.back().sequence;
      s_.indents.pop_back();
    }
  };
  int taken = n;
  RunStop why;
  for (;;) {
    {
      // A plain scalar at `pos`: its stop. A ":" before a non-blank and a
      // "#" after one are text.
      const uint64_t from = pos;
      uint64_t stop = from;
      unsigned char b;
      for (;; ++stop) {
        stop = find_run_stop(t, stop, len);
        if (stop >= len) goto at_scalar;
        b = static_cast<unsigned char>(t[stop]);
        if (b == ':') {
          if (kBlankBreakEnd[stop + 1 < len ? static_cast<unsigned char>(t[stop + 1]) : 0]) break;
        } else if (b == '\t') {
          continue;
        } else if (b != '#' ||
                   (stop > from && is_blank(static_cast<unsigned char>(t[stop - 1])))) {
          break;
        }
      }
      // The scalar's end, before its trailing blanks; an empty one is
      // plain_block_line's.
      if (stop == from) goto at_scalar;
      uint64_t end = stop;
      if (is_blank(static_cast<unsigned char>(t[end - 1]))) [[unlikely]] {
        do --end;
        while (end > from && is_blank(static_cast<unsigned char>(t[end - 1])));
        if (end == from) goto at_scalar;
      }
      if (b == ':') {
        if (!key_allowed) goto at_scalar;
        room_for(4);
        const int32_t key_column = static_cast<int32_t>(col);
        if (indent < key_column) open_level(key_column, false, from);
        put_token(q, TokenKind::Key, static_cast<uint32_t>(from), fl, col, from,
                  std::string_view());
        put_token(q + 1, TokenKind::Scalar, static_cast<uint32_t>(end), fl, col, from,
                  std::string_view(t + from, end - from));
        put_token(q + 2, TokenKind::Value, static_cast<uint32_t>(stop), fl,
                  col + static_cast<uint32_t>(stop - from), stop, std::string_view());
        q += 3;
        // Past the ":" and its SPACE by a branch, not by arithmetic on the
        // byte read: the search that follows then waits for no load. The
        // empty statement keeps the compiler from making it arithmetic.
        pos = stop + 1;
        if (pos < len && t[pos] == ' ') {
          ++pos;
          __asm__ volatile("" : "+r"(pos));
        }
        col += static_cast<uint32_t>(pos - from);
        key_allowed = false;
        after_key = true;
        key_fl = fl;
        if (++taken == kPlainLinesPerCall) {
          why = RunStop::Limit;
          break;
        }
        if (pos >= len) goto after_line;
        const unsigned char ch = static_cast<unsigned char>(t[pos]);
        if (kPlainStartAnywhere[ch]) {
          // The value on the key's line: deeper than the key.
          after_key = false;
          dedented = false;
          continue;
        }
        uint64_t line_break = pos;
        if (ch == '\'' || ch == '"') {
          // A quoted value that is a stretch of ASCII text on the key's line
          // (no escape, no doubled quote), only SPACEs after it on the line:
          // its token as the general road writes it.
          const uint64_t close = find_simple_quote_end(t, pos + 1, len, static_cast<char>(ch));
          if (close >= len || static_cast<unsigned char>(t[close]) != ch ||
              (ch == '\'' && close + 1 < len && t[close + 1] == '\''))
            goto after_line;
          const uint64_t after = close + 1;
          line_break = skip_space_run(t, after, len);
          if (line_break < len && t[line_break] != '\n') goto after_line;
          room_for(1);
          put_token(q++, TokenKind::Scalar, static_cast<uint32_t>(after), fl, col, pos,
                    std::string_view(t + pos + 1, close - (pos + 1)),
                    ch == '"' ? ScalarStyle::DoubleQuoted : ScalarStyle::SingleQuoted);
          after_key = false;
          dedented = false;
          if (line_break >= len) {
            col += static_cast<uint32_t>(after - pos);
            pos = after;
            goto after_line;
          }
        } else if (ch != '\n') {
          goto after_line;
        }
        // The line break ending the key's line and the next line's
        // indentation.
        const uint64_t p = skip_space_run(t, line_break + 1, len);
        col = static_cast<uint32_t>(p - (line_break + 1));
        pos = p;
        fl += uint64_t(1) << 32;
        key_allowed = true;
      } else if (b == '#') {
        // A value ended by a comment; one that is not kept is passed up to
        // its line break, which the step below takes.
        room_for(1);
        put_token(q++, TokenKind::Scalar, static_cast<uint32_t>(end), fl, col, from,
                  std::string_view(t + from, end - from));
        key_allowed = false;
        const uint64_t e = s_.keep_comments ? len : find_line_end(t, stop + 1, len);
        if (++taken == kPlainLinesPerCall || e >= len || t[e] != '\n') {
          col += static_cast<uint32_t>(stop - from);
          pos = stop;
          if (taken != kPlainLinesPerCall) goto after_line;
          why = RunStop::Limit;
          break;
        }
        pos = e;
      } else {
        if (b != '\n') goto at_scalar;
        // A value ending its line: the indentation of the next line that is
        // not empty must close it; TABs and CRs are plain_block_line's.
        uint64_t line_start = stop + 1;
        uint64_t lines = 1;
        uint64_t p = skip_space_run(t, line_start, len);
        while (p < len && t[p] == '\n') {
          line_start = p + 1;
          ++lines;
          p = skip_space_run(t, line_start, len);
        }
        const uint32_t column = static_cast<uint32_t>(p - line_start);
        if (p < len) {
          const unsigned char next = static_cast<unsigned char>(t[p]);
          if (next == '\r' || next == '\t' || next == ':' || static_cast<int32_t>(column) > indent)
            goto at_scalar;
        }
        room_for(1);
        put_token(q++, TokenKind::Scalar, static_cast<uint32_t>(end), fl, col, from,
                  std::string_view(t + from, end - from));
        pos = p;
        col = column;
        fl += lines << 32;
        key_allowed = true;
        if (++taken == kPlainLinesPerCall) {
          why = RunStop::Limit;
          break;
        }
      }
    }
    // At the first non-SPACE of a new line (or a line break): past empty
    // lines and comment lines, the step to its first token when that is a
    // plain scalar, or an entry with a plain scalar after it.
    for (;;) {
      if (pos >= len) goto after_line;
      const unsigned char ch = static_cast<unsigned char>(t[pos]);
      uint64_t line_start;
      if (ch == '\n') {
        line_start = pos + 1;
      } else if (ch == '#' && !s_.keep_comments) {
        const uint64_t e = find_line_end(t, pos + 1, len);
        if (e >= len || t[e] != '\n') goto after_line;
        line_start = e + 1;
      } else {
        break;
      }
      pos = skip_space_run(t, line_start, len);
      col = static_cast<uint32_t>(pos - line_start);
      fl += uint64_t(1) << 32;
      key_allowed = true;
    }
    {
      const unsigned char ch = static_cast<unsigned char>(t[pos]);
      const int32_t column = static_cast<int32_t>(col);
      if (kPlainStartAnywhere[ch]) {
        if (column > indent || (column == indent && !in_sequence)) {
          after_key = false;
          dedented = false;
          continue;
        }
        if (column == indent) goto after_line;
        // A dedent: the closed levels' BlockEnds at the cursor, and the
        // sequence a line at its column ends.
        do {
          close_level();
        } while (indent > column);
        if (in_sequence && column == indent) {
          close_level();
        }
        after_key = false;
        dedented = true;
        continue;
      }
      // "- item", "- key: value": the sequence's first entry or its next,
      // after the BlockEnds of a dedent. One that breaks a rule once they
      // are written is scan_block_entry's, as on the general road.
      if (ch == '-' && pos + 2 < len && t[pos + 1] == ' ' &&
          kPlainStartAnywhere[static_cast<unsigned char>(t[pos + 2])] && fl != key_fl &&
          static_cast<int32_t>(fl >> 32) != s_.property_line) {
        after_key = false;
        if (indent > column) {
          do {
            close_level();
          } while (indent > column);
          if (indent < column && in_sequence) [[unlikely]] {
            dedented = true;
            why = RunStop::EntryAfterDedent;
            break;
          }
        }
        room_for(2);
        if (indent < column) open_level(column, true, pos);
        put_token(q++, TokenKind::SequenceEntry, static_cast<uint32_t>(pos), fl, col, pos,
                  std::string_view());
        pos += 2;
        col += 2;
        key_allowed = true;
        after_key = false;
        dedented = false;
        continue;
      }
    }
  after_line:
    why = RunStop::AfterLine;
    break;
  at_scalar:
    why = RunStop::AtScalar;
    break;
  }
  c_.position = pos;
  c_.line = static_cast<uint32_t>(fl >> 32);
  c_.column = col;
  s_.indent = indent;
  s_.in_sequence = in_sequence;
  s_.simple_key_allowed = key_allowed;
  s_.after_block_value = after_key;
  s_.dedented = dedented;
  // A key taken here is on a line after the one recorded before: a line
  // has one implicit key at most.
  if (key_fl != no_key && static_cast<int32_t>(key_fl >> 32) != s_.implicit_key_line) {
    s_.implicit_key_line = static_cast<int32_t>(key_fl >> 32);
    s_.flow_node_seen = false;
  }
  s_.queue_size = static_cast<uint64_t>(q - s_.queue.data());
  n = taken;
  return why;
}

// Runs of simple lines ("key: value", "- item", "key:" and the lines under
// it, quoted scalars among them) are taken in one call, a bounded number at
// a time so that the pump's batches stay small.
bool ScanEngine::scan_plain_block_line() {
  // The first line on the general road: when what follows it is no plain
  // scalar (a flow collection after a key, say), entering the run would
  // cost more than it saves.
  int n = 0;
  RunStop stop = RunStop::AtScalar;
  for (;;) {
    switch (stop) {
      case RunStop::Limit:
        return true;
      case RunStop::AfterLine:
        break;
      case RunStop::EntryAfterDedent:
        scan_block_entry(false);
        if (!next_plain_in_block_slow()) return true;
        stop = run_usual_lines(n);
        continue;
      case RunStop::AtScalar: {
        const PlainLine r = plain_block_line();
        if (r == PlainLine::Declined) {
          if (n == 0) return false;
          scan_plain_general();
          return true;
        }
        if (r == PlainLine::Done || ++n == kPlainLinesPerCall) return true;
        break;
      }
    }
    if (!next_plain_in_block()) return true;
    stop = run_usual_lines(n);
  }
}

// The usual flow scalar: ASCII text ending on its line at ",", "]", "}" or
// at a ":" that makes it a key. Anything else returns false having changed
// nothing, for the general scan.
bool ScanEngine::scan_plain_flow_line() {
  const char* t = c_.text;
  const uint64_t len = c_.length;
  const uint64_t from = c_.position;
  const uint64_t pos = find_plain_stop(t, from, len, true, kPlainStopFlow);
  if (pos >= len) return false;
  const unsigned char b = static_cast<unsigned char>(t[pos]);
  bool at_value = false;
  if (b == ':') {
    const unsigned char n = pos + 1 < len ? static_cast<unsigned char>(t[pos + 1]) : 0;
    if (!kBlankBreakEndFlowInd[n]) return false;
    at_value = true;
  } else if (!(b == ',' || b == ']' || b == '}')) {
    return false;
  }
  uint64_t end = pos;
  while (end > from && is_blank(static_cast<unsigned char>(t[end - 1]))) --end;
  if (end == from) return false;
  const Span start = c_.span();
  const bool key_allowed = s_.simple_key_allowed;
  c_.position = pos;
  c_.column += static_cast<uint32_t>(pos - from);
  s_.simple_key_allowed = false;
  const std::string_view text = view(from, end);
  if (at_value && key_allowed && !s_.flow_explicit_key) {
    make_flow_key(text, ScalarStyle::Plain, start, end);
    // A plain scalar right after the ": " is taken here, as the step after
    // this one would take it (the entry is then present, as the dispatch
    // of this key would record on return).
    if (c_.position < len) {
      const unsigned char ch = static_cast<unsigned char>(t[c_.position]);
      if (ch > ' ' && !kFlowSpecial[ch] && !s_.property_check_pending) {
        s_.flow_entry_present = true;
        s_.tab_before = false;
        s_.flow_adjacent_value = false;
        scan_plain_scalar();
      }
    }
    return true;
  }
  push_text(TokenKind::Scalar, start, end, text, ScalarStyle::Plain);
  s_.flow_node_seen = true;
  s_.last_flow_node_line = start.line;
  return true;
}

void ScanEngine::scan_plain_general() {
  const Span start = c_.span();
  const int32_t block_indent = s_.indent;
  const bool key_allowed = s_.simple_key_allowed;
  const bool tab_before = s_.tab_before;
  const bool flow = s_.flow_level > 0;
  const ByteTable& stop = flow ? kPlainStopFlow : kPlainStopBlock;
  const char* t = c_.text;
  const uint64_t len = c_.length;

  uint64_t pos = c_.position;
  uint32_t col = c_.column;
  uint64_t content_end = pos;
  bool built = false;          // text lives in scratch_
  uint32_t empty_lines = 0;    // separator of the fold in progress
  bool continuation = false;   // scanning a line after a fold

  for (;;) {
    // One line of the scalar: content runs up to a stop or the line end.
    const uint64_t line_start = pos;
    uint64_t line_end = pos;
    for (;;) {
      const uint64_t run = pos;
      pos = find_plain_stop(t, pos, len, flow, stop);
      col += static_cast<uint32_t>(pos - run);  // ordinary bytes are ASCII
      if (pos > run) {
        // Blanks at the end of the run are not content (yet).
        uint64_t e = pos;
        while (e > run && is_blank(static_cast<unsigned char>(t[e - 1]))) --e;
        if (e > run) line_end = e;
      }
      if (pos >= len) break;
      const unsigned char b = static_cast<unsigned char>(t[pos]);
      if (b >= 0x80) {
        pos = std::min<uint64_t>(pos + utf8_length(b), len);
        ++col;
        line_end = pos;
        continue;
      }
      if (b == ':') {
        const unsigned char n = pos + 1 < len ? static_cast<unsigned char>(t[pos + 1]) : 0;
        if (kBlankBreakEnd[n] || (flow && kFlowIndicator[n])) break;
        ++pos;
        ++col;
        line_end = pos;
        continue;
      }
      if (b == '#') {
        if (pos > 0 && is_blank(static_cast<unsigned char>(t[pos - 1]))) break;
        ++pos;
        ++col;
        line_end = pos;
        continue;
      }
      if (b == '\n' || b == '\r') break;
      if (flow && kFlowIndicator[b]) break;
      // Other control bytes never pass the control check; take them as text.
      ++pos;
      ++col;
      line_end = pos;
    }

    if (line_end > line_start) {
      if (continuation) {
        if (!built) {
          scratch_.assign(t + start.offset, content_end - start.offset);
          built = true;
        }
        if (empty_lines == 0)
          scratch_.push_back(' ');
        else
          scratch_.append(empty_lines, '\n');
        scratch_.append(t + line_start, line_end - line_start);
      }
      content_end = line_end;
    }
    c_.position = pos;
    c_.column = col;
    if (pos >= len || !is_break(static_cast<unsigned char>(t[pos]))) break;

    // Folding: the breaks, empty lines and indentation stay consumed even
    // when the scalar ends here.
    c_.consume_line_break();
    c_.skip_blanks();
    empty_lines = 0;
    while (is_break(c_.cur())) {
      ++empty_lines;
      c_.consume_line_break();
      c_.skip_blanks();
    }
    if (c_.at_end()) break;
    if (!flow && static_cast<int32_t>(c_.column) <= block_indent) break;
    // A document marker ends the scalar in either context; inside a flow
    // collection the flow rules then report it.
    if (c_.column == 0 && c_.is_document_marker()) break;
    const unsigned char first = c_.cur();
    if (first == '#') break;
    if ((first == ':' || first == '?') && kBlankBreakEnd[c_.byte_at(1)]) break;
    if (flow && (first == '[' || first == '{')) break;
    continuation = true;
    pos = c_.position;
    col = c_.column;
  }

  const bool multiline = c_.line > start.line;
  s_.simple_key_allowed = !flow && multiline;
  if (!flow) drop_key_from_other_line(c_.line);

  const std::string_view text =
      built ? s_.strings.store(scratch_) : view(start.offset, content_end);

  const unsigned char n = c_.byte_at(1);
  const bool at_value = c_.cur() == ':' && !c_.at_end() &&
                        (kBlankBreakEnd[n] || (flow && kFlowIndicator[n]));
  if (key_allowed && !(flow && s_.flow_explicit_key) && at_value) {
    if (!flow) {
      if (!multiline) return make_scalar_key(text, ScalarStyle::Plain, start, content_end, tab_before);
      if (c_.column >= start.column)
        fail("an implicit mapping key cannot span multiple lines", start);
      // A ":" left of the scalar belongs to an outer level: not a key.
    } else {
      if (!s_.flow_levels.empty() && !s_.flow_levels.back().mapping && c_.line != start.line)
        fail("the implicit key of a flow sequence pair must be on one line", start);
      return make_flow_key(text, ScalarStyle::Plain, start, content_end);
    }
  } else if (flow && multiline && !s_.flow_explicit_key && at_value) {
    fail("missing ',' between flow collection entries", start);
  }

  push_text(TokenKind::Scalar, start, content_end, text, ScalarStyle::Plain);
  if (flow) {
    s_.flow_node_seen = true;
    s_.last_flow_node_line = start.line;
  }
}

// ---------------------------------------------------------------------------
// Quoted scalars

void ScanEngine::fold_quoted_line_break(std::string& buffer, int64_t block_indent, Span start) {
  c_.consume_line_break();
  uint32_t empty_lines = 0;
  for (;;) {
    c_.skip_spaces();
    const unsigned char ch = c_.cur();
    if (is_break(ch) || (ch == '\t' && is_break(first_non_blank()))) {
      ++empty_lines;
      c_.skip_blanks();
      c_.consume_line_break();
      if (c_.at_end()) break;
      continue;
    }
    break;
  }
  if (!c_.at_end() && !is_break(c_.cur()) && static_cast<int64_t>(c_.column) <= block_indent)
    fail("a multi-line quoted scalar must be indented past its block context", c_.span());
  c_.skip_blanks();
  if (empty_lines == 0)
    buffer.push_back(' ');
  else
    buffer.append(empty_lines, '\n');
  if (c_.is_document_marker())
    fail("a document marker cannot appear inside a quoted scalar", start);
}

void ScanEngine::scan_single_quoted() {
  const Span start = c_.span();
  const bool key_allowed = s_.simple_key_allowed;
  const bool tab_before = s_.tab_before;
  const int64_t block_indent = s_.flow_level > 0 ? INT64_MIN : s_.indent;
  const char* t = c_.text;
  const uint64_t len = c_.length;
  advance_bytes(1);
  bool built = false;
  uint64_t seg = c_.position;
  std::string_view text;
  for (;;) {
    const uint64_t p = advance_to_quoted_stop(c_, '\'', false);
    if (p >= len) fail("unterminated single-quoted scalar", start);
    const unsigned char b = static_cast<unsigned char>(t[p]);
    if (b == '\'') {
      if (p + 1 < len && t[p + 1] == '\'') {
        start_scratch(built);
        scratch_.append(t + seg, p - seg);
        scratch_.push_back('\'');
        advance_bytes(2);
        seg = c_.position;
        continue;
      }
      text = close_quoted(built, seg, p);
      advance_bytes(1);
      break;
    }
    // Line break: trailing blanks of the line go, then the fold.
    start_scratch(built);
    scratch_.append(t + seg, p - seg);
    while (!scratch_.empty() && is_blank(static_cast<unsigned char>(scratch_.back())))
      scratch_.pop_back();
    fold_quoted_line_break(scratch_, block_indent, start);
    seg = c_.position;
  }
  push_quoted_scalar(text, ScalarStyle::SingleQuoted, start, c_.span(), key_allowed, tab_before);
}

char32_t ScanEngine::scan_unicode_escape(int digits, Span start) {
  uint32_t cp = 0;
  for (int i = 0; i < digits; ++i) {
    if (c_.at_end()) fail("incomplete unicode escape", start);
    const unsigned char ch = c_.cur();
    uint32_t v;
    if (ch >= '0' && ch <= '9')
      v = ch - '0';
    else if (ch >= 'a' && ch <= 'f')
      v = ch - 'a' + 10;
    else if (ch >= 'A' && ch <= 'F')
      v = ch - 'A' + 10;
    else
      fail("invalid hex digit in unicode escape: '" + char_at(c_) + "'", c_.span());
    cp = cp * 16 + v;
    advance_bytes(1);
  }
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
    fail(format_code_point("invalid unicode code point: ", cp), start);
  return cp;
}

void ScanEngine::scan_double_quoted() {
  const Span start = c_.span();
  const bool key_allowed = s_.simple_key_allowed;
  const bool tab_before = s_.tab_before;
  const int64_t block_indent = s_.flow_level > 0 ? INT64_MIN : s_.indent;
  const char* t = c_.text;
  const uint64_t len = c_.length;
  advance_bytes(1);
  bool built = false;
  size_t keep = 0;
  uint64_t seg = c_.position;
  std::string_view text;
  for (;;) {
    const uint64_t p = advance_to_quoted_stop(c_, '"', true);
    if (p >= len) fail("unterminated double-quoted scalar", start);
    const unsigned char b = static_cast<unsigned char>(t[p]);
    if (b == '"') {
      text = close_quoted(built, seg, p);
      advance_bytes(1);
      break;
    }
    start_scratch(built);
    if (b == '\\') {
      scratch_.append(t + seg, p - seg);
      advance_bytes(1);
      if (c_.at_end()) fail("unterminated escape sequence", start);
      const unsigned char e = c_.cur();
      char32_t cp = 0;
      bool simple = true;
      switch (e) {
        case '0': cp = 0x00; break;
        case 'a': cp = 0x07; break;
        case 'b': cp = 0x08; break;
        case 't': case '\t': cp = 0x09; break;
        case 'n': cp = 0x0A; break;
        case 'v': cp = 0x0B; break;
        case 'f': cp = 0x0C; break;
        case 'r': cp = 0x0D; break;
        case 'e': cp = 0x1B; break;
        case ' ': cp = 0x20; break;
        case '"': cp = 0x22; break;
        case '/': cp = 0x2F; break;
        case '\\': cp = 0x5C; break;
        case 'N': cp = 0x85; break;
        case '_': cp = 0xA0; break;
        case 'L': cp = 0x2028; break;
        case 'P': cp = 0x2029; break;
        default: simple = false; break;
      }
      if (simple) {
        append_utf8(scratch_, cp);
        advance_bytes(1);
      } else if (e == 'x' || e == 'u' || e == 'U') {
        advance_bytes(1);
        append_utf8(scratch_, scan_unicode_escape(e == 'x' ? 2 : e == 'u' ? 4 : 8, start));
      } else if (is_break(e)) {
        // Escaped line break: the lines join with nothing between them.
        c_.consume_line_break();
        c_.skip_spaces();
        while (is_break(c_.cur())) {
          scratch_.push_back('\n');
          c_.consume_line_break();
          c_.skip_spaces();
        }
        if (c_.is_document_marker())
          fail("a document marker cannot appear inside a quoted scalar", start);
      } else {
        fail("unknown escape character: '\\" + char_at(c_) + "'", c_.span());
      }
      keep = scratch_.size();
      seg = c_.position;
      continue;
    }
    // Line break: literal trailing blanks go, blanks made by escapes stay.
    const size_t before = scratch_.size();
    scratch_.append(t + seg, p - seg);
    size_t last = scratch_.size();
    while (last > before && is_blank(static_cast<unsigned char>(scratch_[last - 1]))) --last;
    if (last > before) keep = last;
    scratch_.resize(keep);
    fold_quoted_line_break(scratch_, block_indent, start);
    seg = c_.position;
  }
  push_quoted_scalar(text, ScalarStyle::DoubleQuoted, start, c_.span(), key_allowed, tab_before);
}

void ScanEngine::push_quoted_scalar(std::string_view text, ScalarStyle style, Span start,
                                    Span after, bool key_allowed, bool tab_before) {
  s_.simple_key_allowed = false;
  const bool flow = s_.flow_level > 0;
  if (key_allowed && !(flow && s_.flow_explicit_key)) {
    c_.skip_spaces();
    bool is_key = false;
    if (c_.cur() == ':' && !c_.at_end()) {
      const unsigned char n = c_.byte_at(1);
      if (kBlankBreakEnd[n]) {
        if (flow || c_.line == start.line)
          is_key = true;
        else
          fail("an implicit mapping key cannot span multiple lines", start);
      } else if (flow && kFlowIndicator[n]) {
        is_key = true;
      }
    }
    if (is_key) {
      if (flow) return make_flow_key(text, style, start, after.offset);
      return make_scalar_key(text, style, start, after.offset, tab_before);
    }
    c_.position = after.offset;
    c_.column = after.column;
  }
  if (!flow) {
    const unsigned char n = first_non_blank();
    if (!(n == 0 || is_break(n) || n == '#' || n == ':'))
      fail("unexpected content after quoted scalar", after);
  }
  push_text(TokenKind::Scalar, start, after.offset, text, style);
  if (flow) {
    s_.flow_node_seen = true;
    s_.last_flow_node_line = start.line;
    s_.flow_adjacent_value = true;
  }
}

// ---------------------------------------------------------------------------
// Block scalars

uint32_t ScanEngine::skip_indented_empty_lines(int32_t n) {
  uint32_t count = 0;
  const char* t = c_.text;
  const uint64_t len = c_.length;
  for (;;) {
    // SPACEs up to column n, eight at a time.
    const uint64_t from = c_.position;
    const int64_t room = static_cast<int64_t>(n) - static_cast<int64_t>(c_.column);
    if (room > 0) {
      const uint64_t to = skip_space_run(t, from, std::min<uint64_t>(len, from + room));
      c_.position = to;
      c_.column += static_cast<uint32_t>(to - from);
    }
    if (!is_break(c_.cur())) return count;
    c_.consume_line_break();
    ++count;
  }
}

void ScanEngine::scan_block_scalar(bool literal) {
  enum class Chomp { Strip, Clip, Keep };
  const Span indicator = c_.span();
  const char* t = c_.text;
  const uint64_t len = c_.length;
  advance_bytes(1);

  // Header: chomping and indentation indicators, in either order.
  Chomp chomp = Chomp::Clip;
  bool have_chomp = false;
  int32_t digit = 0;
  for (;;) {
    const unsigned char ch = c_.cur();
    if ((ch == '+' || ch == '-') && !have_chomp) {
      have_chomp = true;
      chomp = ch == '+' ? Chomp::Keep : Chomp::Strip;
      advance_bytes(1);
    } else if (ch >= '1' && ch <= '9' && digit == 0) {
      digit = ch - '0';
      advance_bytes(1);
    } else {
      break;
    }
  }
  for (;;) {
    const unsigned char ch = c_.cur();
    if (c_.at_end() || is_break(ch)) break;
    if (is_blank(ch)) {
      advance_bytes(1);
      continue;
    }
    if (ch == '#') {
      const unsigned char prev = static_cast<unsigned char>(t[c_.position - 1]);
      if (!is_blank(prev) && !is_break(prev))
        fail_comment_without_blank(c_.span());
      advance_to_line_end();
      break;
    }
    fail("unexpected content after block scalar indicator", c_.span());
  }
  if (is_break(c_.cur())) c_.consume_line_break();

  // Content indentation: given, or taken from the first non-empty line.
  const int32_t indent = s_.indent;
  int32_t n = 0;
  bool empty = false;
  if (digit != 0) {
    n = std::max(indent, 0) + digit;
  } else if (c_.at_end()) {
    if (indent >= 0) empty = true;
  } else {
    uint64_t p = c_.position;
    int32_t widest = 0;
    bool content = false;
    for (;;) {
      uint64_t q = p;
      while (q < len && t[q] == ' ') ++q;
      const int32_t w = static_cast<int32_t>(std::min<uint64_t>(q - p, INT32_MAX));
      if (q >= len) {
        n = 0;
        break;
      }
      if (is_break(static_cast<unsigned char>(t[q]))) {
        widest = std::max(widest, w);
        p = q + 1;
        if (t[q] == '\r' && p < len && t[p] == '\n') ++p;
        continue;
      }
      n = w;
      content = true;
      break;
    }
    // Only blank lines up to the end: no content, whatever their SPACEs
    // (at top level they would otherwise be taken for content or for
    // over-indented leading lines).
    if (!content || n <= indent)
      empty = true;
    else if (n < widest)
      fail("a leading empty line in a block scalar is indented more than the content", indicator);
  }

  scratch_.clear();
  if (!empty) {
    uint32_t pending = skip_indented_empty_lines(n);
    uint32_t trailing = pending;
    while (static_cast<int32_t>(c_.column) == n && !c_.at_end() && !c_.is_document_marker()) {
      if (pending != 0) scratch_.append(pending, '\n');
      const unsigned char first = c_.cur();
      const bool more_indented = is_blank(first);
      const uint64_t from = c_.position;
      // The line's end; at the end of input advance_to_line_end counts the
      // column too.
      uint64_t to = find_line_end(t, from, len);
      if (to < len)
        c_.position = to;
      else
        to = advance_to_line_end();
      scratch_.append(t + from, to - from);
      const bool broke = is_break(c_.cur());
      if (broke) c_.consume_line_break();
      pending = skip_indented_empty_lines(n);
      if (static_cast<int32_t>(c_.column) != n || c_.at_end() || c_.is_document_marker()) {
        trailing = pending + (broke ? 1 : 0);
        break;
      }
      if (literal || more_indented || is_blank(c_.cur()))
        scratch_.push_back('\n');
      else if (pending == 0)
        scratch_.push_back(' ');
      trailing = pending;
    }
    switch (chomp) {
      case Chomp::Strip:
        break;
      case Chomp::Clip:
        if (!scratch_.empty()) scratch_.push_back('\n');
        break;
      case Chomp::Keep:
        scratch_.append(trailing, '\n');
        break;
    }
  } else {
    // No content line: only blank lines belong to the scalar; each counts,
    // the last one too when the input ends without its line break.
    uint32_t lines = 0;
    while (!c_.at_end()) {
      const unsigned char fnb = first_non_blank();
      if (!(fnb == 0 || is_break(fnb))) break;
      c_.skip_spaces();
      if (c_.cur() == '\t') fail("a tab cannot be used for indentation", c_.span());
      ++lines;
      if (!is_break(c_.cur())) break;
      c_.consume_line_break();
    }
    if (chomp == Chomp::Keep) scratch_.append(lines, '\n');
  }

  s_.simple_key_allowed = true;
  s_.possible_key.state = SimpleKeyState::Absent;
  push_text(TokenKind::Scalar, indicator, c_.position, s_.strings.store(scratch_),
            literal ? ScalarStyle::Literal : ScalarStyle::Folded);
}

}  // namespace qf::scan_detail
