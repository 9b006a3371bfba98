#include "ffi/convert/decode.hpp"

#include <datetime.h>

#include <cstring>
#include <new>
#include <string>

#include "ffi/errors.hpp"
#include "ffi/frame.hpp"
#include "ffi/pyref.hpp"
#include "ffi/types/tag.hpp"
#include "resolver/big_int.hpp"
#include "support/hash.hpp"
#include "support/short_copy.hpp"
#include "support/stack_guard.hpp"
#include "support/utf8.hpp"

#if defined(Py_DEBUG) && PY_VERSION_HEX >= 0x030D0000
// Moved out of the public headers in 3.13, still exported.
extern "C" int _PyUnicode_CheckConsistency(PyObject* op, int check_content);
#endif

namespace qf::py {

// ---------------------------------------------------------------- key cache

namespace {
// The characters of a compact ASCII str (what PyUnicode_New(n, 127) makes
// and what the kept-key table holds), without the layout checks of
// PyUnicode_DATA.
inline char* ascii_chars(PyObject* str) noexcept {
  return reinterpret_cast<char*>(reinterpret_cast<PyASCIIObject*>(str) + 1);
}

// is_ascii for the short texts most scalars are: at most two overlapping
// word reads.
inline bool short_text_is_ascii(const char* p, size_t n) noexcept {
  if (n >= 8) return is_ascii(p, n);
  uint32_t a, b;
  if (n >= 4) {
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + n - 4, 4);
    return ((a | b) & 0x80808080u) == 0;
  }
  uint16_t c, d;
  if (n >= 2) {
    std::memcpy(&c, p, 2);
    std::memcpy(&d, p + n - 2, 2);
    return ((c | d) & 0x8080u) == 0;
  }
  return n == 0 || static_cast<unsigned char>(p[0]) < 0x80;
}

// What PyUnicode_New(n, 127) makes, for n > 1, without its general checks
// and the branches for other kinds: most value strs are short ASCII texts,
// and the generic call costs about as much again as their whole making.
// The header is copied from a str the interpreter made itself, once, so
// every field the running version has (state bits, the 3.11 wide-text
// pointer, the type) is as it would set it; PyObject_Init sets the reference
// count (and registers the object with tracemalloc), and length, hash and the
// closing NUL are set here. The copy is used only once a str made this way
// was found to match one from PyUnicode_New (prepare_ascii_strs).
// Free-threaded builds and later versions keep the generic call: their
// object headers hold per-thread state.
#if !defined(Py_GIL_DISABLED) && PY_VERSION_HEX < 0x030E0000
#define QF_ASCII_STR_HEADER 1
enum class HeaderState : uint8_t { Unmade, Ready, Failed };
struct AsciiStrHeader {
  alignas(PyASCIIObject) unsigned char bytes[sizeof(PyASCIIObject)];
  HeaderState state;
};
constinit AsciiStrHeader g_ascii_str_header{};

inline PyObject* str_from_header(Py_ssize_t n) {
  void* mem = PyObject_Malloc(sizeof(PyASCIIObject) + static_cast<size_t>(n) + 1);
  if (!mem) return PyErr_NoMemory();
  std::memcpy(mem, g_ascii_str_header.bytes, sizeof(PyASCIIObject));
  PyObject* str = PyObject_Init(static_cast<PyObject*>(mem), &PyUnicode_Type);
  auto* a = reinterpret_cast<PyASCIIObject*>(str);
  a->length = n;
  a->hash = -1;
  ascii_chars(str)[n] = '\0';
  return str;
}

// The state bits a str's behaviour depends on, read field by field (the
// unused bits of the word are not set by the interpreter).
bool same_str_state(PyObject* a, PyObject* b) noexcept {
  const auto& x = reinterpret_cast<PyASCIIObject*>(a)->state;
  const auto& y = reinterpret_cast<PyASCIIObject*>(b)->state;
  bool same = x.interned == y.interned && x.kind == y.kind && x.compact == y.compact && x.ascii == y.ascii;
#if PY_VERSION_HEX < 0x030C0000
  same = same && x.ready == y.ready && reinterpret_cast<PyASCIIObject*>(a)->wstr == nullptr &&
         reinterpret_cast<PyASCIIObject*>(b)->wstr == nullptr;
#else
  same = same && x.statically_allocated == y.statically_allocated;
#endif
  return same;
}

// Whether a str made from the copied header equals, in size, state, hash
// and behaviour, the same text made by PyUnicode_New. Host exceptions raised
// on the way are left set.
bool header_str_matches(std::string_view text) {
  const auto n = static_cast<Py_ssize_t>(text.size());
  PyRef made = PyRef::steal(str_from_header(n));
  PyRef ref = PyRef::steal(PyUnicode_New(n, 127));
  if (!made || !ref) return false;
  std::memcpy(ascii_chars(made.get()), text.data(), text.size());
  std::memcpy(PyUnicode_DATA(ref.get()), text.data(), text.size());
  if (Py_TYPE(made.get()) != Py_TYPE(ref.get()) || Py_REFCNT(made.get()) != Py_REFCNT(ref.get()) ||
      !same_str_state(made.get(), ref.get()) || !PyUnicode_IS_COMPACT_ASCII(made.get()) ||
      PyUnicode_GET_LENGTH(made.get()) != n || PyUnicode_DATA(made.get()) != ascii_chars(made.get()))
    return false;
  PyRef size_made = PyRef::steal(PyObject_CallMethod(made.get(), "__sizeof__", nullptr));
  PyRef size_ref = PyRef::steal(PyObject_CallMethod(ref.get(), "__sizeof__", nullptr));
  if (!size_made || !size_ref || PyObject_RichCompareBool(size_made.get(), size_ref.get(), Py_EQ) != 1) return false;
  const Py_hash_t hash = PyObject_Hash(made.get());
  if (hash == -1 || hash != PyObject_Hash(ref.get())) return false;
  Py_ssize_t utf8_size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(made.get(), &utf8_size);
  if (utf8 != ascii_chars(made.get()) || utf8_size != n) return false;
  if (PyObject_RichCompareBool(made.get(), ref.get(), Py_EQ) != 1 || PyUnicode_Compare(made.get(), ref.get()) != 0)
    return false;
  PyRef upper_made = PyRef::steal(PyObject_CallMethod(made.get(), "upper", nullptr));
  PyRef upper_ref = PyRef::steal(PyObject_CallMethod(ref.get(), "upper", nullptr));
  PyRef joined = PyRef::steal(PyUnicode_Concat(made.get(), ref.get()));
  PyRef joined_ref = PyRef::steal(PyUnicode_Concat(ref.get(), ref.get()));
  if (!upper_made || !upper_ref || !joined || !joined_ref) return false;
  if (PyObject_RichCompareBool(upper_made.get(), upper_ref.get(), Py_EQ) != 1 ||
      PyObject_RichCompareBool(joined.get(), joined_ref.get(), Py_EQ) != 1)
    return false;
  // A dict finds each by the other.
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict || PyDict_SetItem(dict.get(), made.get(), Py_None) < 0) return false;
  return PyDict_GetItemWithError(dict.get(), ref.get()) == Py_None;
}

