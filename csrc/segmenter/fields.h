#pragma once

// The text handling of cppjieba's loaders, to the byte: lines as std::getline yields them, fields
// as limonp::Split cuts them, numbers as atof and atoi read them.

#include <array>
#include <charconv>
#include <clocale>
#include <cstdint>
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

// The first `N` fields of split_fields, without allocating; returns how many split_fields gives,
// up to N + 1 (more than N).
template <std::size_t N>
std::size_t split_fields(std::string_view text, char separator,
                         std::array<std::string_view, N>& fields) {
  std::size_t count = 0;
  std::size_t start = 0;
  while (start < text.size() && count <= N) {
    const std::size_t end = text.find(separator, start);
    const std::string_view field =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (count < N) fields[count] = field;
    ++count;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return count;
}

// for_each_line and split_fields(line, ' ', fields) in one pass over the bytes, for files of many
// short lines: visit(line, fields, count, number from 1), `count` as split_fields gives it.
template <std::size_t N, class Visit>
void for_each_line_fields(std::string_view content, Visit&& visit) {
  const char* at = content.data();
  const char* const end = at + content.size();
  std::size_t number = 0;
  while (at != end) {
    const char* const line_start = at;
    std::array<std::string_view, N> fields;
    std::size_t count = 0;
    const char* field_start = at;
    while (at != end && *at != '\n') {
      if (*at == ' ') {
        if (count < N) fields[count] = std::string_view(field_start, at - field_start);
        ++count;
        field_start = at + 1;
      }
      ++at;
    }
    if (field_start != at) {  // a last field, unless it is empty
      if (count < N) fields[count] = std::string_view(field_start, at - field_start);
      ++count;
    }
    visit(std::string_view(line_start, at - line_start), fields, count, ++number);
    if (at != end) ++at;
  }
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

// The library's own conversion, atof, made faster where that gives the same double. Decimal digits
// alone (what dictionaries hold) read the same in any locale and are exact below 10^15. A field
// that std::from_chars reads whole is a plain decimal number, which both round correctly to the
// same double where the locale's decimal point is '.'. Anything else (signs, spaces, hexadecimal,
// inf, another decimal point) goes to atof itself. One reader per file: the locale is looked up
// once.
class NumberReader {
 public:
  NumberReader() : _plain_point(std::string_view(std::localeconv()->decimal_point) == ".") {}

  double operator()(std::string_view field) const {
    if (!field.empty() && field.size() <= 15 &&
        field.find_first_not_of("0123456789") == std::string_view::npos) {
      std::uint64_t value = 0;
      for (const char digit : field) value = value * 10 + static_cast<std::uint64_t>(digit - '0');
      return static_cast<double>(value);
    }
    if (_plain_point) {
      double value = 0.0;
      const char* const end = field.data() + field.size();
      const auto [stop, error] = std::from_chars(field.data(), end, value);
      if (error == std::errc() && stop == end) return value;
    }
    return std::atof(std::string(field).c_str());
  }

 private:
  bool _plain_point;
};

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
