// bind_arguments and the bound-value conversions: the module's argument binding, shared by the five
// functions and both constructors. All failures are TypeError raised before any work is done.
#include "korvel_beads_native/arg_binding.hpp"

#include <string>
#include <vector>

namespace korvel_beads::native {
namespace {

std::string quoted_list(const std::vector<const char*>& names) {
  // 'a'; 'a' and 'b'; 'a', 'b', and 'c'
  std::string list;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      if (names.size() > 2) list += ",";
      if (i + 1 == names.size()) {
        list += " and";
      }
      list += " ";
    }
    list += "'";
    list += names[i];
    list += "'";
  }
  return list;
}

bool too_many_positional(const Signature& signature, Py_ssize_t given) {
  const char* verb = given == 1 ? "was" : "were";
  if (signature.required != signature.positional) {
    PyErr_Format(PyExc_TypeError, "%s takes from %zu to %zu positional arguments but %zd %s given",
                 signature.display_name, signature.required, signature.positional, given, verb);
  } else {
    PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zd %s given",
                 signature.display_name, signature.positional, given, verb);
  }
  return false;
}

// Places one keyword argument; false with a pending TypeError when the name is unknown or was
// already bound by position.
bool bind_keyword(const Signature& signature, Py_ssize_t nargs, PyObject* name, PyObject* value,
                  std::span<PyRef> bound) {
  if (!PyUnicode_Check(name)) {
    PyErr_SetString(PyExc_TypeError, "keywords must be strings");
    return false;
  }
  for (std::size_t i = 0; i < signature.names.size(); ++i) {
    if (PyUnicode_CompareWithASCIIString(name, signature.names[i]) != 0) continue;
    if (static_cast<Py_ssize_t>(i) < nargs && i < signature.positional) {
      PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'",
                   signature.display_name, signature.names[i]);
      return false;
    }
    bound[i] = PyRef::borrow(value);
    return true;
  }
  PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'",
               signature.display_name, name);
  return false;
}

bool check_required(const Signature& signature, std::span<PyRef> bound) {
  std::vector<const char*> missing;
  for (std::size_t i = 0; i < signature.required; ++i) {
    if (!bound[i]) missing.push_back(signature.names[i]);
  }
  if (missing.empty()) return true;
  const std::string list = quoted_list(missing);
  PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s", signature.display_name,
               missing.size(), missing.size() == 1 ? "argument" : "arguments", list.c_str());
  return false;
}

}  // namespace

bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::span<PyRef> bound) {
  if (nargs > static_cast<Py_ssize_t>(signature.positional)) {
    return too_many_positional(signature, nargs);
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) bound[i] = PyRef::borrow(args[i]);
  const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    if (!bind_keyword(signature, nargs, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], bound)) {
      return false;
    }
  }
  return check_required(signature, bound);
}

bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                    std::span<PyRef> bound) {
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  if (nargs > static_cast<Py_ssize_t>(signature.positional)) {
    return too_many_positional(signature, nargs);
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) bound[i] = PyRef::borrow(PyTuple_GET_ITEM(args, i));
  if (kwargs != nullptr) {
    PyObject* name = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t position = 0;
    while (PyDict_Next(kwargs, &position, &name, &value)) {
      if (!bind_keyword(signature, nargs, name, value, bound)) return false;
    }
  }
  return check_required(signature, bound);
}

void note_argument(const char* argument) {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr) {
    if (traceback != nullptr) PyException_SetTraceback(value, traceback);
    PyRef add_note(PyUnicode_FromString("add_note"));
    PyRef note(PyUnicode_FromFormat("while processing '%s'", argument));
    PyRef result(note && add_note ? PyObject_CallMethodOneArg(value, add_note.get(), note.get())
                                  : nullptr);
    // The argument's own failure is what the caller needs; a failed note must not replace it.
    if (!result) PyErr_Clear();
  }
  PyErr_Restore(type, value, traceback);
}

void raise_not_instance(PyObject* value, const char* expected, const char* argument) {
  if (value == Py_None) {
    PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
  } else {
    PyRef type_name(PyType_GetQualName(Py_TYPE(value)));
    if (type_name) {
      PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", type_name.get(),
                   expected);
    }
  }
  note_argument(argument);
}

std::optional<std::string> text_argument(PyObject* value, const char* argument) {
  if (!PyUnicode_Check(value)) {
    raise_not_instance(value, "str", argument);
    return std::nullopt;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(value, &size);
  if (data == nullptr) {
    note_argument(argument);
    return std::nullopt;
  }
  return std::string(data, static_cast<std::size_t>(size));
}

std::optional<std::string> utf8_text(PyObject* value) {
  if (!PyUnicode_Check(value)) return std::nullopt;
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(value, &size);
  if (data == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace korvel_beads::native
