// Main loop of the scanner: blank and comment skipping, the indentation
// stack, implicit keys, flow collections, document markers, directives and
// node properties. Scalars live in scalar.cpp.
#include "scanner/scanner.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <new>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif
#ifdef __linux__
#include <sys/mman.h>
#endif

#include "scanner/scan_engine.hpp"
#include "support/thread_heap.hpp"

namespace qf {

std::string_view TextArena::store(std::string_view s) {
  if (s.empty()) return std::string_view();
  if (s.size() > left_) {
    size_t size = std::max<size_t>(s.size(), 16 * 1024);
    chunks_.push_back(std::make_unique_for_overwrite<char[]>(size));  // not zeroed: written before read
    cur_ = chunks_.back().get();
    left_ = size;
  }
  std::memcpy(cur_, s.data(), s.size());
  std::string_view out(cur_, s.size());
  cur_ += s.size();
  left_ -= s.size();
  return out;
}

Scanner::Scanner(std::string_view text) : cursor(text) {}

namespace {
// A token vector of a large text is written front to back once: asking for
// huge pages saves the kernel a page fault per 4 KiB of it. Only a hint;
// the buffer stays an ordinary allocation.
void advise_huge_pages(void* data, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr uintptr_t kHuge = uintptr_t(2) << 20;
  if (bytes < 4 * kHuge) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}
}  // namespace

TokenizeResult tokenize(Scanner& scanner) {
  TokenizeResult result;
  const uint64_t len = scanner.cursor.length;
  if (len >= kMaxScanLength) {
    result.error = ScanError{"input text too large: 2 GiB or more", scanner.cursor.span()};
    return result;
  }
  // Texts of a few kilobytes of short keys, entries and flow collections
  // reach a token every four or five bytes; growing once past the first
  // room costs more than the room.
  uint64_t n = std::min<uint64_t>(
      std::max<uint64_t>(std::max<uint64_t>(std::min<uint64_t>(len / 2, 4096), len / 4), 8),
      65536);
  // Large texts would otherwise grow the vector by doubling, copying every
  // token several times and holding two buffers at the peak; an estimate
  // from the indicator counts is nearly always enough in one go. Room that
  // is reserved but never written costs address space only.
  const uint64_t part_n = n;
  if (len > 65536) n = std::max(n, scan_detail::estimate_token_count(scanner.cursor.text, len));
  // Sized rather than reserved: the tokens are left unwritten
  // (TokenAllocator), and the first push then finds its room without a
  // call to make it.
  try {
    scanner.queue.resize(n);
  } catch (const std::bad_alloc&) {
    scanner.queue.resize(part_n);  // the estimate was too much to ask for: grow instead
  }
  advise_huge_pages(scanner.queue.data(), scanner.queue.capacity() * sizeof(Token));
  try {
    scan_detail::ScanEngine(scanner).run();
  } catch (scan_detail::ScanFailure& f) {
    scanner.queue.clear();
    scanner.queue_size = 0;
    result.error = std::move(f.error);
    return result;
  }
  scanner.queue.resize(scanner.queue_size);  // drops the room made ahead
  result.tokens = std::move(scanner.queue);
  scanner.queue = {};
  scanner.queue_size = 0;
  return result;
}

// Between pumps a thread keeps one emptied token queue and lends it to the
// next pump, so texts scanned one after another (loads over many small
// documents) do not allocate and free a queue each time; its elements stay
// as room for the next text's tokens. A pump that finds it lent
// (nested pumps) uses the scanner's own. A queue that a large text grew is
// freed rather than kept.
struct SpareTokenQueue {
  TokenVector tokens;
  bool lent = false;
};

namespace {
constexpr size_t kKeptQueueTokens = 1024;  // 48 KiB
constexpr uint64_t kPumpBatch = 256;
}  // namespace

TokenPump::TokenPump(Scanner& scanner) : s_(scanner) {
  SpareTokenQueue* spare = ThreadHeapObject<SpareTokenQueue, ThreadSlot::SpareTokens>::get();
  if (spare && !spare->lent && s_.queue.empty() && s_.queue_size == 0) {
    s_.queue.swap(spare->tokens);
    spare->lent = true;
    spare_ = spare;
  }
  s_.queue.reserve(256);
}

TokenPump::~TokenPump() {
  if (!spare_) return;
  s_.queue_size = 0;
  if (s_.queue.capacity() <= kKeptQueueTokens) s_.queue.swap(spare_->tokens);
  spare_->lent = false;
}

// Tokens before a pending implicit key may still get a Key (and a
// MappingStart) inserted before it; everything before it is final.
uint64_t TokenPump::final_count() const noexcept {
  return s_.possible_key.state != SimpleKeyState::Absent ? s_.possible_key.queue_index
                                                         : s_.queue_size;
}

// Drops handed-out tokens once they are at least half of the queue, so the
// front of the vector is moved rarely and the queue stays small.
void TokenPump::drop_before(uint64_t keep_from) {
  const uint64_t drop = std::min<uint64_t>(keep_from - base_, final_count());
  if (drop < 256 || drop * 2 < s_.queue_size) return;
  // Only the tokens made are moved; the room past them stays room.
  Token* d = s_.queue.data();
  std::copy(d + drop, d + s_.queue_size, d);
  s_.queue_size -= drop;
  if (s_.possible_key.state != SimpleKeyState::Absent) s_.possible_key.queue_index -= drop;
  base_ += drop;
}

void TokenPump::set_ready(const Token* tokens, uint64_t count) noexcept {
  ready_origin_ = reinterpret_cast<uintptr_t>(tokens) - base_ * sizeof(Token);
  ready_limit_ = count ? base_ + count : 0;
  ready_end_ = tokens + count;
  done_ = s_.stream_ended && count == s_.queue_size;
}

// The ask past the end, several per text, without the scan's frame.
const Token* TokenPump::get_slow(uint64_t i, uint64_t keep_from) {
  if (done_) return nullptr;
  return scan_to(i, keep_from);
}

const Token* TokenPump::scan_to(uint64_t i, uint64_t keep_from) {
  assert(i >= base_ && keep_from >= base_);
  try {
    scan_detail::ScanEngine engine(s_);
    // Whether the queue changed since the ready range was set: a call past
    // the end of a stream scanned to its end (several per text) changes
    // nothing.
    bool moved = false;
    if (!started_) {
      started_ = true;
      if (s_.cursor.length >= kMaxScanLength)
        throw scan_detail::ScanFailure{
            ScanError{"input text too large: 2 GiB or more", s_.cursor.span()}};
      engine.begin();
      // The first batch at once: a reader's first ask would otherwise get
      // the stream start alone and come straight back for the rest.
      while (!s_.stream_ended && s_.queue_size < kPumpBatch) engine.next();
      moved = true;
    }
    for (;;) {
      const uint64_t ready = final_count();
      if (i - base_ < ready) {
        if (moved) set_ready(s_.queue.data(), ready);
        return s_.queue.data() + (i - base_);
      }
      if (s_.stream_ended) {
        if (moved) set_ready(s_.queue.data(), ready);
        return nullptr;
      }
      moved = true;
      drop_before(keep_from);
      // Scanning ahead a batch of tokens keeps this call rare; the queue
      // still holds little more than the batch past what the reader keeps.
      const uint64_t want = i - base_ + kPumpBatch;
      // Counted in tokens made: a pending key holds back a few at most, and
      // the loop above scans on if the one asked for is still not final.
      do engine.next();
      while (!s_.stream_ended && s_.queue_size < want);
    }
  } catch (scan_detail::ScanFailure& f) {
    error_ = std::move(f.error);
    s_.queue.clear();
    s_.queue_size = 0;
    set_ready(nullptr, 0);
    done_ = true;
    return nullptr;
  }
}

const std::optional<ScanError>& TokenPump::finish() {
  uint64_t end = base_ + s_.queue_size;
  while (!done_ && scan_to(end, end)) end = base_ + s_.queue_size;
  return error_;
}

namespace scan_detail {

uint64_t estimate_token_count(const char* text, uint64_t len) {
  // Weights fitted on real-world YAML, erring high: a ":" is usually a key
  // (Key, key scalar, Value, value scalar and now and then MappingStart and
  // BlockEnd), a "," or "-" an entry with its item, a bracket an opening or
  // closing, a property indicator one token.
  static constexpr auto kWeight = [] {
    std::array<uint8_t, 256> w{};
    for (unsigned char c : std::string_view(",-[]{}?")) w[c] = 2;
    for (unsigned char c : std::string_view("!&*")) w[c] = 1;
    w[':'] = 5;
    return w;
  }();
  const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
  uint64_t sum = 16;
  uint64_t p = 0;
#ifdef __SSE2__
  // Sixteen bytes at a time, the weights summed in byte lanes and folded
  // into 64-bit sums before a lane can overflow (5 per byte at most). The
  // pairs "[{" and "]}" differ in bit 5 only, as do "," and "-" in bit 0.
  const __m128i bit5 = _mm_set1_epi8(0x20), not_bit0 = _mm_set1_epi8(static_cast<char>(0xFE));
  const __m128i open = _mm_set1_epi8('{'), close = _mm_set1_epi8('}');
  const __m128i comma = _mm_set1_epi8(','), question = _mm_set1_epi8('?');
  const __m128i bang = _mm_set1_epi8('!'), amp = _mm_set1_epi8('&'), star = _mm_set1_epi8('*');
  const __m128i colon = _mm_set1_epi8(':');
  const __m128i two = _mm_set1_epi8(2), one = _mm_set1_epi8(1), five = _mm_set1_epi8(5);
  __m128i total = _mm_setzero_si128();
  while (p + 16 <= len) {
    __m128i lanes = _mm_setzero_si128();
    const uint64_t stop = std::min<uint64_t>(len - 15, p + 16 * 48);
    for (; p < stop; p += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + p));
      const __m128i folded = _mm_or_si128(v, bit5);
      const __m128i w2 = _mm_or_si128(
          _mm_or_si128(_mm_cmpeq_epi8(folded, open), _mm_cmpeq_epi8(folded, close)),
          _mm_or_si128(_mm_cmpeq_epi8(_mm_and_si128(v, not_bit0), comma),
                       _mm_cmpeq_epi8(v, question)));
      const __m128i w1 = _mm_or_si128(_mm_cmpeq_epi8(v, bang),
                                      _mm_or_si128(_mm_cmpeq_epi8(v, amp), _mm_cmpeq_epi8(v, star)));
      const __m128i w5 = _mm_cmpeq_epi8(v, colon);
      lanes = _mm_add_epi8(lanes, _mm_or_si128(_mm_or_si128(_mm_and_si128(w2, two),
                                                            _mm_and_si128(w1, one)),
                                               _mm_and_si128(w5, five)));
    }
    total = _mm_add_epi64(total, _mm_sad_epu8(lanes, _mm_setzero_si128()));
  }
  uint64_t halves[2];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(halves), total);
  sum += halves[0] + halves[1];
