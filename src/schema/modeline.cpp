#include "schema/modeline.hpp"

#include "support/utf8.hpp"

namespace qf {

namespace {

std::string_view trim_front(std::string_view s) {
  const char* p = s.data();
  const char* end = p + s.size();
  while (size_t n = white_space_length(p, end)) p += n;
  return s.substr(static_cast<size_t>(p - s.data()));
}

std::string_view trim_back(std::string_view s) {
  // Walk forward remembering where the last non-blank character ends: a
  // White_Space character cannot be told from its last byte alone.
  const char* p = s.data();
  const char* end = p + s.size();
  const char* keep = p;
  while (p < end) {
    if (size_t n = white_space_length(p, end)) {
      p += n;
      continue;
    }
    p += utf8_sequence_length(static_cast<unsigned char>(*p));
    if (p > end) p = end;
    keep = p;
  }
  return s.substr(0, static_cast<size_t>(keep - s.data()));
}

bool consume(std::string_view& s, std::string_view prefix) {
  if (s.substr(0, prefix.size()) != prefix) return false;
  s.remove_prefix(prefix.size());
  return true;
}

}  // namespace

std::optional<std::string> find_schema_modeline(std::string_view text) {
  consume(text, "\xEF\xBB\xBF");
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string_view line = nl == std::string_view::npos ? text.substr(pos) : text.substr(pos, nl - pos);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    if (nl != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = trim_front(line);
    if (line.empty()) continue;
    if (line.front() != '#') return std::nullopt;
    line = trim_front(line.substr(1));
    if (!consume(line, "yaml-language-server:")) continue;
    line = trim_front(line);
    if (!consume(line, "$schema=")) continue;
    line = trim_back(trim_front(line));
    if (!line.empty()) return std::string(line);
  }
  return std::nullopt;
}

}  // namespace qf
