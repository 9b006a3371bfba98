#include "python_env.hpp"

#include <gtest/gtest.h>

namespace qf_test {

namespace {

class PythonEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    PyConfig config;
    PyConfig_InitPythonConfig(&config);
    PyConfig_SetBytesString(&config, &config.program_name, QF_PYTHON_EXECUTABLE);
    PyStatus st = Py_InitializeFromConfig(&config);
    PyConfig_Clear(&config);
    ASSERT_FALSE(PyStatus_Exception(st)) << (st.err_msg ? st.err_msg : "");
    // The package's __init__ needs the built module; only its exceptions
    // module is wanted here, so register a bare package over the sources.
    ASSERT_TRUE(run_python(
        "import sys, types\n"
        "pkg = types.ModuleType('quillfern')\n"
        "pkg.__path__ = ['" QF_SOURCE_DIR "/python/quillfern']\n"
        "sys.modules['quillfern'] = pkg\n"
        "import quillfern.exceptions\n"));
  }
};

[[maybe_unused]] auto* const registered = ::testing::AddGlobalTestEnvironment(new PythonEnvironment);

}  // namespace

bool run_python(const std::string& code) {
  PyObject* main = PyImport_AddModule("__main__");
  PyObject* globals = PyModule_GetDict(main);
  PyObject* r = PyRun_String(code.c_str(), Py_file_input, globals, globals);
  if (!r) {
    PyErr_Print();
    return false;
  }
  Py_DECREF(r);
  return true;
}

PyObject* eval_python(const std::string& expr) {
  PyObject* main = PyImport_AddModule("__main__");
  PyObject* globals = PyModule_GetDict(main);
  return PyRun_String(expr.c_str(), Py_eval_input, globals, globals);
}

}  // namespace qf_test
