// What loads and loads_all derive from the `option` word and the %YAML
// directive of the text, the road a call takes, and the shared checks of
// their front steps.
#pragma once
#include <cstdint>
#include <optional>

#include "decode/load_error.hpp"
#include "decode/loader.hpp"
#include "ffi/py.hpp"
#include "resolver/resolver.hpp"
#include "support/options.hpp"
#include "support/yaml_directive.hpp"

namespace qf::py {

struct LoadSettings {
  uint64_t option = 0;  // the whole word, for the directive and round-trip switches
  bool yaml_1_1 = false;
  ResolverMode mode = ResolverMode::Yaml12;
  bool timestamps = false;
  bool yaml11_warn = false;
  bool dup_error = false;
  bool dup_warn = false;
  bool reject_complex_keys = false;
  bool passthrough = false;
  bool annotate_numbers = false;

  // A %YAML directive decides between 1.1 and 1.2 in both directions;
  // without one OPT_YAML_1_1, OPT_KESTIL_COMPAT and OPT_UPGRADE_1_1 select
  // 1.1. OPT_KESTIL_COMPAT always selects its mode and timestamps.
  static LoadSettings from(uint64_t option, std::optional<YamlVersion> directive) noexcept {
    if (option == 0 && !directive) return LoadSettings{};  // the defaults: most calls, inline
    return derived(option, directive);
  }
  // from() for any other word or directive, out of line.
  static LoadSettings derived(uint64_t option, std::optional<YamlVersion> directive) noexcept;

  DecodeSettings decode_settings() const noexcept {
    return DecodeSettings{mode, dup_error, reject_complex_keys, timestamps, dup_warn, yaml11_warn};
  }
};

enum class LoadRoad : uint8_t {
  Plain,       // value trees, the interpreter lock released while decoding
  SourceTree,  // OPT_ANNOTATED or a directive option (loads_all: OPT_ANNOTATED only)
  RoundTrip,   // OPT_ROUND_TRIP, which wins over the others
};

inline LoadRoad loads_road(uint64_t w) noexcept {
  if (w & opt::ROUND_TRIP) return LoadRoad::RoundTrip;
  if (w & (opt::ANNOTATED | opt::INCLUDES | opt::SECRETS | opt::ENV_VAR)) return LoadRoad::SourceTree;
  return LoadRoad::Plain;
}

inline LoadRoad loads_all_road(uint64_t w) noexcept {
  if (w & opt::ROUND_TRIP) return LoadRoad::RoundTrip;
  if (w & opt::ANNOTATED) return LoadRoad::SourceTree;
  return LoadRoad::Plain;
}

// Raises the TypeError of a `tags` argument that is no dict; false.
bool refuse_tags_argument();

// The `tags` argument: absent, or a dict (or subclass). False with TypeError
// "tags must be a dict (or Tags) mapping each tag name to a callable".
inline bool check_tags_argument(PyObject* tags) {
  if (!tags || PyDict_Check(tags)) return true;
  return refuse_tags_argument();
}

// Raises the exception of a fast-loader failure: QuillfernParseError,
// QuillfernDuplicateKeyError or QuillfernComplexKeyError by kind, message
// "{} at line {}, column {}", attributes file (None unless given), line and
// column. Returns nullptr.
PyObject* raise_load_error(const LoadError& error, std::optional<std::string_view> file = std::nullopt);

}  // namespace qf::py