#endif
  for (; p < len; ++p) sum += kWeight[t[p]];
  return std::min<uint64_t>(sum, len / 2 + 16);
}

std::string format_code_point(const char* prefix, char32_t cp) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
  return std::string(prefix) + buf;
}

// The UTF-8 bytes of the character at the cursor.
std::string char_at(const TextCursor& c) {
  if (c.at_end()) return std::string();
  uint64_t n = std::min<uint64_t>(utf8_length(c.cur()), c.length - c.position);
  return std::string(c.text + c.position, n);
}

namespace {
constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighs = 0x8080808080808080ULL;
}  // namespace

void ScanEngine::extend_queue() {
  // Growing leaves the new tokens unwritten (TokenAllocator), so the room is
  // the whole capacity and a large reservation stays untouched until used.
  // Past the capacity the vector grows as it does for any append.
  TokenVector& q = s_.queue;
  q.resize(q.capacity() != q.size() ? q.capacity() : std::max<size_t>(2 * q.size(), 8));
}

void ScanEngine::insert_tokens(uint64_t at, const Token* tokens, uint64_t n) {
  while (s_.queue_size + n > s_.queue.size()) extend_queue();
  Token* d = s_.queue.data();
  std::copy_backward(d + at, d + s_.queue_size, d + s_.queue_size + n);
  std::copy(tokens, tokens + n, d + at);
  s_.queue_size += n;
}

