#pragma once

// Conversions of the segmenter's sentences and words between Python and the library. Nearly all
// that a cut costs beyond the library's own work is making the words' str objects: that is done
// once per distinct word of a sentence, by a decoder that trusts text that came from a str.

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "cppjieba/Jieba.hpp"

namespace pytarntext {

// A sentence as UTF-8 bytes: a str encoded, or bytes and bytearray as they are.
struct Sentence {
  std::string bytes;
  bool from_str = false;  // then the bytes, and every word cut from them, are valid UTF-8
};

// The words of a sentence, on their way to a list of str.
struct Words {
  std::vector<cppjieba::Word> words;
  bool from_str = false;
};

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
