#include "segmenter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "fields.h"
#include "library_log.h"

namespace pytarntext::segmenter {

namespace {

constexpr std::size_t kLongestDagWord = 512;  // the library's MAX_WORD_LENGTH, in characters

// The library's separators: each is a word of its own, and the text between them is cut apart.
bool is_separator(Rune rune) {
  return rune == ' ' || rune == '\t' || rune == '\n' || rune == 0xFF0C || rune == 0x3002;
}

bool is_letter(Rune rune) { return (rune >= 'a' && rune <= 'z') || (rune >= 'A' && rune <= 'Z'); }
bool is_digit(Rune rune) { return rune >= '0' && rune <= '9'; }

void decode_word(std::string_view word, std::vector<Rune>& runes, bool& decoded) {
  runes.clear();
  decoded = for_each_rune(word, [&](Rune rune, std::size_t) { runes.push_back(rune); });
  if (!decoded) runes.clear();
}

// At least the edges below the root's table that a word makes in the trie: one a character
// after the first, and the first too when the root's table does not hold it. Bytes the decoder
// gives up on count as the characters before them, where the word is refused anyway.
std::size_t edge_bound(std::string_view word) {
  std::size_t characters = 0;
  bool outer = false;
  for_each_rune(word, [&](Rune rune, std::size_t) {
    if (characters++ == 0) outer = rune >= 0x10000;
  });
  if (characters == 0) return 0;
  return outer ? characters : characters - 1;
}

}  // namespace

// The words of one sentence, appended to `words` range by range as the library's segments make
// them.
class Segmenter::Cut {
 public:
  Cut(const Segmenter& segmenter, Workspace& workspace, std::vector<WordSpan>& words, bool search)
      : _dictionary(segmenter._dictionary),
        _hmm(segmenter._hmm),
        _min_weight(segmenter._min_weight),
        _runes(workspace._runes.data()),
        _offsets(workspace._offsets.data()),
        _route(workspace._route.data()),
        _length(workspace._length.data()),
        _workspace(workspace),
        _words(words),
        _search(search) {}

  // PreFilter: each separator alone, the text between separators as one range.
  void sentence(std::size_t size) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < size; ++i) {
      if (!is_separator(_runes[i])) continue;
      if (start < i) mixed(start, i);
      mixed(i, i + 1);
      start = i + 1;
    }
    if (start < size) mixed(start, size);
  }

 private:
  // MixSegment: the maximum-probability route; its runs of single characters that no user word
  // holds go to the HMM.
  void mixed(std::size_t begin, std::size_t end) {
    route(begin, end);
    for (std::size_t i = begin; i < end;) {
      const std::size_t length = _length[i];
      if (length > 1 || _dictionary.is_user_single(_runes[i])) {
        word(i, i + length);
        i += length;
        continue;
      }
      std::size_t j = i + 1;
      while (j < end && _length[j] == 1 && !_dictionary.is_user_single(_runes[j])) ++j;
      hmm(i, j);
      i = j;
    }
  }

  // MPSegment's CalcDP over the DAG, walked from the end: the edges of a character are the words
  // that start there in the order the trie finds them, the first one its own (a word or not).
  void route(std::size_t begin, std::size_t end) {
    for (std::size_t i = end; i-- > begin;) {
      const Dictionary::Step first = _dictionary.root(_runes[i]);
      double best = kMinDouble;
      std::size_t best_length = 1;
      double value = 0.0;
      if (i + 1 < end) value += _route[i + 1];
      if ((first.flags & Dictionary::kWord) != 0) {
        value += first.weight;
      } else {
        value += _min_weight;
      }
      if (value > best) best = value;
      std::uint32_t node = first.node;
      const std::size_t last = std::min(end, i + kLongestDagWord);
      for (std::size_t j = i + 1; node != 0 && j < last; ++j) {
        const Dictionary::Step next = _dictionary.child(node, _runes[j]);
        node = next.node;
        if ((next.flags & Dictionary::kWord) == 0) continue;
        double through = 0.0;
        if (j + 1 < end) through += _route[j + 1];
        through += next.weight;
        if (through > best) {
          best = through;
          best_length = j - i + 1;
        }
      }
      _route[i] = best;
      _length[i] = static_cast<std::uint16_t>(best_length);
    }
  }

  // HMMSegment::Cut: ASCII letters (then digits), digits (then dots) and other ASCII characters
  // as words by rule, Viterbi between them.
  void hmm(std::size_t begin, std::size_t end) {
    std::size_t left = begin;
    std::size_t right = begin;
    while (right != end) {
      if (_runes[right] >= 0x80) {
        ++right;
        continue;
      }
      if (left != right) viterbi(left, right);
      left = right;
      if (is_letter(_runes[left])) {
        right = left + 1;
        while (right != end && (is_letter(_runes[right]) || is_digit(_runes[right]))) ++right;
      } else if (is_digit(_runes[left])) {
        right = left + 1;
        while (right != end && (is_digit(_runes[right]) || _runes[right] == '.')) ++right;
      } else {
        right = left + 1;
      }
      word(left, right);
      left = right;
    }
    if (left != right) viterbi(left, right);
  }

  void viterbi(std::size_t begin, std::size_t end) {
    using Row = HmmModel::Row;
    const std::size_t count = end - begin;
    std::vector<std::uint8_t>& path = _workspace._path;
    std::vector<std::uint8_t>& states = _workspace._states;
    if (path.size() < 4 * count) path.resize(4 * count);
    if (states.size() < count) states.resize(count);
    const Row& first = _hmm.emission(_runes[begin]);
    Row weight;
    for (int y = 0; y < HmmModel::kStates; ++y) weight[y] = _hmm.start[y] + first[y];
    for (std::size_t x = 1; x < count; ++x) {
      const Row& emission = _hmm.emission(_runes[begin + x]);
      Row next;
      for (int y = 0; y < HmmModel::kStates; ++y) {
        double best = kMinDouble;
        std::uint8_t from = HmmModel::kE;
        for (int previous = 0; previous < HmmModel::kStates; ++previous) {
          const double through = weight[previous] + _hmm.transition[previous][y] + emission[y];
          if (through > best) {
            best = through;
            from = static_cast<std::uint8_t>(previous);
          }
        }
        next[y] = best;
        path[4 * x + y] = from;
      }
      weight = next;
    }
    std::uint8_t state = weight[HmmModel::kE] >= weight[HmmModel::kS] ? HmmModel::kE : HmmModel::kS;
    for (std::size_t x = count; x-- > 0;) {
      states[x] = state;
      if (x > 0) state = path[4 * x + state];
    }
    std::size_t left = begin;
    for (std::size_t x = 0; x < count; ++x) {
      if (states[x] % 2 != 0) {  // E or S ends a word
        word(left, begin + x + 1);
        left = begin + x + 1;
      }
    }
  }

  // A word of the mixed cut; the search cut puts its two- and three-character dictionary
  // sub-words before it.
  void word(std::size_t begin, std::size_t end) {
    const std::size_t length = end - begin;
    if (_search && length > 2) {
      for (std::size_t i = begin; i + 2 <= end; ++i) {
        if (_dictionary.contains(_runes + i, 2)) span(i, i + 2);
      }
      if (length > 3) {
        for (std::size_t i = begin; i + 3 <= end; ++i) {
          if (_dictionary.contains(_runes + i, 3)) span(i, i + 3);
        }
      }
    }
    span(begin, end);
  }

  void span(std::size_t begin, std::size_t end) {
    _words.push_back({_offsets[begin], _offsets[end] - _offsets[begin]});
  }

  const Dictionary& _dictionary;
  const HmmModel& _hmm;
  const double _min_weight;
  const Rune* const _runes;
  const std::uint32_t* const _offsets;
  double* const _route;
  std::uint16_t* const _length;
  Workspace& _workspace;
  std::vector<WordSpan>& _words;
  const bool _search;
};

