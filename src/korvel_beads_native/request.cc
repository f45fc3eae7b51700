// The class BeadComposeRequest: its constructor, which checks and converts Python values into a
// PyBeadComposeRequest in a fixed order (refusing bad values with BeadComposeError), and its ten
// read-only attributes. compose_variables travel through json.dumps and the project's JSON reader.
#include <array>
#include <cmath>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "korvel/json/reader.hpp"
#include "korvel/json/writer.hpp"
#include "korvel_beads/contract/contract.hpp"
#include "korvel_beads_native/arg_binding.hpp"
#include "korvel_beads_native/error.hpp"
#include "korvel_beads_native/py_ref.hpp"
#include "korvel_beads_native/types.hpp"

namespace korvel_beads::native {
namespace {

// The reader refuses more than 127 nested levels, so containers below this depth can never reach
// the pipeline: json.dumps or the reader refuses them. Stopping the pre-check there bounds its
// recursion and keeps a container that holds itself from looping.
constexpr int kMaxCheckedDepth = static_cast<int>(korvel::json::kMaxDepth) + 1;

bool validate_json_input(PyObject* value, int depth);

bool validate_json_items(PyObject* sequence, int depth) {
  const bool is_list = PyList_Check(sequence);
  // The size is read anew on each step: nothing here runs Python code, but a list is never trusted
  // to keep its length.
  for (Py_ssize_t i = 0; i < (is_list ? PyList_GET_SIZE(sequence) : PyTuple_GET_SIZE(sequence));
       ++i) {
    PyRef item =
        PyRef::borrow(is_list ? PyList_GET_ITEM(sequence, i) : PyTuple_GET_ITEM(sequence, i));
    if (!validate_json_input(item.get(), depth + 1)) return false;
  }
  return true;
}

// Refuses what json.dumps would silently turn into something else: non-str keys and non-finite
// floats.
bool validate_json_input(PyObject* value, int depth) {
  if (depth > kMaxCheckedDepth) return true;
  if (PyDict_Check(value)) {
    PyObject* key = nullptr;
    PyObject* item = nullptr;
    Py_ssize_t position = 0;
    while (PyDict_Next(value, &position, &key, &item)) {
      PyRef held_key = PyRef::borrow(key);
      PyRef held_item = PyRef::borrow(item);
      if (!utf8_text(held_key.get())) {
        request_error("compose_variables object keys must be strings");
        return false;
      }
      if (!validate_json_input(held_item.get(), depth + 1)) return false;
    }
    return true;
  }
  if (PyList_Check(value) || PyTuple_Check(value)) return validate_json_items(value, depth);
  if (PyFloat_Check(value) && !std::isfinite(PyFloat_AS_DOUBLE(value))) {
    request_error("compose_variables floating-point values must be finite");
    return false;
  }
  return true;
}

// Replaces the pending Python exception by a request error "{type}: {text}". An exception that is
// not an Exception (KeyboardInterrupt, SystemExit) is left as it is: it is not about the request.
void replace_by_request_error() {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef held_type(type);
  PyRef held_value(value);
  PyRef held_traceback(traceback);
  if (!held_value || !PyObject_TypeCheck(value, reinterpret_cast<PyTypeObject*>(PyExc_Exception))) {
    PyErr_Restore(held_type.release(), held_value.release(), held_traceback.release());
    return;
  }
  PyRef type_name(PyType_GetQualName(Py_TYPE(value)));
  std::optional<std::string> name = type_name ? utf8_text(type_name.get()) : std::nullopt;
  PyRef text(PyObject_Str(value));
  std::optional<std::string> detail = text ? utf8_text(text.get()) : std::nullopt;
  PyErr_Clear();
  std::string message = name.value_or("Exception");
  message += ": ";
  message += detail.value_or("<exception str() failed>");
  request_error(message);
}

// module.function(argument), the module imported through the interpreter's module cache.
PyRef call_module_function(const char* module_name, const char* function_name, PyObject* argument) {
  PyRef module(PyImport_ImportModule(module_name));
  if (!module) return PyRef();
  PyRef function(PyObject_GetAttrString(module.get(), function_name));
  if (!function) return PyRef();
  return PyRef(PyObject_CallOneArg(function.get(), argument));
}

std::optional<std::string> coerce_path(PyObject* value, const char* argument) {
  PyRef path = call_module_function("os", "fspath", value);
  if (!path) return std::nullopt;
  std::optional<std::string> text = utf8_text(path.get());
  if (!text) request_error(std::string(argument) + " must be a path-like string");
  return text;
}

bool parse_bead_variables(PyObject* value, std::map<std::string, std::string>& variables) {
  if (value == nullptr) return true;
  if (!PyDict_Check(value)) {
    request_error("bead_variables must be a string mapping");
    return false;
  }
  PyObject* key = nullptr;
  PyObject* item = nullptr;
  Py_ssize_t position = 0;
  while (PyDict_Next(value, &position, &key, &item)) {
    PyRef held_key = PyRef::borrow(key);
    PyRef held_item = PyRef::borrow(item);
    std::optional<std::string> key_text = utf8_text(held_key.get());
    if (!key_text) {
      request_error("bead_variables keys must be strings");
      return false;
    }
    std::optional<std::string> value_text = utf8_text(held_item.get());
    if (!value_text) {
      request_error("bead_variables values must be strings");
      return false;
    }
    variables.insert_or_assign(std::move(*key_text), std::move(*value_text));
  }
  return true;
}

// compose_variables → the reader's object, through json.dumps.
bool read_compose_variables(PyObject* value, korvel::json::Object& object) {
  if (!validate_json_input(value, 1)) return false;
  PyRef text = call_module_function("json", "dumps", value);
  Py_ssize_t size = 0;
  const char* data =
      text && PyUnicode_Check(text.get()) ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
  if (data == nullptr) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "json.dumps did not return a str");
    replace_by_request_error();
    return false;
  }
  auto parsed = korvel::json::parse(std::string_view(data, static_cast<std::size_t>(size)));
  if (!parsed) {
    request_error(parsed.error().message());
    return false;
  }
  if (!parsed->is_object()) {
    request_error("compose_variables must be a string-keyed mapping");
    return false;
  }
  object = std::move(parsed->as_object());
  return true;
}

