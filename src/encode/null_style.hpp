// How a null is written by the YAML writers (the value writer and the
// round-trip emitter), chosen by OPT_NULL_AS_KEYWORD / OPT_NULL_AS_TILDE.
#pragma once
#include <cstdint>

namespace qf {

// Default: nothing after "key:", "-" or a tag in block context (the line
// ends there); "null" in flow context and for an untagged document root.
enum class NullStyle : uint8_t {
  Keyword = 0,  // "null" everywhere
  Default = 1,
  Tilde = 2,  // "~" everywhere
};

inline constexpr uint64_t kOptNullAsKeyword = uint64_t{1} << 25;
inline constexpr uint64_t kOptNullAsTilde = uint64_t{1} << 26;

// The null style of an option word. `conflict` is set when both options are
// given (the caller raises "OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are
// mutually exclusive"); the style is then Default.
struct NullStyleChoice {
  bool conflict = false;
  NullStyle style = NullStyle::Default;
};

inline NullStyleChoice null_style_from_options(uint64_t option) {
  bool kw = (option & kOptNullAsKeyword) != 0;
  bool tilde = (option & kOptNullAsTilde) != 0;
  if (kw && tilde) return {true, NullStyle::Default};
  return {false, kw ? NullStyle::Keyword : tilde ? NullStyle::Tilde : NullStyle::Default};
}

}  // namespace qf
