// Mapping-key identity for the duplicate-key and merge-key rules, and the
// complex-key policy.
//
// The identity follows the host's dict: two keys are the same exactly when the
// objects they become compare equal there. So false, 0, 0.0 and -0.0 are one
// key; integral floats equal integers of any size; BigInts written in
// different radixes meet; aware timestamps compare by their UTC instant (and
// never equal naive ones or dates); sequence and mapping keys become tuples,
// so [[a, 1]] and {a: 1} are one key; tagged keys compare by tag and inner
// value. NaN keys compare by their bits.
//
// Custom tags are part of a key's identity only where the host sees them (a
// tag handler or QuillfernTag stands for the tagged value); when they are
// dropped on the way to the host, `!t a` and `a` become one str and so are
// one key. A nested merge marker always counts as the "<<" it becomes.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "decode/load_error.hpp"
#include "decode/value.hpp"

namespace qf {

// Whether custom tags reach the host with their values (Kept) or are dropped
// there, leaving the bare value (Dropped).
enum class KeyTags : uint8_t { Kept, Dropped };

// Appends the key's identity text; equal texts mean equal keys. Iterative.
void append_key_fingerprint(const Value& key, std::string& out, KeyTags tags = KeyTags::Kept);
std::string duplicate_key_fingerprint(const Value& key, KeyTags tags = KeyTags::Kept);

// The key as shown in duplicate-key messages: a String's own text, otherwise
// its debug rendering; with Dropped, the key's outer tags are not shown.
std::string duplicate_key_display(const Value& key, KeyTags tags = KeyTags::Kept);

// The complex-key policy: with `reject` set, a Sequence or Mapping key fails
// with a ComplexKey error at `span`; every other key (a tagged collection too)
// passes.
std::optional<LoadError> complex_key_error(bool reject, const Value& key, const Span& span);

}  // namespace qf
