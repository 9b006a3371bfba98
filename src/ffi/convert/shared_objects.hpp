// The expansion budget of one host-object conversion (dumps, to_json).
//
// A container reached a second time in one call (a list shared by many
// parents, say) is written out again in full, so a few kilobytes of shared
// lists can stand for billions of output nodes. The nodes produced for such
// repeats are charged against kMaxSharedExpansion; objects reached once cost
// nothing. Only objects with more than one reference can be reached twice, so
// only those enter the table, and the common tree of fresh objects pays one
// reference-count test per container.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ffi/py.hpp"

namespace qf::py {

// Nodes that repeats of shared containers may add to one call's output; the
// same size as the loader's alias budget.
inline constexpr uint64_t kMaxSharedExpansion = 10'000'000;

class SharedObjects {
 public:
  SharedObjects();
  SharedObjects(const SharedObjects&) = delete;
  SharedObjects& operator=(const SharedObjects&) = delete;
  ~SharedObjects();  // releases the references the table holds

  // Collection entries produced so far in this call (items, keys and values).
  uint64_t produced = 0;
  // Entries produced for repeats so far.
  uint64_t charged = 0;
  // Repeats being converted (a repeat inside a repeat is charged once, as
  // part of the outer one).
  uint32_t repeating = 0;

  // The entries the object produced when it was first converted, or
  // kNotSeen.
  static constexpr uint64_t kNotSeen = ~uint64_t{0};
  uint64_t find(PyObject* obj) const noexcept;
  // Records a converted object. The table keeps it alive for the call, so
  // its address cannot be reused by another object meanwhile.
  void insert(PyObject* obj, uint64_t entries);

 private:
  struct Slot {
    PyObject* obj;
    uint64_t entries;
  };
  size_t slot_of(PyObject* obj) const noexcept;
  void grow();

  // The first object recorded (usually the call's own argument, which its
  // caller holds too) needs no table, so most calls allocate nothing.
  Slot first_{nullptr, 0};
  std::vector<Slot> slots_;  // open addressing, power-of-two size
  size_t used_ = 0;
  uint64_t seed_;
};

// "object expands to too many nodes (shared references)"
[[noreturn]] void throw_shared_expansion_error();

}  // namespace qf::py
