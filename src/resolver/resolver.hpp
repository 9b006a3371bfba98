// Scalar resolution: what a scalar's text means under the YAML 1.2 core
// rules, the YAML 1.1 rules, or the strict 1.1 compatibility rules.
//
// Everything here is a pure function of (text, style, tag): no state, no
// interpreter, and no allocation except where an owned result is asked for.
// Resolution never fails: a text that fits no rule is a string. Timestamps
// are not resolved here; callers offer strings to parse_timestamp.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "resolver/big_int.hpp"
#include "scanner/token.hpp"  // ScalarStyle

namespace qf {

enum class ResolverMode : uint8_t {
  Yaml12 = 0,        // YAML 1.2 core rules
  Yaml11 = 1,        // YAML 1.1, lenient
  KestilCompat = 2,  // YAML 1.1, strict (drivers also turn timestamps on)
};

enum class ResolvedKind : uint8_t {
  Null = 0,
  Bool = 1,
  Int = 2,
  BigInt = 3,  // integer syntax, magnitude beyond signed 64 bits
  Float = 4,
  Str = 5,
  Merge = 6,  // the merge key "<<"
};

// "null", "bool", "int", "int", "float", "str", "merge": Int and BigInt share
// one name, so comparing names never tells them apart.
std::string_view resolved_kind_name(ResolvedKind kind) noexcept;

// The tag after handle expansion ("tag:yaml.org,2002:int") or as written
// ("!!int"); both forms of the core tags are recognised. nullopt: untagged.
using ScalarTag = std::optional<std::string_view>;

// Borrowed result: the text is not copied; a caller that needs the text of a
// Str or BigInt keeps its own (big_int_text gives the BigInt's canonical
// form).
struct Resolution {
  ResolvedKind kind = ResolvedKind::Str;
  bool truth = false;  // Bool
  union {
    int64_t int_value = 0;  // Int
    double float_value;     // Float
  };

  bool is(ResolvedKind k) const noexcept { return kind == k; }
};

// Owned result. kind is never Merge: a merge key is reported as the Str "<<".
// Str: `text` is a copy of the scalar text. BigInt: `text`/`radix` are the
// canonical big-integer text (see big_int.hpp) — convert with radix, or use
// big_int_to_decimal where decimal digits are needed.
struct ResolvedScalar {
  ResolvedKind kind = ResolvedKind::Str;
  bool truth = false;
  uint8_t radix = 10;  // BigInt
  int64_t int_value = 0;
  double float_value = 0.0;
  std::string text;
};

ResolvedScalar resolve_scalar_owned(ResolverMode mode, std::string_view text, ScalarStyle style,
                                    ScalarTag tag = std::nullopt);

Resolution resolve_yaml12(std::string_view text, ScalarStyle style,
                          ScalarTag tag = std::nullopt) noexcept;
Resolution resolve_yaml11(bool strict, std::string_view text, ScalarStyle style,
                          ScalarTag tag = std::nullopt) noexcept;
ResolvedScalar resolve_yaml11_owned(bool strict, std::string_view text, ScalarStyle style,
                                    ScalarTag tag = std::nullopt);

// Mode dispatch: Yaml12 -> resolve_yaml12; Yaml11 -> resolve_yaml11 lenient;
// KestilCompat -> resolve_yaml11 strict. Inline: the loader calls it per scalar.
inline Resolution resolve_scalar(ResolverMode mode, std::string_view text, ScalarStyle style,
                                 ScalarTag tag = std::nullopt) noexcept {
  switch (mode) {
    case ResolverMode::Yaml11:
      return resolve_yaml11(false, text, style, tag);
    case ResolverMode::KestilCompat:
      return resolve_yaml11(true, text, style, tag);
    default:
      return resolve_yaml12(text, style, tag);
  }
}

// Turns a borrowed result into the owned form (text = the scalar text).
ResolvedScalar make_resolved_scalar(const Resolution& r, std::string_view text);

// The pair (kind name under `mode`, kind name under YAML 1.2) when the scalar
// means something different under the mode's 1.1 rules than under 1.2;
// nothing under Yaml12, when the names agree, or when the mode reads a string.
struct KindNamePair {
  std::string_view mode_kind;
  std::string_view yaml12_kind;
};
std::optional<KindNamePair> yaml11_ambiguity(ResolverMode mode, std::string_view text,
                                             ScalarStyle style, ScalarTag tag = std::nullopt) noexcept;

// ---- YAML 1.2 number routines (shared with the 1.1 rules) ----

// ".inf"/".Inf"/".INF" (optionally '+' or '-'), ".nan"/".NaN"/".NAN".
std::optional<double> parse_special_float(std::string_view text) noexcept;
// Decimal float grammar over the whole text (no blanks, no underscores);
// also inf/infinity/nan in any case after an optional sign. Out-of-range
// magnitudes give +-inf or +-0, never a failure. Locale-free.
std::optional<double> parse_decimal_float(std::string_view text) noexcept;
// 1.2 integer syntax: [+-] then 0x.., 0o.., "0", or decimal without a
// leading zero.
bool yaml12_int_matches(std::string_view text) noexcept;
// Its value when it fits a signed 64-bit integer (-2**63 included).
std::optional<int64_t> yaml12_int_value(std::string_view text) noexcept;

// ---- YAML 1.1 routines ----

// yes/no/on/off/true/false in their three cases; y/Y/n/N unless strict.
std::optional<bool> yaml11_bool(std::string_view text, bool strict) noexcept;
bool yaml11_int_matches(std::string_view text) noexcept;
// Value of a 1.1 integer (decimal, 0x, 0b, leading-0 octal, base 60) when it
// fits a signed 64-bit integer (-2**63 included).
std::optional<int64_t> yaml11_int_value(std::string_view text) noexcept;
// Base-60 float ("1:30.5"); the text must have no underscores.
std::optional<double> yaml11_base60_float(std::string_view text) noexcept;
// Digits of `radix` (no sign) as a non-negative 64-bit integer; fails on
// overflow or an invalid digit.
std::optional<int64_t> parse_unsigned_radix(std::string_view text, unsigned radix) noexcept;
// The text without '_': a view of `text` itself when it has none, otherwise a
// view of `storage`, which receives the stripped copy.
std::string_view strip_underscores(std::string_view text, std::string& storage);

}  // namespace qf
