// Checks and the one rewrite that run over composed source trees: YAML 1.1
// ambiguity warnings, the 1.1-to-1.2 upgrade and the duplicate-key policy.
// Core only: warnings come back as texts and a duplicate as an error record;
// the host side logs and raises them.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "resolver/resolver.hpp"
#include "roundtrip/ast.hpp"
#include "scanner/token.hpp"

namespace qf {

struct PostParseOutcome {
  std::vector<std::string> warnings;  // in the order produced, to be logged
  // "duplicate mapping key: {}" at the later key's span (with dup_error).
  std::optional<ScanError> duplicate;
};

// With yaml11_warn the ambiguity warnings of all roots, then with upgrade
// the rewrite of every root, then with dup_error the first duplicate of the
// roots in order, else with dup_warn the duplicate warnings of all roots.
PostParseOutcome apply_post_parse_policies(std::vector<YamlNode>& roots, ResolverMode mode, bool upgrade,
                                           bool dup_error, bool dup_warn, bool yaml11_warn);

void collect_yaml11_warnings(const YamlNode& node, ResolverMode mode, std::vector<std::string>& out);
std::vector<std::string> collect_yaml11_warnings_all(const std::vector<YamlNode>& roots, ResolverMode mode);

// Rewrites plain scalars that read differently under the 1.1 rules of `mode`
// and YAML 1.2 to the text that means under 1.2 what they meant under 1.1,
// marking each rewritten node modified (but inside content that no file
// holds, below a directive record other than `!include`). A plain scalar that is a string under
// the 1.1 rules but would read as something else under 1.2 is double-quoted
// instead, so the upgrade never changes a value.
void upgrade_yaml11_scalars(YamlNode& node, ResolverMode mode);

// Identity text of a mapping key for duplicate detection: two keys of one
// mapping are duplicates exactly when their texts are equal. Strings are
// length-prefixed so collection keys built from them cannot collide. An alias
// inside `key` stands for the node it names there; the duplicate checks below
// resolve alias keys over their whole tree.
std::string canonical_key_text(const YamlNode& key, ResolverMode mode);
// The canonical text of a merge key ("<<" read as a string).
std::string merge_key_canonical_text();

std::optional<ScanError> find_duplicate_key(const YamlNode& node, ResolverMode mode);
std::optional<ScanError> first_duplicate_key_error(const std::vector<YamlNode>& roots, ResolverMode mode);
void duplicate_key_warnings_in_tree(const YamlNode& node, ResolverMode mode, std::vector<std::string>& out);
std::vector<std::string> collect_duplicate_key_warnings(const std::vector<YamlNode>& roots, ResolverMode mode);

// How a key is named in duplicate messages: its text for a scalar, else a
// debug rendering (Null, Alias("a"), Sequence([...]), Mapping([...])).
std::string key_display_text(const YamlNode& key);

}  // namespace qf
