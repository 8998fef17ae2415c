#pragma once

// Conversions of the segmenter's sentences and words between Python and the library. Nearly all
// that a cut costs beyond the library's own work is making the words' str objects: the words are
// de-duplicated and decoded to the str layout without the interpreter lock (pack_words), so that
// with it held only the objects are made and their code units copied.

#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cppjieba/Jieba.hpp"

namespace pytarntext {

// A sentence as UTF-8 bytes: a str encoded, or bytes and bytearray as they are.
struct Sentence {
  std::string bytes;
  bool from_str = false;  // then the bytes, and every word cut from them, are valid UTF-8
};

// The words of a sentence, on their way to a list of str: each distinct word once, in order of
// first appearance, and for every word the index of its distinct one.
struct Words {
  struct Distinct {
    std::size_t offset;    // into `units`
    std::size_t length;    // in code points, or in bytes when still UTF-8
    std::uint32_t widest;  // the str's maximum character; 0: UTF-8 bytes not yet checked
  };
  // Each distinct word's code units at its str's width, or its bytes: allocated once for the
  // widest case and never zero-filled, as that costs more than the words themselves.
  std::unique_ptr<char[]> units;
  std::vector<Distinct> distinct;
  std::vector<std::uint32_t> order;
};

// Pure C++, run without the interpreter lock. `valid_utf8`: the words came from a str, so they
// are decoded here; otherwise they are kept as bytes for the interpreter's strict decoder.
Words pack_words(const std::vector<cppjieba::Word>& words, bool valid_utf8);

}  // namespace pytarntext

namespace pybind11::detail {

template <>
struct type_caster<pytarntext::Sentence> {
  PYBIND11_TYPE_CASTER(pytarntext::Sentence, const_name("str"));
  bool load(handle source, bool convert);
};

template <>
struct type_caster<pytarntext::Words> {
  PYBIND11_TYPE_CASTER(pytarntext::Words, const_name("list[str]"));
  static handle cast(const pytarntext::Words& result, return_value_policy, handle);
};

}  // namespace pybind11::detail
