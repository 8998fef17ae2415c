#include "bm25.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>

#include "base/murmur3.h"

namespace tarn::typing::text {
namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
// The least inverse document frequency a query token weighs in with. Counts are occurrences, so a
// token that occurs more often than there are documents would weigh less than nothing, and dividing
// by the query's sum could flip or blow up every weight; floored, it counts for almost nothing and
// the weights stay positive. Below the idf of any token rarer than that on corpora of up to
// 500,000 documents, and far above the 1e-9 under which a weight counts as unset.
constexpr double kQueryIdfFloor = 1e-6;
// The longest decimal text of a signed 64-bit integer: "-9223372036854775808".
constexpr std::size_t kDecimalCapacity = 20;

// The refusal of a count that would leave the range of Int: train's message for the top, its
// mirror for the bottom (reached only from counts that a loaded model made negative).
template <class Int>
[[noreturn]] void out_of_range(const char* what, bool high = true) {
  throw std::runtime_error(
      std::string(what) + (high ? " would exceed " : " would fall below ") +
      std::to_string(high ? std::numeric_limits<Int>::max() : std::numeric_limits<Int>::min()));
}

// kept: the misspelling is the message callers have always matched.
constexpr const char* kEmptyDocument = "trainning tokens_vec should not be empty";

[[noreturn]] void token_frequency_out_of_range() {
  out_of_range<std::int32_t>("BM25 token frequency");
}

template <class Token>
struct Distinct {
  Token token;
  std::size_t position;  // first occurrence in the input
  std::uint64_t hash;
  std::int64_t count;
};

inline std::uint64_t local_hash(std::string_view token) { return hash_token(token); }

// Ids that differ only in high bits still spread over the table.
inline std::uint64_t local_hash(std::int64_t token) {
  return mix64(static_cast<std::uint64_t>(token));
}

inline bool same(std::string_view left, std::string_view right) { return same_token(left, right); }
inline bool same(std::int64_t left, std::int64_t right) { return left == right; }

inline std::string_view decimal_key(std::int64_t token, char* buffer) {
  const auto end = std::to_chars(buffer, buffer + kDecimalCapacity, token).ptr;
  return {buffer, static_cast<std::size_t>(end - buffer)};
}

inline std::uint64_t order_key(std::string_view token) { return byte_order_prefix(token); }

inline std::uint64_t order_key(std::int64_t token) {
  return static_cast<std::uint64_t>(token) ^ (std::uint64_t{1} << 63);
}

// The document's term frequencies, one entry per distinct token, in order of first occurrence.
// Counting is local to the document, so the probes stay in cache.
template <class Token>
std::vector<Distinct<Token>> count_distinct(std::span<const Token> tokens) {
  constexpr std::size_t kFewestSlots = 16;
  // Index into `distinct`, plus one. Typical documents fit on the stack.
  constexpr std::size_t kStackSlots = 512;
  static_assert(is_slot_count(kFewestSlots), "slot counts double from here, and the probe masks");
  std::size_t slot_count = kFewestSlots;
  while (slot_count < tokens.size() * 2) slot_count *= 2;  // at most half full
  const std::size_t mask = slot_count - 1;
  std::size_t stack_slots[kStackSlots];
  std::vector<std::size_t> heap_slots;
  std::size_t* slots = stack_slots;
  if (slot_count <= kStackSlots) {
    std::fill_n(stack_slots, slot_count, 0);
  } else {
    heap_slots.assign(slot_count, 0);
    slots = heap_slots.data();
  }
  std::vector<Distinct<Token>> distinct;
  distinct.reserve(tokens.size());
  for (std::size_t position = 0; position < tokens.size(); ++position) {
    const Token& token = tokens[position];
    const std::uint64_t hash = local_hash(token);
    for (Probe probe(hash, mask);; probe.next()) {
      std::size_t& slot = slots[probe.index()];
      if (slot == 0) {
        distinct.push_back({token, position, hash, 1});
        slot = distinct.size();
        break;
      }
      Distinct<Token>& seen = distinct[slot - 1];
      if (seen.hash == hash && same(seen.token, token)) {
        ++seen.count;
        break;
      }
    }
  }
  return distinct;
}

// The entries in token order, as their indices. Sorts 16-byte records rather than the entries
// themselves.
struct OrderRecord {
  std::uint64_t order;
  std::size_t index;
};

template <class Token>
std::vector<OrderRecord> token_order(const std::vector<Distinct<Token>>& distinct) {
  std::vector<OrderRecord> records(distinct.size());
  for (std::size_t i = 0; i < distinct.size(); ++i) records[i] = {order_key(distinct[i].token), i};
  std::sort(records.begin(), records.end(), [&](const OrderRecord& left, const OrderRecord& right) {
    if (left.order != right.order) return left.order < right.order;
    return distinct[left.index].token < distinct[right.index].token;
  });
  return records;
}

}  // namespace

