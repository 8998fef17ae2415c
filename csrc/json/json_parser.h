#pragma once

#include <cstddef>
#include <string_view>

#include "json_value.h"

namespace tarn::json {

class Outline;

struct ParseOptions {
  // Off: a \uXXXX escape is kept as its six characters, so that after parsing it cannot be told
  // from an escaped backslash followed by "uXXXX". On: it is decoded to the code point's UTF-8
  // bytes, a high and low surrogate escape joined into one; a surrogate escape that is not one
  // half of such a pair has no UTF-8 form and is kept as written.
  bool decode_unicode = false;
  // Null: the whole value is built. Else only the part that the outline names (Outline).
  Outline* outline = nullptr;
  // The value is read for its kind alone (Outline); the parser sets it for what an outline leaves
  // out.
  bool kind_only = false;
  // Null, or set to true once a fault is found at the end of the text: the text ended inside a
  // construct (a key, string, number, literal, object or array) that would have gone on.
  bool* met_end = nullptr;
};

// The part of a document that its reader will look at, for a parse that builds only that part. A
// value outside it is read exactly as any other, every fault reported and every number converted
// in the same order, but yields its kind alone: an object, array or string empty, a number or
// boolean as itself. So a reader pays for what it uses, not for what the text holds: a million
// empty arrays under a key it ignores cost nothing. An outline is an object's: given to any other
// value it leaves that value's content out too.
class Outline {
 public:
  virtual ~Outline() = default;
  // The outline of the object's value under `key` (the key as the object stores it, escaped), or
  // null to read that value for its kind alone. Asked right before the value is read.
  virtual Outline* entry(std::string_view key) = 0;
  // Offered each entry once its value is read: true takes it, and the object does not store it.
  virtual bool take(std::string& key, JsonValue& value) {
    (void)key;
    (void)value;
    return false;
  }
};

// Reads one value from the start of `text` and ignores whatever follows it. Lenient: a syntax fault
// is reported as one "ERROR:" line on standard error, the construct yields a fallback value, and
// reading resumes in the enclosing construct. Throws std::invalid_argument or std::out_of_range
// only for a number that does not convert. Never reads past the end of the text; nesting deeper
// than kMaxDepth is a fault like any other.
JsonValue parse_json(std::string_view text, ParseOptions options = {});

// A text read as parse_json reads it, and whether it was cut short: it starts with an object (after
// whitespace) whose reading meets the end of the text before the object's closing brace. The
// lenient reading cannot tell such a text from a whole object of fewer entries. A fault that stops
// the object on a character of the text (a missing comma, an unknown character) is no cut.
struct Document {
  JsonValue value;
  bool cut_short = false;
};
Document parse_document(std::string_view text, ParseOptions options = {});

inline constexpr int kMaxDepth = 1000;

// The readers, each starting at `offset` (on the construct's first character) and leaving it after
// the construct; `depth` is the number of objects and arrays around the offset.
JsonValue parse_value(std::string_view text, std::size_t& offset, int depth = 0,
                      ParseOptions options = {});
JsonValue parse_object(std::string_view text, std::size_t& offset, int depth = 0,
                       ParseOptions options = {});
JsonValue parse_array(std::string_view text, std::size_t& offset, int depth = 0,
                      ParseOptions options = {});
JsonValue parse_string(std::string_view text, std::size_t& offset, ParseOptions options = {});
JsonValue parse_number(std::string_view text, std::size_t& offset);
JsonValue parse_bool(std::string_view text, std::size_t& offset);
JsonValue parse_null(std::string_view text, std::size_t& offset);
void skip_whitespace(std::string_view text, std::size_t& offset);

}  // namespace tarn::json
