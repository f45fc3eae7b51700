// The constants classes BeadOperation, PourAuthorization and BeadStage: no instances, no
// docstring, only plain str class attributes holding the contract's text forms.
#include <string>
#include <utility>
#include <vector>

#include "korvel_beads/contract/contract.hpp"
#include "korvel_beads_native/types.hpp"

namespace korvel_beads::native {
namespace {

constexpr unsigned kConstantsFlags =
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION;

PyType_Slot no_slots[] = {{0, nullptr}};

// The records behind these classes (PyBeadOperation, PyPourAuthorization, PyBeadStage) have no
// fields, so an instance would be the bare object header.
PyType_Spec bead_operation_spec = {"builtins.BeadOperation", sizeof(PyObject), 0, kConstantsFlags,
                                   no_slots};
PyType_Spec pour_authorization_spec = {"builtins.PourAuthorization", sizeof(PyObject), 0,
                                       kConstantsFlags, no_slots};
PyType_Spec bead_stage_spec = {"builtins.BeadStage", sizeof(PyObject), 0, kConstantsFlags,
                               no_slots};

// The contract's text forms are string views; the type creation wants NUL-terminated texts.
PyTypeObject* create_constants_type(
    PyType_Spec& definition, const std::vector<std::pair<const char*, std::string>>& values) {
  std::vector<std::pair<const char*, const char*>> attributes;
  attributes.reserve(values.size());
  for (const auto& [name, value] : values) attributes.emplace_back(name, value.c_str());
  return create_type(definition, nullptr, attributes);
}

}  // namespace

PyTypeObject* bead_operation_type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) {
    type = create_constants_type(
        bead_operation_spec, {{"RENDER", std::string(text_form(BeadOperation::Render))},
                              {"VALIDATE", std::string(text_form(BeadOperation::Validate))},
                              {"PREVIEW_POUR", std::string(text_form(BeadOperation::PreviewPour))},
                              {"POUR", std::string(text_form(BeadOperation::Pour))}});
  }
  return type;
}

PyTypeObject* pour_authorization_type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) {
    type =
        create_constants_type(pour_authorization_spec,
                              {{"CREATE_PERSISTENT_BEADS",
                                std::string(text_form(PourAuthorization::CreatePersistentBeads))}});
  }
  return type;
}

PyTypeObject* bead_stage_type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) {
    type = create_constants_type(
        bead_stage_spec,
        {{"RENDER", std::string(text_form(BeadStage::Render))},
         {"VALIDATE", std::string(text_form(BeadStage::Validate))},
         {"RESOLVE_ACTIVE_REGISTRY", std::string(text_form(BeadStage::ResolveActiveRegistry))},
         {"PREVIEW_POUR", std::string(text_form(BeadStage::PreviewPour))},
         {"POUR", std::string(text_form(BeadStage::Pour))}});
  }
  return type;
}

}  // namespace korvel_beads::native
