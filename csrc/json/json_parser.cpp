#include "json_parser.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>

#include "base/bytes.h"

namespace tarn::json {
namespace {

// The end of the text reads as NUL, however far past it a reader has stepped.
inline char char_at(std::string_view text, std::size_t offset) {
  return offset < text.size() ? text[offset] : '\0';
}

inline bool is_whitespace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline bool is_hex(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

inline bool ends_number(char c) { return is_whitespace(c) || c == ',' || c == ']' || c == '}'; }

// One fault line: the fixed text, what was found (NUL bytes included), an apostrophe. Written in
// one piece straight to the process's standard error.
void report(std::string_view message, std::string_view found) {
  std::string line;
  line.reserve(message.size() + found.size() + 2);
  line.append(message).append(found).append("'\n");
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void report(std::string_view message, char found) { report(message, std::string_view(&found, 1)); }

// Records, where the caller asked, that a fault was found at the end of the text.
void note_end(const ParseOptions& options, bool at_end) {
  if (at_end && options.met_end != nullptr) *options.met_end = true;
}

// Whether the text from `offset` to its end is the start of the literal that `c` begins (true,
// false, null), cut off before the literal's end.
bool ends_inside_literal(std::string_view text, std::size_t offset, char c) {
  const std::string_view literal = c == 't' ? "true" : c == 'f' ? "false" : "null";
  const std::string_view rest = text.substr(offset);
  return rest.size() < literal.size() && literal.substr(0, rest.size()) == rest;
}

// A signed 32-bit integer from the longest valid prefix: optional minus sign, then digits.
// kept: the std::stol and std::stod texts of the messages below, which callers match.
std::int32_t to_int32(const std::string& digits) {
  std::int64_t value = 0;
  const char* first = digits.data();
  const char* last = first + digits.size();
  const auto [end, error] = std::from_chars(first, last, value);
  if (error == std::errc::invalid_argument) throw std::invalid_argument("invalid stol argument");
  if (error == std::errc::result_out_of_range || value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    throw std::out_of_range("stol argument out of range");
  }
  return static_cast<std::int32_t>(value);
}

// A double from the longest valid prefix, in the C locale whatever the process's. Results that
// leave the normal range count as out of range, as the C library's strtod reports them.
double to_double(const std::string& digits) {
  double value = 0.0;
  const char* first = digits.data();
  const char* last = first + digits.size();
  const auto [end, error] = std::from_chars(first, last, value, std::chars_format::fixed);
  if (error == std::errc::invalid_argument) throw std::invalid_argument("invalid stod argument");
  if (error == std::errc::result_out_of_range || (value != 0.0 && std::fabs(value) < DBL_MIN)) {
    throw std::out_of_range("stod argument out of range");
  }
  return value;
}

std::uint32_t hex_value(std::string_view digits) {
  std::uint32_t value = 0;
  for (const char c : digits) {
    value = value * 16 + static_cast<std::uint32_t>(is_digit(c) ? c - '0'
                                                    : c >= 'a'  ? c - 'a' + 10
                                                                : c - 'A' + 10);
  }
  return value;
}

void append_utf8(std::string& out, std::uint32_t code_point) {
  char bytes[4];
  out.append(bytes, write_utf8(code_point, bytes));
}

// Decodes the escape whose "u" is at `offset` (its four hex digits already checked), and a low
// surrogate escape right after a high one, into `out`, leaving the offset on the last digit read.
// A surrogate that is not half of a pair has no UTF-8 form: it is written as the three bytes its
// code point would take (as Python's "surrogatepass" does), so that it stays a token of its own,
// apart from the same six characters written with an escaped backslash.
void decode_unicode_escape(std::string_view text, std::size_t& offset, std::string& out) {
  const std::uint32_t unit = hex_value(text.substr(offset + 1, 4));
  offset += 4;
  if (unit < 0xD800 || unit > 0xDBFF) return append_utf8(out, unit);
  const std::string_view next = text.substr(offset + 1, 6);
  bool pair = next.size() == 6 && next[0] == '\\' && next[1] == 'u';
  for (std::size_t i = 2; pair && i < 6; ++i) pair = is_hex(next[i]);
  const std::uint32_t low = pair ? hex_value(next.substr(2)) : 0;
  if (low < 0xDC00 || low > 0xDFFF) return append_utf8(out, unit);
  append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
  offset += 6;
}

}  // namespace

void skip_whitespace(std::string_view text, std::size_t& offset) {
  while (offset < text.size() && is_whitespace(text[offset])) ++offset;
}

JsonValue parse_json(std::string_view text, ParseOptions options) {
  std::size_t offset = 0;
  return parse_value(text, offset, 0, options);
}

Document parse_document(std::string_view text, ParseOptions options) {
  std::size_t start = 0;
  skip_whitespace(text, start);
  bool met_end = false;
  options.met_end = &met_end;
  Document document{parse_json(text, options)};
  document.cut_short = met_end && char_at(text, start) == '{';
  return document;
}

JsonValue parse_value(std::string_view text, std::size_t& offset, int depth, ParseOptions options) {
  skip_whitespace(text, offset);
  const char c = char_at(text, offset);
  if ((c == '{' || c == '[') && depth >= kMaxDepth) {
    report("ERROR: Parse: Nesting deeper than 1000 levels, found '", c);
    return JsonValue();
  }
  switch (c) {
    case '{':
      return parse_object(text, offset, depth, options);
    case '[':
      return parse_array(text, offset, depth, options);
    case '"':
      return parse_string(text, offset, options);
    case 't':
    case 'f':
    case 'n': {
      // A fault leaves the offset where it was; the text may have ended inside the literal.
      const std::size_t start = offset;
      JsonValue value = c == 'n' ? parse_null(text, offset) : parse_bool(text, offset);
      note_end(options, offset == start && ends_inside_literal(text, start, c));
      return value;
    }
    default:
      if (c == '-' || is_digit(c)) {
        JsonValue value = parse_number(text, offset);
        note_end(options, offset > text.size());  // a fault steps past what it found
        return value;
      }
      report("ERROR: Parse: Unknown starting character '", c);
      note_end(options, offset >= text.size());
      return JsonValue();
  }
}

JsonValue parse_object(std::string_view text, std::size_t& offset, int depth,
                       ParseOptions options) {
  JsonValue object = JsonValue::make(JsonClass::Object);
  const bool building = !options.kind_only;
  ++offset;
  skip_whitespace(text, offset);
  if (char_at(text, offset) == '}') {
    ++offset;
    return object;
  }
  while (true) {
    // Only a string key's text is ever stored; any other key reads for its kind alone.
    skip_whitespace(text, offset);
    ParseOptions key_options = options;
    key_options.outline = nullptr;
    key_options.kind_only = !building || char_at(text, offset) != '"';
    const JsonValue key = parse_value(text, offset, depth + 1, key_options);
    skip_whitespace(text, offset);
    if (char_at(text, offset) != ':') {
      // kept: "Error:" where every other report says "ERROR:"; readers of the log match both.
      report("Error: Object: Expected colon, found '", char_at(text, offset));
      note_end(options, offset >= text.size());
      return object;
    }
    ++offset;
    skip_whitespace(text, offset);
    std::string key_text = building ? key.to_escaped_string() : std::string();
    ParseOptions value_options = options;
    if (options.outline != nullptr) {
      value_options.outline = options.outline->entry(key_text);
      value_options.kind_only = value_options.outline == nullptr;
    }
    JsonValue value = parse_value(text, offset, depth + 1, value_options);
    if (building && (options.outline == nullptr || !options.outline->take(key_text, value))) {
      object.entry_for(std::move(key_text)) = std::move(value);
    }
    skip_whitespace(text, offset);
    const char next = char_at(text, offset);
    if (next == ',') {
      ++offset;
    } else if (next == '}') {
      ++offset;
      return object;
    } else {
      report("ERROR: Object: Expected comma, found '", next);
      note_end(options, offset >= text.size());
      return object;
    }
  }
}

JsonValue parse_array(std::string_view text, std::size_t& offset, int depth, ParseOptions options) {
  JsonValue array = JsonValue::make(JsonClass::Array);
  // An outline is an object's: an array that one reaches keeps none of its elements.
  const bool building = !options.kind_only && options.outline == nullptr;
  ParseOptions element_options = options;
  if (!building) {
    element_options = {
        .decode_unicode = options.decode_unicode, .kind_only = true, .met_end = options.met_end};
  }
  ++offset;
  skip_whitespace(text, offset);
  if (char_at(text, offset) == ']') {
    ++offset;
    return array;
  }
  for (std::uint32_t index = 0;; ++index) {
    JsonValue element = parse_value(text, offset, depth + 1, element_options);
    if (building) array[index] = std::move(element);
    skip_whitespace(text, offset);
    const char next = char_at(text, offset);
    if (next == ',') {
      ++offset;
    } else if (next == ']') {
      ++offset;
      return array;
    } else {
      report("ERROR: Array: Expected ',' or ']', found '", next);
      note_end(options, offset >= text.size());
      return JsonValue::make(JsonClass::Array);
    }
  }
}

JsonValue parse_string(std::string_view text, std::size_t& offset, ParseOptions options) {
  std::string collected;
  ++offset;
  while (true) {
    // Copy the run of ordinary bytes up to the next quote or backslash in one piece.
    std::size_t run_end = offset;
    while (run_end < text.size() && text[run_end] != '"' && text[run_end] != '\\') ++run_end;
    collected.append(text, offset, run_end - offset);
    offset = run_end;
    const bool ends_here =
        offset >= text.size() || (text[offset] == '\\' && offset + 1 >= text.size());
    if (ends_here) {  // inside the string, or right after a backslash
      offset = text.size();
      report("ERROR: String: Expected '\"' before the end of the text, found '", '\0');
      note_end(options, true);
      return JsonValue::make(JsonClass::String);
    }
    if (text[offset] == '"') {
      ++offset;
      break;
    }
    const char escape = text[++offset];
    switch (escape) {
      case '"':
        collected += '"';
        break;
      case '/':
        collected += '/';
        break;
      case 'b':
        collected += '\b';
        break;
      case 'f':
        collected += '\f';
        break;
      case 'n':
        collected += '\n';
        break;
      case 'r':
        collected += '\r';
        break;
      case 't':
        collected += '\t';
        break;
      case 'u':
        for (std::size_t i = 1; i <= 4; ++i) {
          const char hex = char_at(text, offset + i);
          if (!is_hex(hex)) {
            report("ERROR: String: Expected hex character in unicode escape, found '", hex);
            note_end(options, offset + i >= text.size());
            return JsonValue::make(JsonClass::String);
          }
        }
        if (options.decode_unicode) {
          decode_unicode_escape(text, offset, collected);
        } else {
          collected += '\\';  // kept as written: the six characters
          collected.append(text, offset, 5);
          offset += 4;
        }
        break;
      default:
        collected += '\\';
    }
    ++offset;
  }
  JsonValue value;
  value = options.kind_only ? std::string() : std::move(collected);
  return value;
}

JsonValue parse_number(std::string_view text, std::size_t& offset) {
  std::string mantissa;
  bool point = false;
  char c;
  while (true) {
    c = char_at(text, offset++);
    if (c != '-' && c != '.' && !is_digit(c)) break;
    point = point || c == '.';
    mantissa += c;
  }
  bool has_exponent = false;
  std::int32_t exponent = 0;
  if (c == 'e' || c == 'E') {
    std::string exponent_text;
    const char sign = char_at(text, offset);
    if (sign == '-') exponent_text += '-';
    if (sign == '-' || sign == '+') ++offset;  // "+" accepted as a positive exponent's sign
    char x;
    while (is_digit(x = char_at(text, offset++))) exponent_text += x;
    if (!ends_number(x)) {
      report("ERROR: Number: Expected a number for exponent, found '", x);
      return JsonValue();
    }
    exponent = to_int32(exponent_text);
    has_exponent = true;
  } else if (!ends_number(c)) {
    report("ERROR: Number: unexpected character '", c);
    return JsonValue();
  }
  --offset;  // onto the character that ended the number, for the enclosing reader
  JsonValue value;
  if (point) {
    value = to_double(mantissa) * std::pow(10.0, static_cast<double>(exponent));
  } else if (has_exponent) {
    value = static_cast<double>(to_int32(mantissa)) * std::pow(10.0, static_cast<double>(exponent));
  } else {
    value = to_int32(mantissa);
  }
  return value;
}

JsonValue parse_bool(std::string_view text, std::size_t& offset) {
  JsonValue value;
  if (text.substr(offset, 4) == "true") {
    value = true;
    offset += 4;
  } else if (text.substr(offset, 5) == "false") {
    value = false;
    offset += 5;
  } else {
    report("ERROR: Bool: Expected 'true' or 'false', found '", text.substr(offset, 5));
  }
  return value;
}

JsonValue parse_null(std::string_view text, std::size_t& offset) {
  if (text.substr(offset, 4) != "null") {
    report("ERROR: Null: Expected 'null', found '", text.substr(offset, 4));
  } else {
    offset += 4;
  }
  return JsonValue();
}

}  // namespace tarn::json
