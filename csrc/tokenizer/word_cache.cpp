#include "word_cache.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "base/probe.h"

namespace pytarntext {
namespace {

namespace py = pybind11;
using tarn::load8;
using tarn::load_short;  // every byte of up to eight, without a library call
using tarn::Probe;

static_assert(tarn::is_slot_count(WordCache::kFirstSlots),
              "the table doubles from here, and the probe masks");

// A bijection, which brings every bit down to the low ones that pick a slot.
std::uint64_t finish(std::uint64_t hash) {
  hash ^= hash >> 33;
  hash *= 0xFF51AFD7ED558CCDull;
  return hash ^ (hash >> 33);
}

// Words of up to eight bytes and one length have equal hashes only when they are equal: the cache
// compares no bytes for them.
std::uint64_t word_hash(std::string_view word) {
  constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
  const char* bytes = word.data();
  std::size_t size = word.size();
  if (size <= 8) return finish(load_short(bytes, size) ^ (size * kMultiplier));
  std::uint64_t hash = size * kMultiplier;
  for (; size > 8; bytes += 8, size -= 8) {
    hash = (hash ^ load8(bytes)) * kMultiplier;
    hash ^= hash >> 32;
  }
  return finish(hash ^ load8(bytes + size - 8));  // the last eight, overlapping the chunk before
}

// Code points of valid UTF-8, written as `Unit`s (the str's width) at `out`.
template <class Unit>
void decode_valid_utf8(std::string_view word, void* data) {
  auto* out = static_cast<Unit*>(data);
  const auto* bytes = reinterpret_cast<const unsigned char*>(word.data());
  const auto* end = bytes + word.size();
  while (bytes < end) {
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
    *out++ = static_cast<Unit>(code_point);
  }
}

// A new str of a word of valid UTF-8, decoded straight into it: one pass counts the characters
// and finds the widest lead byte, which alone fixes the str's width; a second writes them.
PyObject* decode_valid_word(std::string_view word) {
  Py_ssize_t length = 0;
  unsigned char widest = 0;
  for (const char c : word) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) {
      ++length;
      widest = std::max(widest, byte);
    }
  }
  const Py_UCS4 maximum = widest < 0x80   ? 0x7F
                          : widest < 0xC4 ? 0xFF
                          : widest < 0xF0 ? 0xFFFF
                                          : 0x10FFFF;
  PyObject* text = PyUnicode_New(length, maximum);
  if (text == nullptr) throw py::error_already_set();
  void* data = PyUnicode_DATA(text);
  if (maximum == 0x7F) {
    std::memcpy(data, word.data(), word.size());
  } else if (maximum == 0xFF) {
    decode_valid_utf8<Py_UCS1>(word, data);
  } else if (maximum == 0xFFFF) {
    decode_valid_utf8<Py_UCS2>(word, data);
  } else {
    decode_valid_utf8<Py_UCS4>(word, data);
  }
  return text;
}

// A new str of a word cut from bytes, which may be anything: the interpreter's strict decoder
// raises for what is not UTF-8.
PyObject* decode_word(std::string_view word, bool valid_utf8) {
  if (valid_utf8) return decode_valid_word(word);
  PyObject* text =
      PyUnicode_DecodeUTF8(word.data(), static_cast<Py_ssize_t>(word.size()), "strict");
  if (text == nullptr) throw py::error_already_set();
  return text;
}

}  // namespace

void word_hashes(std::string_view sentence, const std::vector<WordSpan>& words,
                 std::vector<std::uint64_t>& hashes) {
  hashes.resize(words.size());
  std::uint64_t* hash = hashes.data();
  for (const WordSpan& word : words) *hash++ = word_hash(sentence.substr(word.offset, word.size));
}

void WordCache::fill(PyObject** items, std::string_view sentence,
                     const std::vector<WordSpan>& words, const std::vector<std::uint64_t>& hashes,
                     bool valid_utf8) {
  if (_slots.empty()) _slots.assign(kFirstSlots, 0);
  const char* const text = sentence.data();
  const WordSpan* word = words.data();
  const WordSpan* const end = word + words.size();
  const std::uint64_t* hash = hashes.data();
  while (word != end) {
    // Read into locals once for each run of words found, not again for every word: for all the
    // compiler knows, writing an item could change them.
    const std::uint32_t* const slots = _slots.data();
    const std::size_t mask = _slots.size() - 1;
    const Entry* const entries = _entries.data();
    for (; word != end; ++word, ++hash, ++items) {
      Probe probe(*hash, mask);
      const std::size_t size = word->size;
      const Entry* found = nullptr;
      for (; probe.distance() < kLongestProbe && slots[probe.index()] != 0; probe.next()) {
        const Entry& entry = entries[slots[probe.index()] - 1];
        // Up to eight bytes, equal hashes of one length are equal words (word_hash).
        if (entry.hash == *hash && entry.size == size &&
            (size <= 8 || std::memcmp(entry.bytes, text + word->offset, size) == 0)) {
          found = &entry;
          break;
        }
      }
      if (found == nullptr) break;
      Py_INCREF(found->text);
      *items = found->text;
    }
    if (word != end) {
      *items++ = add(sentence.substr(word->offset, word->size), *hash++, valid_utf8);
      ++word;
    }
  }
}

PyObject* WordCache::add(std::string_view word, std::uint64_t hash, bool valid_utf8) {
  PyObject* text = decode_word(word, valid_utf8);
  if (word.size() > kLongestWord) return text;
  if (_entries.size() == kCapacity) clear();
  if (2 * (_entries.size() + 1) > _slots.size()) grow();
  Probe probe(hash, _slots.size() - 1);
  while (_slots[probe.index()] != 0) {
    probe.next();
    if (probe.distance() == kLongestProbe) return text;  // no free slot where a lookup would look
  }
  Entry& entry = _entries.emplace_back();
  entry.hash = hash;
  entry.text = text;
  entry.size = static_cast<std::uint8_t>(word.size());
  std::memcpy(entry.bytes, word.data(), word.size());
  _slots[probe.index()] = static_cast<std::uint32_t>(_entries.size());
  Py_INCREF(text);  // one reference for the cache, one for the caller
  return text;
}

// Twice the slots, the entries placed anew. An entry that lands further than a lookup reads from
// where its hash points is never found again; it only holds its word until the cache is emptied.
void WordCache::grow() {
  std::vector<std::uint32_t> slots(2 * _slots.size(), 0);
  for (std::size_t i = 0; i < _entries.size(); ++i) {
    Probe probe(_entries[i].hash, slots.size() - 1);
    while (slots[probe.index()] != 0) probe.next();
    slots[probe.index()] = static_cast<std::uint32_t>(i + 1);
  }
  _slots.swap(slots);
}

void WordCache::clear() {
  // Freeing a str runs no Python code: nothing sees the cache half emptied.
  for (const Entry& entry : _entries) Py_DECREF(entry.text);
  _entries.clear();
  std::fill(_slots.begin(), _slots.end(), 0);
}

py::typing::List<py::str> word_list(WordCache& cache, std::string_view sentence,
                                    const std::vector<WordSpan>& words,
                                    const std::vector<std::uint64_t>& hashes, bool valid_utf8) {
  // Made before the cache is read: allocating the list may run the garbage collector and with it
  // any Python code, a cut on this same Jieba included. Making a str runs none.
  py::typing::List<py::str> list(words.size());
  cache.fill(reinterpret_cast<PyListObject*>(list.ptr())->ob_item, sentence, words, hashes,
             valid_utf8);
  return list;
}

}  // namespace pytarntext
