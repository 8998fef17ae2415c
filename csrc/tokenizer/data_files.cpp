#include "data_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "posix/descriptor.h"

namespace pytarntext {
namespace {

// cppjieba's splitting: a field per separator, the last one dropped when empty.
std::vector<std::string_view> split_fields(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of(separators, start);
    if (end == std::string_view::npos) {
      fields.push_back(text.substr(start));
      break;
    }
    fields.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

// The number of characters cppjieba's UTF-8 decoder finds in `text`, or -1 where it gives up.
long count_runes(std::string_view text) {
  long runes = 0;
  for (std::size_t at = 0; at < text.size(); ++runes) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t left = text.size() - at;
    std::size_t length = 0;
    if (lead < 0x80) {
      length = 1;
    } else if (lead <= 0xDF && left > 1) {
      length = 2;
    } else if (lead <= 0xEF && left > 2) {
      length = 3;
    } else if (lead <= 0xF7 && left > 3) {
      length = 4;
    } else {
      return -1;
    }
    at += length;
  }
  return runes;
}

// The whole file, refused unless it is a regular file this process can read.
std::string read_data_file(const std::string& path) {
  if (path.find('\0') != std::string::npos) {
    throw DataFileFormatError("embedded null byte in path");
  }
  const tarn::posix::Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file.is_open()) throw DataFileOpenError(errno, path);
  struct stat status{};
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

// The lines std::getline yields: split at line feeds, no final empty line.
template <class Visit>
void for_each_line(std::string_view content, Visit&& visit) {
  std::size_t number = 0;
  while (!content.empty()) {
    const std::size_t end = content.find('\n');
    visit(content.substr(0, end), ++number);
    if (end == std::string_view::npos) break;
    content.remove_prefix(end + 1);
  }
}

[[noreturn]] void fail(const std::string& path, std::size_t line, const std::string& what) {
  throw DataFileFormatError(path + ", line " + std::to_string(line) + ": " + what);
}

[[noreturn]] void fail(const std::string& path, const std::string& what) {
  throw DataFileFormatError(path + ": " + what);
}

// atof, as the library converts numbers (same function, same locale).
double to_number(std::string_view field) { return std::atof(std::string(field).c_str()); }

bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view trimmed(std::string_view line) {
  while (!line.empty() && is_c_space(line.front())) line.remove_prefix(1);
  while (!line.empty() && is_c_space(line.back())) line.remove_suffix(1);
  return line;
}

void check_main_dictionary(const std::string& path) {
  std::size_t entries = 0;
  for_each_line(read_data_file(path), [&](std::string_view line, std::size_t number) {
    const auto fields = split_fields(line, " ");
    if (fields.size() != 3)
      fail(path, number, "expected three fields separated by single spaces: word frequency tag");
    if (count_runes(fields[0]) < 0) fail(path, number, "the word is not UTF-8");
    const double frequency = to_number(fields[1]);
    if (!(frequency > 0.0) || !std::isfinite(frequency)) {
      fail(path, number, "the frequency is not a positive number");
    }
    ++entries;
  });
  if (entries == 0) fail(path, "the dictionary has no entry");
}

void check_user_dictionary(const std::string& path) {
  for_each_line(read_data_file(path), [&](std::string_view line, std::size_t number) {
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
    // The library takes the logarithm of atoi's reading: 0 and below give a weight of -inf or NaN.
    if (fields.size() == 3 && std::atoi(std::string(fields[1]).c_str()) <= 0) {
      fail(path, number, "the frequency is not a positive integer");
    }
  });
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

void check_hmm_model(const std::string& path) {
  // The start line, four transition lines, four emission lines; blank and "#" lines do not count.
  std::size_t seen = 0;
  for_each_line(read_data_file(path), [&](std::string_view line, std::size_t number) {
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
}

void check_idf_table(const std::string& path) {
  std::size_t lines = 0;
  double sum = 0.0;
  for_each_line(read_data_file(path), [&](std::string_view line, std::size_t number) {
    lines = number;
    if (line.empty()) return;
    const auto fields = split_fields(line, " ");
    if (fields.size() == 2) sum += to_number(fields[1]);
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

void check_jieba_files(const JiebaPaths& paths) {
  check_main_dictionary(paths.dict_path);
  if (paths.user_dict_path.empty()) {
    check_no_user_dictionary();
  } else {
    // Split exactly as the library splits them: "a||b" names an empty path.
    for (const std::string_view name : split_fields(paths.user_dict_path, "|;")) {
      check_user_dictionary(std::string(name));
    }
  }
  check_hmm_model(paths.hmm_path);
  check_idf_table(paths.idf_path);
  check_stop_words(paths.stop_word_path);
}

}  // namespace pytarntext
