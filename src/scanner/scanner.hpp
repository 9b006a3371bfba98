// The scanner: one whole YAML text to the token vector in one call.
//
//   qf::Scanner scanner(text);          // text must stay alive
//   scanner.keep_comments = true;       // optional
//   scanner.cursor.file_id = 3;         // optional, for included files
//   qf::TokenizeResult r = qf::tokenize(scanner);
//   if (!r.ok()) report(r.error->message, r.error->span);
//   for (const qf::Token& t : r.tokens) ...
//   std::vector<qf::RawComment> comments = std::move(scanner.comments);
//
// Token texts view the input or the scanner's string storage, so the scanner
// must outlive the tokens.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/text_cursor.hpp"
#include "scanner/token.hpp"

namespace qf {

// Stable storage for scalar texts that had to be rebuilt (folding, escapes):
// chunks never move, so views into them survive moves of the scanner.
class TextArena {
 public:
  // Copies `s` into the arena and returns a view of the copy.
  std::string_view store(std::string_view s);

 private:
  std::vector<std::unique_ptr<char[]>> chunks_;
  char* cur_ = nullptr;
  size_t left_ = 0;
};

// An open flow collection: "{" or "[", and whether a ":" has been taken
// since the last "," (or the opening) at its level. One record per level, so
// the checks of a flow token read one byte each.
struct FlowLevel {
  bool mapping;
  bool value_taken;
};

// An enclosing block collection: its indentation and whether it is a
// sequence.
struct IndentLevel {
  int32_t indent;
  bool sequence;
};

// The stack of enclosing block levels. Real texts rarely nest deeper than
// the inline part, so a scan usually allocates nothing for it.
class IndentStack {
 public:
  bool empty() const noexcept { return size_ == 0; }
  const IndentLevel& back() const noexcept {
    return size_ <= kInline ? inline_[size_ - 1] : spill_.back();
  }
  void pop_back() noexcept {
    if (size_ > kInline) spill_.pop_back();
    --size_;
  }
  [[gnu::always_inline]] void push_back(IndentLevel level) {
    if (size_ < kInline) [[likely]]
      inline_[size_] = level;
    else
      spill(level);
    ++size_;
  }

 private:
  [[gnu::noinline]] void spill(IndentLevel level) { spill_.push_back(level); }

  static constexpr uint64_t kInline = 32;
  IndentLevel inline_[kInline];
  std::vector<IndentLevel> spill_;
  uint64_t size_ = 0;
};

enum class SimpleKeyState : uint8_t { Usable = 0, TabBefore = 1, Absent = 2 };

// A saved position where an implicit key may begin.
struct PossibleSimpleKey {
  uint64_t queue_index = 0;  // tokens index before which Key will be inserted
  int32_t column = 0;
  int32_t line = 0;
  SimpleKeyState state = SimpleKeyState::Absent;
};

// One scan of one text. Owns everything but the text.
struct Scanner {
  explicit Scanner(std::string_view text);
  Scanner(const char* text, size_t length) : Scanner(std::string_view(text, length)) {}

  // Tokens made so far, in final order: queue[0, queue_size). Key and
  // BlockMappingStart tokens are inserted at a saved position once a ":"
  // confirms an implicit key; the tokens before the saved position are final.
  // Elements past queue_size are room made ahead (their content is
  // meaningless), so that adding a token is a plain store.
  TokenVector queue;
  uint64_t queue_size = 0;
  // The enclosing block levels, innermost last (the current one is
  // indent/in_sequence).
  IndentStack indents;
  // The open flow collections, innermost last.
  std::vector<FlowLevel> flow_levels;
  std::vector<RawComment> comments;
  TextCursor cursor;
  PossibleSimpleKey possible_key;
  TextArena strings;
  // Scalar text being rebuilt (folding, escapes) before it is stored.
  std::string scratch;

