// Shared by the libFuzzer target and the in-suite fuzz test: UTF-8 checking
// and the invariants every scan must keep, whatever the input.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "scanner/scanner.hpp"

namespace qf::fuzz {

// True when `s` is well-formed UTF-8 (no overlong forms, surrogates or code
// points above U+10FFFF): the scanner's input contract.
inline bool is_valid_utf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char b = p[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp;
    if (b >= 0xC2 && b <= 0xDF) {
      len = 2;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3;
      cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4;
      cp = b & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

// Replaces every byte that is not part of a well-formed sequence by '?'.
inline std::string make_valid_utf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    size_t len = 1;
    unsigned char b = static_cast<unsigned char>(s[i]);
    if (b >= 0x80) len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
    if (b < 0x80) {
      out += s[i];
    } else if (i + len <= s.size() && is_valid_utf8(s.substr(i, len))) {
      out.append(s.substr(i, len));
    } else {
      out += '?';
      len = 1;
    }
    i += len;
  }
  return out;
}

#define QF_FUZZ_CHECK(cond)                                                      \
  do {                                                                           \
    if (!(cond)) {                                                               \
      std::fprintf(stderr, "scanner invariant failed: %s (%s:%d)\n", #cond,      \
                   __FILE__, __LINE__);                                          \
      std::abort();                                                              \
    }                                                                            \
  } while (0)

// Scans `text` (valid UTF-8) and checks the result; returns whether the
// scan succeeded. Aborts on a broken invariant.
inline bool scan_and_check(std::string_view text, bool keep_comments, uint32_t file_id = 0) {
  Scanner scanner(text);
  scanner.keep_comments = keep_comments;
  scanner.cursor.file_id = file_id;
  TokenizeResult r = tokenize(scanner);
  const uint64_t len = text.size();
  uint64_t lines = 0;
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
      ++lines;
  if (!r.ok()) {
    QF_FUZZ_CHECK(r.tokens.empty());
    QF_FUZZ_CHECK(!r.error->message.empty());
    QF_FUZZ_CHECK(r.error->span.offset <= len);
    QF_FUZZ_CHECK(r.error->span.line <= lines);
    QF_FUZZ_CHECK(r.error->span.file_id == file_id);
    return false;
  }
  QF_FUZZ_CHECK(r.tokens.size() >= 2);
  QF_FUZZ_CHECK(r.tokens.front().kind == TokenKind::StreamStart);
  QF_FUZZ_CHECK(r.tokens.back().kind == TokenKind::StreamEnd);
  QF_FUZZ_CHECK(r.tokens.back().span.offset == len);
  int64_t block_open = 0, flow_open = 0;
  uint64_t checksum = 0;
  for (size_t i = 0; i < r.tokens.size(); ++i) {
    const Token& t = r.tokens[i];
    QF_FUZZ_CHECK(t.span.offset <= len);
    QF_FUZZ_CHECK(t.end_offset <= len);
    QF_FUZZ_CHECK(t.span.line <= lines);
    QF_FUZZ_CHECK(t.span.file_id == file_id);
    if (i > 0) QF_FUZZ_CHECK(t.kind != TokenKind::StreamStart);
    if (i + 1 < r.tokens.size()) QF_FUZZ_CHECK(t.kind != TokenKind::StreamEnd);
    switch (t.kind) {
      case TokenKind::MappingStart:
      case TokenKind::SequenceStart:
        if (t.flow())
          ++flow_open;
        else
          ++block_open;
        break;
      case TokenKind::MappingEnd:
      case TokenKind::SequenceEnd:
        --flow_open;
        QF_FUZZ_CHECK(flow_open >= 0);
        break;
      case TokenKind::BlockEnd:
        --block_open;
        QF_FUZZ_CHECK(block_open >= 0);
        break;
      case TokenKind::Scalar:
        QF_FUZZ_CHECK(t.end_offset >= t.span.offset);
        break;
      case TokenKind::Anchor:
      case TokenKind::Alias:
      case TokenKind::Tag:
        QF_FUZZ_CHECK(!t.text.empty());
        break;
      default:
        break;
    }
    // Touch every byte of the payload so a dangling view shows up under
    // the address sanitizer.
    for (char ch : t.text) checksum += static_cast<unsigned char>(ch);
  }
  QF_FUZZ_CHECK(block_open == 0);
  QF_FUZZ_CHECK(flow_open == 0);
  for (const RawComment& c : scanner.comments) {
    QF_FUZZ_CHECK(c.span.offset < len);
    QF_FUZZ_CHECK(text[c.span.offset] == '#');
    checksum += c.text.size();
  }
  if (!keep_comments) QF_FUZZ_CHECK(scanner.comments.empty());
  volatile uint64_t sink = checksum;
  (void)sink;
  return true;
}

}  // namespace qf::fuzz
