// Runs the frame's tests inside an embedded interpreter whose
// quillfern.exceptions comes from the source tree.
#pragma once
#include <string>

#include "ffi/py.hpp"

namespace qf_test {

// Runs Python source in __main__; returns false (and prints) on error.
bool run_python(const std::string& code);
// Evaluates an expression in __main__; new reference or nullptr.
PyObject* eval_python(const std::string& expr);

}  // namespace qf_test
