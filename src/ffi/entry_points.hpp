// The eight module functions. module.cpp parses each call against its
// ArgSpec (below) inside the host-call frame and then calls the entry with
// the parsed, still unconverted arguments (borrowed; nullptr when not given).
//
// Each entry is defined in its own file under src/ffi/ (loads.cpp,
// dumps.cpp, save.cpp, ...) with exactly this signature.
#pragma once
#include "ffi/args.hpp"
#include "ffi/py.hpp"

namespace qf::py {

// Parameter indexes into CallArgs, in the order of each text signature.
namespace loads_param {
enum : size_t { data, option, include_dir, schema, schema_resolver, tag_handler, tags, root_path,
                on_missing_secret, on_missing_env_var };
}
namespace loads_all_param {
enum : size_t { data, option, tag_handler, tags };
}
namespace dumps_param {
enum : size_t { obj, default_, option, serializers, width, represent };
}
namespace to_json_param {
enum : size_t { obj, default_, option };
}
namespace dump_includes_param {
enum : size_t { doc, include_dir };
}

extern const ArgSpec kLoadsSpec;
extern const ArgSpec kLoadsAllSpec;
extern const ArgSpec kDumpsSpec;
extern const ArgSpec kToJsonSpec;
extern const ArgSpec kSchemaRefSpec;
extern const ArgSpec kYamlVersionSpec;
extern const ArgSpec kDumpIncludesSpec;
extern const ArgSpec kDumpIncludesMapSpec;

// Each returns a new reference, or nullptr with a host exception set (or
// throws, see frame.hpp).
PyObject* loads_entry(const CallArgs& args);
PyObject* loads_all_entry(const CallArgs& args);
PyObject* dumps_entry(const CallArgs& args);
PyObject* to_json_entry(const CallArgs& args);
PyObject* schema_ref_entry(const CallArgs& args);
PyObject* yaml_version_entry(const CallArgs& args);
PyObject* dump_includes_entry(const CallArgs& args);
PyObject* dump_includes_map_entry(const CallArgs& args);

}  // namespace qf::py
