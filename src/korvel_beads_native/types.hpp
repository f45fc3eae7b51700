// The module's nine Python classes as the binding sees them: the getters that create each type
// object once per process (on registration or on first use, whichever comes first), the instance
// layout shared by the record-backed classes, and the conversions of stored values into fresh
// Python objects on every property read. Internal to the binding.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "korvel_beads_native/records.hpp"

namespace korvel_beads::native {

// Each returns a borrowed reference to the process-wide type object, or nullptr with a pending
// exception when the type cannot be created.
PyTypeObject* bead_compose_error_type();
PyTypeObject* bead_operation_type();
PyTypeObject* pour_authorization_type();
PyTypeObject* bead_stage_type();
PyTypeObject* bead_stage_outcome_type();
PyTypeObject* bead_outcome_type();
PyTypeObject* bead_stage_receipt_type();
PyTypeObject* bead_compose_receipt_type();
PyTypeObject* bead_compose_request_type();

// A Python instance owning one record. The record is set right after allocation and never changes.
template <class Record>
struct RecordObject {
  PyObject_HEAD Record* record;
};

template <class Record>
Record* record_of(PyObject* self) {
  return reinterpret_cast<RecordObject<Record>*>(self)->record;
}

// tp_dealloc of the record-backed heap types (which hold no Python references).
template <class Record>
void record_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  delete record_of<Record>(self);
  type->tp_free(self);
  Py_DECREF(type);
}

// A new instance of `type` that owns `record`; nullptr with a pending exception on failure.
template <class Record>
PyObject* wrap_record(PyTypeObject* type, Record&& record) {
  if (type == nullptr) return nullptr;
  auto* owned = new (std::nothrow) Record(std::move(record));
  if (owned == nullptr) return PyErr_NoMemory();
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) {
    delete owned;
    return nullptr;
  }
  reinterpret_cast<RecordObject<Record>*>(self)->record = owned;
  return self;
}

// Creates a heap type from `definition` on `base` (nullptr for object). Class attributes, when
// given, are set in the type's dictionary once, here.
PyTypeObject* create_type(PyType_Spec& definition, PyObject* base,
                          const std::vector<std::pair<const char*, const char*>>& class_attributes);

// Conversions used by property reads: every call makes a new object.
PyObject* to_python(std::string_view text);
inline PyObject* to_python(const std::string& text) { return to_python(std::string_view(text)); }
PyObject* to_python(const std::optional<std::string>& text);
PyObject* to_python(const std::vector<std::string>& texts);
PyObject* to_python(const std::optional<std::int32_t>& number);
PyObject* to_python(std::uint64_t number);
PyObject* to_python(const PyBeadOutcome& outcome);
PyObject* to_python(const PyBeadStageOutcome& outcome);
PyObject* to_python(const std::vector<PyBeadStageReceipt>& stages);

// A read-only property getter for one member of a record.
template <class Record, auto Member>
PyObject* record_property(PyObject* self, void* /*closure*/) {
  const Record* record = record_of<Record>(self);
  if (record == nullptr) {
    PyErr_SetString(PyExc_SystemError, "uninitialised korvel_beads object");
    return nullptr;
  }
  try {
    return to_python(record->*Member);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

// A new BeadComposeReceipt object owning the record.
PyObject* new_compose_receipt(PyBeadComposeReceipt&& receipt);

}  // namespace korvel_beads::native
