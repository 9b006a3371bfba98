// The fast loader: one whole YAML text to one Value per document plus the
// warnings gathered on the way, or one LoadError. It never touches the
// interpreter, so the drivers run it with the interpreter lock released.
//
//   qf::DecodeSettings s;
//   s.mode = qf::ResolverMode::Yaml11;
//   s.dup_warn = true;
//   qf::DecodedStream out = qf::decode_documents(text, s);
//   if (!out.ok()) raise(out.error->message, out.error->span, out.error->kind);
//   for (const std::string& w : out.warnings) log(w);
//   for (qf::Value& doc : out.documents) ...
//
// Limits: nodes nest at most kMaxNestingDepth deep (the root counts one);
// alias expansion adds at most kMaxAliasExpansion nodes over the whole stream.
// Anchored nodes are not copied when registered: an alias copies the
// anchored node in place, so nested anchors cost nothing until used.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decode/load_error.hpp"
#include "decode/value.hpp"
#include "resolver/resolver.hpp"

namespace qf {

inline constexpr uint64_t kMaxNestingDepth = 1000;
inline constexpr uint64_t kMaxAliasExpansion = 10'000'000;

struct DecodeSettings {
  ResolverMode mode = ResolverMode::Yaml12;
  bool dup_error = false;            // duplicate keys fail (wins over dup_warn)
  bool reject_complex_keys = false;  // sequence and mapping keys fail
  bool timestamps = false;           // untagged plain strings are tried as timestamps
  bool dup_warn = false;             // duplicate keys give a warning
  bool yaml11_warn = false;          // scalars read differently under 1.1 and 1.2 warn
  // The host drops custom tags (no tag handler, no QuillfernTag), so keys
  // equal but for their tags are one key for the duplicate and merge rules.
  bool custom_tags_dropped = false;
  // Off: nested collections take the general node road, which gives the
  // same documents, warnings and errors more slowly (for differential tests).
  bool fast_paths = true;
};

struct DecodedStream {
  ValueList documents;                // one per document, in stream order (a pool block)
  std::vector<std::string> warnings;  // in the order produced; empty on failure
  std::optional<LoadError> error;     // set on failure; documents are then empty

  // Provided, so that making one sets its members alone rather than
  // clearing the error's whole storage first.
  DecodedStream() noexcept {}

  bool ok() const noexcept { return !error.has_value(); }
};

// `text` is UTF-8, a leading byte-order mark included (the scanner skips it).
DecodedStream decode_documents(std::string_view text, const DecodeSettings& settings);

inline DecodedStream decode_documents(std::string_view text, ResolverMode mode, bool dup_error,
                                      bool reject_complex_keys, bool timestamps, bool dup_warn,
                                      bool yaml11_warn) {
  return decode_documents(
      text, DecodeSettings{mode, dup_error, reject_complex_keys, timestamps, dup_warn, yaml11_warn});
}

// Whether a tag (after handle expansion) is a custom tag that the loader
// keeps as Tagged: every tag but the core ones ("!!..." and
// "tag:yaml.org,2002:..."); a tag of at most one byte is custom.
bool is_custom_tag(std::string_view tag) noexcept;

}  // namespace qf
