// Schema patterns on RE2: linear-time search, bounded memory, no
// backtracking. Patterns are written in the Rust `regex` dialect (Unicode
// classes, `(?<name>...)`, `\u{...}`); translate_pattern rewrites what RE2
// reads differently and refuses what it cannot express faithfully.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qf {

inline constexpr unsigned kMaxPatternNesting = 250;

// The RE2 form of a pattern, or nothing when the pattern is invalid or uses
// a construct RE2 cannot express the same way: nesting deeper than 250,
// class set operations (&&, --, ~~), nested brackets, \S or \W beside other
// members of a bracket, \Q, \C, octal and back references.
std::optional<std::string> translate_pattern(std::string_view pattern);

class CompiledPattern {
 public:
  virtual ~CompiledPattern() = default;
  // Unanchored: true when the pattern matches anywhere in `text`.
  virtual bool search(std::string_view text) const = 0;
};

// The compiled pattern, nullptr when it is invalid (translation refused,
// RE2 refused it, or it needs more than 16 MiB). Results, failures included,
// are kept in a bounded process-wide cache keyed by the pattern text, so a
// pattern is compiled once however often it is used. Thread-safe.
std::shared_ptr<const CompiledPattern> compile_schema_pattern(std::string_view pattern);

// "schema has an invalid regex pattern /{}/"
std::string invalid_pattern_message(std::string_view pattern);

}  // namespace qf
