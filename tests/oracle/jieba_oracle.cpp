// The words of pristine cppjieba, through its own facade, for the tests that hold the module's
// words to them. Built from the fetched, unpatched headers by tests/oracle/pristine.py.
//
//   jieba_oracle DICT HMM USER IDF STOP      (USER empty: no user dictionary)
//
// Reads records from standard input until its end: one byte, 'c' for Cut or 's' for CutForSearch
// (both with the HMM), then the sentence as a 32-bit little-endian length and its bytes. Answers
// each with the number of words (32 bits), then each word as a length and its bytes, and flushes,
// so that a caller may ask one sentence at a time.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cppjieba/Jieba.hpp"

namespace {

bool read_exactly(void* data, std::size_t size) { return std::fread(data, 1, size, stdin) == size; }

void write_length(std::uint32_t value) {
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
      static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  std::fwrite(bytes, 1, sizeof bytes, stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: jieba_oracle DICT HMM USER IDF STOP\n");
    return 2;
  }
  // The binding's stand-in for "no user dictionary": a path that opens and reads as no lines.
  const std::string user = argv[3][0] != '\0' ? argv[3] : "/";
  const cppjieba::Jieba jieba(argv[1], argv[2], user, argv[4], argv[5]);
  std::string sentence;
  std::vector<cppjieba::Word> words;
  for (char mode; read_exactly(&mode, 1);) {
    unsigned char size_bytes[4];
    if (!read_exactly(size_bytes, sizeof size_bytes)) return 1;
    const std::uint32_t size = size_bytes[0] | size_bytes[1] << 8 | size_bytes[2] << 16 |
                               static_cast<std::uint32_t>(size_bytes[3]) << 24;
    sentence.resize(size);
    if (size != 0 && !read_exactly(sentence.data(), size)) return 1;
    words.clear();
    if (mode == 's') {
      jieba.CutForSearch(sentence, words, true);
    } else {
      jieba.Cut(sentence, words, true);
    }
    write_length(static_cast<std::uint32_t>(words.size()));
    for (const cppjieba::Word& word : words) {
      write_length(static_cast<std::uint32_t>(word.word.size()));
      std::fwrite(word.word.data(), 1, word.word.size(), stdout);
    }
    std::fflush(stdout);
  }
  return 0;
}
