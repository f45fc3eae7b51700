// The exception class BeadComposeError (a subclass of Exception holding code, message and stage),
// and error / request_error, which raise it.
#include "korvel_beads_native/error.hpp"

#include <array>
#include <memory>
#include <new>
#include <string>

#include "korvel_beads_native/arg_binding.hpp"
#include "korvel_beads_native/py_ref.hpp"
#include "korvel_beads_native/types.hpp"

namespace korvel_beads::native {
namespace {

struct ErrorObject {
  PyBaseExceptionObject base;
  PyBeadComposeError* record;
};

PyTypeObject* exception_base() { return reinterpret_cast<PyTypeObject*>(PyExc_Exception); }

const PyBeadComposeError* error_record(PyObject* self) {
  const PyBeadComposeError* record = reinterpret_cast<ErrorObject*>(self)->record;
  if (record == nullptr) {
    PyErr_SetString(PyExc_SystemError, "uninitialised BeadComposeError");
  }
  return record;
}

constexpr std::array<const char*, 3> kParameterNames = {"code", "message", "stage"};
constexpr Signature kSignature = {"BeadComposeError.__new__()", kParameterNames, 3, 2};

PyObject* error_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  try {
    std::array<PyRef, 3> bound;
    if (!bind_arguments(kSignature, args, kwargs, bound)) return nullptr;
    auto record = std::make_unique<PyBeadComposeError>();
    std::optional<std::string> code = text_argument(bound[0].get(), "code");
    if (!code) return nullptr;
    std::optional<std::string> message = text_argument(bound[1].get(), "message");
    if (!message) return nullptr;
    record->code = std::move(*code);
    record->message = std::move(*message);
    if (bound[2] && bound[2].get() != Py_None) {
      record->stage = text_argument(bound[2].get(), "stage");
      if (!record->stage) return nullptr;
    }
    // Exception's own constructor with no arguments; the inherited initialiser then sets `args`
    // from the call.
    PyRef no_arguments(PyTuple_New(0));
    if (!no_arguments) return nullptr;
    PyRef self(exception_base()->tp_new(type, no_arguments.get(), nullptr));
    if (!self) return nullptr;
    reinterpret_cast<ErrorObject*>(self.get())->record = record.release();
    return self.release();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

void error_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  delete reinterpret_cast<ErrorObject*>(self)->record;
  reinterpret_cast<ErrorObject*>(self)->record = nullptr;
  exception_base()->tp_dealloc(self);  // untracks, clears the exception part and frees
  Py_DECREF(type);
}

int error_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));  // instances of a heap type own a reference to it
  return exception_base()->tp_traverse(self, visit, arg);
}

int error_clear(PyObject* self) { return exception_base()->tp_clear(self); }

PyObject* error_str(PyObject* self) {
  const PyBeadComposeError* record = error_record(self);
  if (record == nullptr) return nullptr;
  return to_python(std::string_view(record->message));
}

PyObject* get_code(PyObject* self, void*) {
  const PyBeadComposeError* record = error_record(self);
  return record == nullptr ? nullptr : to_python(std::string_view(record->code));
}

PyObject* get_stage(PyObject* self, void*) {
  const PyBeadComposeError* record = error_record(self);
  return record == nullptr ? nullptr : to_python(record->stage);
}

PyObject* get_message(PyObject* self, void*) {
  const PyBeadComposeError* record = error_record(self);
  return record == nullptr ? nullptr : to_python(std::string_view(record->message));
}

PyGetSetDef error_properties[] = {
    {"code", get_code, nullptr, nullptr, nullptr},
    {"stage", get_stage, nullptr, nullptr, nullptr},
    {"message", get_message, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

char error_doc[] = "BeadComposeError(code, message, stage=None)\n--\n\n";

PyType_Slot error_slots[] = {
    {Py_tp_doc, error_doc},
    {Py_tp_new, reinterpret_cast<void*>(error_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(error_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(error_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(error_clear)},
    {Py_tp_str, reinterpret_cast<void*>(error_str)},
    {Py_tp_getset, error_properties},
    {0, nullptr},
};

PyType_Spec error_spec = {
    "builtins.BeadComposeError",
    static_cast<int>(sizeof(ErrorObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_HAVE_GC,
    error_slots,
};

}  // namespace

PyTypeObject* bead_compose_error_type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) type = create_type(error_spec, PyExc_Exception, {});
  return type;
}

void error(std::string_view code, std::optional<std::string_view> stage, std::string_view message) {
  PyTypeObject* type = bead_compose_error_type();
  if (type == nullptr) return;
  PyRef code_text(to_python(code));
  PyRef message_text(to_python(message));
  PyRef stage_text(stage ? to_python(*stage) : Py_NewRef(Py_None));
  if (!code_text || !message_text || !stage_text) return;
  PyRef arguments(PyTuple_Pack(3, code_text.get(), message_text.get(), stage_text.get()));
  if (!arguments) return;
  // The instance is made from the tuple when the exception is raised or first inspected.
  PyErr_SetObject(reinterpret_cast<PyObject*>(type), arguments.get());
}

void request_error(std::string_view message) {
  error("BEADS_REQUEST_DESERIALIZATION_FAILED", "request", message);
}

}  // namespace korvel_beads::native
