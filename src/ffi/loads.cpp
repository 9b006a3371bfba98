// loads and loads_all: front steps, road choice and the plain road (value
// trees decoded with the interpreter lock released, then converted).
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "decode/loader.hpp"
#include "ffi/convert/decode.hpp"
#include "ffi/entry_points.hpp"
#include "ffi/errors.hpp"
#include "ffi/gil.hpp"
#include "ffi/input_text.hpp"
#include "ffi/load_settings.hpp"
#include "ffi/loads_args.hpp"
#include "ffi/loads_directives.hpp"
#include "ffi/loads_roundtrip.hpp"
#include "ffi/loads_source_tree.hpp"
#include "ffi/pyref.hpp"
#include "ffi/schema_validation.hpp"
#include "schema/modeline.hpp"
#include "support/options.hpp"
#include "support/yaml_directive.hpp"

namespace qf::py {

namespace {

// ---- services still to come: replace these when they land ----

// The schema arguments of loads: the combination checks, then the effective
// schema: `schema` itself, or with "auto" what `schema_resolver` returns for
// the text's modeline (nothing without a modeline or for None). Returns false
// with the exception set.
bool check_schema_arguments(PyObject* schema, PyObject* schema_resolver, std::string_view text, PyRef& effective) {
  if (!schema) {
    if (!schema_resolver) return true;
    PyErr_SetString(PyExc_ValueError, "schema_resolver requires schema=\"auto\"");
    return false;
  }
  if (PyUnicode_Check(schema)) {
    Py_ssize_t n = 0;
    const char* u = PyUnicode_AsUTF8AndSize(schema, &n);
    if (!u) {
      PyErr_Clear();  // a str without a UTF-8 form is a schema object like any other
    } else if (std::string_view(u, static_cast<size_t>(n)) == "auto") {
      if (!schema_resolver) {
        PyErr_SetString(PyExc_ValueError,
                        "schema=\"auto\" requires a schema_resolver callable to resolve the in-file reference");
        return false;
      }
      std::optional<std::string> ref = find_schema_modeline(text);
      if (!ref) return true;
      PyRef arg = PyRef::steal(PyUnicode_FromStringAndSize(ref->data(), static_cast<Py_ssize_t>(ref->size())));
      if (!arg) return false;
      PyRef got = PyRef::steal(PyObject_CallOneArg(schema_resolver, arg.get()));
      if (!got) return false;
      if (got.get() != Py_None) effective = std::move(got);
      return true;
    }
  }
  effective = PyRef::borrow(schema);
  return true;
}

// ---- the plain road ----

// Decodes the whole stream without the interpreter lock, into the caller's
// variable itself; check it with reported().
[[gnu::always_inline]] inline DecodedStream decode_stream(std::string_view text, const LoadSettings& s,
                                                         const TagContext& ctx) {
  DecodeSettings ds = s.decode_settings();
  ds.custom_tags_dropped = !ctx.tags && !ctx.tag_handler && !ctx.passthrough;
  return without_gil([&] { return decode_documents(text, ds); });
}

[[gnu::noinline]] bool report_failure_or_warnings(const DecodedStream& stream) {
  if (!stream.ok()) {
    raise_load_error(*stream.error);
    return false;
  }
  for (const std::string& w : stream.warnings) log_warning(w);
  return true;
}

// On failure raises the stream's exception (no warning logged), otherwise
// logs its warnings in order; a clean stream (most) is told inline.
inline bool reported(const DecodedStream& stream) {
  if (stream.ok() && stream.warnings.empty()) [[likely]]
    return true;
  return report_failure_or_warnings(stream);
}

}  // namespace

PyObject* loads_entry(const CallArgs& args) {
  LoadsArguments a;
  if (!extract_loads_arguments(args, a)) return nullptr;
  InputText text;
  if (!extract_input_text(a.data, text)) return nullptr;
  PyRef schema;
  if (!check_schema_arguments(a.schema.get(), a.schema_resolver.get(), text.view(), schema)) return nullptr;
  const std::optional<YamlVersion> version = sniff_yaml_directive(text.view());
  if (!check_tags_argument(a.tags.get())) return nullptr;
  const LoadSettings s = LoadSettings::from(a.option, version);
  const TagContext ctx{a.tags.get(), a.tag_handler.get(), s.passthrough};

  const LoadRoad road = loads_road(a.option);
  if (road == LoadRoad::RoundTrip) return loads_round_trip(text, s, schema.get(), &a);
  if (road == LoadRoad::SourceTree) return loads_source_tree(text, s, ctx, a, schema.get());

  DecodedStream stream = decode_stream(text.view(), s, ctx);
  if (!reported(stream)) return nullptr;
  if (stream.documents.empty()) Py_RETURN_NONE;
  validate_text(text.view(), schema.get(), s.mode);
  // Later documents were decoded (errors and warnings included) but only the
  // first becomes host objects.
  return document_to_python(stream.documents.front(), ctx);
}

PyObject* loads_all_entry(const CallArgs& args) {
  LoadsAllArguments a;
  if (!extract_loads_all_arguments(args, a)) return nullptr;
  InputText text;
  if (!extract_input_text(a.data, text)) return nullptr;
  if (a.option & kDirectiveOptions) {
    PyErr_SetString(PyExc_ValueError,
                    "loads_all() does not support OPT_INCLUDES, OPT_SECRETS, or OPT_ENV_VAR; use loads() for "
                    "include resolution");
    return nullptr;
  }
  const std::optional<YamlVersion> version = sniff_yaml_directive(text.view());
  const LoadSettings s = LoadSettings::from(a.option, version);
  if (!check_tags_argument(a.tags)) return nullptr;
  const TagContext ctx{a.tags, a.tag_handler, s.passthrough};

  const LoadRoad road = loads_all_road(a.option);
  if (road == LoadRoad::RoundTrip) return loads_all_round_trip(text, s);
  if (road == LoadRoad::SourceTree) return loads_all_annotated(text, s, ctx);

  DecodedStream stream = decode_stream(text.view(), s, ctx);
  if (!reported(stream)) return nullptr;
  return documents_to_python_list(stream.documents, ctx);
}

}  // namespace qf::py
