#pragma once

// What a failed conversion of an argument means. Converting may run the caller's own Python code
// (__index__, __float__, __fspath__, a sequence's __iter__), and that code may raise anything,
// KeyboardInterrupt included. Only the plain failure, a TypeError or an OverflowError, says "not
// this kind of argument", for pybind11 to try the next overload and in the end to report the call's
// arguments; any other exception is the caller's, and propagates as raised.

#include <pybind11/pybind11.h>

namespace pytarntext {

// Called with a Python error set by a failed conversion: clears a plain failure; throws
// error_already_set, which pybind11 raises as it stands, for any other.
inline void clear_conversion_error() {
  if (PyErr_ExceptionMatches(PyExc_TypeError) || PyErr_ExceptionMatches(PyExc_OverflowError)) {
    PyErr_Clear();
    return;
  }
  throw pybind11::error_already_set();
}

}  // namespace pytarntext
