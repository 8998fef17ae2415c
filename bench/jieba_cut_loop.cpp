// The baseline for the segmenter benchmark: a plain C++ loop over the same lines, calling the same
// library the way the binding does (words as cppjieba::Word, offsets into the sentence: the
// overloads that fill std::string words copy each one), with nothing of Python in between.
//
//   jieba_cut_loop DICT_DIR LINES_FILE PASSES cut|search
//
// Prints the CPU seconds taken (steadier than wall time on a shared machine) and the number of
// words produced.

#include <ctime>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "cppjieba/Jieba.hpp"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: jieba_cut_loop DICT_DIR LINES_FILE PASSES cut|search\n";
    return 2;
  }
  const std::string dict = argv[1];
  cppjieba::Jieba jieba(dict + "/jieba.dict.utf8", dict + "/hmm_model.utf8", "/dev/null",
                        dict + "/idf.utf8", dict + "/stop_words.utf8");
  std::vector<std::string> lines;
  std::ifstream in(argv[2]);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const int passes = std::stoi(argv[3]);
  const bool search = std::string(argv[4]) == "search";

  std::size_t words_seen = 0;
  std::vector<cppjieba::Word> words;
  const std::clock_t start = std::clock();
  for (int pass = 0; pass < passes; ++pass) {
    for (const std::string& line : lines) {
      words.clear();
      if (search) {
        jieba.CutForSearch(line, words, true);
      } else {
        jieba.Cut(line, words, true);
      }
      words_seen += words.size();
    }
  }
  const double elapsed = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  std::cout << elapsed << " " << words_seen << "\n";
}
