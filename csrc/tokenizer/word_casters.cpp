#include "word_casters.h"

#include <cstdint>
#include <cstring>
#include <string_view>

namespace pybind11::detail {
namespace {

// A str of UTF-8 bytes known to be valid, in two passes over a short word: the first counts the
// characters and finds the widest lead byte, which alone fixes the str's canonical width.
PyObject* valid_utf8_to_str(std::string_view word) {
  Py_ssize_t length = 0;
  unsigned char widest = 0;
  for (const char c : word) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) {
      ++length;
      if (byte > widest) widest = byte;
    }
  }
  const Py_UCS4 maximum = widest < 0x80   ? 0x7F
                          : widest < 0xC4 ? 0xFF
                          : widest < 0xF0 ? 0xFFFF
                                          : 0x10FFFF;
  PyObject* text = PyUnicode_New(length, maximum);
  if (text == nullptr) throw error_already_set();
  if (maximum == 0x7F) {
    std::memcpy(PyUnicode_DATA(text), word.data(), word.size());
    return text;
  }
  const int kind = PyUnicode_KIND(text);
  void* data = PyUnicode_DATA(text);
  const auto* bytes = reinterpret_cast<const unsigned char*>(word.data());
  const auto* end = bytes + word.size();
  for (Py_ssize_t index = 0; bytes < end; ++index) {
    Py_UCS4 code_point = *bytes++;
    if (code_point >= 0xF0) {
      code_point = ((code_point & 0x07) << 18) | ((bytes[0] & 0x3F) << 12) |
                   ((bytes[1] & 0x3F) << 6) | (bytes[2] & 0x3F);
      bytes += 3;
    } else if (code_point >= 0xE0) {
      code_point = ((code_point & 0x0F) << 12) | ((bytes[0] & 0x3F) << 6) | (bytes[1] & 0x3F);
      bytes += 2;
    } else if (code_point >= 0xC0) {
      code_point = ((code_point & 0x1F) << 6) | (bytes[0] & 0x3F);
      bytes += 1;
    }
    PyUnicode_WRITE(kind, data, index, code_point);
  }
  return text;
}

PyObject* word_to_str(std::string_view word, bool valid) {
  if (valid) return valid_utf8_to_str(word);
  // Bytes from the caller may be anything: the interpreter's strict decoder raises for them.
  PyObject* text =
      PyUnicode_DecodeUTF8(word.data(), static_cast<Py_ssize_t>(word.size()), "strict");
  if (text == nullptr) throw error_already_set();
  return text;
}

// The str made for each distinct word of one sentence; holds one reference to each.
class WordTable {
 public:
  explicit WordTable(std::size_t words) {
    std::size_t size = 16;
    while (size < words * 2) size *= 2;
    _slots.assign(size, 0);
    _made.reserve(words);
  }
  ~WordTable() {
    for (const Made& made : _made) Py_DECREF(made.text);
  }
  WordTable(const WordTable&) = delete;
  WordTable& operator=(const WordTable&) = delete;

  // The str for `word`, made by `make` the first time the word is met. A borrowed reference.
  template <class Make>
  PyObject* find_or_make(std::string_view word, Make make) {
    const std::uint64_t key = short_key(word);
    const std::size_t mask = _slots.size() - 1;
    for (std::size_t index = mix(key, word.size()) & mask;; index = (index + 1) & mask) {
      std::uint32_t& slot = _slots[index];
      if (slot == 0) {
        PyObject* text = make(word);
        _made.push_back({word, key, text});
        slot = static_cast<std::uint32_t>(_made.size());
        return text;
      }
      const Made& made = _made[slot - 1];
      if (made.key == key && made.word.size() == word.size() &&
          (word.size() <= 8 || made.word == word)) {
        return made.text;
      }
    }
  }

 private:
  struct Made {
    std::string_view word;
    std::uint64_t key;
    PyObject* text;
  };

  // Every byte of a word of up to eight bytes, in fixed-size loads (no library call): two such
  // words of one length are equal exactly when their keys are.
  static std::uint64_t short_key(std::string_view word) {
    const char* bytes = word.data();
    const std::size_t size = word.size();
    if (size >= 4) {
      std::uint32_t head, tail;
      std::memcpy(&head, bytes, 4);
      std::memcpy(&tail, bytes + size - 4, 4);
      return head | (std::uint64_t{tail} << 32);
    }
    if (size == 0) return 0;
    const auto byte = [&](std::size_t at) {
      return std::uint64_t{static_cast<unsigned char>(bytes[at])};
    };
    return byte(0) | (byte(size / 2) << 8) | (byte(size - 1) << 16);
  }

  static std::size_t mix(std::uint64_t key, std::size_t size) {
    const std::uint64_t mixed = (key ^ (std::uint64_t{size} << 58)) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::size_t>(mixed ^
                                    (mixed >> 29));  // high bits down: the mask keeps low ones
  }

  std::vector<std::uint32_t> _slots;  // index into _made, plus one; 0 when empty
  std::vector<Made> _made;
};

}  // namespace

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

handle type_caster<pytarntext::Words>::cast(const pytarntext::Words& result, return_value_policy,
                                            handle) {
  const std::vector<cppjieba::Word>& words = result.words;
  object list = reinterpret_steal<object>(PyList_New(static_cast<Py_ssize_t>(words.size())));
  if (!list) pybind11_fail("Could not allocate list object!");
  WordTable made(words.size());
  const auto make = [&](std::string_view word) { return word_to_str(word, result.from_str); };
  for (std::size_t i = 0; i < words.size(); ++i) {
    PyObject* text = made.find_or_make(words[i].word, make);
    Py_INCREF(text);  // the list's reference; the table's goes with the table
    PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(i), text);
  }
  return list.release();
}

}  // namespace pybind11::detail