void Workspace::release_if_large() {
  // A long sentence's buffers are not kept for the short ones that usually follow.
  constexpr std::size_t kKept = std::size_t{1} << 16;
  if (_runes.capacity() <= kKept && _path.capacity() <= 4 * kKept) return;
  std::vector<Rune>().swap(_runes);
  std::vector<std::uint32_t>().swap(_offsets);
  std::vector<double>().swap(_route);
  std::vector<std::uint16_t>().swap(_length);
  std::vector<std::uint8_t>().swap(_path);
  std::vector<std::uint8_t>().swap(_states);
}

Segmenter::Segmenter(std::string_view dictionary, std::string_view hmm_model,
                     const std::vector<std::string_view>& user_dictionaries)
    : _hmm(hmm_model) {
  load_main(dictionary, user_dictionaries);
  for (const std::string_view text : user_dictionaries) load_user(text);
}

// DictTrie::LoadDict, CalcFreqSum, CalculateWeight and SetStaticWordWeights, in two passes over
// the text: the frequencies' sum and a bound on the edges, then the words with their weights. The
// user dictionaries' words count in the bound too, so that the table is sized once.
void Segmenter::load_main(std::string_view text,
                          const std::vector<std::string_view>& user_dictionaries) {
  std::vector<double> frequencies;
  const NumberReader read_double;
  const auto each_entry = [&](auto&& visit) {
    for_each_line_fields<3>(
        text, [&](std::string_view, const auto& fields, std::size_t count, std::size_t) {
          if (count != 3) {
            throw std::invalid_argument("a dictionary line does not split into three fields");
          }
          visit(fields[0], fields[1]);
        });
  };
  std::size_t edges = 0;
  each_entry([&](std::string_view word, std::string_view frequency) {
    frequencies.push_back(read_double(frequency));
    edges += edge_bound(word);
  });
  if (frequencies.empty()) throw std::invalid_argument("the dictionary has no entry");
  for (const std::string_view user : user_dictionaries) {
    for_each_line(user, [&](std::string_view line, std::size_t) {
      edges += edge_bound(line.substr(0, line.find(' ')));
    });
  }
  _dictionary = Dictionary(edges);
  double sum = 0.0;
  for (const double frequency : frequencies) sum += frequency;
  _frequency_sum = sum;
  // The sorted weights' first and middle values, whatever the order of equal ones.
  std::vector<double> weights(frequencies.size());
  for (std::size_t i = 0; i < weights.size(); ++i) {
    weights[i] = std::log(double(frequencies[i]) / sum);
  }
  std::vector<double>().swap(frequencies);
  std::vector<double> sorted = weights;
  _min_weight = *std::min_element(sorted.begin(), sorted.end());
  std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
  _median_weight = sorted[sorted.size() / 2];
  std::vector<double>().swap(sorted);
  // All the words decoded first, then inserted: a word's first edge below the root's table can
  // then be asked for some words ahead, so that the inserts' cache misses overlap.
  std::vector<Rune> runes;
  std::vector<std::uint32_t> starts;
  starts.reserve(weights.size() + 1);
  runes.reserve(edges + weights.size());
  bool decoded = true;
  each_entry([&](std::string_view word, std::string_view) {
    starts.push_back(static_cast<std::uint32_t>(runes.size()));
    decoded = for_each_rune(word, [&](Rune rune, std::size_t) { runes.push_back(rune); });
    if (!decoded) throw std::invalid_argument("a dictionary word is not UTF-8");
  });
  starts.push_back(static_cast<std::uint32_t>(runes.size()));
  constexpr std::size_t kAhead = 8;
  for (std::size_t i = 0; i < weights.size(); ++i) {
    if (i + kAhead < weights.size()) {
      _dictionary.prefetch_insert(runes.data() + starts[i + kAhead],
                                  starts[i + kAhead + 1] - starts[i + kAhead]);
    }
    _dictionary.insert(runes.data() + starts[i], starts[i + 1] - starts[i], weights[i]);
  }
}

