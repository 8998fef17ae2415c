#pragma once

// Conversions between Python token lists and the encoder's native tokens, in both directions.
// Every BM25 method goes through these: tokens are borrowed from the Python objects instead of
// copied into std::string, and result keys reuse the caller's own str and int objects.

#include <pybind11/pybind11.h>

#include <cstdint>
#include <forward_list>
#include <string>
#include <string_view>
#include <vector>

#include "bm25/bm25.h"

namespace pytarntext {

namespace py = pybind11;

// A token list converted as list[str]: any sequence but str, bytes, bytearray and memoryview, whose
// items are str (as UTF-8), bytes or bytearray.
struct TextTokens {
  py::object items;                     // a list or tuple, whose items we borrow
  std::vector<std::string_view> views;  // into the items' own buffers, `encoded` or `copies`
  std::vector<char> encoded;            // UTF-8 of non-ASCII str items, one after another
  // Bytearray items, whose buffers may move. A forward_list: addresses stay put, and an empty
  // one allocates nothing (a deque allocates even empty, on every call).
  std::forward_list<std::string> copies;
};

// A token list converted as list[int]: any sequence but those four, whose items are integers
// in the signed 64-bit range (objects with __index__ included, floats never).
struct IntTokens {
  py::object items;  // a list or tuple; a tuple snapshot once Python code could change the list
  std::vector<std::int64_t> values;
};

// A sparse vector on its way back to Python, with the tokens it was computed from.
struct TextWeights {
  tarn::typing::text::PositionWeights weights;
  TextTokens tokens;
};

struct IntWeights {
  tarn::typing::text::PositionWeights weights;
  IntTokens tokens;
};

}  // namespace pytarntext

namespace pybind11::detail {

template <>
struct type_caster<pytarntext::TextTokens> {
  PYBIND11_TYPE_CASTER(pytarntext::TextTokens, const_name("list[str]"));
  bool load(handle source, bool convert);
};

template <>
struct type_caster<pytarntext::IntTokens> {
  PYBIND11_TYPE_CASTER(pytarntext::IntTokens, const_name("list[int]"));
  bool load(handle source, bool convert);
};

template <>
struct type_caster<pytarntext::TextWeights> {
  PYBIND11_TYPE_CASTER(pytarntext::TextWeights, const_name("dict[str, float]"));
  static handle cast(const pytarntext::TextWeights& result, return_value_policy, handle);
};

template <>
struct type_caster<pytarntext::IntWeights> {
  PYBIND11_TYPE_CASTER(pytarntext::IntWeights, const_name("dict[int, float]"));
  static handle cast(const pytarntext::IntWeights& result, return_value_policy, handle);
};

// A sparse vector keyed by store index, as stores take it: (indices, values), two new lists.
template <>
struct type_caster<tarn::typing::text::IndexedWeights> {
  PYBIND11_TYPE_CASTER(tarn::typing::text::IndexedWeights,
                       const_name("tuple[list[int], list[float]]"));
  static handle cast(const tarn::typing::text::IndexedWeights& result, return_value_policy, handle);
};

}  // namespace pybind11::detail