uint64_t ScanEngine::advance_to_line_end() {
  const char* t = c_.text;
  const uint64_t len = c_.length;
  const uint64_t from = c_.position;
  const uint64_t p = find_line_end(t, from, len);
  c_.position = p;
  if (p < len) return p;
  // The line runs to the end of input: the column is needed now, for the
  // stream end. Eight bytes at a time, counting the bytes that are not UTF-8
  // continuation bytes.
  uint32_t col = c_.column;
  uint64_t q = from;
  for (; q + 8 <= len; q += 8) {
    uint64_t w;
    std::memcpy(&w, t + q, 8);
    const uint64_t continuation = w & kHighs & ~(w << 1);
    // One bit per continuation byte, summed into the top byte.
    col += 8 - static_cast<uint32_t>(((continuation >> 7) * kOnes) >> 56);
  }
  for (; q < len; ++q) col += !is_continuation(static_cast<unsigned char>(t[q]));
  c_.column = col;
  return p;
}

// ---------------------------------------------------------------------------
// Control characters

namespace {
// ASCII controls that are refused, plus the lead bytes of the refused
// two- and three-byte ranges (checked further when met).
constexpr ByteTable kControlCheck = make_table([](int c) {
  return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F || c == 0xC2 || c == 0xEF;
});

// The position of the first byte from `p` that needs a closer look, or
// where too few bytes remain for a whole block (on x86-64 only in texts
// shorter than one: the tail is one block ending at the end). SSE2 compares,
// or AVX2 where the CPU has it (picked once), two vectors tested together;
// elsewhere portable vector code.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// Marks bytes <= 0x1F other than TAB, LF and CR, and 0x7F, 0xC2, 0xEF.
inline __m128i suspicious16(__m128i v) {
  const __m128i ok = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\t')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))),
      _mm_cmpeq_epi8(v, _mm_set1_epi8('\r')));
  const __m128i ctl = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);
  const __m128i odd = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)),
                   _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xC2)))),
      _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xEF))));
  return _mm_or_si128(_mm_andnot_si128(ok, ctl), odd);
}

// The same with two table lookups, one per nibble, whose bits meet only for
// the marked bytes: bit 0 for 0x00-0x0F but TAB, LF and CR, bit 1 for
// 0x10-0x1F, bits 2, 3 and 4 for 0x7F, 0xC2 and 0xEF.
[[gnu::target("avx2")]] inline __m256i suspicious32(__m256i v) {
  const __m256i by_low = _mm256_setr_epi8(
      3, 3, 11, 3, 3, 3, 3, 3, 3, 2, 2, 3, 3, 2, 3, 23,  //
      3, 3, 11, 3, 3, 3, 3, 3, 3, 2, 2, 3, 3, 2, 3, 23);
  const __m256i by_high = _mm256_setr_epi8(
      1, 2, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 8, 0, 16, 0,  //
      1, 2, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 8, 0, 16, 0);
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i low = _mm256_shuffle_epi8(by_low, _mm256_and_si256(v, nibble));
  const __m256i high =
      _mm256_shuffle_epi8(by_high, _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble));
  return _mm256_and_si256(low, high);
}

uint64_t skip_unsuspicious_sse2(const unsigned char* t, uint64_t p, uint64_t len) {
  while (p + 32 <= len) {
    const __m128i la = suspicious16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + p)));
    const __m128i lb = suspicious16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + p + 16)));
    if (_mm_movemask_epi8(_mm_or_si128(la, lb)) != 0) {
      const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(la)) |
                         (static_cast<unsigned>(_mm_movemask_epi8(lb)) << 16);
      return p + static_cast<unsigned>(__builtin_ctz(m));
    }
    p += 32;
  }
  // The last bytes in one block ending at the end of the text, the bytes
  // before `p` in it left out.
  if (p < len && len >= 32) {
    const uint64_t w = len - 32;
    const unsigned m =
        (static_cast<unsigned>(_mm_movemask_epi8(
             suspicious16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + w))))) |
         (static_cast<unsigned>(_mm_movemask_epi8(
              suspicious16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + w + 16)))))
          << 16)) &
        (~0u << (p - w));
    return m != 0 ? w + static_cast<unsigned>(__builtin_ctz(m)) : len;
  }
  return p;
}

[[gnu::target("avx2")]] uint64_t skip_unsuspicious_avx2(const unsigned char* t, uint64_t p,
                                                        uint64_t len) {
  // Four vectors a round while the text lasts: most texts have no byte to
  // look at, and the loop's own steps are a good part of the work.
  while (p + 128 <= len) {
    const __m256i la = suspicious32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + p)));
    const __m256i lb =
        suspicious32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + p + 32)));
    const __m256i lc =
        suspicious32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + p + 64)));
    const __m256i ld =
        suspicious32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + p + 96)));
    const __m256i any = _mm256_or_si256(_mm256_or_si256(la, lb), _mm256_or_si256(lc, ld));
    if (!_mm256_testz_si256(any, any)) break;  // the rounds below find it
    p += 128;
  }
  while (p + 64 <= len) {
    const __m256i la = suspicious32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + p)));
    const __m256i lb =
        suspicious32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + p + 32)));
    const __m256i any = _mm256_or_si256(la, lb);
    if (!_mm256_testz_si256(any, any)) {
      const __m256i zero = _mm256_setzero_si256();
      const uint64_t clean_a =
          static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(la, zero)));
      const uint64_t clean_b =
          static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(lb, zero)));
      return p + static_cast<unsigned>(__builtin_ctzll(~(clean_a | (clean_b << 32))));
    }
    p += 64;
  }
  // No call into SSE code from here: a tail call would skip the vzeroupper,
  // and legacy SSE instructions after it pay for the dirty upper halves.
  while (p + 32 <= len) {
    const __m256i l = suspicious32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + p)));
    const unsigned clean =
        static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(l, _mm256_setzero_si256())));
    if (clean != 0xFFFFFFFFu) return p + static_cast<unsigned>(__builtin_ctz(~clean));
    p += 32;
  }
  // The last bytes in one block ending at the end of the text, the bytes
  // before `p` in it left out.
  if (p < len && len >= 32) {
    const uint64_t w = len - 32;
    const __m256i l = suspicious32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + w)));
    const unsigned marked =
        ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(l, _mm256_setzero_si256()))) &
        (~0u << (p - w));
    return marked != 0 ? w + static_cast<unsigned>(__builtin_ctz(marked)) : len;
  }
  return p;
}

