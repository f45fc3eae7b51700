// The entry functions execute, render, validate, preview_pour and pour: each copies the request,
// runs execute_bead_request with the interpreter lock released, and returns a new
// BeadComposeReceipt or raises BeadComposeError. Also stage_receipt, the receipt conversion.
#include "korvel_beads_native/entry_points.hpp"

#include <array>
#include <exception>
#include <expected>
#include <new>
#include <optional>
#include <utility>

#include "korvel_beads/contract/error.hpp"
#include "korvel_beads/execute/execute.hpp"
#include "korvel_beads_native/arg_binding.hpp"
#include "korvel_beads_native/error.hpp"
#include "korvel_beads_native/py_ref.hpp"
#include "korvel_beads_native/types.hpp"

namespace korvel_beads::native {
namespace {

// Releases the interpreter lock for its lifetime; the lock is taken back on every path out,
// unwinding included.
class ReleasedInterpreterLock {
 public:
  ReleasedInterpreterLock() : state_(PyEval_SaveThread()) {}
  ReleasedInterpreterLock(const ReleasedInterpreterLock&) = delete;
  ReleasedInterpreterLock& operator=(const ReleasedInterpreterLock&) = delete;
  ~ReleasedInterpreterLock() { PyEval_RestoreThread(state_); }

 private:
  PyThreadState* state_;
};

PyBeadStageOutcome stage_outcome(const BeadStageOutcome& outcome) {
  PyBeadStageOutcome converted{std::string(outcome.kind_text()), std::nullopt};
  if (auto code = outcome.code()) converted.code = std::string(*code);
  return converted;
}

PyBeadOutcome receipt_outcome(const BeadOutcome& outcome) {
  PyBeadOutcome converted{std::string(outcome.kind_text()), std::nullopt};
  if (auto code = outcome.code()) converted.code = std::string(*code);
  return converted;
}

PyBeadComposeReceipt compose_receipt(const BeadComposeReceipt& receipt) {
  PyBeadComposeReceipt converted;
  converted.schema = receipt.schema;
  converted.operation = std::string(text_form(receipt.operation));
  converted.rendered_formula = display_path(receipt.rendered_formula);
  converted.stages.reserve(receipt.stages.size());
  for (const BeadStageReceipt& stage : receipt.stages)
    converted.stages.push_back(stage_receipt(stage));
  converted.outcome = receipt_outcome(receipt.outcome);
  return converted;
}

// The pipeline's request as a deep copy of the record, with the operation to run. Nothing of the
// Python object is read after this.
BeadComposeRequest pipeline_request(const PyBeadComposeRequest& record, BeadOperation operation) {
  BeadComposeRequest request;
  request.schema = record.schema;
  request.working_directory = std::filesystem::path(record.working_directory);
  request.template_path = std::filesystem::path(record.template_path);
  request.rendered_formula = std::filesystem::path(record.rendered_formula);
  request.compose_variables = record.compose_variables;
  request.operation = operation;
  request.formula_name = record.formula_name;
  request.bead_variables = record.bead_variables;
  if (record.bd_executable) request.bd_executable = std::filesystem::path(*record.bd_executable);
  if (record.pour_authorization)
    request.pour_authorization = PourAuthorization::CreatePersistentBeads;
  return request;
}

// Called and returns with the interpreter lock held; nullopt leaves a pending exception.
std::optional<PyBeadComposeReceipt> execute_with_operation(const PyBeadComposeRequest& record,
                                                           BeadOperation operation) {
  const BeadComposeRequest request = pipeline_request(record, operation);
  std::optional<std::expected<BeadComposeReceipt, BeadComposeError>> result;
  {
    ReleasedInterpreterLock unlocked;
    result.emplace(execute_bead_request(request));
  }
  if (!*result) {
    const BeadComposeError& failure = result->error();
    error(failure.code(), failure.stage_name(), failure.message());
    return std::nullopt;
  }
  return compose_receipt(**result);
}

PyObject* run_entry(const Signature& signature, std::optional<BeadOperation> forced,
                    PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  try {
    std::array<PyRef, 1> bound;  // holds the request for the whole call
    if (!bind_arguments(signature, args, nargs, kwnames, bound)) return nullptr;
    PyTypeObject* request_type = bead_compose_request_type();
    if (request_type == nullptr) return nullptr;
    if (!PyObject_TypeCheck(bound[0].get(), request_type)) {
      raise_not_instance(bound[0].get(), "BeadComposeRequest", "request");
      return nullptr;
    }
    const PyBeadComposeRequest* record = record_of<PyBeadComposeRequest>(bound[0].get());
    if (record == nullptr) {
      PyErr_SetString(PyExc_SystemError, "uninitialised BeadComposeRequest");
      return nullptr;
    }
    std::optional<PyBeadComposeReceipt> receipt =
        execute_with_operation(*record, forced.value_or(record->operation));
    if (!receipt) return nullptr;
    return new_compose_receipt(std::move(*receipt));
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& failure) {
    // The pipeline reports failures as values; anything thrown is a defect, never a crash of the
    // caller's interpreter.
    PyErr_Format(PyExc_SystemError, "korvel_beads internal failure: %s", failure.what());
    return nullptr;
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "korvel_beads internal failure");
    return nullptr;
  }
}

constexpr std::array<const char*, 1> kRequestParameter = {"request"};

constexpr Signature kExecute = {"execute()", kRequestParameter, 1, 1};
constexpr Signature kRender = {"render()", kRequestParameter, 1, 1};
constexpr Signature kValidate = {"validate()", kRequestParameter, 1, 1};
constexpr Signature kPreviewPour = {"preview_pour()", kRequestParameter, 1, 1};
constexpr Signature kPour = {"pour()", kRequestParameter, 1, 1};

constexpr int kStoredOperation = -1;
constexpr int index_of(BeadOperation operation) { return static_cast<int>(operation); }

// One entry function: `kSignature` names it in binding errors; `kForced` is the operation it
// runs as an index of BeadOperation, or kStoredOperation for execute, which runs the request's own.
template <const Signature& kSignature, int kForced>
PyObject* entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::optional<BeadOperation> forced;
  if constexpr (kForced >= 0) forced = static_cast<BeadOperation>(kForced);
  return run_entry(kSignature, forced, args, nargs, kwnames);
}

