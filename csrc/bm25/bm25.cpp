#include "bm25.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace tarn::typing::text {
namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
// The longest decimal text of a signed 64-bit integer: "-9223372036854775808".
constexpr std::size_t kDecimalCapacity = 20;

struct Distinct {
  std::size_t position;  // first occurrence in the input
  std::uint64_t hash;
  std::int64_t count;
};

inline std::uint64_t local_hash(std::string_view token) { return hash_token(token); }

inline std::uint64_t local_hash(std::int64_t token) {
  // splitmix64's finaliser: ids that differ only in high bits still spread over the table.
  std::uint64_t x = static_cast<std::uint64_t>(token);
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

inline std::string_view decimal_key(std::int64_t token, char* buffer) {
  const auto end = std::to_chars(buffer, buffer + kDecimalCapacity, token).ptr;
  return {buffer, static_cast<std::size_t>(end - buffer)};
}

// The document's term frequencies, one entry per distinct token, in order of first occurrence.
// Counting is local to the document, so the probes stay in cache.
template <class Token>
std::vector<Distinct> count_distinct(std::span<const Token> tokens) {
  std::size_t slot_count = 16;
  while (slot_count < tokens.size() * 2) slot_count *= 2;
  const std::size_t mask = slot_count - 1;
  std::vector<std::size_t> slots(slot_count, 0);  // index into `distinct`, plus one
  std::vector<Distinct> distinct;
  distinct.reserve(tokens.size());
  for (std::size_t position = 0; position < tokens.size(); ++position) {
    const Token& token = tokens[position];
    const std::uint64_t hash = local_hash(token);
    for (std::size_t index = hash & mask;; index = (index + 1) & mask) {
      std::size_t& slot = slots[index];
      if (slot == 0) {
        distinct.push_back({position, hash, 1});
        slot = distinct.size();
        break;
      }
      Distinct& seen = distinct[slot - 1];
      if (seen.hash == hash && tokens[seen.position] == token) {
        ++seen.count;
        break;
      }
    }
  }
  return distinct;
}

template <class Token>
void sort_by_token(std::vector<Distinct>& distinct, std::span<const Token> tokens) {
  std::sort(distinct.begin(), distinct.end(), [&](const Distinct& left, const Distinct& right) {
    return tokens[left.position] < tokens[right.position];
  });
}

}  // namespace

BM25::BM25(double b, double k1) : _b(b), _k1(k1) {}

void BM25::train(const std::vector<std::string>& tokens_vec) {
  const std::vector<std::string_view> views(tokens_vec.begin(), tokens_vec.end());
  train(std::span<const std::string_view>(views));
}

void BM25::train(std::span<const std::string_view> tokens_vec) { train_tokens(tokens_vec); }

void BM25::train(std::span<const std::int64_t> tokens_vec) { train_tokens(tokens_vec); }

template <class Token>
void BM25::train_tokens(std::span<const Token> tokens) {
  if (tokens.empty()) throw std::runtime_error("trainning tokens_vec should not be empty");
  const std::vector<Distinct> distinct = count_distinct(tokens);
  std::vector<KeyCount> keys;
  keys.reserve(distinct.size());
  std::string decimal;  // integer tokens are counted under their decimal text
  if constexpr (std::is_same_v<Token, std::int64_t>) decimal.resize(distinct.size() * kDecimalCapacity);
  for (std::size_t i = 0; i < distinct.size(); ++i) {
    const Distinct& entry = distinct[i];
    if constexpr (std::is_same_v<Token, std::int64_t>) {
      const std::string_view key =
          decimal_key(tokens[entry.position], decimal.data() + i * kDecimalCapacity);
      keys.push_back({key, hash_token(key), entry.count});
    } else {
      keys.push_back({tokens[entry.position], entry.hash, entry.count});
    }
  }
  add_document(keys, tokens.size());
}

void BM25::add_document(std::span<const KeyCount> keys, std::size_t length) {
  if (_doc_count == kInt32Max) throw std::runtime_error("BM25 document count would exceed 2147483647");
  if (length > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() - _doc_length_total)) {
    throw std::runtime_error("BM25 document length total would exceed 9223372036854775807");
  }
  std::size_t key_bytes = 0;
  for (const KeyCount& key : keys) key_bytes += key.key.size();
  // Room first: with no allocation left to fail, the update below is all or nothing.
  _doc_token_frequency.reserve(keys.size(), key_bytes);
  std::vector<std::int32_t*> counts(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    counts[i] = _doc_token_frequency.find(keys[i].key, keys[i].hash);
    const std::int64_t total = (counts[i] ? *counts[i] : 0) + keys[i].count;
    if (total > kInt32Max) throw std::runtime_error("BM25 token frequency would exceed 2147483647");
  }
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const auto count = static_cast<std::int32_t>(keys[i].count);
    if (counts[i]) {
      *counts[i] += count;
    } else {
      _doc_token_frequency.insert_new(keys[i].key, keys[i].hash, count);
    }
  }
  ++_doc_count;
  _doc_length_total += static_cast<std::int64_t>(length);
  _doc_length_average = static_cast<double>(_doc_length_total) / static_cast<double>(_doc_count);
}