void prepare_ascii_strs() {
  if (g_ascii_str_header.state != HeaderState::Unmade) return;
  PyRef proto = PyRef::steal(PyUnicode_New(2, 127));
  bool ok = static_cast<bool>(proto);
  if (ok) {
    std::memcpy(g_ascii_str_header.bytes, proto.get(), sizeof(PyASCIIObject));
    ok = header_str_matches("qf") && header_str_matches("quillfern header check, a longer text");
  }
  PyErr_Clear();  // a failure only means strs are made the generic way
  g_ascii_str_header.state = ok ? HeaderState::Ready : HeaderState::Failed;
}
#endif

inline PyObject* new_ascii_str(Py_ssize_t n) {
#ifdef QF_ASCII_STR_HEADER
  if (g_ascii_str_header.state == HeaderState::Ready) [[likely]]
    return str_from_header(n);
#endif
  return PyUnicode_New(n, 127);
}

// A str from new_ascii_str once its characters are in.
inline PyObject* filled_ascii_str(PyObject* str) {
#ifdef Py_DEBUG
  if (!_PyUnicode_CheckConsistency(str, 1)) Py_FatalError("quillfern made an inconsistent str");
#endif
  return str;
}

// A str from checked UTF-8. ASCII texts (most keys and values) are copied
// into a fresh compact str with no decoding; empty and one-character ASCII
// texts are the interpreter's shared strs.
inline PyObject* str_from_utf8(std::string_view s) {
  const auto n = static_cast<Py_ssize_t>(s.size());
  if (n > 1) {
    if (short_text_is_ascii(s.data(), s.size())) {
      PyObject* str = new_ascii_str(n);
      if (!str) return nullptr;
      if (s.size() <= kShortCopyMax)
        copy_short_bytes(ascii_chars(str), s.data(), s.size());
      else
        std::memcpy(ascii_chars(str), s.data(), s.size());
      return filled_ascii_str(str);
    }
  } else if (n == 1) {
    if (static_cast<unsigned char>(s[0]) < 0x80) return PyUnicode_FromOrdinal(static_cast<unsigned char>(s[0]));
  } else {
    return PyUnicode_New(0, 0);
  }
  return PyUnicode_DecodeUTF8(s.data(), n, nullptr);
}

// Byte equality of two texts of `n` bytes, for the short texts of keys: a
// few word compares instead of a call.
inline bool same_bytes(const char* a, const char* b, size_t n) noexcept {
  uint64_t x, y;
  if (n >= 8) {
    size_t i = 0;
    for (; i + 8 < n; i += 8) {
      std::memcpy(&x, a + i, 8);
      std::memcpy(&y, b + i, 8);
      if (x != y) return false;
    }
    std::memcpy(&x, a + n - 8, 8);
    std::memcpy(&y, b + n - 8, 8);
    return x == y;
  }
  if (n >= 4) {
    uint32_t p, q, r, t;
    std::memcpy(&p, a, 4);
    std::memcpy(&q, b, 4);
    std::memcpy(&r, a + n - 4, 4);
    std::memcpy(&t, b + n - 4, 4);
    return p == q && r == t;
  }
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return false;
  return true;
}
}  // namespace

namespace {
// 28 keys before the first growth (7/8 load); 1 KiB, which the allocator
// serves from its per-thread cache.
constexpr size_t kInitialKeySlots = 32;
}

KeyInternCache::KeyInternCache() noexcept : seed_(process_hash_seed() | 1) {}

KeyInternCache::~KeyInternCache() {
  delete[] made_;
  if (!slots_) return;
  for (size_t i = 0; i <= mask_; ++i) Py_XDECREF(slots_[i].str);
  delete[] slots_;
}

