// schema_ref(data, /): the reference of the text's schema modeline.
#include <optional>
#include <string>

#include "ffi/entry_points.hpp"
#include "ffi/input_text.hpp"
#include "schema/modeline.hpp"

namespace qf::py {

PyObject* schema_ref_entry(const CallArgs& args) {
  InputText text;
  if (!extract_input_text(args[0], text)) return nullptr;
  std::optional<std::string> ref = find_schema_modeline(text.view());
  if (!ref) Py_RETURN_NONE;
  return PyUnicode_FromStringAndSize(ref->data(), static_cast<Py_ssize_t>(ref->size()));
}

}  // namespace qf::py