BM25::BM25(double b, double k1) : _b(b), _k1(k1) {}

void BM25::train(const std::vector<std::string>& tokens_vec) {
  const std::vector<std::string_view> views(tokens_vec.begin(), tokens_vec.end());
  train(std::span<const std::string_view>(views));
}

void BM25::train(std::span<const std::int64_t> tokens_vec) {
  change_document(tokens_vec, &BM25::add_document);
}

// The key under which each distinct token is counted, with its hash: a text token is its own key,
// an integer token its decimal text, written into `decimal`.
template <class Entry>
std::vector<BM25::KeyCount> BM25::statistic_keys(const std::vector<Entry>& distinct,
                                                 std::string& decimal) {
  std::vector<KeyCount> keys;
  keys.reserve(distinct.size());
  if constexpr (std::is_same_v<decltype(Entry::token), std::int64_t>) {
    decimal.resize(distinct.size() * kDecimalCapacity);
    for (std::size_t i = 0; i < distinct.size(); ++i) {
      const std::string_view key =
          decimal_key(distinct[i].token, decimal.data() + i * kDecimalCapacity);
      keys.push_back({key, hash_token(key), distinct[i].count});
    }
  } else {
    for (const Entry& entry : distinct) keys.push_back({entry.token, entry.hash, entry.count});
  }
  return keys;
}

template <class Token>
void BM25::change_document(std::span<const Token> tokens, DocumentChange change) {
  if (tokens.empty()) throw std::runtime_error(kEmptyDocument);
  const auto distinct = count_distinct(tokens);
  std::string decimal;  // the integer tokens' keys, which `keys` points into
  const std::vector<KeyCount> keys = statistic_keys(distinct, decimal);
  (this->*change)(keys, tokens.size());
}

// Text tokens count straight into the table, one lookup per token: in real text most of a
// document's tokens are already there, and counting the document apart first costs more than the
// lookups it saves. Integer tokens still count per document, since each distinct one is turned
// into its decimal key only once.
void BM25::train(std::span<const std::string_view> tokens_vec) {
  if (tokens_vec.empty()) throw std::runtime_error(kEmptyDocument);
  const std::int64_t length_total = next_length_total(tokens_vec.size());
  std::vector<std::uint64_t> hashes(tokens_vec.size());
  for (std::size_t i = 0; i < tokens_vec.size(); ++i) {
    hashes[i] = hash_token(tokens_vec[i]);
    _doc_token_frequency.prefetch(hashes[i]);
  }
  std::vector<std::string_view> absent;
  absent.reserve(tokens_vec.size());  // so that nothing below throws before the try
  for (std::size_t i = 0; i < tokens_vec.size(); ++i) {
    std::int32_t* count = _doc_token_frequency.find(tokens_vec[i], hashes[i]);
    if (count == nullptr) {
      absent.push_back(tokens_vec[i]);
    } else if (*count == kInt32Max) {
      undo_counts(tokens_vec.first(i), hashes);
      token_frequency_out_of_range();
    } else {
      ++*count;
    }
  }
  // The keys that are new: no pointer into the table is held from here on, so it may grow.
  try {
    std::string decimal;
    const auto keys =
        statistic_keys(count_distinct(std::span<const std::string_view>(absent)), decimal);
    std::size_t key_bytes = 0;
    for (const KeyCount& key : keys) {
      if (key.count > kInt32Max) token_frequency_out_of_range();
      if (key.key.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("token key longer than 4 GiB");
      }
      key_bytes += key.key.size();
    }
    _doc_token_frequency.reserve(keys.size(), key_bytes);
    for (const KeyCount& key : keys) {
      _doc_token_frequency.insert_new(key.key, key.hash, static_cast<std::int32_t>(key.count));
    }
  } catch (...) {
    undo_counts(tokens_vec, hashes);  // nothing was inserted: every throw above precedes insert_new
    throw;
  }
  add_to_totals(length_total);
}

// Takes back one count for each token that the table holds: the increments of a refused document.
void BM25::undo_counts(std::span<const std::string_view> tokens,
                       std::span<const std::uint64_t> hashes) {
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (std::int32_t* count = _doc_token_frequency.find(tokens[i], hashes[i])) --*count;
  }
}

