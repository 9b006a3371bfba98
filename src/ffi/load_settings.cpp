#include "ffi/load_settings.hpp"

#include "ffi/errors.hpp"
#include "support/options.hpp"

namespace qf::py {

LoadSettings LoadSettings::derived(uint64_t w, std::optional<YamlVersion> directive) noexcept {
  LoadSettings s;
  s.option = w;
  if (directive)
    s.yaml_1_1 = directive->major == 1 && directive->minor == 1;
  else
    s.yaml_1_1 = (w & (opt::YAML_1_1 | opt::KESTIL_COMPAT | opt::UPGRADE_1_1)) != 0;
  if (w & opt::KESTIL_COMPAT)
    s.mode = ResolverMode::KestilCompat;
  else if (s.yaml_1_1)
    s.mode = ResolverMode::Yaml11;
  else
    s.mode = ResolverMode::Yaml12;
  s.timestamps = (w & (opt::KESTIL_COMPAT | opt::TIMESTAMPS)) != 0;
  s.yaml11_warn = (w & opt::YAML_1_1_WARN) && s.yaml_1_1;
  s.dup_error = (w & opt::DUPLICATE_KEYS_ERROR) != 0;
  s.dup_warn = (w & opt::DUPLICATE_KEYS_WARN) && !s.dup_error;
  s.reject_complex_keys = (w & opt::REJECT_COMPLEX_KEYS) != 0;
  s.passthrough = (w & opt::PASSTHROUGH_TAG) != 0;
  s.annotate_numbers = (w & opt::ANNOTATE_NUMBERS) != 0;
  return s;
}

bool refuse_tags_argument() {
  PyErr_SetString(PyExc_TypeError, "tags must be a dict (or Tags) mapping each tag name to a callable");
  return false;
}

PyObject* raise_load_error(const LoadError& error, std::optional<std::string_view> file) {
  ExcClass cls = ExcClass::ParseError;
  switch (error.kind) {
    case LoadErrorKind::Parse: cls = ExcClass::ParseError; break;
    case LoadErrorKind::DuplicateKey: cls = ExcClass::DuplicateKeyError; break;
    case LoadErrorKind::ComplexKey: cls = ExcClass::ComplexKeyError; break;
  }
  return raise(position_error(cls, error.message, error.span.line, error.span.column, file));
}

}  // namespace qf::py
