#include "json_value.h"

#include <charconv>
#include <utility>

namespace tarn::json {

JsonValue::JsonValue(const JsonValue& other) : _payload{}, _kind(JsonClass::Null) {
  copy_from(other);
}

JsonValue::JsonValue(JsonValue&& other) noexcept : _payload(other._payload), _kind(other._kind) {
  other._payload.word = 0;
  other._kind = JsonClass::Null;
}

JsonValue& JsonValue::operator=(const JsonValue& other) {
  if (this != &other) {
    JsonValue copy(other);  // copy first: `other` may live inside this value
    *this = std::move(copy);
  }
  return *this;
}

JsonValue& JsonValue::operator=(JsonValue&& other) noexcept {
  if (this != &other) {
    Payload payload = other._payload;
    const JsonClass kind = other._kind;
    other._payload.word = 0;
    other._kind = JsonClass::Null;
    release();  // after taking `other`: it may be a child of this value
    _payload = payload;
    _kind = kind;
  }
  return *this;
}

void JsonValue::copy_from(const JsonValue& other) {
  switch (other._kind) {
    case JsonClass::Object:
      _payload.object = new ObjectMap(*other._payload.object);
      break;
    case JsonClass::Array:
      _payload.array = new ArrayList(*other._payload.array);
      break;
    case JsonClass::String:
      _payload.string = new std::string(*other._payload.string);
      break;
    default:
      _payload = other._payload;
  }
  _kind = other._kind;
}

void JsonValue::release() noexcept {
  switch (_kind) {
    case JsonClass::Object:
      delete _payload.object;
      break;
    case JsonClass::Array:
      delete _payload.array;
      break;
    case JsonClass::String:
      delete _payload.string;
      break;
    default:
      break;
  }
  _payload.word = 0;
  _kind = JsonClass::Null;
}

JsonValue JsonValue::make(JsonClass kind) {
  JsonValue value;
  value.set_kind(kind);
  return value;
}

void JsonValue::set_kind(JsonClass kind) {
  if (kind == _kind) return;
  release();
  switch (kind) {
    case JsonClass::Object:
      _payload.object = new ObjectMap();
      break;
    case JsonClass::Array:
      _payload.array = new ArrayList();
      break;
    case JsonClass::String:
      _payload.string = new std::string();
      break;
    case JsonClass::Floating:
      _payload.floating = 0.0;
      break;
    case JsonClass::Integral:
      _payload.integral = 0;
      break;
    case JsonClass::Boolean:
      _payload.boolean = false;
      break;
    case JsonClass::Null:
      break;
  }
  _kind = kind;
}

JsonValue& JsonValue::operator[](std::string_view key) {
  set_kind(JsonClass::Object);
  ObjectMap& object = *_payload.object;
  auto found = object.lower_bound(key);
  if (found == object.end() || found->first != key) {
    found = object.emplace_hint(found, std::string(key), JsonValue());
  }
  return found->second;
}

JsonValue& JsonValue::operator[](std::uint32_t index) {
  set_kind(JsonClass::Array);
  ArrayList& array = *_payload.array;
  if (index >= array.size()) array.resize(static_cast<std::size_t>(index) + 1);
  return array[index];
}

JsonValue& JsonValue::entry_for(std::string&& key) {
  set_kind(JsonClass::Object);
  ObjectMap& object = *_payload.object;
  if (object.empty() || object.rbegin()->first < key) {
    return object.emplace_hint(object.end(), std::move(key), JsonValue())->second;
  }
  return (*this)[key];
}

JsonValue& JsonValue::operator=(double value) {
  set_kind(JsonClass::Floating);
  _payload.floating = value;
  return *this;
}

JsonValue& JsonValue::operator=(std::int32_t value) {
  set_kind(JsonClass::Integral);
  _payload.integral = value;
  return *this;
}

JsonValue& JsonValue::operator=(bool value) {
  set_kind(JsonClass::Boolean);
  _payload.boolean = value;
  return *this;
}

JsonValue& JsonValue::operator=(std::string value) {
  set_kind(JsonClass::String);
  *_payload.string = std::move(value);
  return *this;
}

std::int32_t JsonValue::to_int(bool& ok) const {
  ok = _kind == JsonClass::Integral;
  return ok ? _payload.integral : 0;
}

double JsonValue::to_float(bool& ok) const {
  ok = _kind == JsonClass::Floating;
  return ok ? _payload.floating : 0.0;
}

std::string JsonValue::to_escaped_string() const {
  return _kind == JsonClass::String ? json_escape(*_payload.string) : std::string();
}

JsonValue::Entries JsonValue::entries() const {
  if (_kind != JsonClass::Object) return {};
  return {_payload.object->begin(), _payload.object->end()};
}

std::string JsonValue::to_text(std::int32_t depth, std::string_view indent) const {
  std::string out;
  append_text(out, depth, indent);
  return out;
}

namespace {

// printf's "%f" in the C locale whatever the process locale: six decimals, never an exponent.
void append_fixed(std::string& out, double value) {
  char buffer[400];  // DBL_MAX has 309 integer digits
  const auto end =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  out.append(buffer, end.ptr);
}

void append_integral(std::string& out, std::int32_t value) {
  char buffer[12];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, end.ptr);
}

}  // namespace

void JsonValue::append_text(std::string& out, std::int32_t depth, std::string_view indent) const {
  switch (_kind) {
    case JsonClass::Null:
      out += "null";
      return;
    case JsonClass::Boolean:
      out += _payload.boolean ? "true" : "false";
      return;
    case JsonClass::Integral:
      append_integral(out, _payload.integral);
      return;
    case JsonClass::Floating:
      append_fixed(out, _payload.floating);
      return;
    case JsonClass::String:
      out += '"';
      append_escaped(out, *_payload.string);
      out += '"';
      return;
    case JsonClass::Array: {
      out += '[';
      bool first = true;
      for (const JsonValue& element : *_payload.array) {
        if (!first) out += ", ";
        first = false;
        element.append_text(out, depth + 1, indent);
      }
      out += ']';
      return;
    }
    case JsonClass::Object: {
      std::string pad;
      for (std::int32_t level = 0; level < depth; ++level) pad += indent;
      out += "{\n";
      bool first = true;
      for (const auto& [key, value] : *_payload.object) {
        if (!first) out += ",\n";
        first = false;
        out += pad;
        out += '"';
        out += key;  // stored keys are written as they are
        out += "\" : ";
        value.append_text(out, depth + 1, indent);
      }
      // kept: the closing brace drops two characters of the pad whatever the indent, and an empty
      // object keeps its blank line ("{\n\n  }"): stored model files are these bytes.
      out += '\n';
      out.append(pad, pad.size() < 2 ? pad.size() : 2, std::string::npos);
      out += '}';
      return;
    }
  }
}

void append_escaped(std::string& out, std::string_view text) {
  for (const char byte : text) {
    switch (byte) {
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += byte;
    }
  }
}

std::string json_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  append_escaped(out, text);
  return out;
}

std::string json_unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      char byte = 0;
      switch (text[i + 1]) {
        case 'b':
          byte = '\b';
          break;
        case 't':
          byte = '\t';
          break;
        case 'n':
          byte = '\n';
          break;
        case 'f':
          byte = '\f';
          break;
        case 'r':
          byte = '\r';
          break;
        case '"':
          byte = '"';
          break;
        case '\\':
          byte = '\\';
          break;
      }
      if (byte != 0) {
        out += byte;
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

}  // namespace tarn::json
