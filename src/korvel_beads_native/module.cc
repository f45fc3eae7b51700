// The extension module korvel_beads._native: module definition and its execution step.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace {

int native_exec(PyObject* /*module*/) { return 0; }

PyModuleDef_Slot native_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(native_exec)},
    {0, nullptr},
};

PyModuleDef native_module = {
    PyModuleDef_HEAD_INIT, "_native", "", 0, nullptr, native_slots, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__native(void) { return PyModuleDef_Init(&native_module); }
