#include "ffi/schema_validation.hpp"

#include <string>
#include <utility>

#include "ffi/convert/encode.hpp"
#include "ffi/core_errors.hpp"
#include "ffi/errors.hpp"
#include "ffi/frame.hpp"
#include "roundtrip/composer.hpp"
#include "schema/validator.hpp"

namespace qf::py {

namespace {

Error schema_error(const SchemaViolation& v) {
  PyRef exc = new_exception(ExcClass::SchemaError, schema_failure_message(v));
  PyRef path = PyRef::steal(PyUnicode_FromStringAndSize(v.path.data(), static_cast<Py_ssize_t>(v.path.size())));
  if (!path || PyObject_SetAttrString(exc.get(), "schema_path", path.get()) < 0) PyErr_Clear();
  set_uint_attribute(exc.get(), "line", v.span.line + 1);
  set_uint_attribute(exc.get(), "column", v.span.column + 1);
  return Error::object(std::move(exc));
}

// An alias is a "*" at the start of the text or after a blank, a line break
// or one of "[{,:"; a text without such a "*" has no alias to follow (a "*"
// inside quotes or a plain scalar mostly follows other characters).
bool may_hold_aliases(std::optional<std::string_view> source) {
  if (!source) return true;
  const std::string_view t = *source;
  for (size_t p = t.find('*'); p != std::string_view::npos; p = t.find('*', p + 1)) {
    if (p == 0) return true;
    switch (t[p - 1]) {
      case ' ': case '\t': case '\n': case '\r': case '[': case '{': case ',': case ':':
        return true;
      default:
        break;
    }
  }
  return false;
}

void validate_root(const YamlNode& root, PyObject* schema, ResolverMode mode, MergeKeyRule rule, bool aliases) {
  Value converted = python_to_value(schema, EncodeContext{});
  SchemaOutcome outcome = validate_document(root, converted, mode, rule, aliases);
  drop_value_tree(std::move(converted));
  if (outcome.limit) throw position_error(ExcClass::ParseError, outcome.limit->message, outcome.limit->span.line,
                                          outcome.limit->span.column);
  if (outcome.violation) throw schema_error(*outcome.violation);
}

// An empty document has no node to check, as on the roads without a root.
bool is_empty_document(const YamlNode& root) { return root.is_null() && !root.tag() && !root.anchor(); }

}  // namespace

void validate_roots(const std::vector<YamlNode>& roots, PyObject* schema, ResolverMode mode, MergeKeyRule rule,
                    std::optional<std::string_view> source) {
  if (!schema || roots.empty() || is_empty_document(roots.front())) return;
  // Round-trip roots leave empty documents out; the first root then stands
  // for a later document, which is never validated.
  if (roots.front().empty_documents_before() > 0) return;
  validate_root(roots.front(), schema, mode, rule, may_hold_aliases(source));
}

void validate_text(std::string_view text, PyObject* schema, ResolverMode mode) {
  if (!schema) return;
  ComposeOptions options;
  options.keep_empty = true;
  options.keep_comments = false;
  options.first_document_only = true;
  ComposeResult composed = compose_text(text, options);
  if (!composed.ok()) throw parse_error_to_exception(*composed.error);
  if (composed.roots.empty()) return;
  const YamlNode& first = composed.roots.front();
  if (is_empty_document(first)) return;
  validate_root(first, schema, mode, MergeKeyRule::Loader, may_hold_aliases(text));
}

}  // namespace qf::py
