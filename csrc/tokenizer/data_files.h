#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

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

// What the library is handed for an empty user_dict_path, which it would replace by a file in its
// own source tree: it always opens something there, and a directory opens as a stream of no line.
// The root directory needs no device file, which a minimal sandbox may lack; check_jieba_files
// opens it first, exactly as the library will.
inline constexpr const char* kNoUserDictionary = "/";

// The five files of a segmenter, as its constructor names them.
struct JiebaPaths {
  std::string dict_path;
  std::string hmm_path;
  std::string user_dict_path;  // zero or more files joined by "|" or ";"; may be empty
  std::string idf_path;
  std::string stop_word_path;
};

// Reads every file the way cppjieba v5.4.0 will and throws on the first fault that would make it
// log FATAL and abort, or fail one of its asserts: missing, unreadable or non-regular files,
// dictionary lines that do not split as it expects, frequencies that are not positive, a short
// or malformed HMM model, a stand-in for no user dictionary that does not open empty, an IDF table
// without a positive average, an empty stop-word list.
void check_jieba_files(const JiebaPaths& paths);

}  // namespace pytarntext
