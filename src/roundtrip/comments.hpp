// Comment attachment: distributes the scanner's comment records over the
// nodes of composed roots in one forward pass, and records blank lines.
#pragma once
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "roundtrip/ast.hpp"
#include "scanner/token.hpp"

namespace qf {

inline uint64_t pack_position(uint32_t line, uint32_t column) { return (uint64_t(line) << 32) | column; }

// Positions of "-" indicators (and of ":" and "?" of explicit entries) whose
// node starts on a later line. The composer records them nearly in text
// order, so a sorted vector serves: seal() once, then count().
class IntroducerSet {
 public:
  void insert(uint64_t position) {
    sorted_ = sorted_ && (positions_.empty() || positions_.back() < position);
    positions_.push_back(position);
  }
  void seal();
  size_t count(uint64_t position) const noexcept;

 private:
  std::vector<uint64_t> positions_;
  bool sorted_ = true;
};

// The comments' texts move into the nodes that take them.
void attach_comments(std::vector<YamlNode>& roots, std::vector<RawComment>& comments, std::string_view text,
                     const IntroducerSet& introducers);

// The same, but each root only takes the comments that lie in its own
// document text (document_starts[i] up to document_starts[i+1]); comments left
// over in a document become foot comments of that document's root.
void attach_comments_per_document(std::vector<YamlNode>& roots, const std::vector<uint64_t>& document_starts,
                                  std::vector<RawComment>& comments, std::string_view text,
                                  const IntroducerSet& introducers);

// End position (line, column) of a node, 0-based. Scalars read from text end
// where their source ends (closing quote included); scalars without source
// positions end after their text. Collections end at their greatest child's
// end, empty ones, aliases and nulls at their start.
std::pair<uint32_t, uint32_t> node_end_position(const YamlNode& node);

}  // namespace qf
