#include "ffi/loads_roundtrip.hpp"

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "encode/null_style.hpp"
#include "ffi/core_errors.hpp"
#include "ffi/errors.hpp"
#include "ffi/loads_directives.hpp"
#include "ffi/pyref.hpp"
#include "ffi/schema_validation.hpp"
#include "ffi/types/document.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/document.hpp"
#include "roundtrip/postparse.hpp"
#include "support/internal_error.hpp"
#include "support/options.hpp"
#include "support/yaml_directive.hpp"

namespace qf::py {

namespace {

bool check_null_options(uint64_t option, NullStyle& style) {
  NullStyleChoice c = null_style_from_options(option);
  if (c.conflict) {
    PyErr_SetString(PyExc_ValueError, "OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive");
    return false;
  }
  style = c.style;
  return true;
}

// Logs the pass's warnings, then raises its duplicate-key error if any.
bool post_parse(std::vector<YamlNode>& roots, ResolverMode mode, const LoadSettings& s, bool yaml11_warn) {
  const bool upgrade = (s.option & opt::UPGRADE_1_1) != 0;
  PostParseOutcome o = apply_post_parse_policies(roots, mode, upgrade, s.dup_error, s.dup_warn, yaml11_warn);
  for (const std::string& w : o.warnings) log_warning(w);
  if (o.duplicate) {
    raise(duplicate_key_error_to_exception(*o.duplicate));
    return false;
  }
  return true;
}

RoundTripDocument make_content(std::vector<YamlNode>&& roots, const std::shared_ptr<const std::string>& kept,
                               std::string_view source, const LoadSettings& s, ResolverMode mode, NullStyle nulls) {
  RoundTripDocument d;
  d.docs = std::move(roots);
  d.source = SourceText(kept, source);
  d.kept_text = kept;
  d.prefer_double_quotes = (s.option & opt::SINGLE_QUOTES) == 0;
  d.declare_yaml_1_2 = (s.option & opt::UPGRADE_1_1) != 0;
  d.resolve_timestamps = s.timestamps;
  d.null_style = nulls;
  d.resolver_mode = d.declare_yaml_1_2 ? ResolverMode::Yaml12 : mode;
  return d;
}

// Document boundaries for slicing: the composer's start offsets and the text
// length. A start preceded on its line by blanks only moves back to the line
// start, so no slice ends in a next document's indentation.
std::vector<uint64_t> slice_bounds(std::string_view text, const std::vector<uint64_t>& starts) {
  std::vector<uint64_t> b(starts);
  b.push_back(text.size());
  if (!b.empty()) b.front() = 0;
  for (size_t i = 1; i + 1 < b.size(); ++i) {
    uint64_t p = std::min<uint64_t>(b[i], text.size());
    while (p > b[i - 1] && (text[p - 1] == ' ' || text[p - 1] == '\t')) --p;
    if (p == b[i - 1] || text[p - 1] == '\n' || text[p - 1] == '\r') b[i] = p;
    else b[i] = std::min<uint64_t>(b[i], text.size());
  }
  return b;
}

ResolverMode slice_mode(std::string_view slice, uint64_t option) {
  if (option & opt::KESTIL_COMPAT) return ResolverMode::KestilCompat;
  if (std::optional<YamlVersion> v = sniff_yaml_directive(slice))
    return v->major == 1 && v->minor == 1 ? ResolverMode::Yaml11 : ResolverMode::Yaml12;
  if (option & (opt::YAML_1_1 | opt::KESTIL_COMPAT | opt::UPGRADE_1_1)) return ResolverMode::Yaml11;
  return ResolverMode::Yaml12;
}

}  // namespace

PyObject* loads_round_trip(const InputText& text, const LoadSettings& s, PyObject* schema, const LoadsArguments* args) {
  NullStyle nulls = NullStyle::Default;
  if (!check_null_options(s.option, nulls)) return nullptr;
  if (s.option & kDirectiveOptions) {
    DirectiveSources expanded;
    if (!load_directive_sources(text, s, *args, true, expanded)) return nullptr;
    if (!post_parse(expanded.docs, s.mode, s, s.yaml11_warn)) return nullptr;
    auto kept = std::make_shared<const std::string>(text.view());
    RoundTripDocument content = make_content(std::move(expanded.docs), kept, *kept, s, s.mode, nulls);
    content.files = std::move(expanded.files);
    content.texts.reserve(expanded.texts.size());
    for (const std::shared_ptr<const std::string>& t : expanded.texts) content.texts.emplace_back(*t);
    content.second_document_offsets = std::move(expanded.second_document_offsets);
    content.file_identities = FileIdentities(std::move(expanded.identities));
    validate_roots(content.docs, schema, content.resolver_mode, MergeKeyRule::SourceTree);
    return new_document_object(std::move(content));
  }
  ComposeResult r = compose_kept_text(std::make_shared<const std::string>(text.view()), ComposeOptions{});
  if (!r.ok()) return raise(parse_error_to_exception(*r.error));
  if (!post_parse(r.roots, s.mode, s, s.yaml11_warn)) return nullptr;
  RoundTripDocument content = make_content(std::move(r.roots), r.text, *r.text, s, s.mode, nulls);
  validate_roots(content.docs, schema, content.resolver_mode, MergeKeyRule::SourceTree,
                 std::optional<std::string_view>(*content.source));
  return new_document_object(std::move(content));
}

PyObject* loads_all_round_trip(const InputText& text, const LoadSettings& s) {
  ComposeOptions co;
  co.keep_empty = true;
  co.per_document_comments = true;
  ComposeResult r = compose_kept_text(std::make_shared<const std::string>(text.view()), co);
  const std::string_view all = *r.text;
  if (!r.ok()) return raise(parse_error_to_exception(*r.error));
  if (r.document_starts.size() != r.roots.size()) throw InternalError("document starts do not match the roots");
  const std::vector<uint64_t> bounds = slice_bounds(all, r.document_starts);

  PyRef list = PyRef::steal(PyList_New(0));
  if (!list) return nullptr;
  for (size_t i = 0; i < r.roots.size(); ++i) {
    std::string_view slice = all.substr(bounds[i], bounds[i + 1] - bounds[i]);
    const ResolverMode mode = slice_mode(slice, s.option);
    const bool yaml11_warn = (s.option & opt::YAML_1_1_WARN) && mode != ResolverMode::Yaml12;
    std::vector<YamlNode> one;
    one.push_back(std::move(r.roots[i]));
    if (!post_parse(one, mode, s, yaml11_warn)) return nullptr;
    NullStyle nulls = NullStyle::Default;
    if (!check_null_options(s.option, nulls)) return nullptr;
    PyRef doc = PyRef::steal(new_document_object(make_content(std::move(one), r.text, slice, s, mode, nulls)));
    if (!doc) return nullptr;
    if (PyList_Append(list.get(), doc.get()) < 0) return nullptr;
  }
  return list.release();
}

}  // namespace qf::py
