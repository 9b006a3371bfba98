#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "corpus_support.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/document.hpp"
#include "roundtrip/emit.hpp"

namespace qf::test {

inline std::vector<YamlNode> compose_ok(std::string_view text) {
  ComposeResult r = compose_documents(text);
  EXPECT_TRUE(r.ok()) << (r.error ? r.error->message : "") << "\n" << text;
  return std::move(r.roots);
}

inline YamlNode compose_one(std::string_view text) {
  std::vector<YamlNode> roots = compose_ok(text);
  EXPECT_EQ(roots.size(), 1u) << text;
  return roots.empty() ? YamlNode() : std::move(roots.front());
}

inline std::string render(std::vector<YamlNode> roots) {
  RoundTripDocument doc;
  doc.docs = std::move(roots);
  return render_document(doc);
}

// Composes, marks every node modified, renders.
inline std::string reemit(std::string_view text) {
  std::vector<YamlNode> roots = compose_ok(text);
  for (YamlNode& r : roots) mark_all_modified(r);
  return render(std::move(roots));
}

inline const YamlNode& value_of(const YamlNode& mapping, std::string_view key) {
  for (const MappingEntry& e : mapping.pairs)
    if (e.key.is_scalar() && e.key.text == key) return e.value;
  static YamlNode none;
  ADD_FAILURE() << "no key " << key;
  return none;
}

}  // namespace qf::test
