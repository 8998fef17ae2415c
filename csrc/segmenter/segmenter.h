#pragma once

// cppjieba v5.4.0's two cuts, Jieba::Cut(s, words, true) (MixSegment) and
// Jieba::CutForSearch(s, words, true) (QuerySegment), rebuilt on flat tables: the same words, from
// the same doubles added in the same order and compared the same way, for any bytes. Built from
// the texts of the data files, already read; holds no file and no Python.

#include <cstdint>
#include <string_view>
#include <vector>

#include "dictionary.h"
#include "hmm_model.h"
#include "utf8.h"

namespace pytarntext::segmenter {

// A word as bytes of the sentence it was cut from.
struct WordSpan {
  std::uint32_t offset;
  std::uint32_t size;
};

// The buffers of one cut, kept from call to call so that a cut allocates nothing once they have
// grown to its sentence. One per thread: Segmenter::cut without one uses the calling thread's own.
class Workspace {
 public:
  Workspace() = default;
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

 private:
  friend class Segmenter;
  void release_if_large();

  std::vector<Rune> _runes;
  std::vector<std::uint32_t> _offsets;  // of each character, then the sentence's size
  std::vector<double> _route;           // the best route's weight from each character on
  std::vector<std::uint16_t> _length;   // the length of its first word
  std::vector<std::uint8_t> _path;      // the HMM's best predecessor, four states a character
  std::vector<std::uint8_t> _states;
};

class Segmenter {
 public:
  // The main dictionary, the HMM model and the user dictionaries (in order), as the library reads
  // them. Throws std::invalid_argument on text the library would abort on.
  Segmenter(std::string_view dictionary, std::string_view hmm_model,
            const std::vector<std::string_view>& user_dictionaries);

  // Both replace `words` by the sentence's words. Bytes the library cannot decode give none and
  // its ERROR line on standard error. Throws std::length_error from 4 GiB on, where the library's
  // 32-bit offsets end.
  void cut(std::string_view sentence, std::vector<WordSpan>& words) const;
  void cut_for_search(std::string_view sentence, std::vector<WordSpan>& words) const;
  void cut(std::string_view sentence, std::vector<WordSpan>& words, Workspace& workspace) const;
  void cut_for_search(std::string_view sentence, std::vector<WordSpan>& words,
                      Workspace& workspace) const;

 private:
  class Cut;

  void cut_as(std::string_view sentence, std::vector<WordSpan>& words, Workspace& workspace,
              bool search) const;

  void load_main(std::string_view text, const std::vector<std::string_view>& user_dictionaries);
  void load_user(std::string_view text);

  Dictionary _dictionary;
  HmmModel _hmm;
  double _frequency_sum = 0.0;
  double _min_weight = 0.0;
  double _median_weight = 0.0;
};

}  // namespace pytarntext::segmenter
