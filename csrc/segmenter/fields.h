#pragma once

// The text handling of cppjieba's loaders, to the byte: lines as std::getline yields them, fields
// as limonp::Split cuts them, numbers as atof and atoi read them.

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace pytarntext::segmenter {

// A field per separator, the last one dropped when empty ("a " is one field, " " one empty one).
inline std::vector<std::string_view> split_fields(std::string_view text,
                                                  std::string_view separators) {
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

// visit(line, number from 1) for each line: split at line feeds, no final empty line.
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

// The library's own conversions (same functions, same locale).
inline double read_double(std::string_view field) { return std::atof(std::string(field).c_str()); }
inline int read_int(std::string_view field) { return std::atoi(std::string(field).c_str()); }

// std::isspace in the C locale, which limonp's Trim uses.
inline bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline std::string_view trimmed(std::string_view line) {
  while (!line.empty() && is_c_space(line.front())) line.remove_prefix(1);
  while (!line.empty() && is_c_space(line.back())) line.remove_suffix(1);
  return line;
}

}  // namespace pytarntext::segmenter
