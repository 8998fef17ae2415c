#include "hmm_model.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "fields.h"

namespace pytarntext::segmenter {

namespace {

// The library's GetLine: the next line that is neither blank nor a comment once trimmed.
class ModelLines {
 public:
  explicit ModelLines(std::string_view text) : _text(text) {}
  std::string_view next() {
    while (!_text.empty()) {
      const std::size_t end = _text.find('\n');
      const std::string_view line = trimmed(_text.substr(0, end));
      _text = end == std::string_view::npos ? std::string_view() : _text.substr(end + 1);
      if (!line.empty() && line.front() != '#') return line;
    }
    throw std::invalid_argument("the HMM model ends before its nine probability lines");
  }

 private:
  std::string_view _text;
};

HmmModel::Row read_row(std::string_view line, const NumberReader& read_double) {
  const auto fields = split_fields(line, " ");
  if (fields.size() != HmmModel::kStates) {
    throw std::invalid_argument("an HMM probability line does not hold four numbers");
  }
  HmmModel::Row row{};
  for (int i = 0; i < HmmModel::kStates; ++i) row[i] = read_double(fields[i]);
  return row;
}

}  // namespace

HmmModel::HmmModel(std::string_view text) : _index(kIndexed, 0), _rows(1) {
  _rows[0].fill(kMinDouble);
  ModelLines lines(text);
  const NumberReader read_double;
  start = read_row(lines.next(), read_double);
  for (Row& row : transition) row = read_row(lines.next(), read_double);
  std::unordered_map<Rune, std::uint32_t> row_of;
  for (int state = 0; state < kStates; ++state) {
    for (const std::string_view entry : split_fields(lines.next(), ",")) {
      const auto parts = split_fields(entry, ":");
      Rune rune = 0;
      std::size_t runes = 0;
      const bool decoded = for_each_rune(parts.empty() ? std::string_view() : parts[0],
                                         [&](Rune r, std::size_t) { rune = r, ++runes; });
      if (parts.size() != 2 || !decoded || runes != 1) {
        throw std::invalid_argument("an HMM emission line is not character:probability, ...");
      }
      const auto [found, added] =
          row_of.try_emplace(rune, static_cast<std::uint32_t>(_rows.size()));
      if (added) _rows.push_back(_rows[0]);
      _rows[found->second][state] = read_double(parts[1]);  // a repeated character: the last
    }
  }
  for (const auto& [rune, row] : row_of) {
    if (rune < kIndexed) {
      _index[rune] = row;
    } else {
      _outer.emplace_back(rune, row);
    }
  }
  std::sort(_outer.begin(), _outer.end());
}

std::uint32_t HmmModel::outer_row(Rune rune) const {
  const auto found = std::lower_bound(_outer.begin(), _outer.end(), std::pair{rune, 0u});
  return found != _outer.end() && found->first == rune ? found->second : 0;
}

}  // namespace pytarntext::segmenter
