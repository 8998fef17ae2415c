#include "token_casters.h"

namespace pybind11::detail {
namespace {

// The items of a token sequence, in a container that no other code can change while we borrow
// from it: a tuple as it is, a list as a tuple snapshot (a garbage-collection finaliser could
// otherwise empty the caller's list while we hold its items), any other sequence as a new list.
object stable_items(handle source) {
  PyObject* sequence = source.ptr();
  if (!PySequence_Check(sequence) || PyUnicode_Check(sequence) || PyBytes_Check(sequence)) {
    return object();
  }
  PyObject* items =
      PyList_Check(sequence) ? PyList_AsTuple(sequence) : PySequence_Fast(sequence, "");
  if (items == nullptr) PyErr_Clear();
  return reinterpret_steal<object>(items);
}

bool load_text(PyObject* item, pytarntext::TextTokens& tokens, std::size_t index) {
  if (PyUnicode_Check(item)) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(item, &size);
    if (data == nullptr) {  // a lone surrogate: not text we can encode
      PyErr_Clear();
      return false;
    }
    tokens.views[index] = {data, static_cast<std::size_t>(size)};
  } else if (PyBytes_Check(item)) {
    tokens.views[index] = {PyBytes_AS_STRING(item), static_cast<std::size_t>(PyBytes_GET_SIZE(item))};
  } else if (PyByteArray_Check(item)) {
    const std::string& copy = tokens.copies.emplace_back(PyByteArray_AS_STRING(item),
                                                         PyByteArray_GET_SIZE(item));
    tokens.views[index] = copy;
  } else {
    return false;
  }
  return true;
}

bool load_int(PyObject* item, std::int64_t& value) {
  if (PyFloat_Check(item)) return false;
  object number;
  if (!PyLong_Check(item)) {
    if (!PyIndex_Check(item)) return false;
    number = reinterpret_steal<object>(PyNumber_Index(item));
    if (!number) {
      PyErr_Clear();
      return false;
    }
    item = number.ptr();
  }
  int overflow = 0;
  const long long converted = PyLong_AsLongLongAndOverflow(item, &overflow);
  if (overflow != 0 || (converted == -1 && PyErr_Occurred())) {
    PyErr_Clear();
    return false;
  }
  value = converted;
  return true;
}

// A result key that equals the token: the caller's own object when it is an exact str or int.
PyObject* text_key(PyObject* item, std::string_view bytes) {
  if (PyUnicode_CheckExact(item)) {
    Py_INCREF(item);
    return item;
  }
  PyObject* key = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "strict");
  if (key == nullptr) throw error_already_set();
  return key;
}

PyObject* int_key(PyObject* item, std::int64_t value) {
  if (PyLong_CheckExact(item)) {
    Py_INCREF(item);
    return item;
  }
  PyObject* key = PyLong_FromLongLong(value);
  if (key == nullptr) throw error_already_set();
  return key;
}

template <class KeyOf>
handle build_dict(const tarn::typing::text::PositionWeights& weights, KeyOf key_of) {
  dict result;
  for (const auto& [position, weight] : weights) {
    object key = reinterpret_steal<object>(key_of(position));
    object value = reinterpret_steal<object>(PyFloat_FromDouble(weight));
    if (!value || PyDict_SetItem(result.ptr(), key.ptr(), value.ptr()) != 0) {
      throw error_already_set();
    }
  }
  return result.release();
}

}  // namespace

bool type_caster<pytarntext::TextTokens>::load(handle source, bool) {
  value = pytarntext::TextTokens{};
  value.items = stable_items(source);
  if (!value.items) return false;
  PyObject** items = PySequence_Fast_ITEMS(value.items.ptr());
  const auto count = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(value.items.ptr()));
  value.views.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (!load_text(items[i], value, i)) return false;
  }
  return true;
}

bool type_caster<pytarntext::IntTokens>::load(handle source, bool) {
  value = pytarntext::IntTokens{};
  value.items = stable_items(source);
  if (!value.items) return false;
  PyObject** items = PySequence_Fast_ITEMS(value.items.ptr());
  const auto count = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(value.items.ptr()));
  value.values.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (!load_int(items[i], value.values[i])) return false;
  }
  return true;
}

handle type_caster<pytarntext::TextWeights>::cast(const pytarntext::TextWeights& result,
                                                  return_value_policy, handle) {
  PyObject** items = PySequence_Fast_ITEMS(result.tokens.items.ptr());
  return build_dict(result.weights, [&](std::size_t position) {
    return text_key(items[position], result.tokens.views[position]);
  });
}

handle type_caster<pytarntext::IntWeights>::cast(const pytarntext::IntWeights& result,
                                                 return_value_policy, handle) {
  PyObject** items = PySequence_Fast_ITEMS(result.tokens.items.ptr());
  return build_dict(result.weights, [&](std::size_t position) {
    return int_key(items[position], result.tokens.values[position]);
  });
}

}  // namespace pybind11::detail
