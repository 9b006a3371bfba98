// Settings of the YAML value writer and of the JSON writer, filled once per
// dumps/to_json call from the `option` word and the `width` argument, read
// (never written) by the writers.
#pragma once
#include <cstdint>

#include "encode/null_style.hpp"
#include "resolver/resolver.hpp"

namespace qf {

// Bits of the `option` word that the dump side reads.
namespace dump_option {
inline constexpr uint64_t kYaml11 = uint64_t{1} << 0;
inline constexpr uint64_t kKestilCompat = uint64_t{1} << 1;
inline constexpr uint64_t kIndent2 = uint64_t{1} << 17;
inline constexpr uint64_t kIndent4 = uint64_t{1} << 18;
inline constexpr uint64_t kIndentlessSequences = uint64_t{1} << 19;
inline constexpr uint64_t kFlowStyle = uint64_t{1} << 20;
inline constexpr uint64_t kSortKeys = uint64_t{1} << 21;
inline constexpr uint64_t kExplicitStart = uint64_t{1} << 22;
inline constexpr uint64_t kExplicitEnd = uint64_t{1} << 23;
inline constexpr uint64_t kSingleQuotes = uint64_t{1} << 24;
inline constexpr uint64_t kNullAsKeyword = kOptNullAsKeyword;
inline constexpr uint64_t kNullAsTilde = kOptNullAsTilde;
inline constexpr uint64_t kSerializeNumpy = uint64_t{1} << 27;
inline constexpr uint64_t kPassthroughDatetime = uint64_t{1} << 28;
inline constexpr uint64_t kPassthroughDataclass = uint64_t{1} << 29;
inline constexpr uint64_t kOmitMicroseconds = uint64_t{1} << 30;
inline constexpr uint64_t kNaiveUtc = uint64_t{1} << 31;
inline constexpr uint64_t kUtcZ = uint64_t{1} << 32;
}  // namespace dump_option

// The resolver mode whose readers the output must satisfy.
inline ResolverMode dump_resolver_mode(uint64_t option) {
  if (option & dump_option::kKestilCompat) return ResolverMode::KestilCompat;
  if (option & dump_option::kYaml11) return ResolverMode::Yaml11;
  return ResolverMode::Yaml12;
}

struct EmitSettings {
  uint64_t indent = 2;  // 4 with OPT_INDENT_4
  uint64_t width = 0;   // 0: no line-width limit
  NullStyle null_style = NullStyle::Default;
  ResolverMode resolver_mode = ResolverMode::Yaml12;
  bool sort_keys = false;
  bool flow_style = false;
  bool explicit_start = false;
  bool explicit_end = false;
  bool prefer_double_quotes = true;  // false with OPT_SINGLE_QUOTES
  bool indentless = false;
};

// Null-option conflicts are the caller's to check first (null_style_from_options).
inline EmitSettings emit_settings_from_options(uint64_t option, uint64_t width) {
  EmitSettings s;
  s.indent = (option & dump_option::kIndent4) ? 4 : 2;
  s.width = width;
  s.null_style = null_style_from_options(option).style;
  s.resolver_mode = dump_resolver_mode(option);
  s.sort_keys = (option & dump_option::kSortKeys) != 0;
  s.flow_style = (option & dump_option::kFlowStyle) != 0;
  s.explicit_start = (option & dump_option::kExplicitStart) != 0;
  s.explicit_end = (option & dump_option::kExplicitEnd) != 0;
  s.prefer_double_quotes = (option & dump_option::kSingleQuotes) == 0;
  s.indentless = (option & dump_option::kIndentlessSequences) != 0;
  return s;
}

struct JsonSettings {
  uint64_t indent = 0;  // 0: compact
  bool sort_keys = false;
};

inline JsonSettings json_settings_from_options(uint64_t option) {
  JsonSettings s;
  s.indent = (option & dump_option::kIndent4) ? 4 : (option & dump_option::kIndent2) ? 2 : 0;
  s.sort_keys = (option & dump_option::kSortKeys) != 0;
  return s;
}

}  // namespace qf
