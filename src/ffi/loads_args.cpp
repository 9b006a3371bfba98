#include "ffi/loads_args.hpp"

#include "ffi/entry_points.hpp"

namespace qf::py {

bool extract_loads_arguments(const CallArgs& a, LoadsArguments& out) {
  namespace p = loads_param;
  out.data = a[p::data];
  out.option_given = !is_absent(a[p::option]);
  if (!arg_option(a[p::option], out.option)) return false;
  if (!arg_path(a[p::include_dir], "include_dir", out.include_dir)) return false;
  out.schema = arg_object(a[p::schema]);
  out.schema_resolver = arg_object(a[p::schema_resolver]);
  out.tag_handler = arg_object(a[p::tag_handler]);
  out.tags = arg_object(a[p::tags]);
  if (!arg_path(a[p::root_path], "root_path", out.root_path)) return false;
  out.on_missing_secret = arg_object(a[p::on_missing_secret]);
  out.on_missing_env_var = arg_object(a[p::on_missing_env_var]);
  return true;
}

}  // namespace qf::py
