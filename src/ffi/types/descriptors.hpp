// The represent-callback descriptors QuillfernScalar, QuillfernMapping and
// QuillfernSequence: immutable after construction, no borrow flag.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "ffi/py.hpp"
#include "ffi/type_cell.hpp"
#include "scanner/token.hpp"

namespace qf::py {

// Style codes: -1 auto, 0 plain, 1 single, 2 double, 3 literal, 4 folded.
struct ScalarObject {
  PyObject_HEAD
  std::string value;
  std::optional<std::string> tag;
  std::optional<std::string> comment;
  std::optional<std::string> comment_before;
  std::optional<std::string> comment_after;
  int8_t style;
};

// Shared layout of QuillfernMapping (entries = pairs) and QuillfernSequence
// (entries = items). flow: 0 block, 1 flow, 2 no override.
struct CollectionDescriptorObject {
  PyObject_HEAD
  std::optional<std::string> tag;
  std::optional<std::string> comment;
  std::optional<std::string> comment_before;
  std::optional<std::string> comment_after;
  PyObject* entries;  // owned list or tuple
  uint8_t flow;
};

TypeCell& scalar_type_cell();
TypeCell& mapping_type_cell();
TypeCell& sequence_type_cell();

// The style name of a code ("auto" for -1).
const char* scalar_style_name(int8_t code) noexcept;
// "plain", "single", "double", "literal" or "folded".
inline const char* scalar_style_name(ScalarStyle style) noexcept {
  return scalar_style_name(static_cast<int8_t>(style));
}

}  // namespace qf::py
