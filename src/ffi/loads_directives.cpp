#include "ffi/loads_directives.hpp"

#include <string_view>
#include <utility>

#include "directives/context.hpp"
#include "ffi/args.hpp"
#include "ffi/errors.hpp"
#include "ffi/pyref.hpp"
#include "support/byte_path.hpp"
#include "support/options.hpp"

namespace qf::py {

namespace {

namespace d = qf::directives;

bool check_no_nul(const std::optional<std::string>& p, const char* name) {
  if (!p || p->find('\0') == std::string::npos) return true;
  PyErr_SetString(PyExc_ValueError, "embedded null byte");
  add_processing_note(name);
  return false;
}

void raise_directive_error(const d::DirectiveError& e) {
  std::vector<std::string> paths;
  paths.reserve(e.include_stack.size());
  for (const d::IncludeFrame& f : e.include_stack) paths.push_back(path::path_text(f.path));
  std::vector<IncludeFrameView> frames;
  frames.reserve(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) frames.push_back(IncludeFrameView{paths[i], e.include_stack[i].line});
  const std::string file = path::path_text(e.file);
  DirectiveErrorView v{e.kind, e.message, std::nullopt, file, frames};
  if (e.position) v.position = std::make_pair(e.position->line, e.position->column);
  raise(directive_error_to_exception(v));
}

bool call_missing_value_callback(PyObject* fn, const d::MissingValue& m, const std::string& file) {
  PyRef name = PyRef::steal(PyUnicode_DecodeUTF8(m.name.data(), static_cast<Py_ssize_t>(m.name.size()), "replace"));
  PyRef path = PyRef::steal(PyUnicode_DecodeUTF8(file.data(), static_cast<Py_ssize_t>(file.size()), "replace"));
  PyRef line = PyRef::steal(PyLong_FromUnsignedLongLong(uint64_t{m.line} + 1));
  if (!name || !path || !line) return false;
  PyRef r = PyRef::steal(PyObject_CallFunctionObjArgs(fn, name.get(), path.get(), line.get(), nullptr));
  return static_cast<bool>(r);
}

bool report(const std::vector<d::MissingValue>& list, PyObject* callback, bool warn, const char* what,
            const char* where) {
  for (const d::MissingValue& m : list) {
    const std::string file = path::path_text(m.file);
    if (callback && !call_missing_value_callback(callback, m, file)) return false;
    if (warn)
      log_warning(std::string(what) + " '" + m.name + "' " + where + " at " + file + ":" +
                  std::to_string(uint64_t{m.line} + 1));
  }
  return true;
}

}  // namespace

bool load_directive_sources(const InputText& text, const LoadSettings& s, const LoadsArguments& a,
                            bool round_trip, DirectiveSources& out) {
  if (!check_no_nul(a.include_dir, "include_dir") || !check_no_nul(a.root_path, "root_path")) return false;
  d::DirectiveContext ctx = d::new_directive_context(a.include_dir ? *a.include_dir : std::string("."),
                                                     (s.option & opt::INCLUDES) != 0,
                                                     (s.option & opt::SECRETS) != 0, (s.option & opt::ENV_VAR) != 0);
  ctx.include_dir_recursive = (s.option & opt::INCLUDE_DIR_RECURSIVE) != 0;
  ctx.tolerate_missing_secrets = a.on_missing_secret || (s.option & opt::SECRET_NOT_FOUND_WARN);
  ctx.tolerate_missing_env_vars = a.on_missing_env_var || (s.option & opt::ENV_VAR_NOT_FOUND_WARN);
  ctx.round_trip = round_trip;

  d::DirectiveLoad loaded = d::load_with_directives(ctx, text.view(), a.root_path);
  if (!loaded.ok()) {
    raise_directive_error(*loaded.error);
    return false;
  }
  for (const std::string& w : ctx.warnings) log_warning(w);
  if (!report(ctx.missing_secrets, a.on_missing_secret.get(), (s.option & opt::SECRET_NOT_FOUND_WARN) != 0,
              "secret", "is not defined in any secrets.yaml"))
    return false;
  if (!report(ctx.missing_env_vars, a.on_missing_env_var.get(), (s.option & opt::ENV_VAR_NOT_FOUND_WARN) != 0,
              "environment variable", "is not defined"))
    return false;
  out.docs = std::move(loaded.docs);
  out.files = std::move(ctx.files);
  out.texts = std::move(ctx.texts);
  out.second_document_offsets = std::move(ctx.second_document_offsets);
  out.identities = std::move(ctx.identities);
  return true;
}

}  // namespace qf::py