using SkipFn = uint64_t (*)(const unsigned char*, uint64_t, uint64_t);

bool has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

SkipFn best_skip() { return has_avx2() ? skip_unsuspicious_avx2 : skip_unsuspicious_sse2; }

// Picked once at load; tests may switch it to run every routine this CPU has.
std::atomic<SkipFn> g_skip{best_skip()};

uint64_t skip_unsuspicious(const unsigned char* t, uint64_t p, uint64_t len) {
  return g_skip.load(std::memory_order_relaxed)(t, p, len);
}
}  // namespace

bool select_control_check(ControlCheckRoutine which) {
  SkipFn fn = nullptr;
  switch (which) {
    case ControlCheckRoutine::Best: fn = best_skip(); break;
    case ControlCheckRoutine::Sse2: fn = skip_unsuspicious_sse2; break;
    case ControlCheckRoutine::Avx2: fn = has_avx2() ? skip_unsuspicious_avx2 : nullptr; break;
  }
  if (fn == nullptr) return false;
  g_skip.store(fn, std::memory_order_relaxed);
  return true;
}

namespace {
#else
typedef signed char Bytes32 __attribute__((vector_size(32)));

uint64_t skip_unsuspicious(const unsigned char* t, uint64_t p, uint64_t len) {
  while (p + 32 <= len) {
    Bytes32 v;
    std::memcpy(&v, t + p, 32);
    const Bytes32 look = ((v >= 0) & (v < 0x20) & (v != '\t') & (v != '\n') & (v != '\r')) |
                         (v == 0x7F) | (v == static_cast<signed char>(0xC2)) |
                         (v == static_cast<signed char>(0xEF));
    uint64_t words[4];
    std::memcpy(words, &look, 32);
    for (int i = 0; i < 4; ++i)
      if (words[i] != 0) return p + 8 * i + static_cast<unsigned>(__builtin_ctzll(words[i])) / 8;
    p += 32;
  }
  return p;
}
}  // namespace

bool select_control_check(ControlCheckRoutine which) { return which == ControlCheckRoutine::Best; }

namespace {
#endif
}  // namespace

void ScanEngine::check_control_characters() {
  const unsigned char* t = reinterpret_cast<const unsigned char*>(c_.text);
  const uint64_t len = c_.length;
  const uint64_t begin = c_.position;
  uint64_t p = begin;
  for (;; ++p) {
    // A text shorter than a block (many short documents) needs no call.
    if (len - p >= 32) p = skip_unsuspicious(t, p, len);
    // The last bytes, too few for a block, one at a time (this stops at
    // once on a byte the blocks marked).
    while (p < len && !kControlCheck[t[p]]) ++p;
    if (p >= len) return;
    unsigned char b = t[p];
    char32_t bad = 0;
    if (b == 0xC2) {
      if (p + 1 >= len) continue;
      unsigned char b1 = t[p + 1];
      if (b1 < 0x80 || b1 > 0x9F || b1 == 0x85) continue;
      bad = 0x80 + (b1 - 0x80);
    } else if (b == 0xEF) {
      if (p + 2 >= len || t[p + 1] != 0xBF || (t[p + 2] != 0xBE && t[p + 2] != 0xBF)) continue;
      bad = t[p + 2] == 0xBE ? 0xFFFE : 0xFFFF;
    } else {
      bad = b;
    }
    // Position of the offending character, counted from the text start.
    uint32_t line = 0, column = 0;
    for (uint64_t q = begin; q < p; ++q) {
      unsigned char x = t[q];
      if (x == '\n') {
        ++line;
        column = 0;
      } else if (x == '\r') {
        if (q + 1 < p && t[q + 1] == '\n') ++q;
        ++line;
        column = 0;
      } else if (!is_continuation(x)) {
        ++column;
      }
    }
    fail(format_code_point("disallowed control character ", bad),
         Span{c_.file_id, line, column, p});
  }
}

// ---------------------------------------------------------------------------
// Main loop

inline void ScanEngine::block_dispatch() {
  const unsigned char ch = c_.cur();
  if (ch != '!' && ch != '&') s_.after_block_value = false;
  const bool after_entry = s_.after_entry;
  s_.after_entry = false;
  if (c_.column == 0) {
    if (ch == '.' && c_.is_document_marker()) return scan_document_end();
    if (ch == '%') return scan_directive();
  }
  s_.directives_enabled = false;
  // Most tokens are plain scalars starting with an ordinary character.
  if (!kBlockIndicator[ch]) return scan_plain_scalar();
  switch (ch) {
    case '!':
      return scan_tag();
    case '&':
      return scan_anchor();
    case '*':
      return scan_alias();
    case '"':
      return scan_double_quoted();
    case '\'':
      return scan_single_quoted();
    case '|':
      return scan_block_scalar(true);
    case '>':
      return scan_block_scalar(false);
    case '[':
      return scan_flow_collection_start(false);
    case '{':
      return scan_flow_collection_start(true);
    case ']':
    case '}':
      return scan_flow_collection_end(ch);
    case '#':
      fail_comment_without_blank(c_.span());
    case ',':
      fail("a plain scalar cannot start with ','", c_.span());
    case '@':
    case '`':
      fail_reserved_indicator(ch, c_.span());
    case '-':
      if (kBlankBreakEnd[c_.byte_at(1)]) return scan_block_entry(after_entry);
      if (c_.column == 0 && c_.is_document_marker()) return scan_document_start();
      break;
    case ':':
      if (kBlankBreakEnd[c_.byte_at(1)]) return scan_value_indicator();
      break;
    case '?':
      if (kBlankBreakEnd[c_.byte_at(1)]) return scan_explicit_key();
      break;
    default:
      break;
  }
  scan_plain_scalar();
}

