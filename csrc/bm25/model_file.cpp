// Saving and restoring a BM25 encoder as a JSON model file.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bm25.h"
#include "json/json_parser.h"
#include "json/json_value.h"
#include "posix/replace_file.h"

namespace tarn::typing::text {
namespace {

using json::JsonClass;
using json::JsonValue;

constexpr const char* kCutShort =
    "json data is cut short: it ends before its object's closing brace";

// The total that the loaded average stands for, so that training goes on from the loaded corpus.
std::int64_t length_total_of(double average, std::int32_t count) {
  const double total = std::round(average * static_cast<double>(count));
  constexpr double kLimit = 9.2e18;  // inside the signed 64-bit range
  if (std::isnan(total)) return 0;
  return static_cast<std::int64_t>(std::clamp(total, -kLimit, kLimit));
}

// The token counts of a model file, taken as the parser reads them into a table of their own: the
// document's object of tokens is never built, whose entries would cost several times the table.
// A token repeated keeps its last value, as the object would.
class TokenCounts final : public json::Outline {
 public:
  json::Outline* entry(std::string_view) override { return nullptr; }  // a count is a number

  bool take(std::string& key, JsonValue& value) override {
    std::string unescaped;
    std::string_view token = key;
    if (token.find('\\') != std::string_view::npos) token = unescaped = json::json_unescape(key);
    bool ok = false;
    const std::int32_t count = value.to_int(ok);
    if (ok) {
      _counts[token] = count;
      if (!_refused.empty()) _refused.erase(std::string(token));
    } else {
      _refused.emplace(token);
    }
    return true;
  }

  // Whether a token's last value is not an integer.
  bool any_refused() const { return !_refused.empty(); }
  TokenFrequency& counts() { return _counts; }

 private:
  TokenFrequency _counts;
  std::set<std::string> _refused;
};

// The model file's outline: the token counts, and the other entries for their kind and number.
class ModelOutline final : public json::Outline {
 public:
  json::Outline* entry(std::string_view key) override {
    if (key != "_doc_token_frequency") return nullptr;
    _tokens = TokenCounts();  // a key repeated: its last value replaces the earlier ones
    return &_tokens;
  }

  TokenCounts& tokens() { return _tokens; }

 private:
  TokenCounts _tokens;
};

}  // namespace

void BM25::dump(const std::string& path) const { write_model(path, model_text()); }

std::string BM25::model_text() const {
  for (const auto& [field, value] : {std::pair{"_b", _b}, std::pair{"_k1", _k1},
                                     std::pair{"_doc_length_average", _doc_length_average}}) {
    if (!std::isfinite(value)) {
      throw std::runtime_error(std::string("Failed to dump: ") + field +
                               " is not a finite number, which JSON cannot hold");
    }
  }

  // Keys are written escaped, so that every token reads back as itself. Sorting them first lets
  // the object take each entry at its end instead of searching a million-entry tree.
  std::deque<std::string> escaped;
  const std::vector<KeyedCount> counts =
      _doc_token_frequency.in_key_order([&](std::string_view key) -> std::string_view {
        if (key.find_first_of("\b\t\n\f\r\"\\") == std::string_view::npos) return key;
        return escaped.emplace_back(json::json_escape(key));
      });

  JsonValue document;
  JsonValue& frequency = document["_doc_token_frequency"];
  frequency.set_kind(JsonClass::Object);
  for (const KeyedCount& entry : counts) frequency.entry_for(std::string(entry.key)) = entry.count;
  document["_doc_count"] = _doc_count;
  document["_doc_length_average"] = _doc_length_average;
  document["_b"] = _b;
  document["_k1"] = _k1;

  return document.to_text(1, "  ");
}

void BM25::write_model(const std::string& path, std::string_view text,
                       const std::function<bool()>& go_on) {
  try {
    posix::replace_file(path, text, go_on);
  } catch (const posix::ReplaceError& error) {
    throw DumpError(std::string("Failed to dump: ") + error.what(), error.error_number());
  }
}

void BM25::load(std::string_view json_data) {
  if (json_data.empty()) throw std::runtime_error("json data should not be empty");
  // Other JSON writers escape non-ASCII text as \uXXXX; decoded by the parser, such a key is the
  // token it names, and one that holds an escaped backslash stays a different token. The parser
  // builds only what is read below: the token counts go straight into a table of their own.
  ModelOutline outline;
  json::Document parsed =
      json::parse_document(json_data, {.decode_unicode = true, .outline = &outline});
  // A file cut short (a copy or download that stopped) would read as a model of fewer tokens.
  if (parsed.cut_short) throw std::runtime_error(kCutShort);
  JsonValue& document = parsed.value;

  // Every check passes before anything is assigned: a failed load changes nothing.
  const bool has_tokens = document["_doc_token_frequency"].kind() == JsonClass::Object;
  TokenCounts& tokens = outline.tokens();
  if (has_tokens && tokens.any_refused())
    throw std::runtime_error("load doc_token_frequency failed");
  // A number too large for a double reads as infinity, or NaN: refused as a value of the wrong
  // kind.
  bool ok = false;
  const std::int32_t doc_count = document["_doc_count"].to_int(ok);
  if (!ok) throw std::runtime_error("load doc_count failed");
  const double doc_length_average = document["_doc_length_average"].to_float(ok);
  if (!ok || !std::isfinite(doc_length_average))
    throw std::runtime_error("load doc_length_average failed");
  const double b = document["_b"].to_float(ok);
  if (!ok || !std::isfinite(b)) throw std::runtime_error("load b failed");
  const double k1 = document["_k1"].to_float(ok);
  if (!ok || !std::isfinite(k1)) throw std::runtime_error("load k1 failed");

  if (has_tokens && !tokens.counts().empty()) {
    if (_doc_token_frequency.empty()) {
      _doc_token_frequency = std::move(tokens.counts());
    } else {
      std::size_t key_bytes = 0;
      tokens.counts().for_each(
          [&](std::string_view key, std::int32_t) { key_bytes += key.size(); });
      _doc_token_frequency.reserve(tokens.counts().size(),
                                   key_bytes);  // the last step that can fail
      tokens.counts().for_each(
          [&](std::string_view key, std::int32_t count) { _doc_token_frequency[key] = count; });
    }
  }
  _doc_count = doc_count;
  _doc_length_average = doc_length_average;
  _doc_length_total = length_total_of(doc_length_average, doc_count);
  _b = b;
  _k1 = k1;
}

}  // namespace tarn::typing::text
