// Comment attachment: distributes the scanner's comment records over the
// nodes of composed roots in one forward pass, and records blank lines.
#pragma once
#include <cstdint>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "roundtrip/ast.hpp"
#include "scanner/token.hpp"

namespace qf {

inline uint64_t pack_position(uint32_t line, uint32_t column) { return (uint64_t(line) << 32) | column; }

struct PositionHash {
  uint64_t seed;
  PositionHash();
  size_t operator()(uint64_t v) const noexcept;
};

// Positions of "-" indicators whose item starts on a later line.
using IntroducerSet = std::unordered_set<uint64_t, PositionHash>;

void attach_comments(std::vector<YamlNode>& roots, const std::vector<RawComment>& comments, std::string_view text,
                     const IntroducerSet& introducers);

// The same, but each root only takes the comments that lie in its own
// document text (document_starts[i] up to document_starts[i+1]); comments left
// over in a document become foot comments of that document's root.
void attach_comments_per_document(std::vector<YamlNode>& roots, const std::vector<uint64_t>& document_starts,
                                  const std::vector<RawComment>& comments, std::string_view text,
                                  const IntroducerSet& introducers);

// End position (line, column) of a node, 0-based. Scalars read from text end
// where their source ends (closing quote included); scalars without source
// positions end after their text. Collections end at their greatest child's
// end, empty ones, aliases and nulls at their start.
std::pair<uint32_t, uint32_t> node_end_position(const YamlNode& node);

}  // namespace qf
