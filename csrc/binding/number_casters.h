#pragma once

// Numbers as arguments. pybind11 3 names a double or int argument after the protocols its caster
// accepts ("typing.SupportsFloat | typing.SupportsIndex"); these accept exactly what it does, but
// keep the names that our signatures, stubs and callers have always read: float and int.

#include <pybind11/pybind11.h>

#include "conversion_error.h"

namespace pytarntext {

struct Float {
  double value;
};

struct Int {
  int value;
};

}  // namespace pytarntext

namespace pybind11::detail {

// pybind11's own conversions of a double and an int argument, step for step, except that an
// exception raised by the argument's __float__, __index__ or __int__ propagates where pybind11
// clears every error (conversion_error.h).
inline bool load_double(handle source, bool convert, double& value) {
  if (!convert && !PyFloat_Check(source.ptr())) return false;
  value = PyFloat_AsDouble(source.ptr());
  if (value != -1.0 || !PyErr_Occurred()) return true;
  pytarntext::clear_conversion_error();
  if (!convert || PyNumber_Check(source.ptr()) == 0) return false;
  const object number = reinterpret_steal<object>(PyNumber_Float(source.ptr()));
  if (!number) {
    pytarntext::clear_conversion_error();
    return false;
  }
  return load_double(number, false, value);
}

inline bool load_int(handle source, bool convert, int& value) {
  PyObject* const item = source.ptr();
  if (PyFloat_Check(item) || (!convert && !PyLong_Check(item) && !PyIndex_Check(item))) {
    return false;
  }
  const long number = PyLong_AsLong(item);
  const bool failed = number == -1 && PyErr_Occurred();
  if (failed) pytarntext::clear_conversion_error();
  if (failed || number != static_cast<long>(static_cast<int>(number))) {
    if (!failed || !convert || PyNumber_Check(item) == 0) return false;
    const object converted = reinterpret_steal<object>(PyNumber_Long(item));
    if (!converted) {
      pytarntext::clear_conversion_error();
      return false;
    }
    return load_int(converted, false, value);
  }
  value = static_cast<int>(number);
  return true;
}

template <>
struct type_caster<pytarntext::Float> {
  PYBIND11_TYPE_CASTER(pytarntext::Float, const_name("float"));
  bool load(handle source, bool convert) { return load_double(source, convert, value.value); }
};

template <>
struct type_caster<pytarntext::Int> {
  PYBIND11_TYPE_CASTER(pytarntext::Int, const_name("int"));
  bool load(handle source, bool convert) { return load_int(source, convert, value.value); }
};

}  // namespace pybind11::detail
