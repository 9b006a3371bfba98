// yaml_version(data, /): the %YAML directive of a text, without parsing it.
#include <string>

#include "ffi/entry_points.hpp"
#include "ffi/input_text.hpp"
#include "support/yaml_directive.hpp"

namespace qf::py {

PyObject* yaml_version_entry(const CallArgs& args) {
  InputText text;
  if (!extract_input_text(args[0], text)) return nullptr;
  auto v = sniff_yaml_directive(text.view());
  if (!v) Py_RETURN_NONE;
  std::string s = std::to_string(v->major) + "." + std::to_string(v->minor);
  return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

}  // namespace qf::py