void ScanEngine::begin() {
  s_.stream_started = true;
  check_control_characters();
  push(TokenKind::StreamStart, c_.span(), c_.position);
}

void ScanEngine::run() {
  begin();
  while (!s_.stream_ended) step();
}

void ScanEngine::step() {
  const uint32_t line_before = c_.line;
  skip_to_next_token();
  const bool at_end = c_.at_end();
  if (s_.property_check_pending && (at_end || c_.line != s_.property_check_span.line))
    raise_pending_property();

  if (s_.flow_level == 0) {
    if (!at_end) {
      s_.dedented = false;
      unroll_indent(static_cast<int32_t>(c_.column));
      if (s_.in_sequence && static_cast<int32_t>(c_.column) == s_.indent &&
          !(c_.cur() == '-' && kBlankBreakEnd[c_.byte_at(1)])) {
        close_block_level();
      }
    }
  } else if (!at_end && c_.line != line_before) {
    if (static_cast<int64_t>(c_.column) <= s_.flow_open_indent)
      fail("flow content must be indented more than its block context", c_.span());
  }

  if (at_end) {
    if (s_.stream_ended) return;
    if (s_.flow_level > 0) fail("unclosed flow collection at end of input", c_.span());
    s_.possible_key.state = SimpleKeyState::Absent;
    unroll_indent(-1);
    s_.stream_ended = true;
    push(TokenKind::StreamEnd, c_.span(), c_.position);
    return;
  }
  if (s_.flow_level > 0)
    flow_dispatch();
  else
    block_dispatch();
}

void ScanEngine::skip_blanks_and_comments() {
  const char* t = c_.text;
  const uint64_t len = c_.length;
  const bool block = s_.flow_level == 0;
  // Tests in order of frequency rather than a switch: the usual run is a
  // line break, the indentation, then a token.
  for (;;) {
    if (c_.position >= len) return;
    const unsigned char ch = static_cast<unsigned char>(t[c_.position]);
    if (ch == ' ') {
      c_.skip_spaces();
    } else if (ch == '\n' || ch == '\r') {
      c_.consume_line_break();
      s_.document_start_line = false;
      s_.tab_before = false;
      drop_key_from_other_line(c_.line);
      if (block) s_.simple_key_allowed = true;
      c_.skip_spaces();  // the indentation, straight away
    } else if (ch > '#') {
      return;
    } else if (ch == '#') {
      const uint64_t first = c_.has_bom ? 3 : 0;
      if (c_.position != first) {
        const unsigned char prev = static_cast<unsigned char>(t[c_.position - 1]);
        if (!is_blank(prev) && !is_break(prev)) return;
      }
      if (block)
        skip_comment_lines();
      else
        skip_comment();
    } else if (ch == '\t') {
      if (block) {
        s_.tab_before = true;
      } else if (c_.column == 0) {
        const unsigned char n = first_non_blank();
        if (!(n == 0 || is_break(n) || kFlowIndicator[n]))
          fail("a tab cannot be used for indentation", c_.span());
      }
      advance_bytes(1);
    } else {
      return;
    }
  }
}

namespace {
// Length of `s` without trailing characters of the Unicode White_Space set.
size_t trim_white_space(std::string_view s) {
  size_t n = s.size();
  for (;;) {
    if (n == 0) return 0;
    unsigned char b = static_cast<unsigned char>(s[n - 1]);
    if (b == ' ' || (b >= 0x09 && b <= 0x0D)) {
      --n;
      continue;
    }
    if (n >= 2 && static_cast<unsigned char>(s[n - 2]) == 0xC2 && (b == 0x85 || b == 0xA0)) {
      n -= 2;
      continue;
    }
    if (n >= 3) {
      unsigned char a = static_cast<unsigned char>(s[n - 3]);
      unsigned char m = static_cast<unsigned char>(s[n - 2]);
      bool ws = (a == 0xE1 && m == 0x9A && b == 0x80) ||                     // U+1680
                (a == 0xE2 && m == 0x80 && ((b >= 0x80 && b <= 0x8A) ||     // U+2000-200A
                                            b == 0xA8 || b == 0xA9 ||       // U+2028, 2029
                                            b == 0xAF)) ||                  // U+202F
                (a == 0xE2 && m == 0x81 && b == 0x9F) ||                    // U+205F
                (a == 0xE3 && m == 0x80 && b == 0x80);                      // U+3000
      if (ws) {
        n -= 3;
        continue;
      }
    }
    return n;
  }
}
}  // namespace

void ScanEngine::scan_comment() {
  const Span at = c_.span();
  advance_bytes(1);
  skip_one_space();
  const uint64_t from = c_.position;
  const uint64_t to = advance_to_line_end();
  if (s_.keep_comments) {
    std::string_view body = view(from, to);
    body = body.substr(0, trim_white_space(body));
    s_.comments.push_back(RawComment{std::string(body), at});
  }
}

