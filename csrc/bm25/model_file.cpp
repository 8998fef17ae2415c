// Saving and restoring a BM25 encoder as a JSON model file.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
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

// The total that the loaded average stands for, so that training goes on from the loaded corpus.
std::int64_t length_total_of(double average, std::int32_t count) {
  const double total = std::round(average * static_cast<double>(count));
  constexpr double kLimit = 9.2e18;  // inside the signed 64-bit range
  if (std::isnan(total)) return 0;
  return static_cast<std::int64_t>(std::clamp(total, -kLimit, kLimit));
}

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

void BM25::write_model(const std::string& path, std::string_view text) {
  try {
    posix::replace_file(path, text);
  } catch (const posix::ReplaceError& error) {
    throw std::runtime_error(std::string("Failed to dump: ") + error.what());
  }
}

void BM25::load(std::string_view json_data) {
  if (json_data.empty()) throw std::runtime_error("json data should not be empty");
  // Other JSON writers escape non-ASCII text as \uXXXX; decoded by the parser, such a key is the
  // token it names, and one that holds an escaped backslash stays a different token.
  JsonValue document = json::parse_json(json_data, {.decode_unicode = true});

  // Every check passes before anything is assigned: a failed load changes nothing.
  const JsonValue frequency = std::move(document["_doc_token_frequency"]);
  std::vector<std::pair<std::string_view, std::int32_t>> counts;
  std::deque<std::string> unescaped;
  std::size_t key_bytes = 0;
  for (const auto& [key, value] : frequency.entries()) {
    bool ok = false;
    const std::int32_t count = value.to_int(ok);
    if (!ok) throw std::runtime_error("load doc_token_frequency failed");
    std::string_view token = key;
    if (token.find('\\') != std::string_view::npos) {
      token = unescaped.emplace_back(json::json_unescape(key));
    }
    counts.emplace_back(token, count);
    key_bytes += token.size();
  }
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

  _doc_token_frequency.reserve(counts.size(), key_bytes);  // the last step that can fail
  for (const auto& [token, count] : counts) _doc_token_frequency[token] = count;
  _doc_count = doc_count;
  _doc_length_average = doc_length_average;
  _doc_length_total = length_total_of(doc_length_average, doc_count);
  _b = b;
  _k1 = k1;
}

}  // namespace tarn::typing::text