namespace {
// Marks start at 8,192 bits (1 KiB) and grow eightfold while there are more
// than one per eight bits, up to 2^19 bits (64 KiB): a call that makes
// 100,000 keys mistakes about one in six keys made elsewhere for its own,
// which only costs keeping them. A mark is the top bits of the hash, so
// growing turns each old bit into the byte of its eight successors.
constexpr unsigned kFirstMarkBits = 13;
constexpr unsigned kLastMarkBits = 19;
}  // namespace

void KeyInternCache::mark_made(uint64_t h) noexcept {
  if (!made_ || (made_count_ > (size_t{1} << made_bits_) / 8 && made_bits_ < kLastMarkBits)) {
    const unsigned bits = made_ ? made_bits_ + 3 : kFirstMarkBits;
    auto* fresh = new (std::nothrow) uint8_t[size_t{1} << (bits - 3)]();
    if (!fresh) [[unlikely]] {
      if (!made_) return;  // keys made again only cost their making
    } else {
      if (made_) {
        for (size_t b = 0; b < (size_t{1} << (made_bits_ - 3)); ++b)
          for (unsigned bit = made_[b]; bit; bit &= bit - 1) fresh[b * 8 + __builtin_ctz(bit)] = 0xFF;
      }
      delete[] made_;
      made_ = fresh;
      made_bits_ = bits;
    }
  }
  const size_t m = static_cast<size_t>(h >> (64 - made_bits_));
  made_[m >> 3] = static_cast<uint8_t>(made_[m >> 3] | 1u << (m & 7));
  ++made_count_;
}

bool KeyInternCache::was_made(uint64_t h) const noexcept {
  if (!made_) return false;
  const size_t m = static_cast<size_t>(h >> (64 - made_bits_));
  return made_[m >> 3] >> (m & 7) & 1;
}

void KeyInternCache::grow() {
  const size_t old_cap = slots_ ? mask_ + 1 : 0;
  const size_t cap = old_cap ? old_cap * 2 : kInitialKeySlots;
  Slot* fresh = new Slot[cap]();
  const size_t mask = cap - 1;
  for (size_t i = 0; i < old_cap; ++i) {
    const Slot& s = slots_[i];
    if (!s.str) continue;
    size_t j = s.hash & mask;
    while (fresh[j].str) j = (j + 1) & mask;
    fresh[j] = s;
  }
  delete[] slots_;
  slots_ = fresh;
  mask_ = mask;
}