void ScanEngine::flow_dispatch() {
  unsigned char ch = c_.cur();
  if (s_.fast_paths) {
    // The general steps below for the most frequent characters: those that
    // start a plain scalar, then "," and the brackets. The tokens after it
    // on the same line are taken here too, as the next steps would take
    // them: between tokens of one line a step only skips the spaces.
    for (int taken = 0;;) {
      if (!kFlowSpecial[ch]) {
        if (c_.column == 0 && c_.is_document_marker())
          fail("a document marker is not allowed inside a flow collection", c_.span());
        s_.flow_adjacent_value = false;
        if (s_.flow_node_seen) fail("missing ',' between flow collection entries", c_.span());
        scan_plain_scalar();
        s_.flow_entry_present = true;
      } else if (ch == ',') {
        s_.flow_adjacent_value = false;
        scan_flow_entry();
      } else if (ch == ']' || ch == '}') {
        s_.flow_adjacent_value = false;
        scan_flow_collection_end(ch);
      } else if (ch == '[' || ch == '{') {
        s_.flow_adjacent_value = false;
        if (s_.flow_node_seen) fail("missing ',' between flow collection entries", c_.span());
        scan_flow_collection_start(ch == '{');
      } else if (taken == 0) {
        break;  // the general steps below
      } else {
        return;  // the next step's
      }
      // A line break, comment, tab, quote or property, the end of the
      // outermost collection, a pending property check or a full batch: the
      // next step's.
      if (++taken == kFlowStepsPerCall || s_.flow_level == 0 || s_.property_check_pending) return;
      s_.tab_before = false;
      c_.skip_spaces();
      if (c_.at_end()) return;
      ch = c_.cur();
      if (ch <= '#') return;
    }
  }
  if (c_.column == 0 && c_.is_document_marker())
    fail("a document marker is not allowed inside a flow collection", c_.span());
  const bool adjacent = s_.flow_adjacent_value;
  s_.flow_adjacent_value = false;
  const unsigned char next = c_.byte_at(1);
  const bool indicator_form = kBlankBreakEndFlowInd[next];  // "-"/"?"/":" standing alone
  const bool separates = ch == '#' || ch == ',' || ch == ':' || ch == ']' || ch == '}' ||
                         ((ch == '-' || ch == '?') && indicator_form);
  if (!separates && s_.flow_node_seen)
    fail("missing ',' between flow collection entries", c_.span());
  if (ch == ':' && s_.flow_node_seen && !s_.flow_explicit_key && !s_.flow_levels.empty() &&
      !s_.flow_levels.back().mapping && c_.line != s_.last_flow_node_line)
    fail("the implicit key of a flow sequence pair must be on one line", c_.span());

  switch (ch) {
    case ':':
      if (adjacent || indicator_form) return scan_value_indicator();
      // A ":" that starts a scalar right after a complete node is a new entry.
      if (s_.flow_node_seen) fail("missing ',' between flow collection entries", c_.span());
      scan_plain_scalar();
      s_.flow_entry_present = true;
      return;
    case ',':
      return scan_flow_entry();
    case '-':
      if (indicator_form) fail("a plain scalar cannot be a bare '-' here", c_.span());
      scan_plain_scalar();
      s_.flow_entry_present = true;
      return;
    case '?':
      if (indicator_form) {
        if (s_.flow_node_seen) fail("missing ',' between flow collection entries", c_.span());
        return scan_explicit_key();
      }
      scan_plain_scalar();
      s_.flow_entry_present = true;
      return;
    case '#':
      fail_comment_without_blank(c_.span());
    case '@':
    case '`':
      fail_reserved_indicator(ch, c_.span());
    case '[':
      return scan_flow_collection_start(false);
    case '{':
      return scan_flow_collection_start(true);
    case ']':
    case '}':
      return scan_flow_collection_end(ch);
    case '!':
      scan_tag();
      break;
    case '&':
      scan_anchor();
      break;
    case '*':
      scan_alias();
      break;
    case '"':
      scan_double_quoted();
      break;
    case '\'':
      scan_single_quoted();
      break;
    default:
      scan_plain_scalar();
      break;
  }
  s_.flow_entry_present = true;
}

// ---------------------------------------------------------------------------
// Indentation and implicit keys

void ScanEngine::close_block_level() {
  push(TokenKind::BlockEnd, c_.span(), c_.position);
  pop_block_level();
}

void ScanEngine::unroll_indent(int32_t column) {
  if (s_.flow_level != 0 || s_.indent <= column) return;
  // The BlockEnds of a dedent share the cursor's span.
  const Span at = c_.span();
  do {
    push(TokenKind::BlockEnd, at, at.offset);
    pop_block_level();
  } while (s_.indent > column);
  s_.dedented = true;
}

void ScanEngine::open_block_level(int32_t column, Span span, TokenKind kind) {
  if (s_.document_start_line) fail("a block collection cannot start on the same line as ---", span);
  if (s_.indent >= column) return;
  s_.indents.push_back(IndentLevel{s_.indent, s_.in_sequence});
  s_.indent = column;
  s_.in_sequence = kind == TokenKind::SequenceStart;
  push_flag(kind, span, false);
}

void ScanEngine::save_possible_key() {
  if (s_.flow_level != 0 || !s_.simple_key_allowed ||
      s_.possible_key.state != SimpleKeyState::Absent)
    return;
  s_.possible_key.queue_index = s_.queue_size;
  s_.possible_key.column = static_cast<int32_t>(c_.column);
  s_.possible_key.line = static_cast<int32_t>(c_.line);
  s_.possible_key.state = s_.tab_before ? SimpleKeyState::TabBefore : SimpleKeyState::Usable;
}