// The length total with one more document of `length` tokens. Throws, changing nothing, when the
// document count or the total would leave its range.
std::int64_t BM25::next_length_total(std::size_t length) const {
  if (_doc_count == kInt32Max) out_of_range<std::int32_t>("BM25 document count");
  std::int64_t length_total;
  if (length > static_cast<std::size_t>(std::numeric_limits<std::int64_t>::max()) ||
      __builtin_add_overflow(_doc_length_total, static_cast<std::int64_t>(length), &length_total)) {
    out_of_range<std::int64_t>("BM25 document length total");
  }
  return length_total;
}

void BM25::add_to_totals(std::int64_t length_total) {
  ++_doc_count;
  _doc_length_total = length_total;
  _doc_length_average = static_cast<double>(_doc_length_total) / static_cast<double>(_doc_count);
}

void BM25::add_document(std::span<const KeyCount> keys, std::size_t length) {
  const std::int64_t length_total = next_length_total(length);
  std::size_t key_bytes = 0;
  for (const KeyCount& key : keys) key_bytes += key.key.size();
  // Room first: with no allocation left to fail, the update below is all or nothing.
  _doc_token_frequency.reserve(keys.size(), key_bytes);
  for (const KeyCount& key : keys) _doc_token_frequency.prefetch(key.hash);
  std::vector<std::int32_t*> counts(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    counts[i] = _doc_token_frequency.find(keys[i].key, keys[i].hash);
    const std::int64_t total = (counts[i] ? *counts[i] : 0) + keys[i].count;
    if (total > kInt32Max) token_frequency_out_of_range();
  }
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const auto count = static_cast<std::int32_t>(keys[i].count);
    if (counts[i]) {
      *counts[i] += count;
    } else {
      _doc_token_frequency.insert_new(keys[i].key, keys[i].hash, count);
    }
  }
  add_to_totals(length_total);
}

void BM25::untrain(const std::vector<std::string>& tokens_vec) {
  const std::vector<std::string_view> views(tokens_vec.begin(), tokens_vec.end());
  untrain(std::span<const std::string_view>(views));
}

void BM25::untrain(std::span<const std::string_view> tokens_vec) {
  change_document(tokens_vec, &BM25::remove_document);
}
void BM25::untrain(std::span<const std::int64_t> tokens_vec) {
  change_document(tokens_vec, &BM25::remove_document);
}

namespace {

[[noreturn]] void never_held(const char* why) {
  throw std::invalid_argument(std::string("BM25 cannot untrain a document it never held: ") + why);
}

}  // namespace

void BM25::remove_document(std::span<const KeyCount> keys, std::size_t length) {
  // Every check before the first change; a loaded model may hold any counts, negative ones too.
  if (_doc_count <= 0) never_held("it holds no document");
  if (_doc_length_total < 0 || static_cast<std::uint64_t>(_doc_length_total) < length) {
    never_held("the length total is less than the document's length");
  }
  for (const KeyCount& key : keys) _doc_token_frequency.prefetch(key.hash);
  std::vector<std::int32_t*> counts(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    counts[i] = _doc_token_frequency.find(keys[i].key, keys[i].hash);
    if (counts[i] == nullptr) never_held("a token has no count");
    if (*counts[i] < keys[i].count) never_held("a token occurs more often than its count");
  }
  // The pointers stay valid until the first removal, so every count changes before any key goes.
  bool emptied = false;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    *counts[i] -= static_cast<std::int32_t>(keys[i].count);
    emptied = emptied || *counts[i] == 0;
  }
  if (emptied) {
    for (const KeyCount& key : keys) {
      const std::int32_t* count = _doc_token_frequency.find(key.key, key.hash);
      if (*count == 0) _doc_token_frequency.erase(key.key, key.hash);
    }
  }
  --_doc_count;
  _doc_length_total -= static_cast<std::int64_t>(length);
  // As train computes it; with no document left, the untrained encoder's 0.0.
  _doc_length_average =
      _doc_count == 0 ? 0.0
                      : static_cast<double>(_doc_length_total) / static_cast<double>(_doc_count);
}

namespace {

// a + b for counts that a loaded model may have made negative: throws when the sum leaves the
// type's range.
template <class Int>
Int checked_sum(Int a, Int b, const char* what) {
  Int sum;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  out_of_range<Int>(what, b > 0);
}

// Equal, or the same bits (two NaNs): merging encoders of one configuration never fails.
bool same_parameter(double left, double right) {
  return left == right || std::bit_cast<std::uint64_t>(left) == std::bit_cast<std::uint64_t>(right);
}

}  // namespace

