#pragma once

// Numbers as arguments. pybind11 3 names a double or int argument after the protocols its caster
// accepts ("typing.SupportsFloat | typing.SupportsIndex"); these load through that same caster,
// so they accept exactly what it does, but keep the names that our signatures, stubs and callers
// have always read: float and int.

#include <pybind11/pybind11.h>

namespace pytarntext {

struct Float {
  double value;
};

struct Int {
  int value;
};

}  // namespace pytarntext

namespace pybind11::detail {

template <class Wrapper, class Number>
bool load_number(Wrapper& wrapper, handle source, bool convert) {
  make_caster<Number> number;
  if (!number.load(source, convert)) return false;
  wrapper.value = cast_op<Number>(number);
  return true;
}

template <>
struct type_caster<pytarntext::Float> {
  PYBIND11_TYPE_CASTER(pytarntext::Float, const_name("float"));
  bool load(handle source, bool convert) {
    return load_number<pytarntext::Float, double>(value, source, convert);
  }
};

template <>
struct type_caster<pytarntext::Int> {
  PYBIND11_TYPE_CASTER(pytarntext::Int, const_name("int"));
  bool load(handle source, bool convert) {
    return load_number<pytarntext::Int, int>(value, source, convert);
  }
};

}  // namespace pybind11::detail
