#include "word_casters.h"

#include <cstdint>
#include <cstring>
#include <string_view>

namespace pytarntext {
namespace {

// Code points of valid UTF-8, written as `Unit`s (the str's width) at `out`.
template <class Unit>
void decode_valid_utf8(std::string_view word, char* out) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(word.data());
  const auto* end = bytes + word.size();
  for (; bytes < end; out += sizeof(Unit)) {
    std::uint32_t code_point = *bytes++;
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
    const auto unit = static_cast<Unit>(code_point);
    std::memcpy(out, &unit, sizeof(Unit));  // `units` keeps no alignment
  }
}

// Writes a word of valid UTF-8 at `units + offset` at its str's width, in two passes over a short
// word: the first counts the characters and finds the widest lead byte, which alone fixes that
// width. Returns the word and the offset after it.
Words::Distinct decode_word(std::string_view word, char* units, std::size_t& offset) {
  std::size_t length = 0;
  unsigned char widest = 0;
  for (const char c : word) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) {
      ++length;
      if (byte > widest) widest = byte;
    }
  }
  const std::uint32_t maximum = widest < 0x80   ? 0x7F
                                : widest < 0xC4 ? 0xFF
                                : widest < 0xF0 ? 0xFFFF
                                                : 0x10FFFF;
  const Words::Distinct decoded{offset, length, maximum};
  char* out = units + offset;
  if (maximum == 0x7F) {
    std::memcpy(out, word.data(), word.size());
    offset += word.size();
    return decoded;
  }
  const std::size_t width = maximum == 0xFF ? 1 : maximum == 0xFFFF ? 2 : 4;
  offset += length * width;
  if (width == 1) {
    decode_valid_utf8<std::uint8_t>(word, out);
  } else if (width == 2) {
    decode_valid_utf8<std::uint16_t>(word, out);
  } else {
    decode_valid_utf8<std::uint32_t>(word, out);
  }
  return decoded;
}

// The index of each distinct word of one sentence, by open addressing over its first and last
// bytes (all of a word of up to eight bytes).
class WordTable {
 public:
  explicit WordTable(std::size_t words) {
    std::size_t size = 16;
    while (size < words + words / 2) size *= 2;  // small: the table is cleared on every call
    _slots.assign(size, 0);
    _seen.reserve(words);
  }

  // The index of `word` among the distinct words, and whether it is new.
  std::pair<std::uint32_t, bool> find_or_add(std::string_view word) {
    const std::uint64_t key = short_key(word);
    const std::size_t mask = _slots.size() - 1;
    for (std::size_t index = mix(key, word.size()) & mask;; index = (index + 1) & mask) {
      std::uint32_t& slot = _slots[index];
      if (slot == 0) {
        _seen.push_back({word, key});
        slot = static_cast<std::uint32_t>(_seen.size());
        return {slot - 1, true};
      }
      const Seen& seen = _seen[slot - 1];
      if (seen.key == key && seen.word.size() == word.size() &&
          (word.size() <= 8 || seen.word == word)) {
        return {slot - 1, false};
      }
    }
  }

 private:
  struct Seen {
    std::string_view word;
    std::uint64_t key;
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

  std::vector<std::uint32_t> _slots;  // index into _seen, plus one; 0 when empty
  std::vector<Seen> _seen;
};

}  // namespace

Words pack_words(const std::vector<cppjieba::Word>& words, bool valid_utf8) {
  std::size_t bytes = 0;
  for (const cppjieba::Word& word : words) bytes += word.word.size();
  Words result;
  // A character of n UTF-8 bytes takes at most 4 bytes at the widest str width, and n >= 1.
  result.units = std::make_unique_for_overwrite<char[]>(valid_utf8 ? bytes * 4 : bytes);
  result.order.reserve(words.size());
  result.distinct.reserve(words.size());
  std::size_t offset = 0;
  WordTable table(words.size());
  for (const cppjieba::Word& word : words) {
    const auto [index, added] = table.find_or_add(word.word);
    result.order.push_back(index);
    if (!added) continue;
    if (valid_utf8) {
      result.distinct.push_back(decode_word(word.word, result.units.get(), offset));
    } else {
      result.distinct.push_back({offset, word.word.size(), 0});
      std::memcpy(result.units.get() + offset, word.word.data(), word.word.size());
      offset += word.word.size();
    }
  }
  return result;
}

}  // namespace pytarntext

namespace pybind11::detail {
namespace {

// A new reference to the str of one distinct word.
PyObject* make_str(const pytarntext::Words& words, const pytarntext::Words::Distinct& word) {
  const char* units = words.units.get() + word.offset;
  const auto length = static_cast<Py_ssize_t>(word.length);
  // Bytes from the caller may be anything: the interpreter's strict decoder raises for them.
  PyObject* text = word.widest == 0 ? PyUnicode_DecodeUTF8(units, length, "strict")
                                    : PyUnicode_New(length, word.widest);
  if (text == nullptr) throw error_already_set();
  if (word.widest != 0) {
    std::memcpy(PyUnicode_DATA(text), units, word.length * PyUnicode_KIND(text));
  }
  return text;
}

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

handle type_caster<pytarntext::Words>::cast(const pytarntext::Words& words, return_value_policy,
                                            handle) {
  object list = reinterpret_steal<object>(PyList_New(static_cast<Py_ssize_t>(words.order.size())));
  if (!list) pybind11_fail("Could not allocate list object!");
  // Borrowed: the list holds them. Each is written at its word's first appearance, before any read.
  const auto made = std::make_unique_for_overwrite<PyObject*[]>(words.distinct.size());
  std::uint32_t next = 0;  // distinct words are numbered in order of first appearance
  for (std::size_t i = 0; i < words.order.size(); ++i) {
    const std::uint32_t index = words.order[i];
    PyObject* text = made[index];
    if (index == next) {
      text = made[index] = make_str(words, words.distinct[index]);  // the list takes this one
      ++next;
    } else {
      Py_INCREF(text);
    }
    PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(i), text);
  }
  return list.release();
}

}  // namespace pybind11::detail