void BM25::merge(const BM25& other) {
  if (&other == this) {
    const BM25 copy = other;  // the table below is changed while the other's is read
    return merge(copy);
  }
  if (!same_parameter(_b, other._b) || !same_parameter(_k1, other._k1)) {
    throw std::invalid_argument("BM25 merge needs equal b and k1");
  }
  const std::int32_t doc_count = checked_sum(_doc_count, other._doc_count, "BM25 document count");
  const std::int64_t length_total =
      checked_sum(_doc_length_total, other._doc_length_total, "BM25 document length total");
  // Every sum is checked, and room made, before the first count changes.
  std::size_t new_keys = 0, new_key_bytes = 0;
  other._doc_token_frequency.for_each([&](std::string_view key, std::int32_t count) {
    if (const std::int32_t* present = _doc_token_frequency.find(key)) {
      checked_sum(*present, count, "BM25 token frequency");
    } else {
      ++new_keys;
      new_key_bytes += key.size();
    }
  });
  _doc_token_frequency.reserve(new_keys, new_key_bytes);
  other._doc_token_frequency.for_each([&](std::string_view key, std::int32_t count) {
    const std::uint64_t hash = hash_token(key);
    if (std::int32_t* present = _doc_token_frequency.find(key, hash)) {
      *present += count;
    } else {
      _doc_token_frequency.insert_new(key, hash, count);
    }
  });
  _doc_count = doc_count;
  _doc_length_total = length_total;
  // As train computes it; two untrained encoders stay untrained rather than dividing 0 by 0.
  if (_doc_count != 0) {
    _doc_length_average = static_cast<double>(_doc_length_total) / static_cast<double>(_doc_count);
  }
}

namespace {

// K of the document weight, for a document of `length` tokens.
inline double saturation_of(std::size_t length, double average, double b, double k1) {
  return ((static_cast<double>(length) / average) * b + (1.0 - b)) * k1;
}

inline double document_weight(std::int64_t count, double saturation) {
  const double frequency = static_cast<double>(count);
  // kept: `0.0 +` as first written: it turns a -0.0 weight into 0.0, and callers compare
  // weights bit for bit.
  return 0.0 + frequency / (frequency + saturation);
}

}  // namespace

void BM25::check_initialized() const {
  // kept: `fabs(average - 0.0) < 1e-9` as first written: callers have always seen an average
  // below the tolerance refused as untrained.
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
  const auto distinct = count_distinct(tokens);
  const double saturation = saturation_of(tokens.size(), _doc_length_average, _b, _k1);
  PositionWeights weights;
  weights.reserve(distinct.size());
  for (const OrderRecord& record : token_order(distinct)) {
    const auto& entry = distinct[record.index];
    weights.push_back({entry.position, document_weight(entry.count, saturation)});
  }
  return weights;
}

