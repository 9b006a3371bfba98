// The represent-callback descriptors QuillfernScalar, QuillfernMapping and
// QuillfernSequence: immutable after construction, no borrow flag.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// The text between double quotes with backslash escapes for the quote, the
// backslash and control characters (\t, \r, \n, \0, else \u{hex}).
std::string debug_quoted(std::string_view text);

// A comment_before/comment_after argument: its lines (split at LF, CR and
// CR LF) joined again with "\n". False with ValueError set for NEL, LS, PS
// or a control character other than TAB.
bool normalize_comment_argument(std::optional<std::string>& text);

}  // namespace qf::py