void BM25::check_initialized() const {
  if (_doc_count == 0 || std::fabs(_doc_length_average - 0.0) < 1e-9) {
    throw std::runtime_error("BM25 has not been initialized");
  }
}

double BM25::inverse_document_frequency(std::string_view key, std::uint64_t hash) const {
  // Widened so that a loaded count of 2147483647 does not overflow.
  const double documents = static_cast<double>(static_cast<std::int64_t>(_doc_count) + 1);
  const std::int32_t* frequency = _doc_token_frequency.find(key, hash);
  if (frequency == nullptr) return std::log(documents / 1.5);
  return std::log(documents / (static_cast<double>(*frequency) + 0.5));
}

template <class Token>
PositionWeights BM25::document_weights_of(std::span<const Token> tokens) const {
  if (tokens.empty()) return {};
  check_initialized();
  std::vector<Distinct> distinct = count_distinct(tokens);
  sort_by_token(distinct, tokens);
  const double length = static_cast<double>(tokens.size());
  const double saturation = ((length / _doc_length_average) * _b + (1.0 - _b)) * _k1;
  PositionWeights weights;
  weights.reserve(distinct.size());
  for (const Distinct& entry : distinct) {
    const double frequency = static_cast<double>(entry.count);
    weights.push_back({entry.position, 0.0 + frequency / (frequency + saturation)});
  }
  return weights;
}

template <class Token>
PositionWeights BM25::query_weights_of(std::span<const Token> tokens) const {
  if (tokens.empty()) return {};
  check_initialized();
  std::vector<Distinct> distinct = count_distinct(tokens);
  sort_by_token(distinct, tokens);
  PositionWeights weights;
  weights.reserve(distinct.size());
  // Summed in ascending token order, which fixes the rounding of the total.
  double total = 0.0;
  for (const Distinct& entry : distinct) {
    double idf;
    if constexpr (std::is_same_v<Token, std::int64_t>) {
      char buffer[kDecimalCapacity];
      const std::string_view key = decimal_key(tokens[entry.position], buffer);
      idf = inverse_document_frequency(key, hash_token(key));
    } else {
      idf = inverse_document_frequency(tokens[entry.position], entry.hash);
    }
    weights.push_back({entry.position, idf});
    total += idf;
  }
  for (TokenWeight& weight : weights) weight.weight /= total;
  return weights;
}

PositionWeights BM25::document_weights(std::span<const std::string_view> tokens) const {
  return document_weights_of(tokens);
}
PositionWeights BM25::document_weights(std::span<const std::int64_t> tokens) const {
  return document_weights_of(tokens);
}
PositionWeights BM25::query_weights(std::span<const std::string_view> tokens) const {
  return query_weights_of(tokens);
}
PositionWeights BM25::query_weights(std::span<const std::int64_t> tokens) const {
  return query_weights_of(tokens);
}

namespace {

template <class Key, class Token>
std::map<Key, double> to_map(const PositionWeights& weights, std::span<const Token> tokens) {
  std::map<Key, double> result;
  for (const TokenWeight& weight : weights) {
    result.emplace_hint(result.end(), Key(tokens[weight.position]), weight.weight);
  }
  return result;
}

}  // namespace

std::map<std::string, double> BM25::encode_document(const std::vector<std::string>& tokens_vec) const {
  const std::vector<std::string_view> views(tokens_vec.begin(), tokens_vec.end());
  return to_map<std::string>(document_weights(views), std::span<const std::string_view>(views));
}

std::map<std::int64_t, double> BM25::encode_document(std::span<const std::int64_t> tokens_vec) const {
  return to_map<std::int64_t>(document_weights(tokens_vec), tokens_vec);
}

std::map<std::string, double> BM25::encode_query(const std::vector<std::string>& tokens_vec) const {
  const std::vector<std::string_view> views(tokens_vec.begin(), tokens_vec.end());
  return to_map<std::string>(query_weights(views), std::span<const std::string_view>(views));
}

std::map<std::int64_t, double> BM25::encode_query(std::span<const std::int64_t> tokens_vec) const {
  return to_map<std::int64_t>(query_weights(tokens_vec), tokens_vec);
}

}  // namespace tarn::typing::text