// METH_FASTCALL | METH_KEYWORDS functions are stored in PyMethodDef as a PyCFunction.
template <auto Function>
PyCFunction as_cfunction() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Function));
}

constexpr int kFastcallKeywords = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef definitions[] = {
    {"execute", as_cfunction<entry<kExecute, kStoredOperation>>(), kFastcallKeywords,
     "execute(request)\n--\n\n"},
    {"render", as_cfunction<entry<kRender, index_of(BeadOperation::Render)>>(), kFastcallKeywords,
     "render(request)\n--\n\n"},
    {"validate", as_cfunction<entry<kValidate, index_of(BeadOperation::Validate)>>(),
     kFastcallKeywords, "validate(request)\n--\n\n"},
    {"preview_pour", as_cfunction<entry<kPreviewPour, index_of(BeadOperation::PreviewPour)>>(),
     kFastcallKeywords, "preview_pour(request)\n--\n\n"},
    {"pour", as_cfunction<entry<kPour, index_of(BeadOperation::Pour)>>(), kFastcallKeywords,
     "pour(request)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyBeadStageReceipt stage_receipt(const BeadStageReceipt& stage) {
  PyBeadStageReceipt converted;
  converted.stage = std::string(text_form(stage.stage));
  converted.argv = stage.argv;
  converted.stdout_excerpt = stage.stdout_excerpt;
  converted.stderr_excerpt = stage.stderr_excerpt;
  converted.outcome = stage_outcome(stage.outcome);
  converted.exit_status = stage.exit_status;
  converted.elapsed_ms = stage.elapsed_ms;
  return converted;
}

PyMethodDef* entry_point_definitions() { return definitions; }

}  // namespace korvel_beads::native
