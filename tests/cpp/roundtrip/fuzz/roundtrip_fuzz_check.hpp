// The property the round-trip fuzz target checks on one input: a text that
// composes renders back unchanged byte for byte, and re-emitted with every
// node marked modified it composes again to the same values, keeps every
// comment, and emits the same bytes a second time.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../corpus_support.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/document.hpp"
#include "roundtrip/emit.hpp"
#include "roundtrip/postparse.hpp"

#define QF_RT_CHECK(cond, text, out)                                                                \
  do {                                                                                              \
    if (!(cond))                                                                                    \
      return std::string("round-trip property failed: ") + #cond + "\n--- input\n" + std::string(text) + \
             "\n--- output\n" + (out);                                                               \
  } while (0)

namespace qf::fuzz {

inline bool valid_utf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    uint32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (size_t k = 1; k < n; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n;
  }
  return true;
}

inline std::string emit_all_modified(std::vector<YamlNode> roots, std::string source) {
  RoundTripDocument doc;
  doc.source = std::move(source);
  for (YamlNode& r : roots) test::mark_all_modified(r);
  doc.docs = std::move(roots);
  return render_document(doc);
}

// Returns the description of a failed property, or nothing (also when the
// text does not compose).
inline std::optional<std::string> check_round_trip(std::string_view text) {
  ComposeResult r = compose_documents(text);
  if (!r.ok()) return std::nullopt;
  std::string none;
  RoundTripDocument unchanged;
  unchanged.source = std::string(text);
  unchanged.docs = r.roots;
  QF_RT_CHECK(render_document(unchanged) == text, text, none);
  // The checks of the post-parse pass run on anything that composes.
  std::vector<YamlNode> upgraded = r.roots;
  apply_post_parse_policies(upgraded, ResolverMode::Yaml11, true, false, true, true);
  std::vector<YamlNode> original = r.roots;
  std::string first = emit_all_modified(std::move(r.roots), std::string(text));
  ComposeResult again = compose_documents(first);
  QF_RT_CHECK(again.ok(), text, first);
  QF_RT_CHECK(again.roots.size() == original.size(), text, first);
  for (size_t i = 0; i < original.size(); ++i) {
    std::string why;
    QF_RT_CHECK(test::same_values(original[i], again.roots[i], &why), text, first + "\n--- why\n" + why);
  }
  QF_RT_CHECK(test::comment_texts(text) == test::comment_texts(first), text, first);
  std::string second = emit_all_modified(std::move(again.roots), first);
  QF_RT_CHECK(second == first, text, first + "\n--- second\n" + second);
  return std::nullopt;
}

}  // namespace qf::fuzz
