// korvel_beads::native::PyRef — the one owner of a strong Python reference. Every C-API function of
// the binding holds what it creates in a PyRef, so that each exit path releases exactly what it
// owns. Internal to the binding.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace korvel_beads::native {

class PyRef {
 public:
  PyRef() noexcept = default;
  // Takes over a new reference (nullptr allowed: a failed C-API call).
  explicit PyRef(PyObject* owned) noexcept : object_(owned) {}
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(object_);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  ~PyRef() { Py_XDECREF(object_); }

  // A new strong reference to a borrowed one.
  static PyRef borrow(PyObject* borrowed) noexcept { return PyRef(Py_XNewRef(borrowed)); }

  PyObject* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  // Hands the reference to the caller (for a return value or a stealing C-API call).
  PyObject* release() noexcept { return std::exchange(object_, nullptr); }

 private:
  PyObject* object_ = nullptr;
};

}  // namespace korvel_beads::native
