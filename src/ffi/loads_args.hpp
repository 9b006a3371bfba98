// The argument layer of loads and loads_all: converts the parsed arguments in
// parameter order; the first failing conversion ends the call with its
// exception noted "while processing '{}'". `data` is handed over unconverted
// (its errors get no note).
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "ffi/args.hpp"
#include "ffi/entry_points.hpp"
#include "ffi/pyref.hpp"

namespace qf::py {

struct LoadsArguments {
  PyObject* data = nullptr;  // borrowed from the call
  bool option_given = false;
  uint64_t option = 0;
  std::optional<std::string> include_dir;  // file-system encoding
  PyRef schema;
  PyRef schema_resolver;
  PyRef tag_handler;
  PyRef tags;
  std::optional<std::string> root_path;  // file-system encoding
  PyRef on_missing_secret;
  PyRef on_missing_env_var;
};

// Every object borrowed: the call holds its arguments until it returns.
struct LoadsAllArguments {
  PyObject* data = nullptr;
  bool option_given = false;
  uint64_t option = 0;
  PyObject* tag_handler = nullptr;  // nullptr when absent or None
  PyObject* tags = nullptr;         // likewise
};

// False with the host exception set.
bool extract_loads_arguments(const CallArgs& args, LoadsArguments& out);
// Inline, with no reference taken: loads_all's fixed cost is a large share
// of a short text's.
inline bool extract_loads_all_arguments(const CallArgs& a, LoadsAllArguments& out) {
  namespace p = loads_all_param;
  out.data = a[p::data];
  out.option_given = !is_absent(a[p::option]);
  if (!arg_option(a[p::option], out.option)) return false;
  out.tag_handler = is_absent(a[p::tag_handler]) ? nullptr : a[p::tag_handler];
  out.tags = is_absent(a[p::tags]) ? nullptr : a[p::tags];
  return true;
}

}  // namespace qf::py