namespace {

// Keys recur across calls (the field names of one kind of document), so
// short ASCII key strs are also kept between calls, in buckets of four
// checked against the str's own bytes. The table has room for the key
// vocabulary of a varied set of documents (several thousand distinct field
// names). Only with the interpreter lock serialising every access; the
// module is not shared between interpreters.
//
// A document with more distinct keys than the table holds would replace
// every key on every call and find few of them on the next: a full bucket
// takes a new key only on every fourth miss, so most keys stay, and a new
// vocabulary still moves in within a few calls.
//
// The references are released by an `atexit` callback, which runs while the
// interpreter is still whole (a Py_AtExit hook runs after finalization, when
// releasing is no longer possible and the strs would leak). After that the
// table stays closed for the rest of that interpreter's life (loads called
// from later exit code or finalizers would otherwise refill it); the low-level
// hook reopens it for an embedding host that initializes again.
#ifndef Py_GIL_DISABLED
constexpr size_t kSharedKeyWays = 4;
constexpr size_t kSharedKeyBuckets = 2048;  // 8,192 keys
constexpr size_t kSharedKeyMaxBytes = 64;
struct alignas(64) SharedKeyBucket {
  uint64_t hash[kSharedKeyWays];
  PyObject* str[kSharedKeyWays];  // strong references, or nullptr
};
SharedKeyBucket g_shared_keys[kSharedKeyBuckets];
uint32_t g_shared_key_full_misses = 0;

enum class SharedKeysState : uint8_t { Unregistered, Open, Closed };
SharedKeysState g_shared_keys_state = SharedKeysState::Unregistered;

PyObject* release_shared_keys(PyObject*, PyObject*) {
  g_shared_keys_state = SharedKeysState::Closed;
  for (SharedKeyBucket& b : g_shared_keys) {
    for (size_t w = 0; w < kSharedKeyWays; ++w) {
      PyObject* str = b.str[w];
      b.hash[w] = 0;
      b.str[w] = nullptr;
      Py_XDECREF(str);
    }
  }
  Py_RETURN_NONE;
}

void reopen_shared_keys() {
  // Empty by now unless the atexit callback never ran; its references
  // cannot be released any more, so they are only forgotten.
  for (SharedKeyBucket& b : g_shared_keys) b = SharedKeyBucket{};
  g_shared_keys_state = SharedKeysState::Unregistered;
}

PyMethodDef g_release_shared_keys_def = {"_quillfern_release_key_cache", release_shared_keys, METH_NOARGS,
                                         nullptr};

// Registers the release with `atexit` (and the reopening with Py_AtExit);
// true when the table may take references. Runs host code (an import, a
// registration), so it is done when the module is executed, never inside a
// conversion.
bool open_shared_keys() {
  if (g_shared_keys_state == SharedKeysState::Open) return true;
  if (g_shared_keys_state == SharedKeysState::Closed) return false;
  // Called with no exception set. Host code runs here (an import, a
  // registration); a failure only means keys are not shared, so its
  // exception is not kept.
  bool ok = false;
  PyRef fn = PyRef::steal(PyCFunction_New(&g_release_shared_keys_def, nullptr));
  PyRef atexit = fn ? PyRef::steal(PyImport_ImportModule("atexit")) : PyRef();
  if (atexit) {
    PyRef r = PyRef::steal(PyObject_CallMethod(atexit.get(), "register", "O", fn.get()));
    ok = static_cast<bool>(r);
  }
  if (!ok) {
    PyErr_Clear();
    g_shared_keys_state = SharedKeysState::Closed;
    return false;
  }
  // Without the hook the table stays closed after a re-initialization, which
  // only costs the sharing.
  (void)Py_AtExit(reopen_shared_keys);
  g_shared_keys_state = SharedKeysState::Open;
  return true;
}

// Borrowed: the table's str for `text`, or nullptr.
inline PyObject* find_shared_key(uint64_t h, std::string_view text) noexcept {
  const SharedKeyBucket& b = g_shared_keys[h & (kSharedKeyBuckets - 1)];
  for (size_t w = 0; w < kSharedKeyWays; ++w) {
    PyObject* str = b.str[w];
    if (b.hash[w] == h && str && PyUnicode_GET_LENGTH(str) == static_cast<Py_ssize_t>(text.size()) &&
        same_bytes(ascii_chars(str), text.data(), text.size()))
      return str;
  }
  return nullptr;
}

// A key the table let go to make room: its reference passes to the caller.
struct PushedOutKey {
  uint64_t hash = 0;
  PyObject* str = nullptr;
};

[[nodiscard]] PushedOutKey remember_shared_key(uint64_t h, PyObject* str) {
  if (!PyUnicode_IS_COMPACT_ASCII(str)) return {};
  if (g_shared_keys_state != SharedKeysState::Open) return {};
  SharedKeyBucket& b = g_shared_keys[h & (kSharedKeyBuckets - 1)];
  size_t w = 0;
  while (w < kSharedKeyWays && b.str[w]) ++w;
  if (w == kSharedKeyWays) {
    const uint32_t n = ++g_shared_key_full_misses;
    if (n & 3) return {};
    w = (n >> 2) & (kSharedKeyWays - 1);
  }
  const PushedOutKey out{b.hash[w], b.str[w]};
  b.hash[w] = h;
  b.str[w] = Py_NewRef(str);
  return out;
}
#endif

// Interning makes keys compare by identity with the caller's own strs, but
// CPython 3.12 makes every interned str immortal: each distinct key of
// untrusted input would then stay for the life of the process. So keys are
// interned only where the interpreter keeps interned strs mortal, which is
// asked of the running interpreter once (3.11 and 3.13 do, 3.12 does not):
// a fresh str is interned, and an immortal one ignores a new reference.
bool interning_keeps_strs_mortal() {
  static const bool mortal = [] {
    PyObject* probe = PyUnicode_FromString("\x01quillfern key interning probe");
    if (!probe) [[unlikely]] {
      PyErr_Clear();
      return false;  // keys are only not interned
    }
    PyUnicode_InternInPlace(&probe);
    const Py_ssize_t held = Py_REFCNT(probe);
    Py_INCREF(probe);
    const bool counted = Py_REFCNT(probe) != held;
    Py_DECREF(probe);
    Py_DECREF(probe);
    return counted;
  }();
  return mortal;
}

}  // namespace

// Inline where the keys are converted: every mapping key comes through
// here, and most are found in the table kept between calls.
[[gnu::always_inline]] inline PyObject* KeyInternCache::get(std::string_view text) {
  const uint64_t h = hash_bytes(text, seed_);
#ifndef Py_GIL_DISABLED
  if (text.size() <= kSharedKeyMaxBytes) {
    if (PyObject* str = find_shared_key(h, text)) [[likely]] {
      // Once the call makes keys, kept ones count as met here too: the
      // flood may push them out of the kept table before their next use.
      // Marked once: the count that sizes the marks counts distinct keys.
      if (made_ && !was_made(h)) [[unlikely]]
        mark_made(h);
      return Py_NewRef(str);
    }
  }
#endif
  return get_missed(text, h);
}

// A key not in the kept table.
[[gnu::noinline]] PyObject* KeyInternCache::get_missed(std::string_view text, uint64_t h) {
#ifndef Py_GIL_DISABLED
  if (text.size() <= kSharedKeyMaxBytes && interning_keeps_strs_mortal() &&
      short_text_is_ascii(text.data(), text.size()))
    return get_interned(text, h);
#endif
  return get_unshared(text, h);
}

KeyInternCache::Slot& KeyInternCache::probe(std::string_view text, uint64_t h) {
  if (!slots_) grow();
  size_t i = h & mask_;
  for (;;) {
    Slot& s = slots_[i];
    if (!s.str || (s.hash == h && s.size == text.size() && same_bytes(s.data, text.data(), text.size()))) return s;
    i = (i + 1) & mask_;
  }
}

// Stores `str` (a new reference is taken) in the empty slot `s` for `h`;
// false when the str has no UTF-8 form to compare against.
bool KeyInternCache::keep(Slot& s, uint64_t h, PyObject* str) {
  // The slot compares against the str's own UTF-8 (its data when ASCII, else
  // the UTF-8 form the str keeps once asked), so the cache borrows nothing
  // from the tree being converted, which may be released meanwhile.
  Py_ssize_t n = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(str, &n);
  if (!utf8) [[unlikely]] {
    PyErr_Clear();  // not cached; the str itself is fine
    return false;
  }
  s = Slot{h, utf8, static_cast<size_t>(n), Py_NewRef(str)};
  if (++used_ * 8 > (mask_ + 1) * 7) grow();
  return true;
}

