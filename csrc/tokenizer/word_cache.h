#pragma once

// The segmenter's words as str objects. A text repeats most of its words, so each Jieba keeps the
// str of every word it has returned, keyed by the word's bytes: a word seen before comes back as
// the same immutable str with one more reference, and only new words are decoded and allocated.

#include <Python.h>
#include <pybind11/pybind11.h>
#include <pybind11/typing.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "segmenter/segmenter.h"

namespace pytarntext {

using segmenter::WordSpan;

// A hash of each word's bytes, for WordCache::fill. Needs no Python: runs without the lock.
void word_hashes(std::string_view sentence, const std::vector<WordSpan>& words,
                 std::vector<std::uint64_t>& hashes);

// Bounded map from a word's UTF-8 bytes to its str. It holds references to Python objects, so
// every member, the destructor included, runs with the interpreter lock held; the lock is also
// what keeps threads sharing one Jieba apart.
class WordCache {
 public:
  static constexpr std::size_t kCapacity = 262144;  // words; when full it is emptied and refilled
  static constexpr std::size_t kLongestWord = 30;   // bytes; longer words are made afresh each time
  // Slots a lookup reads at most: input made to share slots would otherwise make every lookup
  // walk one long run, with the lock held. A word with no free slot that near is not kept.
  static constexpr std::size_t kLongestProbe = 32;
  // The table grows with the words kept, at most half full: a cache that sees few words (one of
  // many short-lived copies, say) stays small.
  static constexpr std::size_t kFirstSlots = 1024;

  WordCache() = default;
  // A copy starts empty: the cache only remembers work, and the copy's owner fills its own.
  WordCache(const WordCache&) : WordCache() {}
  WordCache(WordCache&& other) noexcept = default;
  WordCache& operator=(const WordCache&) = delete;
  WordCache& operator=(WordCache&&) = delete;
  ~WordCache() { clear(); }

  // Writes at items[i] a new reference to the str of words[i] (bytes of `sentence`), whose hash is
  // hashes[i].
  // `valid_utf8`: the words were cut from a str; otherwise the interpreter's strict decoder checks
  // each new one, and its UnicodeDecodeError is raised as error_already_set (the items not yet
  // written stay null).
  void fill(PyObject** items, std::string_view sentence, const std::vector<WordSpan>& words,
            const std::vector<std::uint64_t>& hashes, bool valid_utf8);

 private:
  struct Entry {
    std::uint64_t hash;
    PyObject* text;  // owned
    std::uint8_t size;
    char bytes[kLongestWord];
  };

  // A new str of `word`, kept unless it is too long; makes room by emptying a full cache.
  // Changes where the entries are.
  PyObject* add(std::string_view word, std::uint64_t hash, bool valid_utf8);
  void grow();
  void clear();

  std::vector<Entry> _entries;
  // Open addressing: an index into _entries plus one, 0 when empty. Made on first use.
  std::vector<std::uint32_t> _slots;
};

// The list of str of `words` of `sentence` (hashes[i] the word_hash of words[i]), through `cache`.
// With the lock.
pybind11::typing::List<pybind11::str> word_list(WordCache& cache, std::string_view sentence,
                                                const std::vector<WordSpan>& words,
                                                const std::vector<std::uint64_t>& hashes,
                                                bool valid_utf8);

}  // namespace pytarntext
