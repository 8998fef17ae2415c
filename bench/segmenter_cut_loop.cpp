// The module's segmenter (csrc/segmenter) in the plain C++ loop of bench/jieba_cut_loop.cpp: the
// same lines, the same arguments, words as offsets into the sentence, nothing of Python between.
//
//   segmenter_cut_loop DICT_DIR LINES_FILE PASSES cut|search
//
// Prints the CPU seconds taken and the number of words produced.

#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "segmenter/segmenter.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: segmenter_cut_loop DICT_DIR LINES_FILE PASSES cut|search\n";
    return 2;
  }
  const std::string dict = argv[1];
  const pytarntext::segmenter::Segmenter segmenter(read_file(dict + "/jieba.dict.utf8"),
                                                   read_file(dict + "/hmm_model.utf8"), {});
  std::vector<std::string> lines;
  std::ifstream in(argv[2]);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const int passes = std::stoi(argv[3]);
  const bool search = std::string(argv[4]) == "search";

  std::size_t words_seen = 0;
  std::vector<pytarntext::segmenter::WordSpan> words;
  const std::clock_t start = std::clock();
  for (int pass = 0; pass < passes; ++pass) {
    for (const std::string& line : lines) {
      if (search) {
        segmenter.cut_for_search(line, words);
      } else {
        segmenter.cut(line, words);
      }
      words_seen += words.size();
    }
  }
  const double elapsed = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  std::cout << elapsed << " " << words_seen << "\n";
}
