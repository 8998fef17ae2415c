#include "word_casters.h"

namespace pybind11::detail {

bool type_caster<pytarntext::Sentence>::load(handle source, bool) {
  PyObject* object = source.ptr();
  if (PyUnicode_Check(object)) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(object, &size);
    if (data == nullptr) {  // a lone surrogate has no UTF-8
      PyErr_Clear();
      return false;
    }
    value.bytes.assign(data, static_cast<std::size_t>(size));
    value.from_str = true;
  } else if (PyBytes_Check(object)) {
    value.bytes.assign(PyBytes_AS_STRING(object),
                       static_cast<std::size_t>(PyBytes_GET_SIZE(object)));
    value.from_str = false;
  } else if (PyByteArray_Check(object)) {
    value.bytes.assign(PyByteArray_AS_STRING(object),
                       static_cast<std::size_t>(PyByteArray_GET_SIZE(object)));
    value.from_str = false;
  } else {
    return false;
  }
  return true;
}

}  // namespace pybind11::detail