  int32_t indent = -1;
  uint32_t flow_level = 0;
  uint32_t last_flow_node_line = 0;
  uint32_t flow_open_line = 0;
  int32_t flow_open_indent = -1;
  int32_t implicit_key_line = -1;
  int32_t property_line = -1;
  // Deferred check of a node property at its mapping's key column: set when
  // such a property was scanned; raised unless a ":" on that line takes the
  // saved key.
  bool property_check_pending = false;
  Span property_check_span;

  bool in_sequence = false;
  bool flow_entry_present = false;
  bool flow_node_seen = false;
  bool flow_explicit_key = false;
  bool flow_adjacent_value = false;
  bool document_start_line = false;
  bool directives_enabled = true;
  bool after_block_value = false;
  bool after_entry = false;
  bool dedented = false;
  bool tab_before = false;
  bool stream_started = false;
  bool stream_ended = false;
  bool simple_key_allowed = true;
  bool keep_comments = false;
  // Off: every token goes through the general routines, which give the same
  // tokens and errors more slowly (for differential tests).
  bool fast_paths = true;
};

// Incremental form of tokenize for a reader that walks the tokens once, in
// order: a token is handed out once it is final (no Key can still be
// inserted before it), the scan running a small batch of tokens ahead of the
// reader, and tokens the reader is done with are dropped, so a large text
// never holds its whole token vector. The tokens and the scan error are the
// same as tokenize's (a scan error met in the batch ahead ends the reading
// early); the scanner must outlive the pump, and its `queue` is only the
// pump's to use while the pump lives.
struct SpareTokenQueue;

class TokenPump {
 public:
  explicit TokenPump(Scanner& scanner);
  ~TokenPump();
  TokenPump(const TokenPump&) = delete;
  TokenPump& operator=(const TokenPump&) = delete;

  // Token `i`, counted from StreamStart; nullptr past StreamEnd or once the
  // scan failed (then error() is set). Tokens before `keep_from` may be
  // dropped. A call that has to scan further invalidates references to
  // earlier tokens; a call for a token already handed out does not.
  const Token* get(uint64_t i, uint64_t keep_from) {
    if (i < ready_limit_) [[likely]]
      return reinterpret_cast<const Token*>(ready_origin_ + i * sizeof(Token));
    return get_slow(i, keep_from);
  }
  // One past the last token get() hands out without scanning: a reader
  // holding a token may step through the tokens after it up to here.
  const Token* ready_end() const noexcept { return ready_end_; }
  // Scans the rest of the text (dropping its tokens) and returns the scan
  // error, if the text has one.
  const std::optional<ScanError>& finish();
  const std::optional<ScanError>& error() const noexcept { return error_; }

 private:
  const Token* get_slow(uint64_t i, uint64_t keep_from);
  [[gnu::noinline]] const Token* scan_to(uint64_t i, uint64_t keep_from);
  uint64_t final_count() const noexcept;
  void drop_before(uint64_t keep_from);

  Scanner& s_;
  void set_ready(const Token* tokens, uint64_t count) noexcept;

  uint64_t base_ = 0;  // stream index of s_.queue[0]
  // The final tokens at the front of the queue, as of the last scan step:
  // the stream indexes below ready_limit_, token i at ready_origin_ plus i
  // tokens (an address kept as a number, since it may lie before the
  // queue), so that a token already scanned costs one compare.
  uintptr_t ready_origin_ = 0;
  uint64_t ready_limit_ = 0;
  const Token* ready_end_ = nullptr;
  bool started_ = false;
  // Every token is in the ready range, or the scan failed: a token past the
  // range is none (a reader asks a few times at the end of every text).
  bool done_ = false;
  SpareTokenQueue* spare_ = nullptr;  // set while s_.queue is the thread's spare queue
  std::optional<ScanError> error_;
};

struct TokenizeResult {
  TokenVector tokens;               // empty on failure
  std::optional<ScanError> error;   // set on failure
  bool ok() const noexcept { return !error.has_value(); }
};

// Scans the whole text of `scanner`. Call once per scanner.
TokenizeResult tokenize(Scanner& scanner);

// Texts of this many bytes or more are refused: line and column are 32-bit.
inline constexpr uint64_t kMaxScanLength = uint64_t(1) << 31;

}  // namespace qf
