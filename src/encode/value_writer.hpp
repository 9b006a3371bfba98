// YAML text of a Value tree for the plain road of dumps: block style by
// default (mappings as "key: value" lines, sequences as "- " items, compact
// "- key: value" mappings in sequences, multi-line strings as literal
// blocks), flow style for empty collections, under OPT_FLOW_STYLE, and where
// only an inline value fits (keys, inside flow collections). Pure C++: runs
// without the interpreter lock, touches no host object, never fails.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "decode/value.hpp"
#include "encode/settings.hpp"

namespace qf {

struct ValueWriter {
  std::string out;
  const EmitSettings& settings;
  bool in_key = false;

  explicit ValueWriter(const EmitSettings& s, size_t capacity = 1024) : settings(s) {
    out.reserve(capacity);
  }

  // Start of the current line (after the last line feed). Only the text
  // appended since the previous call is searched, so a flow document that is
  // one long line costs linear time, not quadratic.
  size_t line_start() {
    if (scanned_ < out.size()) {
      size_t nl = std::string_view(out).substr(scanned_).rfind('\n');
      if (nl != std::string_view::npos) line_start_ = scanned_ + nl + 1;
      scanned_ = out.size();
    }
    return line_start_;
  }
  // Length in bytes of the current line.
  size_t column() { return out.size() - line_start(); }

 private:
  size_t line_start_ = 0;
  size_t scanned_ = 0;
};

// One value inline, without a line break of its own (the width rules may
// break a flow collection or a quoted string).
void write_flow_value(ValueWriter& w, const Value& v, bool in_flow);
// What follows "key:" or "-" on a line of indent d, ending with a line break.
void write_block_value(ValueWriter& w, const Value& v, uint64_t d);
// A non-empty sequence as "- " items at indent a.
void write_block_sequence(ValueWriter& w, const ValueList& items, uint64_t a);
// A non-empty mapping, each pair at indent n.
void write_block_mapping(ValueWriter& w, const PairList& pairs, uint64_t n);
// One pair whose indentation is already written. A tagged key after the
// first pair takes the explicit "? " form.
void write_block_mapping_pair(ValueWriter& w, const Value& key, const Value& value, uint64_t n,
                              bool not_first);
// One string value or key: plain when safe, else quoted.
void write_string_scalar(ValueWriter& w, std::string_view text, bool in_flow);
// One string in single or double quotes, folded at the width outside keys.
void write_quoted_string(ValueWriter& w, std::string_view text);
// "," and then a space, or a line break and `c` spaces at the width.
void write_flow_separator(ValueWriter& w, uint64_t c);

// A whole document: "---" line when explicit_start, the root by its kind,
// "..." line when explicit_end.
void write_yaml_document(ValueWriter& w, const Value& root);
// Convenience: the document text of one root.
std::string dump_value_to_yaml(const Value& root, const EmitSettings& settings);

}  // namespace qf
