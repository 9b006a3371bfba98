// The argument layer of loads and loads_all: converts the parsed arguments in
// parameter order; the first failing conversion ends the call with its
// exception noted "while processing '{}'". `data` is handed over unconverted
// (its errors get no note).
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "ffi/args.hpp"
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

struct LoadsAllArguments {
  PyObject* data = nullptr;
  bool option_given = false;
  uint64_t option = 0;
  PyRef tag_handler;
  PyRef tags;
};

// False with the host exception set.
bool extract_loads_arguments(const CallArgs& args, LoadsArguments& out);
bool extract_loads_all_arguments(const CallArgs& args, LoadsAllArguments& out);

}  // namespace qf::py