constexpr std::array<const char*, 10> kParameterNames = {
    "working_directory", "template",       "rendered_formula", "compose_variables",  "operation",
    "formula_name",      "bead_variables", "bd_executable",    "pour_authorization", "schema"};
constexpr Signature kSignature = {"BeadComposeRequest.__new__()", kParameterNames, 4, 4};
enum Parameter {
  kWorkingDirectory,
  kTemplate,
  kRenderedFormula,
  kComposeVariables,
  kOperation,
  kFormulaName,
  kBeadVariables,
  kBdExecutable,
  kPourAuthorization,
  kSchema,
};

bool is_given(const PyRef& argument) { return argument && argument.get() != Py_None; }

PyObject* request_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  try {
    std::array<PyRef, kParameterNames.size()> bound;
    if (!bind_arguments(kSignature, args, kwargs, bound)) return nullptr;

    // Conversions done while binding: the binding layer's TypeError (or encoding error).
    std::string operation_text(text_form(BeadOperation::Render));
    if (bound[kOperation]) {
      auto text = text_argument(bound[kOperation].get(), "operation");
      if (!text) return nullptr;
      operation_text = std::move(*text);
    }
    auto record = std::make_unique<PyBeadComposeRequest>();
    if (is_given(bound[kFormulaName])) {
      record->formula_name = text_argument(bound[kFormulaName].get(), "formula_name");
      if (!record->formula_name) return nullptr;
    }
    std::optional<std::string> authorization;
    if (is_given(bound[kPourAuthorization])) {
      authorization = text_argument(bound[kPourAuthorization].get(), "pour_authorization");
      if (!authorization) return nullptr;
    }
    record->schema = std::string(BEADS_SCHEMA_V1);
    if (bound[kSchema]) {
      auto text = text_argument(bound[kSchema].get(), "schema");
      if (!text) return nullptr;
      record->schema = std::move(*text);
    }

    // The checks of the values themselves, in their order of precedence.
    if (!read_compose_variables(bound[kComposeVariables].get(), record->compose_variables)) {
      return nullptr;
    }
    if (authorization && *authorization != text_form(PourAuthorization::CreatePersistentBeads)) {
      request_error("pour_authorization must be CreatePersistentBeads when supplied");
      return nullptr;
    }
    record->pour_authorization = authorization.has_value();
    std::optional<BeadOperation> operation = parse_operation(operation_text);
    if (!operation) {
      request_error("operation must be render, validate, preview_pour, or pour");
      return nullptr;
    }
    record->operation = *operation;
    auto working_directory = coerce_path(bound[kWorkingDirectory].get(), "working_directory");
    if (!working_directory) return nullptr;
    auto template_path = coerce_path(bound[kTemplate].get(), "template");
    if (!template_path) return nullptr;
    auto rendered_formula = coerce_path(bound[kRenderedFormula].get(), "rendered_formula");
    if (!rendered_formula) return nullptr;
    record->working_directory = std::move(*working_directory);
    record->template_path = std::move(*template_path);
    record->rendered_formula = std::move(*rendered_formula);
    PyObject* bead_variables =
        is_given(bound[kBeadVariables]) ? bound[kBeadVariables].get() : nullptr;
    if (!parse_bead_variables(bead_variables, record->bead_variables)) return nullptr;
    if (is_given(bound[kBdExecutable])) {
      record->bd_executable = coerce_path(bound[kBdExecutable].get(), "bd_executable");
      if (!record->bd_executable) return nullptr;
    }

    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    reinterpret_cast<RecordObject<PyBeadComposeRequest>*>(self)->record = record.release();
    return self;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

const PyBeadComposeRequest* checked_record(PyObject* self) {
  const PyBeadComposeRequest* record = record_of<PyBeadComposeRequest>(self);
  if (record == nullptr) PyErr_SetString(PyExc_SystemError, "uninitialised BeadComposeRequest");
  return record;
}

PyObject* get_operation(PyObject* self, void*) {
  const PyBeadComposeRequest* record = checked_record(self);
  return record == nullptr ? nullptr : to_python(text_form(record->operation));
}

PyObject* get_pour_authorization(PyObject* self, void*) {
  const PyBeadComposeRequest* record = checked_record(self);
  if (record == nullptr) return nullptr;
  if (!record->pour_authorization) Py_RETURN_NONE;
  return to_python(text_form(PourAuthorization::CreatePersistentBeads));
}

PyObject* get_bead_variables(PyObject* self, void*) {
  const PyBeadComposeRequest* record = checked_record(self);
  if (record == nullptr) return nullptr;
  PyRef dict(PyDict_New());
  if (!dict) return nullptr;
  for (const auto& [key, value] : record->bead_variables) {
    PyRef key_text(to_python(std::string_view(key)));
    PyRef value_text(to_python(std::string_view(value)));
    if (!key_text || !value_text ||
        PyDict_SetItem(dict.get(), key_text.get(), value_text.get()) < 0) {
      return nullptr;
    }
  }
  return dict.release();
}

// json.loads of the stored object's compact JSON text: a new object on every read.
PyObject* get_compose_variables(PyObject* self, void*) {
  const PyBeadComposeRequest* record = checked_record(self);
  if (record == nullptr) return nullptr;
  try {
    std::string text = "{";
    bool first = true;
    for (const auto& [key, value] : record->compose_variables) {
      if (!first) text += ',';
      first = false;
      korvel::json::write_string(key, text);
      text += ':';
      korvel::json::write(value, text);
    }
    text += '}';
    PyRef json_text(to_python(std::string_view(text)));
    PyRef result = json_text ? call_module_function("json", "loads", json_text.get()) : PyRef();
    if (!result) replace_by_request_error();
    return result.release();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

using R = PyBeadComposeRequest;
PyGetSetDef request_properties[] = {
    {"schema", record_property<R, &R::schema>, nullptr, nullptr, nullptr},
    {"operation", get_operation, nullptr, nullptr, nullptr},
    {"working_directory", record_property<R, &R::working_directory>, nullptr, nullptr, nullptr},
    {"template", record_property<R, &R::template_path>, nullptr, nullptr, nullptr},
    {"rendered_formula", record_property<R, &R::rendered_formula>, nullptr, nullptr, nullptr},
    {"compose_variables", get_compose_variables, nullptr, nullptr, nullptr},
    {"formula_name", record_property<R, &R::formula_name>, nullptr, nullptr, nullptr},
    {"bead_variables", get_bead_variables, nullptr, nullptr, nullptr},
    {"bd_executable", record_property<R, &R::bd_executable>, nullptr, nullptr, nullptr},
    {"pour_authorization", get_pour_authorization, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

char request_doc[] =
    "BeadComposeRequest(working_directory, template, rendered_formula, compose_variables, *, "
    "operation=\"render\", formula_name=None, bead_variables=None, bd_executable=None, "
    "pour_authorization=None, schema=...)\n--\n\n";

PyType_Slot request_slots[] = {
    {Py_tp_doc, request_doc},
    {Py_tp_new, reinterpret_cast<void*>(request_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(record_dealloc<PyBeadComposeRequest>)},
    {Py_tp_getset, request_properties},
    {0, nullptr},
};

PyType_Spec request_spec = {
    "builtins.BeadComposeRequest",
    static_cast<int>(sizeof(RecordObject<PyBeadComposeRequest>)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    request_slots,
};

}  // namespace

PyTypeObject* bead_compose_request_type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) type = create_type(request_spec, nullptr, {});
  return type;
}

}  // namespace korvel_beads::native
