// The result classes BeadStageOutcome, BeadOutcome, BeadStageReceipt and BeadComposeReceipt:
// system-made instances with read-only properties that convert the stored record anew on every
// read.
#include "korvel_beads_native/types.hpp"

namespace korvel_beads::native {
namespace {

constexpr unsigned kResultFlags =
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION;

template <class Record>
constexpr int kBasicSize = static_cast<int>(sizeof(RecordObject<Record>));

PyGetSetDef stage_outcome_properties[] = {
    {"kind", record_property<PyBeadStageOutcome, &PyBeadStageOutcome::kind>, nullptr, nullptr,
     nullptr},
    {"code", record_property<PyBeadStageOutcome, &PyBeadStageOutcome::code>, nullptr, nullptr,
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef outcome_properties[] = {
    {"kind", record_property<PyBeadOutcome, &PyBeadOutcome::kind>, nullptr, nullptr, nullptr},
    {"code", record_property<PyBeadOutcome, &PyBeadOutcome::code>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef stage_receipt_properties[] = {
    {"stage", record_property<PyBeadStageReceipt, &PyBeadStageReceipt::stage>, nullptr, nullptr,
     nullptr},
    {"argv", record_property<PyBeadStageReceipt, &PyBeadStageReceipt::argv>, nullptr, nullptr,
     nullptr},
    {"exit_status", record_property<PyBeadStageReceipt, &PyBeadStageReceipt::exit_status>, nullptr,
     nullptr, nullptr},
    {"elapsed_ms", record_property<PyBeadStageReceipt, &PyBeadStageReceipt::elapsed_ms>, nullptr,
     nullptr, nullptr},
    {"stdout_excerpt", record_property<PyBeadStageReceipt, &PyBeadStageReceipt::stdout_excerpt>,
     nullptr, nullptr, nullptr},
    {"stderr_excerpt", record_property<PyBeadStageReceipt, &PyBeadStageReceipt::stderr_excerpt>,
     nullptr, nullptr, nullptr},
    {"outcome", record_property<PyBeadStageReceipt, &PyBeadStageReceipt::outcome>, nullptr, nullptr,
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef compose_receipt_properties[] = {
    {"schema", record_property<PyBeadComposeReceipt, &PyBeadComposeReceipt::schema>, nullptr,
     nullptr, nullptr},
    {"operation", record_property<PyBeadComposeReceipt, &PyBeadComposeReceipt::operation>, nullptr,
     nullptr, nullptr},
    {"rendered_formula",
     record_property<PyBeadComposeReceipt, &PyBeadComposeReceipt::rendered_formula>, nullptr,
     nullptr, nullptr},
    {"stages", record_property<PyBeadComposeReceipt, &PyBeadComposeReceipt::stages>, nullptr,
     nullptr, nullptr},
    {"outcome", record_property<PyBeadComposeReceipt, &PyBeadComposeReceipt::outcome>, nullptr,
     nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot stage_outcome_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(record_dealloc<PyBeadStageOutcome>)},
    {Py_tp_getset, stage_outcome_properties},
    {0, nullptr},
};
PyType_Slot outcome_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(record_dealloc<PyBeadOutcome>)},
    {Py_tp_getset, outcome_properties},
    {0, nullptr},
};
PyType_Slot stage_receipt_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(record_dealloc<PyBeadStageReceipt>)},
    {Py_tp_getset, stage_receipt_properties},
    {0, nullptr},
};
PyType_Slot compose_receipt_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(record_dealloc<PyBeadComposeReceipt>)},
    {Py_tp_getset, compose_receipt_properties},
    {0, nullptr},
};

PyType_Spec stage_outcome_spec = {"builtins.BeadStageOutcome", kBasicSize<PyBeadStageOutcome>, 0,
                                  kResultFlags, stage_outcome_slots};
PyType_Spec outcome_spec = {"builtins.BeadOutcome", kBasicSize<PyBeadOutcome>, 0, kResultFlags,
                            outcome_slots};
PyType_Spec stage_receipt_spec = {"builtins.BeadStageReceipt", kBasicSize<PyBeadStageReceipt>, 0,
                                  kResultFlags, stage_receipt_slots};
PyType_Spec compose_receipt_spec = {"builtins.BeadComposeReceipt", kBasicSize<PyBeadComposeReceipt>,
                                    0, kResultFlags, compose_receipt_slots};

}  // namespace

PyTypeObject* bead_stage_outcome_type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) type = create_type(stage_outcome_spec, nullptr, {});
  return type;
}

PyTypeObject* bead_outcome_type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) type = create_type(outcome_spec, nullptr, {});
  return type;
}

PyTypeObject* bead_stage_receipt_type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) type = create_type(stage_receipt_spec, nullptr, {});
  return type;
}

PyTypeObject* bead_compose_receipt_type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) type = create_type(compose_receipt_spec, nullptr, {});
  return type;
}

PyObject* new_compose_receipt(PyBeadComposeReceipt&& receipt) {
  return wrap_record(bead_compose_receipt_type(), std::move(receipt));
}

}  // namespace korvel_beads::native
