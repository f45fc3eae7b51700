// PyInit__native, the only exported symbol: the module definition of korvel_beads._native
// (multi-phase initialisation, no per-module state) and its execution step `native`, which
// registers the schema constant, the nine classes and the five functions, each also appended to
// __all__, in that order.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <string>

#include "korvel_beads/contract/contract.hpp"
#include "korvel_beads_native/entry_points.hpp"
#include "korvel_beads_native/py_ref.hpp"
#include "korvel_beads_native/types.hpp"

namespace korvel_beads::native {
namespace {

// Adds `value` (a new reference, nullptr for a failed creation) under `name` and appends the name
// to __all__, which the first addition creates.
bool add(PyObject* module, const char* name, PyRef value) {
  if (!value) return false;
  if (PyModule_AddObjectRef(module, name, value.get()) < 0) return false;
  PyObject* namespace_dict = PyModule_GetDict(module);              // borrowed
  PyObject* all = PyDict_GetItemString(namespace_dict, "__all__");  // borrowed
  if (all == nullptr) {
    PyRef created(PyList_New(0));
    if (!created || PyDict_SetItemString(namespace_dict, "__all__", created.get()) < 0) {
      return false;
    }
    all = created.get();  // kept alive by the module's dictionary
  }
  PyRef name_text(PyUnicode_FromString(name));
  return name_text && PyList_Append(all, name_text.get()) == 0;
}

PyRef type_reference(PyTypeObject* type) {
  return PyRef::borrow(reinterpret_cast<PyObject*>(type));
}

int native(PyObject* module) {
  // The type objects live once per process, so they belong to the main interpreter; handing them
  // to a subinterpreter would share objects between interpreters.
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    PyErr_SetString(PyExc_ImportError,
                    "korvel_beads._native can only be imported in the main interpreter");
    return -1;
  }
  try {
    const std::string schema(BEADS_SCHEMA_V1);
    if (!add(module, "BEADS_SCHEMA_V1", PyRef(PyUnicode_FromString(schema.c_str())))) return -1;
    struct NamedType {
      const char* name;
      PyTypeObject* (*get)();
    };
    const NamedType types[] = {
        {"BeadComposeError", bead_compose_error_type},
        {"BeadOperation", bead_operation_type},
        {"PourAuthorization", pour_authorization_type},
        {"BeadStage", bead_stage_type},
        {"BeadStageOutcome", bead_stage_outcome_type},
        {"BeadOutcome", bead_outcome_type},
        {"BeadStageReceipt", bead_stage_receipt_type},
        {"BeadComposeReceipt", bead_compose_receipt_type},
        {"BeadComposeRequest", bead_compose_request_type},
    };
    for (const NamedType& type : types) {
      if (!add(module, type.name, type_reference(type.get()))) return -1;
    }
    PyRef module_name(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    for (PyMethodDef* definition = entry_point_definitions(); definition->ml_name != nullptr;
         ++definition) {
      PyRef function(PyCFunction_NewEx(definition, module, module_name.get()));
      if (!add(module, definition->ml_name, std::move(function))) return -1;
    }
    return 0;
  } catch (const std::exception&) {
    PyErr_NoMemory();
    return -1;
  }
}

PyModuleDef_Slot native_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(native)},
    {0, nullptr},
};

PyModuleDef native_module = {
    PyModuleDef_HEAD_INIT, "_native", "", 0, nullptr, native_slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace korvel_beads::native

PyMODINIT_FUNC PyInit__native(void) {
  return PyModuleDef_Init(&korvel_beads::native::native_module);
}
