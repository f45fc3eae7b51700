// korvel_beads::native::bind_arguments — binds a call's positional and keyword arguments to the
// parameters of one of the module's functions or constructors, with the exact TypeError messages
// the module promises, and the conversions of bound values (str, optional str, class instance) that
// attach the note "while processing '{argument}'" to any failure. Internal to the binding.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <span>
#include <string>

#include "korvel_beads_native/py_ref.hpp"

namespace korvel_beads::native {

// The parameters of one callable: every name in order; the first `positional` of them may be given
// by position, and the first `required` of those must be given. The rest are keyword-only and
// optional.
struct Signature {
  const char* display_name;  // "render()" or "BeadComposeRequest.__new__()"
  std::span<const char* const> names;
  std::size_t positional;
  std::size_t required;
};

// Vectorcall form (METH_FASTCALL | METH_KEYWORDS). `bound` has one slot per name and receives
// strong references; an absent argument stays empty. False with a pending TypeError on failure.
bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::span<PyRef> bound);

// tp_new form: a tuple of positional arguments and an optional dict of keyword arguments.
bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                    std::span<PyRef> bound);

// Attaches the note "while processing '{argument}'" to the pending exception.
void note_argument(const char* argument);

// Sets TypeError "'{type}' object is not an instance of '{expected}'" ("'None' is not an instance
// of '{expected}'" for None) with the note naming `argument`.
void raise_not_instance(PyObject* value, const char* expected, const char* argument);

// A str argument as UTF-8 text. A value that is not a str raises the mismatch TypeError; a str
// holding an unpaired surrogate raises Python's encoding error; both carry the note.
std::optional<std::string> text_argument(PyObject* value, const char* argument);

// The UTF-8 text of a str, or nullopt for anything else (no exception is left pending).
std::optional<std::string> utf8_text(PyObject* value);

}  // namespace korvel_beads::native
