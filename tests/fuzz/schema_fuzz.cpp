// libFuzzer target for schema validation: the text is composed and its first
// document validated against each of a fixed set of schemas (every keyword,
// patterns, $ref cycles) under the resolver mode and merge-key rule the first
// byte picks; the modeline finder runs over the same text. Every input must
// validate or report one violation with a path and a position inside the
// text, never crash or hang. Built by cmake/fuzz.cmake like the other
// targets; with QF_FUZZ_STANDALONE it replays the files and folders it is
// given.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "decode/loader.hpp"
#include "roundtrip/composer.hpp"
#include "scanner_fuzz_check.hpp"
#include "schema/modeline.hpp"
#include "schema/validator.hpp"
#include "support/utf8.hpp"

namespace {

constexpr std::string_view kSchemas[] = {
    R"({"type": "object", "required": ["a"], "properties": {"a": {"type": ["integer", "string"],
        "minimum": -5, "maximum": 1e9, "multipleOf": 3, "minLength": 1, "maxLength": 8,
        "pattern": "^[\\w-]+$"}}, "additionalProperties": {"$ref": "#/definitions/any"},
        "definitions": {"any": {"anyOf": [{"type": "array", "items": {"$ref": "#/definitions/any"}},
        {"type": "object", "additionalProperties": {"$ref": "#/definitions/any"}}, {"not": {"type": "null"}}]}}})",
    R"({"items": [{"const": {"x": [1, 2.0]}}, {"enum": [null, true, "y", 0x10000000000000000]}],
        "additionalItems": {"uniqueItems": true, "contains": {"type": "number"}}, "minItems": 1, "maxItems": 99})",
    R"({"patternProperties": {"^x-": {"type": "integer"}, "(": {}, "\\d+": {"exclusiveMaximum": 10}},
        "propertyNames": {"maxLength": 12, "pattern": "^(a+)+$|^[^\\s]"}, "minProperties": 1, "maxProperties": 30,
        "dependencies": {"a": ["b"], "b": {"required": ["c"]}, "c": false}})",
    R"({"oneOf": [{"type": "string"}, {"type": "integer"}, {"$ref": "#"}], "allOf": [{"$ref": "#/allOf/1"}, true]})",
    R"({"$ref": "#/definitions/node", "definitions": {"node": {"type": ["object", "array", "string", "null"],
        "items": {"$ref": "#/definitions/node"}, "uniqueItems": true,
        "additionalProperties": {"$ref": "#/definitions/node"}}}})",
    R"({"dependencies": {"a": {"$ref": "#/definitions/b"}}, "properties": {"<<": {"type": "array"}},
        "definitions": {"b": {"required": ["b"], "dependencies": {"b": {"maxProperties": 3}}}}})",
    "false",
};

std::vector<qf::Value> load_schemas() {
  std::vector<qf::Value> out;
  for (std::string_view text : kSchemas) {
    qf::DecodedStream s = qf::decode_documents(text, qf::DecodeSettings{});
    if (!s.ok() || s.documents.empty()) __builtin_trap();  // the fixed schemas must load
    out.push_back(std::move(s.documents.front()));
  }
  return out;
}

void check_outcome(const qf::SchemaOutcome& o, std::string_view text) {
  if (o.limit) {
    QF_FUZZ_CHECK(!o.limit->message.empty());
    QF_FUZZ_CHECK(o.limit->span.offset <= text.size());
  }
  if (o.violation) {
    QF_FUZZ_CHECK(!o.violation->message.empty());
    QF_FUZZ_CHECK(!o.violation->path.empty() && o.violation->path[0] == '$');
    QF_FUZZ_CHECK(o.violation->span.offset <= text.size());
    QF_FUZZ_CHECK(!qf::schema_failure_message(*o.violation).empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<qf::Value> schemas = load_schemas();
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!qf::fuzz::is_valid_utf8(text)) return -1;

  if (std::optional<std::string> ref = qf::find_schema_modeline(text)) {
    QF_FUZZ_CHECK(!ref->empty());
    QF_FUZZ_CHECK(qf::white_space_length(ref->data(), ref->data() + ref->size()) == 0);
    QF_FUZZ_CHECK(text.find(*ref) != std::string_view::npos);
  }

  const uint8_t pick = size ? data[0] : 0;
  const auto mode = static_cast<qf::ResolverMode>(pick % 3);
  const auto rule = (pick & 0x04) ? qf::MergeKeyRule::SourceTree : qf::MergeKeyRule::Loader;
  qf::ComposeOptions options;
  options.keep_empty = true;
  options.keep_comments = false;
  options.first_document_only = true;
  qf::ComposeResult composed = qf::compose_text(text, options);
  if (!composed.ok() || composed.roots.empty()) return 0;
  for (const qf::Value& schema : schemas)
    check_outcome(qf::validate_document(composed.roots.front(), schema, mode, rule), text);
  return 0;
}

#ifdef QF_FUZZ_STANDALONE
#include "replay_main.hpp"
#endif