#ifndef Py_GIL_DISABLED
// A short ASCII key missing from the kept table, where keys are interned:
// interning alone makes equal keys one str, so a key met for the first time
// goes to the kept table only. Documents with one key per record would
// otherwise fill a call-long table as large as the interpreter's own
// interned set, a second miss-prone probe per key. A key met again that
// this call made is also kept for the rest of the call, so that a
// vocabulary larger than the kept table is not made again at every use;
// keys made before the call (the same document loaded while its previous
// result lives) are not.
PyObject* KeyInternCache::get_interned(std::string_view text, uint64_t h) {
  if (used_) {
    Slot& s = probe(text, h);
    if (s.str) return Py_NewRef(s.str);
  }
  PyObject* str = text.size() > 1 ? new_ascii_str(static_cast<Py_ssize_t>(text.size())) : str_from_utf8(text);
  if (!str) return nullptr;
  if (text.size() > 1) {
    std::memcpy(ascii_chars(str), text.data(), text.size());
    str = filled_ascii_str(str);
  }
  // Compared by address only: interning releases the str it replaces.
  const auto made = reinterpret_cast<uintptr_t>(str);
  PyUnicode_InternInPlace(&str);
  // Interning that failed (it drops its own errors) leaves the str as made;
  // then only this call's table keeps equal keys one object.
  if (!PyUnicode_CHECK_INTERNED(str)) [[unlikely]] {
    Py_DECREF(str);
    return get_unshared(text, h);
  }
  // Interning keeps a pushed-out key one str with its next use.
  Py_XDECREF(remember_shared_key(h, str).str);
  if (reinterpret_cast<uintptr_t>(str) == made)
    mark_made(h);
  else if (was_made(h))
    (void)keep(probe(text, h), h, str);
  return str;
}
#endif

PyObject* KeyInternCache::get_unshared(std::string_view text, uint64_t h) {
  Slot& s = probe(text, h);
  if (s.str) return Py_NewRef(s.str);
  PyObject* str = str_from_utf8(text);
  if (!str) return nullptr;
  if (interning_keeps_strs_mortal()) PyUnicode_InternInPlace(&str);
  if (!keep(s, h, str)) return str;
#ifndef Py_GIL_DISABLED
  if (text.size() <= kSharedKeyMaxBytes) {
    const PushedOutKey out = remember_shared_key(h, str);
    // Without interning, a kept key this call may already have handed out
    // stays one str only through this call's table: made again on its next
    // use, the same field name would be two objects in one result.
    if (out.str && !interning_keeps_strs_mortal()) {
      const std::string_view old_text(static_cast<const char*>(PyUnicode_DATA(out.str)),
                                      static_cast<size_t>(PyUnicode_GET_LENGTH(out.str)));
      Slot& e = probe(old_text, out.hash);
      if (!e.str) (void)keep(e, out.hash, out.str);
    }
    Py_XDECREF(out.str);
  }
#endif
  return str;
}

// ------------------------------------------------------------------ scalars

PyObject* big_int_to_python(std::string_view canonical_text, uint8_t radix) {
  // PyLong_FromString needs a terminated text; canonical texts never hold NUL.
  std::string text(canonical_text);
  return PyLong_FromString(text.c_str(), nullptr, radix);
}

namespace {
PyObject* big_int_value_to_python(const Value& v) {
  return PyLong_FromString(v.big_int_c_str(), nullptr, v.big_int_radix());
}
}  // namespace

PyObject* big_int_scalar_to_python(std::string_view scalar_text) {
  std::optional<BigIntText> big = big_int_text(scalar_text);
  if (!big) {
    PyErr_Format(PyExc_ValueError, "invalid integer literal: %.200s", std::string(scalar_text).c_str());
    return nullptr;
  }
  return PyLong_FromString(big->text.c_str(), nullptr, big->radix);
}

namespace {
PyDateTime_CAPI* datetime_api() {
  // PyDateTimeAPI is a per-translation-unit static filled by the import.
  if (!PyDateTimeAPI) PyDateTime_IMPORT;
  return PyDateTimeAPI;
}
}  // namespace

PyObject* timestamp_to_datetime(const YamlTimestamp& ts) {
  PyDateTime_CAPI* api = datetime_api();
  if (!api) return nullptr;
  if (ts.is_date()) return api->Date_FromDate(ts.year, ts.month, ts.day, api->DateType);
  PyRef tz;
  if (ts.offset_minutes) {
    PyRef delta = PyRef::steal(api->Delta_FromDelta(0, *ts.offset_minutes * 60, 0, 1, api->DeltaType));
    if (!delta) return nullptr;
    tz = PyRef::steal(api->TimeZone_FromTimeZone(delta.get(), nullptr));
    if (!tz) return nullptr;
  }
  return api->DateTime_FromDateAndTime(ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second,
                                       static_cast<int>(ts.microsecond), tz ? tz.get() : Py_None,
                                       api->DateTimeType);
}

// --------------------------------------------------------------------- tags

