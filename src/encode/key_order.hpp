// The order of mapping keys under OPT_SORT_KEYS. compare_sort_keys is a
// strict weak ordering over every Value, so a stable sort with it is well
// defined: keys are ranked null < bool < number < text < collection/tagged,
// numbers of all kinds are compared by exact value (no rounding of large
// integers to double), and text keys byte-wise.
#pragma once
#include <vector>

#include "decode/value.hpp"

namespace qf {

// True when key a sorts before key b.
//   rank:    Null 0, Bool 1, Int/BigInt/Float 2, String/Timestamp 3,
//            Sequence/Mapping/Tagged 4 (a tagged key ranks as a collection)
//   Bool:    false before true
//   numbers: exact value; NaNs ordered as in the IEEE 754 total order
//            (negative NaNs first, positive NaNs last) and -0.0 just before
//            every other zero
//   text:    byte-wise, a proper prefix first; a timestamp sorts as its
//            canonical text
//   rank 4 keys, and two nulls, are all equivalent.
bool compare_sort_keys(const Value& a, const Value& b);

// Three-way exact comparison of two number values (Int, BigInt, Float) in
// the order of compare_sort_keys: negative, zero or positive.
int compare_numbers(const Value& a, const Value& b);

// The pairs in writing order: insertion order, or a stable sort by
// compare_sort_keys when `sort_keys` is set and there are two or more pairs.
std::vector<const ValuePair*> mapping_entry_order(const PairList& pairs, bool sort_keys);

}  // namespace qf