// DictTrie::LoadUserDict: a line is a word, a word and a tag, or a word, a frequency and a tag.
void Segmenter::load_user(std::string_view text) {
  std::vector<Rune> runes;
  for_each_line(text, [&](std::string_view line, std::size_t) {
    if (line.empty()) return;
    const auto fields = split_fields(line, " ");
    if (fields.empty() || fields.size() > 3) return;  // the library adds an empty word
    const double weight =
        fields.size() == 3 ? std::log(1.0 * read_int(fields[1]) / _frequency_sum) : _median_weight;
    bool decoded = false;
    decode_word(fields[0], runes, decoded);
    if (!decoded) {
      log_library_error("DictTrie.hpp:201",
                        "UTF-8 decode failed for dict word: " + std::string(fields[0]));
      return;
    }
    _dictionary.insert(runes.data(), runes.size(), weight);
    if (runes.size() == 1) _dictionary.mark_user_single(runes[0]);
  });
}

namespace {

// Each thread's own buffers, for the cuts that are handed none.
Workspace& this_thread_workspace() {
  thread_local Workspace workspace;
  return workspace;
}

}  // namespace

void Segmenter::cut(std::string_view sentence, std::vector<WordSpan>& words) const {
  cut(sentence, words, this_thread_workspace());
}

void Segmenter::cut_for_search(std::string_view sentence, std::vector<WordSpan>& words) const {
  cut_for_search(sentence, words, this_thread_workspace());
}

namespace {

// The sentence's characters and their offsets into the workspace; false (and the library's
// ERROR line) where the decoder gives up.
template <class Runes, class Offsets>
bool decode_sentence(std::string_view sentence, Runes& runes, Offsets& offsets) {
  if (sentence.size() >= std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("a sentence of 4 GiB or more");
  }
  runes.resize(sentence.size() + 1);
  offsets.resize(sentence.size() + 1);
  std::size_t count = 0;
  const bool decoded = for_each_rune(sentence, [&](Rune rune, std::size_t offset) {
    runes[count] = rune;
    offsets[count++] = static_cast<std::uint32_t>(offset);
  });
  if (!decoded) {
    log_library_error("PreFilter.hpp:21", "UTF-8 decode failed for input sentence");
    return false;
  }
  offsets[count] = static_cast<std::uint32_t>(sentence.size());
  runes.resize(count);
  return true;
}

}  // namespace

void Segmenter::cut(std::string_view sentence, std::vector<WordSpan>& words,
                    Workspace& workspace) const {
  cut_as(sentence, words, workspace, false);
}

void Segmenter::cut_for_search(std::string_view sentence, std::vector<WordSpan>& words,
                               Workspace& workspace) const {
  cut_as(sentence, words, workspace, true);
}

void Segmenter::cut_as(std::string_view sentence, std::vector<WordSpan>& words,
                       Workspace& workspace, bool search) const {
  words.clear();
  if (decode_sentence(sentence, workspace._runes, workspace._offsets)) {
    const std::size_t size = workspace._runes.size();
    workspace._route.resize(size);
    workspace._length.resize(size);
    Cut(*this, workspace, words, search).sentence(size);
  }
  workspace.release_if_large();
}

}  // namespace pytarntext::segmenter
