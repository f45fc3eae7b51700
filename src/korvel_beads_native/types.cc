// create_type and the to_python conversions: what every class of the module shares — heap type
// creation with class attributes, and the fresh Python objects that property reads return.
#include "korvel_beads_native/types.hpp"

#include "korvel_beads_native/py_ref.hpp"

namespace korvel_beads::native {

PyTypeObject* create_type(
    PyType_Spec& definition, PyObject* base,
    const std::vector<std::pair<const char*, const char*>>& class_attributes) {
  PyRef type(PyType_FromSpecWithBases(&definition, base));
  if (!type) return nullptr;
  auto* type_object = reinterpret_cast<PyTypeObject*>(type.get());
  // The type is immutable from Python; its attributes are set here, once, before anyone sees it.
  for (const auto& [name, value] : class_attributes) {
    PyRef text(PyUnicode_FromString(value));
    if (!text || PyDict_SetItemString(type_object->tp_dict, name, text.get()) < 0) return nullptr;
  }
  if (!class_attributes.empty()) PyType_Modified(type_object);
  return reinterpret_cast<PyTypeObject*>(type.release());
}

// Texts come from the pipeline as UTF-8; a stray invalid byte shows as U+FFFD instead of making a
// property read fail.
PyObject* to_python(std::string_view text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

PyObject* to_python(const std::optional<std::string>& text) {
  if (!text) Py_RETURN_NONE;
  return to_python(std::string_view(*text));
}

PyObject* to_python(const std::vector<std::string>& texts) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(texts.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    PyObject* item = to_python(std::string_view(texts[i]));
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

PyObject* to_python(const std::optional<std::int32_t>& number) {
  if (!number) Py_RETURN_NONE;
  return PyLong_FromLong(*number);
}

PyObject* to_python(std::uint64_t number) { return PyLong_FromUnsignedLongLong(number); }

PyObject* to_python(const PyBeadOutcome& outcome) {
  return wrap_record(bead_outcome_type(), PyBeadOutcome(outcome));
}

PyObject* to_python(const PyBeadStageOutcome& outcome) {
  return wrap_record(bead_stage_outcome_type(), PyBeadStageOutcome(outcome));
}

PyObject* to_python(const std::vector<PyBeadStageReceipt>& stages) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(stages.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < stages.size(); ++i) {
    PyObject* item = wrap_record(bead_stage_receipt_type(), PyBeadStageReceipt(stages[i]));
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

}  // namespace korvel_beads::native
