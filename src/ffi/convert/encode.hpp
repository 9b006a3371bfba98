// Host objects to Value trees for dumps, to_json and schema validation.
//
// python_to_value walks a graph of host objects with the interpreter lock held
// and builds one Value tree that the writers then emit without the lock. The
// rule order is fixed: built-in types by exact type, then their subclasses,
// QuillfernTag, the caller's `serializers` (exact type lookup), the fallback
// host types (dates and times, enums, dataclasses, numpy, UUID, Decimal,
// path-like), then the caller's `default`.
//
// Failures are thrown (qf::py::Error or ErrorAlreadySet, see frame.hpp) and
// everything built or referenced so far is released by unwinding. Lists and
// dicts are snapshotted as strong references before any child can run host
// code, so callbacks that mutate them cannot pull items out from under us.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "decode/value.hpp"
#include "ffi/convert/shared_objects.hpp"
#include "ffi/py.hpp"
#include "ffi/pyref.hpp"

namespace qf::py {

// Objects at this depth (steps below the root) or deeper are refused.
inline constexpr uint32_t kMaxEncodeDepth = 1000;

struct EncodeContext {
  PyObject* default_fn = nullptr;   // borrowed; the caller keeps it alive
  PyObject* serializers = nullptr;  // borrowed dict (or subclass)
  // The call's expansion budget, shared by every conversion of one dumps
  // call; nullptr gives each python_to_value call a budget of its own.
  SharedObjects* shared = nullptr;
  uint32_t depth = 0;
  bool serialize_numpy = false;
  bool omit_microseconds = false;
  bool naive_utc = false;
  bool utc_z = false;
  bool passthrough_datetime = false;
  bool passthrough_dataclass = false;

  EncodeContext child() const noexcept {
    EncodeContext c = *this;
    ++c.depth;
    return c;
  }
};

// The context of a dumps/to_json call: `default_fn` and `serializers` may be
// nullptr; the six flags come from bits 27 to 32 of the option word.
EncodeContext encode_context_from_options(uint64_t option, PyObject* default_fn, PyObject* serializers);

// The conversion. Requires the interpreter lock; throws on failure (also
// "object expands to too many nodes (shared references)" when containers
// reached again add more than kMaxSharedExpansion nodes).
Value python_to_value(PyObject* obj, const EncodeContext& ctx);

// ---- pieces shared with the represent road ----

// Outcome of a fallback step: a value, or nullopt for "not handled" (the
// caller goes on). Errors are thrown.
using Handled = std::optional<Value>;

// A str (or subclass) as UTF-8 from its own character data; QuillfernEncodeError
// for a lone surrogate.
Value encode_str(PyObject* s);

// The isoformat text of any object with an `isoformat` attribute, rewritten
// by the time options; nullopt when there is none or passthrough is set.
Handled encode_datetime(PyObject* obj, const EncodeContext& ctx);

// True when the object's metaclass is named "EnumType" or "EnumMeta".
bool is_enum_member(PyObject* obj);

// The plain object of a numpy array or scalar (tolist(), else item()); an
// empty reference when numpy is unavailable or the object is not numpy's.
// numpy is imported once per process, at the first call.
PyRef numpy_to_plain(PyObject* obj);

// A host callback failed: an internal-error exception raised inside it stays
// an internal failure, anything else passes through unchanged (thrown).
[[noreturn]] void throw_callback_error();

// Strong references to the (key, value) pairs or items of a collection,
// taken before any of them is converted.
using PairRefs = std::vector<std::pair<PyRef, PyRef>>;
using ItemRefs = std::vector<PyRef>;

// The tag text and the value of a QuillfernTag (or subclass), read under its
// shared borrow (the borrow error is thrown).
std::pair<std::string, PyRef> read_tag_object(PyObject* obj);

// The tag text of a (tag, value) serializer result: TypeError for a tag that
// is not a str.
std::string serializer_tuple_tag(PyObject* tag_obj);

// The serializer registered for the exact type of `obj`, or an empty
// reference (also when `serializers` is null).
PyRef find_serializer(PyObject* serializers, PyObject* obj);

// The (field name, attribute value) pairs of a dataclass instance in field
// order, or nullopt when `obj` has no __dataclass_fields__ or is a class.
std::optional<PairRefs> dataclass_field_pairs(PyObject* obj);

// Rule 18 of the conversion: the fallback host types, in their fixed order.
// `ctx` is the context of the object's children.
Handled encode_fallback(PyObject* obj, const EncodeContext& ctx);

}  // namespace qf::py
