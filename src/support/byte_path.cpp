#include "support/byte_path.hpp"

#include "support/utf8.hpp"

namespace qf::path {

std::vector<std::string_view> components(std::string_view p) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < p.size()) {
    size_t j = p.find('/', i);
    if (j == std::string_view::npos) j = p.size();
    std::string_view c = p.substr(i, j - i);
    if (!c.empty() && c != ".") out.push_back(c);
    i = j + 1;
  }
  return out;
}

namespace {

std::string assemble(bool absolute, const std::vector<std::string_view>& names, size_t count) {
  std::string out = absolute ? "/" : "";
  for (size_t i = 0; i < count; ++i) {
    if (i) out.push_back('/');
    out.append(names[i]);
  }
  return out;
}

}  // namespace

std::string join(std::string_view base, std::string_view rel) {
  if (is_absolute(rel) || base.empty()) return std::string(rel);
  std::string out(base);
  if (out.back() != '/') out.push_back('/');
  out.append(rel);
  return out;
}

std::optional<std::string> parent(std::string_view p) {
  std::vector<std::string_view> names = components(p);
  if (names.empty()) return std::nullopt;
  return assemble(is_absolute(p), names, names.size() - 1);
}

std::string normalize_path(std::string_view p) {
  std::vector<std::string_view> names;
  for (std::string_view c : components(p)) {
    if (c != "..") names.push_back(c);
    else if (!names.empty()) names.pop_back();
  }
  return assemble(is_absolute(p), names, names.size());
}

bool is_inside(std::string_view p, std::string_view root) {
  if (is_absolute(p) != is_absolute(root)) return false;
  std::vector<std::string_view> a = components(p), r = components(root);
  if (r.size() > a.size()) return false;
  for (size_t i = 0; i < r.size(); ++i)
    if (a[i] != r[i]) return false;
  return true;
}

bool path_equal(std::string_view a, std::string_view b) {
  return is_absolute(a) == is_absolute(b) && components(a) == components(b);
}

std::string path_text(std::string_view p) {
  std::string out;
  out.reserve(p.size());
  const char* s = p.data();
  const char* end = s + p.size();
  while (s < end) {
    Utf8Check c = check_utf8(s, static_cast<size_t>(end - s));
    if (c.ok) {
      out.append(s, end);
      break;
    }
    out.append(s, c.valid_up_to);
    out.append("\xEF\xBF\xBD");
    s += c.valid_up_to + (c.error_len ? c.error_len : static_cast<size_t>(end - s) - c.valid_up_to);
  }
  return out;
}

}  // namespace qf::path
