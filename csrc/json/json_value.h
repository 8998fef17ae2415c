#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::json {

// The kind of a JsonValue. The numbers are fixed.
enum class JsonClass : std::int32_t {
  Null = 0,
  Object = 1,
  Array = 2,
  String = 3,
  Floating = 4,
  Integral = 5,
  Boolean = 6,
};

// A JSON value: one payload word and its kind. Objects keep their keys in ascending byte order,
// so the text of a value never depends on the order it was built in. Copies are deep.
class JsonValue {
 public:
  using ObjectMap = std::map<std::string, JsonValue, std::less<>>;
  // A vector, not a deque: an empty array costs three words, where a deque allocates half a
  // kilobyte before it holds anything.
  using ArrayList = std::vector<JsonValue>;

  JsonValue() noexcept : _payload{}, _kind(JsonClass::Null) {}
  JsonValue(const JsonValue& other);
  JsonValue(JsonValue&& other) noexcept;
  JsonValue& operator=(const JsonValue& other);
  JsonValue& operator=(JsonValue&& other) noexcept;
  ~JsonValue() { release(); }

  // A value of the given kind with an empty payload: {}, [], "", 0.0, 0, false or null.
  static JsonValue make(JsonClass kind);

  // Keeps the value if it already has this kind; otherwise drops the payload for an empty one.
  void set_kind(JsonClass kind);
  JsonClass kind() const { return _kind; }

  // Turns a non-object into an empty object first; inserts a Null entry for a new key.
  JsonValue& operator[](std::string_view key);
  // Turns a non-array into an empty array first; grows the array with Nulls to reach `index`.
  JsonValue& operator[](std::uint32_t index);

  JsonValue& operator=(double value);
  JsonValue& operator=(std::int32_t value);
  JsonValue& operator=(bool value);
  JsonValue& operator=(std::string value);
  JsonValue& operator=(const char* value) { return *this = std::string(value); }

  // The number of an Integral (ok true), else 0 (ok false); a Floating is not converted.
  std::int32_t to_int(bool& ok) const;
  // The number of a Floating (ok true), else 0.0 (ok false); an Integral is not converted.
  double to_float(bool& ok) const;
  // json_escape of a String's text; the empty string for any other kind.
  std::string to_escaped_string() const;

  // The entries of an Object in key order; nothing for any other kind.
  struct Entries {
    ObjectMap::const_iterator first, last;
    ObjectMap::const_iterator begin() const { return first; }
    ObjectMap::const_iterator end() const { return last; }
  };
  Entries entries() const;

  // The object's entry for a key about to be stored: appends in O(1) when keys arrive in ascending
  // order (as in every model file), else finds or inserts as operator[] does.
  JsonValue& entry_for(std::string&& key);

  // JSON text: objects one entry per line, keys as stored, entries indented by `indent` repeated
  // `depth` times, the closing brace two characters less; no line feed after the last brace.
  std::string to_text(std::int32_t depth, std::string_view indent) const;
  void append_text(std::string& out, std::int32_t depth, std::string_view indent) const;

 private:
  union Payload {
    ObjectMap* object;
    ArrayList* array;
    std::string* string;
    double floating;
    std::int32_t integral;
    bool boolean;
    std::uint64_t word;
  };

  void release() noexcept;
  void copy_from(const JsonValue& other);

  Payload _payload;
  JsonClass _kind;
};

// The text with exactly seven bytes escaped: backspace, tab, line feed, form feed, carriage return,
// double quote and backslash. Every other byte is copied; no \u escape is ever produced.
std::string json_escape(std::string_view text);
void append_escaped(std::string& out, std::string_view text);

// The exact inverse of json_escape: each of its seven escapes back to its byte; anything else,
// a backslash that starts no such escape included, unchanged.
std::string json_unescape(std::string_view text);

}  // namespace tarn::json
