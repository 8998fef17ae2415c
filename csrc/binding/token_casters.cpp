#include "token_casters.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "conversion_error.h"

namespace pybind11::detail {
namespace {

// Text and binary data, which are sequences too but one token (or none), never a list of them:
// a bytearray or memoryview would otherwise train its bytes as the integer tokens 97, 98, ...
bool is_text_or_binary(PyObject* object) {
  return PyUnicode_Check(object) || PyBytes_Check(object) || PyByteArray_Check(object) ||
         PyMemoryView_Check(object);
}

// The items of a token sequence as a list or tuple: the caller's own list or tuple, or a new list
// for any other sequence. Null for what is not a token sequence.
object sequence_items(handle source) {
  PyObject* sequence = source.ptr();
  if (!PySequence_Check(sequence) || is_text_or_binary(sequence)) return object();
  PyObject* items = PySequence_Fast(sequence, "");  // may run the sequence's own __iter__
  if (items == nullptr) pytarntext::clear_conversion_error();
  return reinterpret_steal<object>(items);
}

// The most UTF-8 bytes that the str items among `items` can take.
std::size_t utf8_bound(PyObject* const* items, std::size_t count) {
  std::size_t bound = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (!PyUnicode_Check(items[i])) continue;
    // A legacy str is not encoded into the buffer: what it adds to the bound is spare.
    const auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(items[i]));
    bound += length * (PyUnicode_IS_ASCII(items[i]) ? 1 : PyUnicode_KIND(items[i]) + 1);
  }
  return bound;
}

// Writes the UTF-8 of a str's code units at `out`; the end, or null for a surrogate (which has
// none).
template <class Unit>
char* encode_utf8(const Unit* units, std::size_t length, char* out) {
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint32_t unit = units[i];
    if (unit >= 0xD800 && unit < 0xE000) return nullptr;
    out = tarn::write_utf8(unit, out);
  }
  return out;
}

bool is_compact(PyObject* text) {
#if PY_VERSION_HEX < 0x030C0000
  if (!PyUnicode_IS_READY(text)) return false;
#endif
  return PyUnicode_IS_COMPACT(text);
}

// Fills a TextTokens from the items of a list or tuple.
class TextLoader {
 public:
  TextLoader(pytarntext::TextTokens& tokens, PyObject* const* items, std::size_t count)
      : _tokens(tokens), _items(items), _count(count) {}

  bool load() {
    _tokens.views.resize(_count);
    for (std::size_t i = 0; i < _count; ++i) {
      if (!load(_items[i], _tokens.views[i], i)) return false;
    }
    return true;
  }

 private:
  bool load(PyObject* item, std::string_view& view, std::size_t index) {
    if (PyUnicode_Check(item)) return load_str(item, view, index);
    if (PyBytes_Check(item)) {
      view = {PyBytes_AS_STRING(item), static_cast<std::size_t>(PyBytes_GET_SIZE(item))};
    } else if (PyByteArray_Check(item)) {
      view = _tokens.copies.emplace_front(PyByteArray_AS_STRING(item), PyByteArray_GET_SIZE(item));
    } else {
      return false;
    }
    return true;
  }

  bool load_str(PyObject* text, std::string_view& view, std::size_t index) {
    if (PyUnicode_IS_COMPACT_ASCII(text)) {  // the common case: its bytes are its UTF-8
      view = {reinterpret_cast<const char*>(PyUnicode_1BYTE_DATA(text)),
              static_cast<std::size_t>(PyUnicode_GET_LENGTH(text))};
      return true;
    }
    if (!is_compact(text)) {  // a legacy str, made through the deprecated wchar_t API
      Py_ssize_t size = 0;
      const char* data = PyUnicode_AsUTF8AndSize(text, &size);
      if (data == nullptr) {
        PyErr_Clear();
        return false;
      }
      view = {data, static_cast<std::size_t>(size)};
      return true;
    }
    // Tokens from a tokenizer are fresh str objects: PyUnicode_AsUTF8AndSize would allocate, and
    // keep, a UTF-8 copy in every one, which costs more than the rest of counting the token. We
    // encode into one buffer, sized once for the rest of the list so that views into it stay put.
    if (_tokens.encoded.empty()) _tokens.encoded.resize(utf8_bound(_items + index, _count - index));
    char* const start = _tokens.encoded.data() + _encoded_size;
    const void* data = PyUnicode_DATA(text);
    const auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(text));
    char* end;
    switch (PyUnicode_KIND(text)) {
      case PyUnicode_1BYTE_KIND:
        end = encode_utf8(static_cast<const Py_UCS1*>(data), length, start);
        break;
      case PyUnicode_2BYTE_KIND:
        end = encode_utf8(static_cast<const Py_UCS2*>(data), length, start);
        break;
      default:
        end = encode_utf8(static_cast<const Py_UCS4*>(data), length, start);
        break;
    }
    if (end == nullptr) return false;
    view = {start, static_cast<std::size_t>(end - start)};
    _encoded_size += view.size();
    return true;
  }

  pytarntext::TextTokens& _tokens;
  PyObject* const* _items;
  const std::size_t _count;
  std::size_t _encoded_size = 0;
};