PyObject* apply_tag_handlers(std::string_view tag, PyObject* value_in, const TagContext& ctx) {
  PyRef value = PyRef::steal(value_in);
  if (!ctx.tags && !ctx.tag_handler && !ctx.passthrough) return value.release();

  std::string_view name = tag;
  if (tag.size() >= 3 && tag.starts_with("!<") && tag.back() == '>') name = tag.substr(2, tag.size() - 3);

  PyRef name_str;
  auto make_name = [&]() -> bool {
    if (!name_str) name_str = PyRef::steal(PyUnicode_DecodeUTF8(name.data(), static_cast<Py_ssize_t>(name.size()), nullptr));
    return static_cast<bool>(name_str);
  };

  if (ctx.tags) {
    if (!make_name()) return nullptr;
    // The plain dict lookup: a subclass's own __getitem__ is not consulted.
    PyRef fn = PyRef::borrow(PyDict_GetItemWithError(ctx.tags, name_str.get()));
    if (fn) {
      PyObject* r = PyObject_CallOneArg(fn.get(), value.get());
      if (!r) rethrow_if_internal_error();
      return r;
    }
    if (PyErr_Occurred()) return nullptr;
  }
  if (ctx.tag_handler) {
    if (!make_name()) return nullptr;
    PyObject* argv[2] = {name_str.get(), value.get()};
    PyObject* r = PyObject_Vectorcall(ctx.tag_handler, argv, 2, nullptr);
    if (!r) rethrow_if_internal_error();
    return r;
  }
  if (ctx.passthrough) return new_tag(std::string(tag), value.get());
  return value.release();
}

// --------------------------------------------------------------- containers

namespace {

PyObject* convert_node(Value& v, const TagContext& ctx, KeyInternCache& cache, uint32_t depth);

inline bool is_scalar_kind(ValueKind k) noexcept { return k <= ValueKind::Timestamp; }

[[noreturn, gnu::cold, gnu::noinline]] void scalar_reached_collection() {
  throw InternalError("scalar conversion reached a collection");
}

inline PyObject* scalar_to_python(const Value& v) {
  switch (v.kind()) {
    case ValueKind::Null:
      return Py_NewRef(Py_None);
    case ValueKind::Bool:
      return Py_NewRef(v.as_bool() ? Py_True : Py_False);
    case ValueKind::Int:
      return PyLong_FromLongLong(v.as_int());
    case ValueKind::BigInt:
      return big_int_value_to_python(v);
    case ValueKind::Float:
      return PyFloat_FromDouble(v.as_float());
    case ValueKind::String:
      return str_from_utf8(v.as_string());
    case ValueKind::Timestamp:
      return timestamp_to_datetime(v.as_timestamp());
    default:
      break;
  }
  scalar_reached_collection();
}

// `depth` is the level of `v`; containers move to a fresh stack when little
// is left, checked every 8 levels.
//
// A converted container's storage is released at once, while it is still in
// the cache, and the container is left Null (see release_converted), so its
// owner's release is cheap. A failed conversion leaves the rest of the tree
// to its owner.
[[gnu::always_inline]] inline PyObject* convert_at(Value& v, const TagContext& ctx, KeyInternCache& cache, uint32_t depth) {
  if (is_scalar_kind(v.kind())) return scalar_to_python(v);
  if ((depth & 7u) == 0) return ensure_stack([&] { return convert_node(v, ctx, cache, depth); });
  return convert_node(v, ctx, cache, depth);
}

// A list or tuple made at full length holds None in every slot until its
// item is ready: host code (a tag callable, a collector callback) may run
// while it is filled and must never meet an empty slot.
inline PyObject** prefill(PyObject* const* items, Py_ssize_t n) {
  PyObject** slots = const_cast<PyObject**>(items);
  for (Py_ssize_t i = 0; i < n; ++i) slots[i] = Py_NewRef(Py_None);
  return slots;
}

// Stores `item` (taken over) at index i of a prefilled list; a callable that
// reached the list through the collector may have shrunk it.
inline void list_store(PyObject* list, Py_ssize_t i, PyObject* item) {
  auto* l = reinterpret_cast<PyListObject*>(list);
  if (i < Py_SIZE(l)) {
    PyObject* old = l->ob_item[i];
    l->ob_item[i] = item;
    Py_DECREF(old);
  } else {
    Py_DECREF(item);
  }
}

inline void tuple_store(PyObject* tuple, Py_ssize_t i, PyObject* item) {
  PyObject* old = PyTuple_GET_ITEM(tuple, i);
  PyTuple_SET_ITEM(tuple, i, item);
  Py_DECREF(old);
}

// Passthrough tags can be mapping keys, hashed and compared through their
// class's slots: host code once the host has assigned the class a __hash__
// or __eq__ of its own.
[[gnu::noinline]] bool tag_keys_run_host_code() noexcept {
  const PyTypeObject* tp = tag_type_cell().made();
  return !tp || tp->tp_hash != PyBaseObject_Type.tp_hash || tp->tp_richcompare != PyBaseObject_Type.tp_richcompare;
}

// Whether host code can run while a conversion fills its containers: a tag
// callable, a collector callback when the collector is on (the conversions
// pause it unless a tag callable may run), the datetime import when its
// first attempt before the conversion failed, or a passthrough tag's own
// hash or comparison; on free-threaded builds other threads run meanwhile.
// Nothing else the conversion calls reaches host code: the imports and
// registrations it needs are done when the module is executed, and a key
// the dict refuses is reported once the conversion has unwound.
inline bool host_code_may_run(const TagContext& ctx) noexcept {
#ifdef Py_GIL_DISABLED
  (void)ctx;
  return true;
#else
  return ctx.tags || ctx.tag_handler || PyGC_IsEnabled() || !PyDateTimeAPI ||
         (ctx.passthrough && tag_keys_run_host_code());
#endif
}

// Frees a converted collection's storage and leaves `v` Null. Its items are
// leaves or collections already left Null the same way, so freeing them
// costs one test each, with no call into the tree's release.
template <class Items>
[[gnu::always_inline]] inline void release_converted(Value& v, Items& items) noexcept {
  Items().swap(items);
  // The emptied collection owns nothing any more: its storage is reused
  // without its destructor.
  ::new (static_cast<void*>(&v)) Value();
}

PyObject* sequence_to_python(Value& v, const TagContext& ctx, KeyInternCache& cache, uint32_t depth) {
  ValueList& items = v.items();
  const auto n = static_cast<Py_ssize_t>(items.size());
  PyRef list = PyRef::steal(PyList_New(n));
  if (!list) return nullptr;
  PyObject** slots = reinterpret_cast<PyListObject*>(list.get())->ob_item;
  if (host_code_may_run(ctx)) {
    prefill(slots, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* o = convert_at(items[static_cast<size_t>(i)], ctx, cache, depth + 1);
      if (!o) return nullptr;
      list_store(list.get(), i, o);
    }
  } else {
    // Nothing can see the list before it is full; a failure drops it with
    // its empty slots, which the list's release skips.
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* o = convert_at(items[static_cast<size_t>(i)], ctx, cache, depth + 1);
      if (!o) return nullptr;
      slots[i] = o;
    }
  }
  release_converted(v, items);
  return list.release();
}

