// The module's five functions — execute, render, validate, preview_pour and pour — as method
// definitions, in registration order, ended by an empty entry. Internal to the binding.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "korvel_beads/contract/contract.hpp"
#include "korvel_beads_native/records.hpp"

namespace korvel_beads::native {

PyMethodDef* entry_point_definitions();

// One pipeline stage receipt as the record behind a BeadStageReceipt.
PyBeadStageReceipt stage_receipt(const BeadStageReceipt& stage);

}  // namespace korvel_beads::native
