#include "ffi/loads_source_tree.hpp"

#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "decode/loader.hpp"
#include "ffi/convert/annotate.hpp"
#include "ffi/convert/roundtrip_values.hpp"
#include "ffi/core_errors.hpp"
#include "ffi/errors.hpp"
#include "ffi/frame.hpp"
#include "ffi/gil.hpp"
#include "ffi/loads_directives.hpp"
#include "ffi/pyref.hpp"
#include "ffi/schema_validation.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/postparse.hpp"
#include "support/byte_path.hpp"
#include "support/options.hpp"

namespace qf::py {

namespace {

// What composition hands to the later steps. Without directives: the main
// text's roots, and as files only the main text's name when one was given
// (its text is not kept: the pre-pass already covered it).
struct SourceSet {
  std::vector<YamlNode> docs;
  std::vector<std::string> files;                 // by file id; 0 is the main text
  std::vector<std::shared_ptr<const std::string>> texts;  // per file id, when read
};

// The fast loader over a text with only the mode and the complex-key policy,
// as an error check: its values and warnings are dropped unused.
std::optional<LoadError> error_pass(std::string_view text, const LoadSettings& s) {
  DecodeSettings ds;
  ds.mode = s.mode;
  ds.reject_complex_keys = s.reject_complex_keys;
  DecodedStream out = decode_documents(text, ds);
  return std::move(out.error);
}

// Before composition, without the interpreter lock (values freed there too).
bool pre_pass(std::string_view text, const LoadSettings& s) {
  std::optional<LoadError> err = without_gil([&] { return error_pass(text, s); });
  if (!err) return true;
  raise(load_error_to_exception(*err));
  return false;
}

// Every source read besides the main text gets the same check, with the
// lock held, its errors naming the file.
bool check_sources(const SourceSet& set, const LoadSettings& s) {
  for (size_t id = 1; id < set.texts.size(); ++id) {
    if (!set.texts[id]) continue;
    if (std::optional<LoadError> err = error_pass(*set.texts[id], s)) {
      raise(load_error_to_exception(*err, path::path_text(set.files[id])));
      return false;
    }
  }
  return true;
}

bool compose(std::string_view text, SourceSet& set) {
  ComposeOptions co;
  // Empty documents count, so the first document is the one the plain road
  // returns (an empty one is None).
  co.keep_empty = true;
  co.keep_comments = false;
  ComposeResult r = compose_text(text, co);
  if (!r.ok()) {
    raise(parse_error_to_exception(*r.error));
    return false;
  }
  set.docs = std::move(r.roots);
  return true;
}

// Duplicate keys (an error, or warnings), then the YAML 1.1 warnings; each
// batch logged once it is complete.
bool check_documents(const std::vector<YamlNode>& docs, const LoadSettings& s) {
  if (s.dup_error) {
    if (std::optional<ScanError> dup = first_duplicate_key_error(docs, s.mode)) {
      raise(duplicate_key_error_to_exception(*dup));
      return false;
    }
  } else if (s.dup_warn) {
    for (const std::string& w : collect_duplicate_key_warnings(docs, s.mode)) log_warning(w);
  }
  if (s.yaml11_warn)
    for (const std::string& w : collect_yaml11_warnings_all(docs, s.mode)) log_warning(w);
  return true;
}

AnnotateSettings annotate_settings(const LoadSettings& s) {
  return AnnotateSettings{ValueSettings{s.mode, s.timestamps}, s.annotate_numbers};
}

}  // namespace

PyObject* loads_source_tree(const InputText& text, const LoadSettings& s, const TagContext& ctx,
                            const LoadsArguments& a, PyObject* schema) {
  const bool checked = (s.option & opt::ANNOTATED) || s.reject_complex_keys;
  if (checked && !pre_pass(text.view(), s)) return nullptr;

  SourceSet set;
  if (s.option & kDirectiveOptions) {
    DirectiveSources expanded;
    if (!load_directive_sources(text, s, a, false, expanded)) return nullptr;
    set.docs = std::move(expanded.docs);
    set.files = std::move(expanded.files);
    set.texts.reserve(expanded.texts.size());
    for (std::shared_ptr<const std::string>& t : expanded.texts) set.texts.push_back(std::move(t));
  } else {
    if (!compose(text.view(), set)) return nullptr;
    if (a.root_path) {
      set.files.push_back(*a.root_path);
      set.texts.emplace_back();
    }
  }
  if (checked && !check_sources(set, s)) return nullptr;
  if (set.docs.empty()) Py_RETURN_NONE;
  if (!check_documents(set.docs, s)) return nullptr;
  // Expanded roots hold other files' text: no shortcut from the main text.
  const bool expanded = (s.option & kDirectiveOptions) != 0;
  validate_roots(set.docs, schema, s.mode, MergeKeyRule::TaggedSourceTree,
                 expanded ? std::nullopt : std::optional<std::string_view>(text.view()));

  const ValueSettings values{s.mode, s.timestamps};
  if (!(s.option & opt::ANNOTATED)) return document_tree_to_python(set.docs.front(), values, ctx);
  FileNames names;
  names.reserve(set.files.size());
  for (const std::string& f : set.files) names.push_back(path::path_text(f));
  return annotated_tree_to_python(set.docs.front(), names, annotate_settings(s), ctx);
}

PyObject* loads_all_annotated(const InputText& text, const LoadSettings& s, const TagContext& ctx) {
  if (!pre_pass(text.view(), s)) return nullptr;
  SourceSet set;
  if (!compose(text.view(), set)) return nullptr;
  if (!check_documents(set.docs, s)) return nullptr;

  const AnnotateSettings as = annotate_settings(s);
  const FileNames no_files;
  PyRef list = PyRef::steal(PyList_New(0));
  if (!list) return nullptr;
  for (const YamlNode& root : set.docs) {
    PyRef doc = PyRef::steal(annotated_tree_to_python(root, no_files, as, ctx));
    if (!doc || PyList_Append(list.get(), doc.get()) < 0) return nullptr;
  }
  return list.release();
}

}  // namespace qf::py