PyObject* new_dict(size_t n) {
#if PY_VERSION_HEX < 0x030D0000
  if (n > 5) return _PyDict_NewPresized(static_cast<Py_ssize_t>(n));
#endif
  return PyDict_New();
}

PyObject* complex_key_node(Value& v, const TagContext& ctx, size_t level, size_t& deepest);

// The interpreter hashes (and compares) a tuple key by recursing through its
// nesting without any depth check; aliases can make keys tens of thousands of
// levels deep. Such a key is stored on a fresh stack when the current one
// cannot hold that recursion, and refused when no stack could.
constexpr size_t kHostFrameBytesPerKeyLevel = 128;

int dict_set_deep(PyObject* dict, PyObject* key, PyObject* value, size_t key_depth) {
  const size_t need = key_depth * kHostFrameBytesPerKeyLevel + kStackReserve;
  if (need <= remaining_stack()) return PyDict_SetItem(dict, key, value);
  if (need > kFreshStackSize - kStackReserve) {
    PyErr_SetString(PyExc_RecursionError, "mapping key nested too deeply to hash");
    return -1;
  }
  struct Ctx {
    PyObject *dict, *key, *value;
    int rc;
  } c{dict, key, value, -1};
  run_on_fresh_stack([](void* p) {
    auto* c = static_cast<Ctx*>(p);
    c->rc = PyDict_SetItem(c->dict, c->key, c->value);
  }, &c);
  return c.rc;
}

// A dict refused the key: the exception becomes the decode error.
[[gnu::cold]] void raise_unhashable_key() {
  rethrow_if_internal_error();
  PyErr_Clear();
  raise(decode_error_from_message("mapping key is not hashable in Python"));
}

inline int dict_set(PyObject* dict, PyObject* key, PyObject* value, size_t key_depth) {
  return key_depth < 64 ? PyDict_SetItem(dict, key, value) : dict_set_deep(dict, key, value, key_depth);
}

// A key a dict refused inside a conversion, thrown with the host exception
// still set. The decode error is made only once the conversion has unwound:
// making it imports and calls host code, which must not meet a list the
// conversion has not filled yet.
struct RefusedKey {};

inline void set_item(PyObject* dict, PyObject* key, PyObject* value, size_t key_depth) {
  if (dict_set(dict, key, value, key_depth) == 0) [[likely]]
    return;
  throw RefusedKey{};
}

// The entries' frame: runs a conversion and reports a refused key.
template <class F>
PyObject* reporting_refused_keys(F&& convert) {
  try {
    return convert();
  } catch (const RefusedKey&) {
    raise_unhashable_key();
    return nullptr;
  }
}
}  // namespace

bool set_mapping_item(PyObject* dict, PyObject* key, PyObject* value, size_t key_depth) {
  if (dict_set(dict, key, value, key_depth) == 0) [[likely]]
    return true;
  raise_unhashable_key();
  return false;
}

