#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace pytarntext {

// A data file that cannot be opened as a readable regular file.
class DataFileOpenError : public std::runtime_error {
 public:
  DataFileOpenError(int error, std::string path)
      : std::runtime_error(path), _error(error), _path(std::move(path)) {}
  int error() const { return _error; }
  const std::string& path() const { return _path; }

 private:
  int _error;
  std::string _path;
};

// A data file whose content the segmentation library would meet by ending the process.
class DataFileFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What stands for an empty user_dict_path, as cppjieba was once handed it (it would replace an
// empty path by a file in its own source tree): a directory opens as a stream of no line, and the
// root directory needs no device file, which a minimal sandbox may lack. read_jieba_files still
// opens it, so that an empty path is refused exactly where it was.
inline constexpr const char* kNoUserDictionary = "/";

// The five files of a segmenter, as its constructor names them.
struct JiebaPaths {
  std::string dict_path;
  std::string hmm_path;
  std::string user_dict_path;  // zero or more files joined by "|" or ";"; may be empty
  std::string idf_path;
  std::string stop_word_path;
};

// The texts a segmenter is built from, each read once and checked.
struct JiebaTexts {
  std::string dictionary;
  std::string hmm_model;
  std::vector<std::string> user_dictionaries;  // in the order of user_dict_path
};

// Reads every file once, the way cppjieba v5.4.0 reads it, and throws on the first fault that would
// make it log FATAL and abort, or fail one of its asserts: missing, unreadable or non-regular
// files, dictionary lines that do not split as it expects, frequencies that are not positive, a
// short or malformed HMM model, a stand-in for no user dictionary that does not open empty, an IDF
// table without a positive average, an empty stop-word list; and on user-dictionary lines it would
// take but never cut the word of (a frequency below 1, a tab in the word, a word that is not UTF-8,
// a byte-order mark before the first one). The IDF table and the stop-word list are only checked;
// the ERROR lines the library logs for IDF lines it skips are logged once all files have passed.
JiebaTexts read_jieba_files(const JiebaPaths& paths);

}  // namespace pytarntext