bool load_int(PyObject* item, std::int64_t& value) {
  object number;
  if (!PyLong_Check(item)) {
    number = reinterpret_steal<object>(PyNumber_Index(item));
    if (!number) {
      pytarntext::clear_conversion_error();
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
  PyObject* key =
      PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "strict");
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

object new_dict(std::size_t size) {
#if PY_VERSION_HEX < 0x030D0000
  // Sized once: growing a dict entry by entry rebuilds its index several times.
  return reinterpret_steal<object>(_PyDict_NewPresized(static_cast<Py_ssize_t>(size)));
#else
  (void)size;
  return reinterpret_steal<object>(PyDict_New());
#endif
}

// Builds the result dict. The keys are taken first: until then no Python code has run since the
// tokens were loaded, so the borrowed items are still there; allocating the dict may start a
// garbage collection whose finalisers could change the caller's list.
template <class KeyOf>
handle build_dict(const tarn::typing::text::PositionWeights& weights, KeyOf key_of) {
  std::vector<object> keys;
  keys.reserve(weights.size());
  for (const auto& weight : weights)
    keys.push_back(reinterpret_steal<object>(key_of(weight.position)));
  object result = new_dict(weights.size());
  if (!result) throw error_already_set();
  for (std::size_t i = 0; i < weights.size(); ++i) {
    object value = reinterpret_steal<object>(PyFloat_FromDouble(weights[i].weight));
    if (!value || PyDict_SetItem(result.ptr(), keys[i].ptr(), value.ptr()) != 0) {
      throw error_already_set();
    }
  }
  return result.release();
}

}  // namespace

// Borrows from the caller's list: converting str, bytes and bytearray runs no Python code, so the
// list cannot change before the encoder is done with it.
bool type_caster<pytarntext::TextTokens>::load(handle source, bool) {
  value = pytarntext::TextTokens{};
  value.items = sequence_items(source);
  if (!value.items) return false;
  PyObject** items = PySequence_Fast_ITEMS(value.items.ptr());
  const auto count = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(value.items.ptr()));
  return TextLoader(value, items, count).load();
}

bool type_caster<pytarntext::IntTokens>::load(handle source, bool) {
  value = pytarntext::IntTokens{};
  value.items = sequence_items(source);
  if (!value.items) return false;
  PyObject** items = PySequence_Fast_ITEMS(value.items.ptr());
  const auto count = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(value.items.ptr()));
  value.values.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    PyObject* item = items[i];
    if (PyFloat_Check(item) || (!PyLong_Check(item) && !PyIndex_Check(item))) return false;
    if (!PyLong_Check(item) && PyList_Check(value.items.ptr())) {
      // __index__ is Python code that could change the caller's list: go on from a snapshot.
      value.items = reinterpret_steal<object>(PyList_AsTuple(value.items.ptr()));
      if (!value.items) throw error_already_set();
      items = PySequence_Fast_ITEMS(value.items.ptr());
      item = items[i];
    }
    if (!load_int(item, value.values[i])) return false;
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

// Each list is made at its final size and filled in place: no dict, no key objects to look up.
handle type_caster<tarn::typing::text::IndexedWeights>::cast(
    const tarn::typing::text::IndexedWeights& result, return_value_policy, handle) {
  const auto size = static_cast<Py_ssize_t>(result.indices.size());
  object indices = reinterpret_steal<object>(PyList_New(size));
  object values = reinterpret_steal<object>(PyList_New(size));
  if (!indices || !values) throw error_already_set();
  for (Py_ssize_t i = 0; i < size; ++i) {
    PyObject* index = PyLong_FromUnsignedLong(result.indices[static_cast<std::size_t>(i)]);
    if (index == nullptr) throw error_already_set();
    PyList_SET_ITEM(indices.ptr(), i, index);
    PyObject* value = PyFloat_FromDouble(result.values[static_cast<std::size_t>(i)]);
    if (value == nullptr) throw error_already_set();
    PyList_SET_ITEM(values.ptr(), i, value);
  }
  PyObject* pair = PyTuple_Pack(2, indices.ptr(), values.ptr());
  if (pair == nullptr) throw error_already_set();
  return pair;
}

}  // namespace pybind11::detail
