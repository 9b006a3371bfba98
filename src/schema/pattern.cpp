#include "schema/pattern.hpp"

#include <cstddef>
#include <cstdint>

extern "C" {
QfRegex* qf_regex_compile(const char* pattern, size_t len);
int32_t qf_regex_is_match(const QfRegex* re, const char* text, size_t len);
void qf_regex_free(QfRegex* re);
}

namespace qf {

CompiledPattern::~CompiledPattern() { qf_regex_free(re_); }

// A failed search (never expected) counts as no match.
bool CompiledPattern::search(std::string_view text) const {
  return qf_regex_is_match(re_, text.data(), text.size()) == 1;
}

std::unique_ptr<CompiledPattern> compile_schema_pattern(std::string_view pattern) {
  QfRegex* re = qf_regex_compile(pattern.data(), pattern.size());
  if (!re) return nullptr;
  return std::make_unique<CompiledPattern>(re);
}

const CompiledPattern* PatternSet::get(std::string_view pattern) {
  std::string key(pattern);
  auto it = patterns_.find(key);
  if (it == patterns_.end()) it = patterns_.emplace(std::move(key), compile_schema_pattern(pattern)).first;
  return it->second.get();
}

std::string invalid_pattern_message(std::string_view pattern) {
  std::string m = "schema has an invalid regex pattern /";
  m.append(pattern);
  m += '/';
  return m;
}

}  // namespace qf
