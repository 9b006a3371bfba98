// Value trees to host objects: None, bool, int, float, str, date/datetime,
// list, dict (collection keys as tuples), with custom tags handed to the
// caller's `tags`, `tag_handler` or QuillfernTag.
//
// Everything here runs with the interpreter lock held. Functions returning
// PyObject* give a new reference, or nullptr with the host exception set;
// they may also throw (qf::InternalError when a callback raised the
// internal-error exception, std::bad_alloc), which the host-call frame turns
// into a host exception. Nothing leaks either way.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "decode/value.hpp"
#include "ffi/py.hpp"
#include "resolver/timestamp.hpp"

namespace qf::py {

// How custom tags are applied. Borrowed references: the caller keeps the
// objects alive for the conversion.
struct TagContext {
  PyObject* tags = nullptr;         // a dict (or subclass) of tag name -> callable, or nullptr
  PyObject* tag_handler = nullptr;  // callable(name, value), or nullptr
  bool passthrough = false;         // unhandled tags become QuillfernTag
};

// Host strings for mapping-key texts, so the field names of many records
// become one shared str each (interned where interning keeps strs mortal).
// Holds one reference per stored string and borrows nothing else; allocates
// nothing until the first key.
class KeyInternCache {
 public:
  KeyInternCache() noexcept;
  ~KeyInternCache();
  KeyInternCache(const KeyInternCache&) = delete;
  KeyInternCache& operator=(const KeyInternCache&) = delete;

  // New reference to the shared str for `text`; nullptr with the host
  // exception set when the str cannot be made. Inline in decode.cpp, the
  // only place that converts keys.
  PyObject* get(std::string_view text);

 private:
  struct Slot {
    uint64_t hash;
    const char* data;  // the UTF-8 of `str`, owned by it
    size_t size;
    PyObject* str;
  };
  // The slot holding `text`, or the empty slot where it would go.
  Slot& probe(std::string_view text, uint64_t hash);
  bool keep(Slot& empty, uint64_t hash, PyObject* str);
  PyObject* get_missed(std::string_view text, uint64_t hash);
  PyObject* get_unshared(std::string_view text, uint64_t hash);
  PyObject* get_interned(std::string_view text, uint64_t hash);
  void grow();
  // Marks of the keys this call made, a bit per hash, allocated at the
  // first key made. No key made here is ever unmarked.
  void mark_made(uint64_t hash) noexcept;
  bool was_made(uint64_t hash) const noexcept;

  Slot* slots_ = nullptr;
  size_t mask_ = 0;  // capacity - 1
  size_t used_ = 0;
  uint64_t seed_;
  uint8_t* made_ = nullptr;
  unsigned made_bits_ = 0;  // log2 of the number of marks
  size_t made_count_ = 0;
};

// The objects a conversion makes are acyclic, so collector passes over the
// growing result are pure cost: the collector is paused for the conversion
// unless a tag callable (which may run arbitrary code) can be called. A
// collector the caller turned off stays off. Not done on free-threaded
// builds, where the switch is shared with threads that are running.
class CollectorPause {
 public:
  explicit CollectorPause(const TagContext& ctx) noexcept;
  ~CollectorPause();
  CollectorPause(const CollectorPause&) = delete;
  CollectorPause& operator=(const CollectorPause&) = delete;

 private:
  bool paused_ = false;
};

// The conversions release the storage of each container of the tree once it
// is converted (the tree is left holding Null in its place, and on failure
// whatever was not converted yet); the tree's owner still owns and drops it.

// One value (and everything under it). `depth` is the nesting level of
// `value`; the remaining stack is checked every 8 levels.
PyObject* value_to_python(Value& value, const TagContext& ctx, KeyInternCache& cache, uint32_t depth);

// A document root with a fresh key cache (what loads converts).
PyObject* document_to_python(Value& root, const TagContext& ctx);

// Every document, in order, into a new host list; one key cache serves the
// whole stream (what loads_all converts). Nothing is left over on failure.
PyObject* documents_to_python_list(ValueList& roots, const TagContext& ctx);

// A sequence or mapping used as a mapping key: a tuple of its items, a
// mapping as a tuple of (key, value) 2-tuples, nested likewise.
PyObject* complex_key_to_python(Value& key, const TagContext& ctx);

// A canonical big-integer text (optional '-', digits of `radix`) as a host
// int. Linear for radixes 2, 8 and 16; for radix 10 the interpreter's
// int-to-string digit limit applies and its ValueError passes through.
PyObject* big_int_to_python(std::string_view canonical_text, uint8_t radix);
// An integer scalar as written (sign, underscores, 0x/0o/0b prefixes,
// leading-zero octal): canonicalised, then as above. A text that is not an
// integer of that shape raises ValueError.
PyObject* big_int_scalar_to_python(std::string_view scalar_text);

// dict[key] = value, keeping the first position of an equal key. A key the
// dict refuses (unhashable, or a hash or comparison that raises) fails with
// QuillfernDecodeError "mapping key is not hashable in Python". `key_depth`
// is the nesting of a tuple key (0 for a scalar): deep keys are hashed on a
// stack that can hold the interpreter's recursion. False when raised.
bool set_mapping_item(PyObject* dict, PyObject* key, PyObject* value, size_t key_depth);

// Done when the module is executed, never inside a conversion: what the
// conversions would otherwise do on first use that runs host code (the
// import and `atexit` registration of the key table kept between calls) or
// checks the running interpreter (the short-str shortcut, interning). A
// failure only turns the shortcut off.
void prepare_conversions();

// datetime.date, a naive datetime.datetime, or one with a fixed-offset
// timezone.
PyObject* timestamp_to_datetime(const YamlTimestamp& ts);

// Applies the custom tag `tag` to the already converted `value` (the
// reference is taken over, also on failure): a `tags` entry for the tag's
// name, else `tag_handler(name, value)`, else a QuillfernTag with
// passthrough, else the value itself. A verbatim tag "!<x>" has the name x.
PyObject* apply_tag_handlers(std::string_view tag, PyObject* value, const TagContext& ctx);

}  // namespace qf::py
