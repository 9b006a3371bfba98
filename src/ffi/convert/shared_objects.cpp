#include "ffi/convert/shared_objects.hpp"

#include "ffi/errors.hpp"
#include "support/hash.hpp"

namespace qf::py {

SharedObjects::SharedObjects() : seed_(process_hash_seed()) {}

SharedObjects::~SharedObjects() {
  Py_XDECREF(first_.obj);
  for (const Slot& s : slots_)
    if (s.obj) Py_DECREF(s.obj);
}

size_t SharedObjects::slot_of(PyObject* obj) const noexcept {
  const uint64_t h = hash_detail::mix(reinterpret_cast<uintptr_t>(obj) ^ seed_, 0x9e3779b97f4a7c15ull);
  const size_t mask = slots_.size() - 1;
  size_t i = static_cast<size_t>(h) & mask;
  while (slots_[i].obj && slots_[i].obj != obj) i = (i + 1) & mask;
  return i;
}

uint64_t SharedObjects::find(PyObject* obj) const noexcept {
  if (obj == first_.obj) return first_.entries;
  if (used_ == 0) return kNotSeen;
  const Slot& s = slots_[slot_of(obj)];
  return s.obj ? s.entries : kNotSeen;
}

void SharedObjects::insert(PyObject* obj, uint64_t entries) {
  if (!first_.obj || first_.obj == obj) {
    if (!first_.obj) first_.obj = Py_NewRef(obj);
    first_.entries = entries;
    return;
  }
  if (2 * (used_ + 1) > slots_.size()) grow();
  Slot& s = slots_[slot_of(obj)];
  if (s.obj) {
    s.entries = entries;
    return;
  }
  s = {Py_NewRef(obj), entries};
  ++used_;
}

void SharedObjects::grow() {
  std::vector<Slot> old(slots_.empty() ? 64 : 2 * slots_.size(), Slot{nullptr, 0});
  old.swap(slots_);
  for (const Slot& s : old)
    if (s.obj) slots_[slot_of(s.obj)] = s;
}

void throw_shared_expansion_error() {
  throw Error::lazy(ExcClass::EncodeError, "object expands to too many nodes (shared references)");
}

}  // namespace qf::py
