// Merge keys ("<<") on value trees. The loader marks every merge key while
// decoding and rewrites each document once the stream is decoded: a merge
// value that is a mapping (or a sequence of them) adds every pair whose key
// the mapping does not have yet; what cannot be merged stays under "<<".
//
// Key identity here is the host's (append_key_fingerprint): an explicit 1 is
// never overridden by a merged true, nor an explicit `!t a` by a merged `a`
// when the host drops the tag.
#pragma once
#include <string>

#include "decode/keys.hpp"
#include "decode/value.hpp"

namespace qf {

// Tagged(kMergeTag, String "<<").
Value make_merge_marker();
bool is_merge_marker(const Value& value) noexcept;

// Rewrites one tree in place; afterwards no merge marker is left in it.
// Iterative.
void apply_merge_keys(Value& root, KeyTags tags = KeyTags::Kept);

// Replaces every merge marker inside the value by the String "<<". Iterative.
void strip_merge_markers(Value& value);

// Appends a canonical text of the value in which every kind is distinct and
// floats compare by their bits ("2:1;" for the integer 1, "5:1:a" for the
// string a, tags length-prefixed). Iterative.
void write_canonical_value_key(std::string& out, const Value& value);

}  // namespace qf
