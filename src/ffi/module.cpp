// Placeholder module; the real frame replaces it.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

static PyModuleDef_Slot qf_slots[] = {{0, nullptr}};
static PyModuleDef qf_def = {PyModuleDef_HEAD_INIT, "_quillfern", nullptr, 0, nullptr, qf_slots, nullptr, nullptr, nullptr};
PyMODINIT_FUNC PyInit__quillfern(void) { return PyModuleDef_Init(&qf_def); }
