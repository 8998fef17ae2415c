// Any bytes as a sentence, cut by the pristine cppjieba and by the module's segmenter, both from
// the same data files (with cppjieba's own user dictionary): any difference in the words of either
// cut, as (offset, size), aborts.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cppjieba/Jieba.hpp"
#include "segmenter/segmenter.h"

namespace {

const std::string kDict = PYTARNTEXT_DICT_DIR;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

const cppjieba::Jieba& pristine() {
  static const cppjieba::Jieba jieba(kDict + "/jieba.dict.utf8", kDict + "/hmm_model.utf8",
                                     kDict + "/user.dict.utf8", kDict + "/idf.utf8",
                                     kDict + "/stop_words.utf8");
  return jieba;
}

const pytarntext::segmenter::Segmenter& ours() {
  static const std::string user = read_file(kDict + "/user.dict.utf8");
  static const pytarntext::segmenter::Segmenter segmenter(
      read_file(kDict + "/jieba.dict.utf8"), read_file(kDict + "/hmm_model.utf8"), {user});
  return segmenter;
}

void compare(const std::vector<cppjieba::Word>& expected,
             const std::vector<pytarntext::segmenter::WordSpan>& got) {
  if (expected.size() != got.size()) std::abort();
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (expected[i].offset != got[i].offset || expected[i].word.size() != got[i].size) {
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pristine();
  ours();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string sentence(reinterpret_cast<const char*>(data), size);
  std::vector<cppjieba::Word> expected;
  std::vector<pytarntext::segmenter::WordSpan> got;
  pristine().Cut(sentence, expected, true);
  ours().cut(sentence, got);
  compare(expected, got);
  expected.clear();
  pristine().CutForSearch(sentence, expected, true);
  ours().cut_for_search(sentence, got);
  compare(expected, got);
  return 0;
}
