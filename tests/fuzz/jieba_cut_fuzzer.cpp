// Any bytes as a sentence: both cuts return, and the words of a mixed cut of valid UTF-8 join back
// into the sentence.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cppjieba/Jieba.hpp"

namespace {

const cppjieba::Jieba& segmenter() {
  static const std::string dict = PYTARNTEXT_DICT_DIR;
  static const cppjieba::Jieba jieba(dict + "/jieba.dict.utf8", dict + "/hmm_model.utf8",
                                     "/dev/null", dict + "/idf.utf8", dict + "/stop_words.utf8");
  return jieba;
}

bool is_utf8(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xC2 ? 0
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                               : lead < 0xF5 ? 4
                                             : 0;
    if (length == 0 || text.size() - at < length) return false;
    for (std::size_t i = 1; i < length; ++i) {
      if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return false;
    }
    at += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  segmenter();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string sentence(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> words;
  segmenter().Cut(sentence, words, true);
  if (is_utf8(sentence)) {
    std::string joined;
    for (const std::string& word : words) joined += word;
    if (joined != sentence) std::abort();
  }
  std::vector<cppjieba::Word> search_words;
  segmenter().CutForSearch(sentence, search_words, true);
  return 0;
}