template <class Token>
PositionWeights BM25::query_weights_of(std::span<const Token> tokens) const {
  if (tokens.empty()) return {};
  check_initialized();
  const auto distinct = count_distinct(tokens);
  std::string decimal;
  std::vector<KeyCount> keys;  // integer tokens only: a text token is its own key
  if constexpr (std::is_same_v<Token, std::int64_t>) keys = statistic_keys(distinct, decimal);
  const auto key_of = [&](std::size_t index) {
    if constexpr (std::is_same_v<Token, std::int64_t>) {
      return std::pair{keys[index].key, keys[index].hash};
    } else {
      return std::pair{distinct[index].token, distinct[index].hash};
    }
  };
  for (std::size_t i = 0; i < distinct.size(); ++i) {
    _doc_token_frequency.prefetch(key_of(i).second);
  }
  PositionWeights weights;
  weights.reserve(distinct.size());
  // Summed in ascending token order, which fixes the rounding of the total.
  double total = 0.0;
  for (const OrderRecord& record : token_order(distinct)) {
    const auto [key, hash] = key_of(record.index);
    double idf = inverse_document_frequency(key, hash);
    // Also catches NaN, which a loaded model's negative counts can give.
    if (!(idf >= kQueryIdfFloor)) idf = kQueryIdfFloor;
    weights.push_back({distinct[record.index].position, idf});
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

std::uint32_t store_index(std::string_view key, IndexForm form) {
  const std::uint32_t hash = murmur3_x86_32(key);
  if (form == IndexForm::unsigned_result || static_cast<std::int32_t>(hash) >= 0) return hash;
  return 0u - hash;  // the magnitude of the negative signed value, 2^31 included
}

namespace {

inline std::uint32_t index_of(std::string_view token, IndexForm form) {
  return store_index(token, form);
}

inline std::uint32_t index_of(std::int64_t token, IndexForm form) {
  char buffer[kDecimalCapacity];
  return store_index(decimal_key(token, buffer), form);
}

// Weights on their way into a store vector: each index in the high half of a word, the number of
// its weight in `weights` in the low half, so that one integer sort orders them (a document of
// 2^32 distinct tokens is beyond memory).
struct IndexedEntries {
  std::vector<std::uint64_t> keys;
  std::vector<double> weights;

  explicit IndexedEntries(std::size_t size) : keys(size), weights(size) {}
  void set(std::size_t at, std::uint32_t index, double weight) {
    keys[at] = (std::uint64_t{index} << 32) | at;
    weights[at] = weight;
  }
};

// Sorts the weights by index and adds up those that share one. Where tokens share an index,
// `token_before` (on the numbers of their weights) orders them, so that their weights always add
// up in token order, to the same bits.
template <class TokenBefore>
IndexedWeights grouped_by_index(IndexedEntries& entries, TokenBefore token_before) {
  std::vector<std::uint64_t>& keys = entries.keys;
  std::sort(keys.begin(), keys.end());
  const auto index_of_key = [](std::uint64_t key) { return static_cast<std::uint32_t>(key >> 32); };
  const auto weight_of_key = [](std::uint64_t key) { return static_cast<std::uint32_t>(key); };
  IndexedWeights result;
  result.indices.reserve(keys.size());
  result.values.reserve(keys.size());
  for (std::size_t start = 0; start < keys.size();) {
    std::size_t end = start + 1;
    while (end < keys.size() && index_of_key(keys[end]) == index_of_key(keys[start])) ++end;
    if (end - start > 1) {  // rare: tokens that share an index
      std::sort(keys.begin() + start, keys.begin() + end,
                [&](std::uint64_t left, std::uint64_t right) {
                  return token_before(weight_of_key(left), weight_of_key(right));
                });
    }
    double sum = entries.weights[weight_of_key(keys[start])];
    for (std::size_t i = start + 1; i < end; ++i) sum += entries.weights[weight_of_key(keys[i])];
    result.indices.push_back(index_of_key(keys[start]));
    result.values.push_back(sum);
    start = end;
  }
  return result;
}

template <class Token>
bool token_before(const Token& left, const Token& right) {
  const std::uint64_t left_order = order_key(left), right_order = order_key(right);
  return left_order != right_order ? left_order < right_order : left < right;
}

}  // namespace

// The document's weights straight from its distinct tokens, sorted once, by index: no pass in
// token order as document_weights makes.
template <class Token>
IndexedWeights BM25::document_indexed_of(std::span<const Token> tokens, IndexForm form) const {
  if (tokens.empty()) return {};
  check_initialized();
  const auto distinct = count_distinct(tokens);
  const double saturation = saturation_of(tokens.size(), _doc_length_average, _b, _k1);
  IndexedEntries entries(distinct.size());
  for (std::size_t i = 0; i < distinct.size(); ++i) {
    entries.set(i, index_of(distinct[i].token, form),
                document_weight(distinct[i].count, saturation));
  }
  return grouped_by_index(entries, [&](std::uint32_t left, std::uint32_t right) {
    return token_before(distinct[left].token, distinct[right].token);
  });
}

template <class Token>
IndexedWeights BM25::query_indexed_of(std::span<const Token> tokens, IndexForm form) const {
  const PositionWeights weights = query_weights_of(tokens);  // in token order
  IndexedEntries entries(weights.size());
  for (std::size_t i = 0; i < weights.size(); ++i) {
    entries.set(i, index_of(tokens[weights[i].position], form), weights[i].weight);
  }
  return grouped_by_index(entries, std::less<std::uint32_t>());
}

IndexedWeights BM25::document_indexed(std::span<const std::string_view> tokens,
                                      IndexForm form) const {
  return document_indexed_of(tokens, form);
}
IndexedWeights BM25::document_indexed(std::span<const std::int64_t> tokens, IndexForm form) const {
  return document_indexed_of(tokens, form);
}
IndexedWeights BM25::query_indexed(std::span<const std::string_view> tokens, IndexForm form) const {
  return query_indexed_of(tokens, form);
}
IndexedWeights BM25::query_indexed(std::span<const std::int64_t> tokens, IndexForm form) const {
  return query_indexed_of(tokens, form);
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

std::map<std::string, double> BM25::encode_document(
    const std::vector<std::string>& tokens_vec) const {
  const std::vector<std::string_view> views(tokens_vec.begin(), tokens_vec.end());
  return to_map<std::string>(document_weights(views), std::span<const std::string_view>(views));
}

std::map<std::int64_t, double> BM25::encode_document(
    std::span<const std::int64_t> tokens_vec) const {
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