void ScanEngine::scan_block_entry(bool after_entry) {
  const Span at = c_.span();
  if (s_.tab_before) fail("a tab cannot be used for indentation", at);
  if (static_cast<int32_t>(at.line) == s_.implicit_key_line)
    fail("a block sequence cannot start on the same line as its mapping key", at);
  if (static_cast<int32_t>(at.line) == s_.property_line)
    fail("a block sequence entry cannot follow an anchor or tag on the same line", at);
  const int32_t column = static_cast<int32_t>(at.column);
  if (s_.indent < column && s_.in_sequence && !after_entry && s_.dedented)
    fail("a sequence entry is indented past its sequence", at);
  // roll_indent, written out: most lists open here.
  if (s_.document_start_line) open_block_level(column, at, TokenKind::SequenceStart);
  if (s_.indent < column) {
    s_.indents.push_back(IndentLevel{s_.indent, s_.in_sequence});
    s_.indent = column;
    s_.in_sequence = true;
    push_flag(TokenKind::SequenceStart, at, false);
  }
  advance_bytes(1);
  skip_one_space();
  s_.simple_key_allowed = true;
  s_.after_entry = true;
  push(TokenKind::SequenceEntry, at, at.offset);
}

void ScanEngine::scan_value_indicator() {
  const Span at = c_.span();
  const bool block = s_.flow_level == 0;
  bool took_saved_key = false;
  if (block) {
    const PossibleSimpleKey key = s_.possible_key;
    s_.possible_key.state = SimpleKeyState::Absent;
    if (key.state != SimpleKeyState::Absent && key.line == static_cast<int32_t>(at.line)) {
      if (key.state == SimpleKeyState::TabBefore) fail("a tab cannot be used for indentation", at);
      Token t;
      t.span = Span{at.file_id, at.line, static_cast<uint32_t>(key.column), at.offset};
      t.end_offset = static_cast<uint32_t>(at.offset);
      t.kind = TokenKind::Key;
      if (s_.indent < key.column) {
        s_.indents.push_back(IndentLevel{s_.indent, s_.in_sequence});
        s_.indent = key.column;
        s_.in_sequence = false;
        Token m = t;
        m.kind = TokenKind::MappingStart;
        const Token pair[2] = {m, t};
        insert_tokens(key.queue_index, pair, 2);
      } else {
        insert_tokens(key.queue_index, &t, 1);
      }
      took_saved_key = true;
      s_.property_check_pending = false;
    } else {
      if (s_.property_check_pending) raise_pending_property();
      roll_indent(static_cast<int32_t>(at.column), at, TokenKind::MappingStart);
    }
  } else {
    // One ":" per flow entry: a second one means a "," is missing.
    if (s_.flow_levels.back().value_taken) fail("missing ',' between flow collection entries", at);
    s_.flow_levels.back().value_taken = true;
  }
  advance_bytes(1);
  skip_one_space();
  if (!block) {
    // Keys follow "[", "{", "," and "?" only, never a value indicator.
    s_.simple_key_allowed = false;
  } else if (took_saved_key) {
    s_.simple_key_allowed = false;
    s_.implicit_key_line = static_cast<int32_t>(at.line);
  } else {
    s_.simple_key_allowed = true;
  }
  s_.flow_node_seen = false;
  s_.flow_explicit_key = false;
  if (block) s_.after_block_value = true;
  push(TokenKind::Value, at, at.offset);
}

void ScanEngine::make_scalar_key(std::string_view text, ScalarStyle style, Span start,
                                 uint64_t end, bool tab_before) {
  if (tab_before) fail("a tab cannot be used for indentation", start);
  roll_indent(static_cast<int32_t>(start.column), start, TokenKind::MappingStart);
  // Key, the key's scalar and Value written in one go.
  Token* q = room(3);
  const Span colon = c_.span();
  q[0] = Token{TokenKind::Key, ScalarStyle::Plain, false, static_cast<uint32_t>(start.offset),
               start, std::string_view()};
  q[1] = Token{TokenKind::Scalar, style, false, static_cast<uint32_t>(end), start, text};
  q[2] = Token{TokenKind::Value, ScalarStyle::Plain, false, static_cast<uint32_t>(colon.offset),
               colon, std::string_view()};
  s_.queue_size += 3;
  s_.implicit_key_line = static_cast<int32_t>(colon.line);
  s_.after_block_value = true;
  advance_bytes(1);
  skip_one_space();
  s_.flow_node_seen = false;
}

void ScanEngine::make_flow_key(std::string_view text, ScalarStyle style, Span start,
                               uint64_t end) {
  const Span colon = c_.span();
  FlowLevel& level = s_.flow_levels.back();
  if (level.value_taken) fail("missing ',' between flow collection entries", colon);
  level.value_taken = true;
  Token* q = room(3);
  q[0] = Token{TokenKind::Key, ScalarStyle::Plain, false, static_cast<uint32_t>(start.offset),
               start, std::string_view()};
  q[1] = Token{TokenKind::Scalar, style, false, static_cast<uint32_t>(end), start, text};
  q[2] = Token{TokenKind::Value, ScalarStyle::Plain, false, static_cast<uint32_t>(colon.offset),
               colon, std::string_view()};
  s_.queue_size += 3;
  advance_bytes(1);
  skip_one_space();
  s_.flow_node_seen = false;
}

// ---------------------------------------------------------------------------
// Flow collections

void ScanEngine::scan_flow_collection_start(bool mapping) {
  const Span at = c_.span();
  if (s_.flow_level > 999) fail("maximum nesting depth (1000) exceeded", at);
  if (s_.flow_level == 0) {
    s_.flow_open_line = at.line;
    s_.flow_open_indent = s_.indent;
    save_possible_key();
  }
  advance_bytes(1);
  ++s_.flow_level;
  s_.flow_levels.push_back(FlowLevel{mapping, false});
  s_.simple_key_allowed = true;
  s_.flow_entry_present = false;
  s_.flow_node_seen = false;
  s_.flow_explicit_key = false;
  // A flag left by an earlier collection must not reach into this one.
  s_.flow_adjacent_value = false;
  push_flag(mapping ? TokenKind::MappingStart : TokenKind::SequenceStart, at, true);
}

void ScanEngine::scan_flow_entry() {
  if (!s_.flow_entry_present) fail("empty flow entry (stray ',')", c_.span());
  const Span at = c_.span();
  advance_bytes(1);
  s_.simple_key_allowed = true;
  s_.flow_entry_present = false;
  s_.flow_node_seen = false;
  s_.flow_explicit_key = false;
  s_.flow_levels.back().value_taken = false;
  push(TokenKind::FlowEntry, at, at.offset);
}

