#pragma once

// cppjieba's HMM (states B, E, M, S) with its emission probabilities in one dense table: a row of
// four doubles per character that any of the four tables holds, reached through an index over the
// Basic Multilingual Plane (a sorted list for the characters above it). A character a table lacks
// reads as the library's default, -3.14e100, exactly as its map lookups give it.

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "utf8.h"

namespace pytarntext::segmenter {

inline constexpr double kMinDouble = -3.14e+100;  // the library's MIN_DOUBLE

class HmmModel {
 public:
  enum State { kB = 0, kE = 1, kM = 2, kS = 3 };
  static constexpr int kStates = 4;
  using Row = std::array<double, kStates>;

  // Reads the model file's text as the library does; throws std::invalid_argument where the
  // library would abort.
  explicit HmmModel(std::string_view text);

  const Row& emission(Rune rune) const {
    if (rune < kIndexed) return _rows[_index[rune]];
    return _rows[outer_row(rune)];
  }

  Row start{};
  std::array<Row, kStates> transition{};  // [from][to]

 private:
  static constexpr Rune kIndexed = 0x10000;
  std::uint32_t outer_row(Rune rune) const;

  std::vector<std::uint32_t> _index;  // row by character below kIndexed; row 0 holds no character
  std::vector<std::pair<Rune, std::uint32_t>> _outer;  // sorted by character
  std::vector<Row> _rows;
};

}  // namespace pytarntext::segmenter