namespace {

PyObject* mapping_to_python(Value& v, const TagContext& ctx, KeyInternCache& cache, uint32_t depth) {
  PairList& pairs = v.pairs();
  PyRef dict = PyRef::steal(new_dict(pairs.size()));
  if (!dict) return nullptr;
  for (ValuePair& pair : pairs) {
    Value& k = pair.key;
    PyRef key;
    size_t key_depth = 0;
    if (k.is(ValueKind::String)) [[likely]] {
      // Most keys: a str, stored without the depth test of tuple keys.
      key = PyRef::steal(cache.get(k.as_string()));
      if (!key) return nullptr;
      PyRef val = PyRef::steal(convert_at(pair.value, ctx, cache, depth + 1));
      if (!val) return nullptr;
      set_item(dict.get(), key.get(), val.get(), 0);
      continue;
    }
    if (k.is_collection())
      key = PyRef::steal(complex_key_node(k, ctx, 1, key_depth));
    else
      key = PyRef::steal(convert_at(k, ctx, cache, depth + 1));
    if (!key) return nullptr;
    PyRef val = PyRef::steal(convert_at(pair.value, ctx, cache, depth + 1));
    if (!val) return nullptr;
    set_item(dict.get(), key.get(), val.get(), key_depth);
  }
  release_converted(v, pairs);
  return dict.release();
}

PyObject* convert_node(Value& v, const TagContext& ctx, KeyInternCache& cache, uint32_t depth) {
  switch (v.kind()) {
    case ValueKind::Sequence:
      return sequence_to_python(v, ctx, cache, depth);
    case ValueKind::Mapping:
      return mapping_to_python(v, ctx, cache, depth);
    case ValueKind::Tagged: {
      PyObject* inner = convert_at(v.inner(), ctx, cache, depth + 1);
      if (!inner) return nullptr;  // no handler sees a failed value
      return apply_tag_handlers(v.tag(), inner, ctx);
    }
    default:
      return scalar_to_python(v);
  }
}

PyObject* pair_to_tuple(ValuePair& pair, const TagContext& ctx, size_t level, size_t& deepest) {
  PyRef k = PyRef::steal(complex_key_node(pair.key, ctx, level + 1, deepest));
  if (!k) return nullptr;
  PyRef v = PyRef::steal(complex_key_node(pair.value, ctx, level + 1, deepest));
  if (!v) return nullptr;
  return PyTuple_Pack(2, k.get(), v.get());
}

// `level` counts the tuples around `v`; `deepest` gets the largest level.
PyObject* complex_key_node(Value& v, const TagContext& ctx, size_t level, size_t& deepest) {
  if (level > deepest) deepest = level;
  return ensure_stack([&]() -> PyObject* {
    if (v.is(ValueKind::Sequence)) {
      ValueList& items = v.items();
      const auto n = static_cast<Py_ssize_t>(items.size());
      PyRef tuple = PyRef::steal(PyTuple_New(n));
      if (!tuple) return nullptr;
      prefill(&PyTuple_GET_ITEM(tuple.get(), 0), n);
      for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* o = complex_key_node(items[static_cast<size_t>(i)], ctx, level + 1, deepest);
        if (!o) return nullptr;
        tuple_store(tuple.get(), i, o);
      }
      return tuple.release();
    }
    if (v.is(ValueKind::Mapping)) {
      PairList& pairs = v.pairs();
      const auto n = static_cast<Py_ssize_t>(pairs.size());
      PyRef tuple = PyRef::steal(PyTuple_New(n));
      if (!tuple) return nullptr;
      prefill(&PyTuple_GET_ITEM(tuple.get(), 0), n);
      for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* o = pair_to_tuple(pairs[static_cast<size_t>(i)], ctx, level + 1, deepest);
        if (!o) return nullptr;
        tuple_store(tuple.get(), i, o);
      }
      return tuple.release();
    }
    if (is_scalar_kind(v.kind())) return scalar_to_python(v);
    // A tagged value: converted as a value of its own (a tagged mapping
    // becomes a dict and then fails as an unhashable key).
    KeyInternCache fresh;
    return convert_node(v, ctx, fresh, 0);
  });
}

}  // namespace

CollectorPause::CollectorPause(const TagContext& ctx) noexcept {
#ifndef Py_GIL_DISABLED
  if (!ctx.tags && !ctx.tag_handler) {
    // Its first import runs host code: done before pausing. A failed import
    // is reported again where it is needed.
    if (!datetime_api()) PyErr_Clear();
    paused_ = PyGC_Disable() == 1;
  }
#else
  (void)ctx;
#endif
}

CollectorPause::~CollectorPause() {
  if (paused_) PyGC_Enable();
}

PyObject* value_to_python(Value& value, const TagContext& ctx, KeyInternCache& cache, uint32_t depth) {
  return reporting_refused_keys([&] { return convert_at(value, ctx, cache, depth); });
}

PyObject* complex_key_to_python(Value& key, const TagContext& ctx) {
  return reporting_refused_keys([&] {
    size_t deepest = 0;
    return complex_key_node(key, ctx, 1, deepest);
  });
}

PyObject* document_to_python(Value& root, const TagContext& ctx) {
  return reporting_refused_keys([&] {
    KeyInternCache cache;
    CollectorPause pause(ctx);
    return convert_at(root, ctx, cache, 0);  // a container at level 0 checks the stack
  });
}

PyObject* documents_to_python_list(ValueList& roots, const TagContext& ctx) {
  return reporting_refused_keys([&]() -> PyObject* {
    KeyInternCache cache;
    CollectorPause pause(ctx);
    const auto n = static_cast<Py_ssize_t>(roots.size());
    PyRef list = PyRef::steal(PyList_New(n));
    if (!list) return nullptr;
    prefill(reinterpret_cast<PyListObject*>(list.get())->ob_item, n);
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* o = convert_at(roots[static_cast<size_t>(i)], ctx, cache, 0);
      if (!o) return nullptr;
      list_store(list.get(), i, o);
    }
    return list.release();
  });
}

void prepare_conversions() {
#ifdef QF_ASCII_STR_HEADER
  prepare_ascii_strs();
#endif
#ifndef Py_GIL_DISABLED
  (void)open_shared_keys();
  (void)interning_keeps_strs_mortal();
#endif
}

}  // namespace qf::py