void ScanEngine::scan_flow_collection_end(unsigned char closer) {
  const Span at = c_.span();
  if (s_.flow_level == 0)
    fail(std::string("unexpected '") + char(closer) + "' with no open flow collection", at);
  advance_bytes(1);
  --s_.flow_level;
  const bool was_mapping = s_.flow_levels.back().mapping;
  s_.flow_levels.pop_back();
  const bool closes_mapping = closer == '}';
  if (was_mapping != closes_mapping)
    fail(std::string("mismatched flow collection: '") + char(closer) + "' cannot close a '" +
             (was_mapping ? "{" : "[") + "'",
         at);
  s_.simple_key_allowed = false;
  s_.flow_entry_present = true;
  s_.flow_node_seen = true;
  s_.last_flow_node_line = at.line;
  s_.flow_adjacent_value = true;
  push(closes_mapping ? TokenKind::MappingEnd : TokenKind::SequenceEnd, at, at.offset);
  if (s_.flow_level == 0) {
    unsigned char n = first_non_blank();
    if (!(n == 0 || is_break(n) || n == '#' || n == ':'))
      fail("unexpected content after flow collection", c_.span());
    if (n == ':' && at.line != s_.flow_open_line)
      fail("a multiline flow collection cannot be an implicit mapping key", at);
  }
}

// ---------------------------------------------------------------------------
// Directives, document markers, properties

void ScanEngine::scan_directive() {
  const Span at = c_.span();
  if (!s_.directives_enabled)
    fail("a directive must start the stream or follow a document-end marker (...)", at);
  unroll_indent(-1);
  advance_bytes(1);
  const uint64_t from = c_.position;
  const uint64_t to = advance_to_line_end();
  s_.simple_key_allowed = false;
  push_text(TokenKind::Directive, at, at.offset, view(from, to));
}

void ScanEngine::scan_document_start() {
  const Span at = c_.span();
  unroll_indent(-1);
  s_.indent = -1;
  advance_bytes(3);
  s_.simple_key_allowed = false;
  s_.document_start_line = true;
  push(TokenKind::DocumentStart, at, at.offset);
}

void ScanEngine::scan_document_end() {
  const Span at = c_.span();
  unroll_indent(-1);
  s_.indent = -1;
  advance_bytes(3);
  unsigned char n = first_non_blank();
  if (!(n == 0 || is_break(n) || n == '#'))
    fail("unexpected content after document-end marker (...)", at);
  s_.simple_key_allowed = false;
  s_.directives_enabled = true;
  push(TokenKind::DocumentEnd, at, at.offset);
}

std::string_view ScanEngine::scan_name() {
  const uint64_t from = c_.position;
  return view(from, advance_to_stop(kNameStop));
}

void ScanEngine::scan_alias() {
  const Span at = c_.span();
  save_possible_key();
  advance_bytes(1);
  std::string_view name = scan_name();
  if (name.empty()) fail("expected alias name", at);
  s_.simple_key_allowed = false;
  if (s_.flow_level > 0) {
    s_.flow_node_seen = true;
    s_.last_flow_node_line = at.line;
  }
  push_text(TokenKind::Alias, at, at.offset, name);
}

// A property on the line after "key:" must stand right of the key, unless
// it starts the next key of that mapping, which only the ":" later on the
// line can tell: the check waits for that ":" (or the line's end).
void ScanEngine::check_property_indent(Span at) {
  if (s_.flow_level != 0 || !s_.after_block_value ||
      static_cast<int32_t>(at.column) > s_.indent)
    return;
  if (!s_.property_check_pending) {
    s_.property_check_pending = true;
    s_.property_check_span = at;
  }
}

void ScanEngine::raise_pending_property() {
  s_.property_check_pending = false;
  fail("a node property must be indented past its mapping key", s_.property_check_span);
}

void ScanEngine::scan_anchor() {
  const Span at = c_.span();
  check_property_indent(at);
  save_possible_key();
  advance_bytes(1);
  std::string_view name = scan_name();
  if (name.empty()) fail("expected anchor name", at);
  s_.simple_key_allowed = false;
  if (s_.flow_level == 0) s_.property_line = static_cast<int32_t>(at.line);
  push_text(TokenKind::Anchor, at, at.offset, name);
}

void ScanEngine::scan_tag() {
  const Span at = c_.span();
  check_property_indent(at);
  if (s_.flow_level == 0) {
    save_possible_key();
    s_.property_line = static_cast<int32_t>(at.line);
  }
  advance_bytes(1);
  if (c_.cur() == '<') {
    advance_bytes(1);
    const uint64_t uri_from = c_.position;
    const uint64_t p = advance_to_stop(kVerbatimTagStop);
    if (c_.cur() != '>' || p >= c_.length) fail("unterminated verbatim tag: expected '>'", at);
    if (p == uri_from) fail("a verbatim tag must not be empty", at);
    advance_bytes(1);
  } else {
    if (c_.cur() == '!') advance_bytes(1);
    advance_to_stop(kTagStop);
  }
  s_.simple_key_allowed = false;
  push_text(TokenKind::Tag, at, at.offset, view(at.offset, c_.position));
}

void ScanEngine::scan_explicit_key() {
  const Span at = c_.span();
  const bool block = s_.flow_level == 0;
  if (block) {
    if (s_.tab_before) fail("a tab cannot be used for indentation", at);
    roll_indent(static_cast<int32_t>(at.column), at, TokenKind::MappingStart);
  }
  advance_bytes(1);
  if (block && c_.cur() == '\t') fail("a tab cannot be used for indentation", c_.span());
  skip_one_space();
  s_.simple_key_allowed = true;
  s_.flow_node_seen = false;
  if (!block) s_.flow_explicit_key = true;
  push_flag(TokenKind::Key, at, true);
}

}  // namespace scan_detail
}  // namespace qf
