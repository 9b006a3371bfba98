// The %TAG handles of one document, read from its root's directives, and the
// expansion of tags written with them, as the value loader reads them: so a
// source tree's tags reach scalar resolution and the tag handlers with the
// same names on every road.
#pragma once
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "roundtrip/ast.hpp"
#include "support/words.hpp"

namespace qf {

class TagHandles {
 public:
  TagHandles() = default;
  // From the "TAG !h! prefix" directives of a document root; the first
  // definition of a handle is kept.
  explicit TagHandles(const YamlNode& root) {
    for (const std::string& d : root.directives()) add(d);
  }

  bool empty() const noexcept { return handles_.empty(); }

  // The tag with a declared handle replaced by its prefix; anything else (no
  // handle declared, a verbatim tag) as written.
  std::string_view expand(std::string_view tag, std::string& scratch) const {
    if (handles_.empty() || !tag.starts_with("!") || tag.starts_with("!<")) return tag;
    const size_t second = tag.find('!', 1);
    const std::string_view handle = second == std::string_view::npos ? tag.substr(0, 1) : tag.substr(0, second + 1);
    for (const auto& [h, prefix] : handles_) {
      if (h != handle) continue;
      scratch.assign(prefix);
      scratch.append(tag.substr(handle.size()));
      return scratch;
    }
    return tag;
  }

 private:
  void add(std::string_view d) {
    const DirectiveWords w = read_directive(d);
    if (w.kind != DirectiveWords::Kind::Tag) return;
    for (const auto& h : handles_)
      if (h.first == w.handle) return;
    handles_.emplace_back(std::string(w.handle), std::string(w.prefix));
  }

  std::vector<std::pair<std::string, std::string>> handles_;
};

}  // namespace qf
