#include "data_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "posix/descriptor.h"
#include "segmenter/fields.h"
#include "segmenter/library_log.h"
#include "segmenter/utf8.h"

namespace pytarntext {
namespace {

using segmenter::for_each_line;
using segmenter::split_fields;
using segmenter::trimmed;

// The number of characters cppjieba's UTF-8 decoder finds in `text`, or -1 where it gives up.
long count_runes(std::string_view text) {
  long runes = 0;
  if (!segmenter::for_each_rune(text, [&](segmenter::Rune, std::size_t) { ++runes; })) return -1;
  return runes;
}

// The whole file, refused unless it is a regular file this process can read.
std::string read_data_file(const std::string& path) {
  if (path.find('\0') != std::string::npos) {
    throw DataFileFormatError("embedded null byte in path");
  }
  const tarn::posix::Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file.is_open()) throw DataFileOpenError(errno, path);
  struct stat status {};
  if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    throw DataFileOpenError(S_ISDIR(status.st_mode) ? EISDIR : EINVAL, path);
  }
  std::string content;
  content.resize(static_cast<std::size_t>(status.st_size));
  std::size_t filled = 0;
  while (true) {
    if (filled == content.size()) content.resize(content.size() * 2 + 4096);
    const ssize_t got = ::read(file.get(), content.data() + filled, content.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw DataFileOpenError(errno, path);
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  content.resize(filled);
  return content;
}

[[noreturn]] void fail(const std::string& path, std::size_t line, const std::string& what) {
  throw DataFileFormatError(path + ", line " + std::to_string(line) + ": " + what);
}

[[noreturn]] void fail(const std::string& path, const std::string& what) {
  throw DataFileFormatError(path + ": " + what);
}

std::string check_main_dictionary(const std::string& path) {
  std::string content = read_data_file(path);
  const segmenter::NumberReader to_number;
  std::size_t entries = 0;
  segmenter::for_each_line_fields<3>(content, [&](std::string_view, const auto& fields,
                                                  std::size_t count, std::size_t number) {
    if (count != 3)
      fail(path, number, "expected three fields separated by single spaces: word frequency tag");
    if (count_runes(fields[0]) < 0) fail(path, number, "the word is not UTF-8");
    const double frequency = to_number(fields[1]);
    if (!(frequency > 0.0) || !std::isfinite(frequency)) {
      fail(path, number, "the frequency is not a positive number");
    }
    ++entries;
  });
  if (entries == 0) fail(path, "the dictionary has no entry");
  return content;
}

std::string check_user_dictionary(const std::string& path) {
  std::string content = read_data_file(path);
  // The library keeps a byte-order mark in the first word, which then matches no text.
  if (content.starts_with("\xEF\xBB\xBF")) {
    fail(path, 1,
         "the file begins with a UTF-8 byte-order mark, which would stay in the first word: save "
         "it as UTF-8 without one");
  }
  for_each_line(content, [&](std::string_view line, std::size_t number) {
    if (line.empty()) return;
    const auto fields = split_fields(line, " ");
    if (fields.size() > 3) {
      fail(path, number,
           "expected a word, then optionally a frequency and a tag, separated by single spaces");
    }
    // The library splits every sentence at tabs before it looks words up.
    if (fields[0].find('\t') != std::string_view::npos) {
      fail(path, number,
           "the word holds a tab, where sentences are split, so it is never found: fields are "
           "separated by single spaces");
    }
    // The library skips a word its decoder gives up on with only an ERROR line, and matches one
    // that its lenient decoder takes (GBK, say) against unrelated characters.
    if (!segmenter::is_strict_utf8(fields[0])) fail(path, number, "the word is not UTF-8");
    // The library takes the logarithm of atoi's reading: 0 and below give a weight of -inf or NaN.
    if (fields.size() == 3 && std::atoi(std::string(fields[1]).c_str()) <= 0) {
      fail(path, number, "the frequency is not a positive integer");
    }
  });
  return content;
}

bool is_emission_line(std::string_view line) {
  for (const std::string_view entry : split_fields(line, ",")) {
    const auto parts = split_fields(entry, ":");
    if (parts.size() != 2 || count_runes(parts[0]) != 1) return false;
  }
  return true;
}

// Opened with std::ifstream, as the library opens user dictionaries.
void check_no_user_dictionary() {
  errno = 0;
  std::ifstream stream(kNoUserDictionary);
  if (!stream.is_open()) throw DataFileOpenError(errno != 0 ? errno : EACCES, kNoUserDictionary);
  std::string line;
  if (std::getline(stream, line)) {
    fail(kNoUserDictionary, "reads as lines of words, so it cannot stand for no user dictionary");
  }
}

std::string check_hmm_model(const std::string& path) {
  std::string content = read_data_file(path);
  // The start line, four transition lines, four emission lines; blank and "#" lines do not count.
  std::size_t seen = 0;
  for_each_line(content, [&](std::string_view line, std::size_t number) {
    line = trimmed(line);
    if (line.empty() || line.front() == '#' || seen == 9) return;
    if (seen < 5 && split_fields(line, " ").size() != 4) {
      fail(path, number, "expected four probabilities separated by single spaces");
    }
    if (seen >= 5 && !is_emission_line(line)) {
      fail(path, number,
           "expected emission probabilities as character:probability, separated by commas");
    }
    ++seen;
  });
  if (seen < 9) {
    fail(path, "the model ends after " + std::to_string(seen) + " of its 9 probability lines");
  }
  return content;
}

// The ERROR lines the library logs for the lines it skips (numbered from 0) go to `skipped`.
void check_idf_table(const std::string& path,
                     std::vector<std::pair<const char*, std::string>>& skipped) {
  std::size_t lines = 0;
  double sum = 0.0;
  const segmenter::NumberReader to_number;
  segmenter::for_each_line_fields<2>(
      read_data_file(path),
      [&](std::string_view line, const auto& fields, std::size_t count, std::size_t number) {
        lines = number;
        const auto lineno = [number] { return std::to_string(number - 1); };
        if (line.empty()) {
          skipped.emplace_back("KeywordExtractor.hpp:106",
                               "lineno: " + lineno() + " empty. skipped.");
          return;
        }
        if (count == 2) {
          sum += to_number(fields[1]);
        } else {
          skipped.emplace_back(
              "KeywordExtractor.hpp:111",
              "line: " + std::string(line) + ", lineno: " + lineno() + " empty. skipped.");
        }
      });
  if (lines == 0) fail(path, "the IDF table is empty");
  if (!(sum / static_cast<double>(lines) > 0.0)) {
    fail(path, "the average IDF of the table is not a positive number");
  }
}

void check_stop_words(const std::string& path) {
  std::size_t lines = 0;
  for_each_line(read_data_file(path),
                [&](std::string_view, std::size_t number) { lines = number; });
  if (lines == 0) fail(path, "the stop-word list is empty");
}

}  // namespace

JiebaTexts read_jieba_files(const JiebaPaths& paths) {
  JiebaTexts texts;
  texts.dictionary = check_main_dictionary(paths.dict_path);
  if (paths.user_dict_path.empty()) {
    check_no_user_dictionary();
  } else {
    // Split exactly as the library splits them: "a||b" names an empty path.
    for (const std::string_view name : split_fields(paths.user_dict_path, "|;")) {
      texts.user_dictionaries.push_back(check_user_dictionary(std::string(name)));
    }
  }
  texts.hmm_model = check_hmm_model(paths.hmm_path);
  std::vector<std::pair<const char*, std::string>> skipped;
  check_idf_table(paths.idf_path, skipped);
  check_stop_words(paths.stop_word_path);
  // Logged once every file has passed, as the library logs them while it loads a good set.
  for (const auto& [source, line] : skipped) segmenter::log_library_error(source, line);
  return texts;
}

}  // namespace pytarntext
