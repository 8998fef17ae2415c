#pragma once

// File paths arrive as Python's own file functions take them: str (encoded as os.fsencode does,
// so names that os.listdir decoded with surrogates come back as their bytes), bytes, bytearray
// or any os.PathLike such as pathlib.Path.

#include <pybind11/pybind11.h>

#include <string>

#include "conversion_error.h"

namespace pytarntext {

struct FilePath {
  std::string bytes;
};

}  // namespace pytarntext

namespace pybind11::detail {

template <>
struct type_caster<pytarntext::FilePath> {
  PYBIND11_TYPE_CASTER(pytarntext::FilePath, const_name("str | bytes | os.PathLike"));

  bool load(handle source, bool) {
    if (PyByteArray_Check(source.ptr())) {
      value.bytes.assign(PyByteArray_AS_STRING(source.ptr()),
                         static_cast<std::size_t>(PyByteArray_GET_SIZE(source.ptr())));
      return true;
    }
    // os.fspath, then os.fsencode; a NUL byte passes, for the callee's own refusal.
    object path = reinterpret_steal<object>(PyOS_FSPath(source.ptr()));
    if (!path) {
      pytarntext::clear_conversion_error();  // what the object's own __fspath__ raised propagates
      return false;
    }
    if (PyUnicode_Check(path.ptr())) {
      path = reinterpret_steal<object>(PyUnicode_EncodeFSDefault(path.ptr()));
      if (!path) {
        PyErr_Clear();
        return false;
      }
    }
    value.bytes.assign(PyBytes_AS_STRING(path.ptr()),
                       static_cast<std::size_t>(PyBytes_GET_SIZE(path.ptr())));
    return true;
  }
};

}  // namespace pybind11::detail
