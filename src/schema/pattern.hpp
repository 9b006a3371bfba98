// Schema patterns on the Rust `regex` crate (regex_ffi/): its syntax, linear
// search, a 10 MiB compiled-size limit and a nesting limit of 250.
// Nothing is kept between validations: a PatternSet lives for one call.
#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

extern "C" {
struct QfRegex;
}

namespace qf {

class CompiledPattern {
 public:
  explicit CompiledPattern(QfRegex* re) : re_(re) {}
  ~CompiledPattern();
  CompiledPattern(const CompiledPattern&) = delete;
  CompiledPattern& operator=(const CompiledPattern&) = delete;

  // Unanchored: true when the pattern matches anywhere in `text` (UTF-8).
  bool search(std::string_view text) const;

 private:
  QfRegex* re_;
};

// The compiled pattern, nullptr when the pattern is invalid or over a limit.
std::unique_ptr<CompiledPattern> compile_schema_pattern(std::string_view pattern);

// The patterns of one validation: each distinct text is compiled once, when
// it is first asked for, and everything is released with the set.
class PatternSet {
 public:
  // nullptr when the pattern is invalid.
  const CompiledPattern* get(std::string_view pattern);
  size_t compiled() const { return patterns_.size(); }

 private:
  std::unordered_map<std::string, std::unique_ptr<CompiledPattern>> patterns_;
};

// "schema has an invalid regex pattern /{}/"
std::string invalid_pattern_message(std::string_view pattern);

}  // namespace qf
