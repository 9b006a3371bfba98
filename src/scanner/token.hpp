// The scanner's output vocabulary: positions, tokens, scan errors and the
// comments it can keep. The loaders and the round-trip composer walk the
// finished token vector by index.
#pragma once
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qf {

// A position in a source text. Lines and columns are 0-based; columns count
// characters (a TAB is one column); the offset counts bytes from the first
// byte of the text, byte-order mark included.
struct Span {
  uint32_t file_id = 0;
  uint32_t line = 0;
  uint32_t column = 0;
  uint64_t offset = 0;

  friend bool operator==(const Span&, const Span&) = default;
};

enum class ScalarStyle : uint8_t {
  Plain = 0,
  SingleQuoted = 1,
  DoubleQuoted = 2,
  Literal = 3,
  Folded = 4,
};

enum class TokenKind : uint8_t {
  StreamStart = 0,
  StreamEnd = 1,
  DocumentStart = 2,   // "---"
  DocumentEnd = 3,     // "..."
  MappingStart = 4,    // payload: flow
  MappingEnd = 5,      // "}"
  SequenceStart = 6,   // payload: flow
  SequenceEnd = 7,     // "]"
  BlockEnd = 8,
  Key = 9,             // payload: explicit
  Value = 10,          // ":"
  SequenceEntry = 11,  // block "-"
  FlowEntry = 12,      // ","
  Scalar = 13,         // payload: text, style
  Anchor = 14,         // payload: text (name without "&")
  Alias = 15,          // payload: text (name without "*")
  Tag = 16,            // payload: text, the tag as written
  Directive = 17,      // payload: text after "%", raw and untrimmed
};

const char* token_kind_name(TokenKind kind) noexcept;

// What may follow a document's root: a document marker, a directive or the
// end of the stream; anything else is trailing content.
constexpr bool may_follow_document(TokenKind kind) noexcept {
  return kind == TokenKind::StreamEnd || kind == TokenKind::DocumentStart || kind == TokenKind::DocumentEnd ||
         kind == TokenKind::Directive;
}

// One record of the token vector.
//
// `text` is the payload of Scalar, Anchor, Alias, Tag and Directive tokens
// (empty for the others). It views either the input text (when nothing was
// folded or escaped) or string storage owned by the Scanner that produced the
// token: keep both the input and that Scanner alive while using the tokens.
//
// Laid out in 48 bytes (the vector holds one record per few bytes of input):
// `end_offset` is 32-bit because the scanner refuses texts of 2^31 bytes or
// more (kMaxScanLength), so every offset fits.
struct Token {
  TokenKind kind = TokenKind::StreamStart;
  ScalarStyle style = ScalarStyle::Plain;  // Scalar only
  bool flag = false;  // MappingStart/SequenceStart: flow; Key: explicit
  uint32_t end_offset = 0;
  Span span;
  std::string_view text;

  bool flow() const noexcept { return flag; }          // MappingStart, SequenceStart
  bool is_explicit() const noexcept { return flag; }   // Key
};

// The allocator of token vectors. Growing one leaves the new tokens
// unwritten: the scanner makes room ahead and stores every field of a token
// before anything reads it, so constructing each new element first (the
// member defaults above) is wasted work on the scanner's most frequent
// write. Token is an aggregate, so its lifetime begins with the storage.
template <class T>
struct TokenAllocator : std::allocator<T> {
  TokenAllocator() noexcept = default;
  template <class U>
  TokenAllocator(const TokenAllocator<U>&) noexcept {}
  void construct(Token*) noexcept {}
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};
using TokenVector = std::vector<Token, TokenAllocator<Token>>;

// The one failure of a scan.
struct ScanError {
  std::string message;
  Span span;
};

// A comment kept when the scanner's keep_comments flag is set: the text after
// "#" with one following SPACE dropped and trailing white space removed; the
// span is that of the "#".
struct RawComment {
  std::string text;
  Span span;
};

}  // namespace qf
