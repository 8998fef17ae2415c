#pragma once

// The segmenter's sentences, from Python to the library. The words go back through WordCache.

#include <pybind11/pybind11.h>

#include <string>

namespace pytarntext {

// A sentence as UTF-8 bytes: a str encoded, or bytes and bytearray as they are.
struct Sentence {
  std::string bytes;
  bool from_str = false;  // then the bytes, and every word cut from them, are valid UTF-8
};

}  // namespace pytarntext

namespace pybind11::detail {

template <>
struct type_caster<pytarntext::Sentence> {
  PYBIND11_TYPE_CASTER(pytarntext::Sentence, const_name("str"));
  bool load(handle source, bool convert);
};

}  // namespace pybind11::detail
