#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "token_frequency.h"

namespace tarn::typing::text {

// A model file that could not be written: "Failed to dump: " and why, with the errno of the step
// that failed, for a caller that reports the system's own error beside it.
class DumpError : public std::runtime_error {
 public:
  DumpError(const std::string& message, int error_number)
      : std::runtime_error(message), _error_number(error_number) {}
  int error_number() const { return _error_number; }

 private:
  int _error_number;
};

// One entry of a sparse vector, naming its token by the position of the token's first occurrence
// in the input, so that a caller can reuse what it already holds for the token.
struct TokenWeight {
  std::size_t position;
  double weight;
};

// Entries in ascending token order: strings by unsigned bytes, integers by value.
using PositionWeights = std::vector<TokenWeight>;

// How a token's store index is made from the MurmurHash3 (x86, 32 bits, seed 0) of its key's
// bytes: the absolute value of the signed result, as most stores' own tokenisers take it, or the
// unsigned result. The absolute value of -2^31 is 2^31, which an unsigned index holds.
enum class IndexForm { absolute, unsigned_result };

// A sparse vector as stores take it: indices distinct and ascending, each value beside its index.
// The weights of tokens that share an index are added, in token order.
struct IndexedWeights {
  std::vector<std::uint32_t> indices;
  std::vector<double> values;
};

// The store index of a token key.
std::uint32_t store_index(std::string_view key, IndexForm form);

// BM25 sparse-vector encoder: corpus statistics trained one document at a time.
class BM25 {
 public:
  BM25(double b, double k1);

  double b() const { return _b; }
  void b(double value) { _b = value; }
  double k1() const { return _k1; }
  void k1(double value) { _k1 = value; }

  // Adds one document. Throws std::runtime_error for an empty document, or when a count would
  // pass the 32-bit range; either way nothing changes.
  void train(const std::vector<std::string>& tokens_vec);
  void train(std::span<const std::string_view> tokens_vec);
  void train(std::span<const std::int64_t> tokens_vec);

  // Takes back one document that train added, its exact inverse: the counts, the document count
  // and the length total go down by what train added, an entry whose count reaches 0 goes, and
  // the average is recomputed as train computes it (0.0 at no document). Throws
  // std::invalid_argument for a document that this encoder cannot hold (a token without a count,
  // or more often than its count; no document; a length total below the document's length), and
  // train's std::runtime_error for an empty one; either way nothing changes.
  void untrain(const std::vector<std::string>& tokens_vec);
  void untrain(std::span<const std::string_view> tokens_vec);
  void untrain(std::span<const std::int64_t> tokens_vec);

  // Restores parameters and statistics from the text of a model file, merging its token counts
  // into the present ones. Checks the whole document first: when it throws, nothing changed.
  void load(std::string_view json_data);
  // Writes the model file. The previous file at `path` stays whole until the new one is complete.
  void dump(const std::string& path) const;
  // dump in two steps, for a caller that writes without holding its own lock: the model file's
  // text, which throws for a value JSON cannot hold, then writing a text to `path`. `go_on` says
  // whether a write that a signal interrupted goes on (posix::replace_file).
  std::string model_text() const;
  // Throws DumpError where the file cannot be written.
  static void write_model(const std::string& path, std::string_view text,
                          const std::function<bool()>& go_on = {});

  // Adds another encoder's statistics to this one: counts and totals add and the average is
  // recomputed as train computes it, so shards merged in any order equal the whole corpus. Throws
  // std::invalid_argument when b or k1 differ, std::runtime_error when a count would leave its
  // range; either way nothing changes. `other` may be this encoder.
  void merge(const BM25& other);

  // Every parameter and statistic, exactly, as a compact versioned binary (model_state.cpp): what
  // a pickle carries. Equal encoders give equal bytes.
  std::string state() const;
  // The encoder that `state` holds. Throws std::invalid_argument for anything that state() could
  // not have written.
  static BM25 from_state(std::string_view state);

  std::map<std::string, double> encode_document(const std::vector<std::string>& tokens_vec) const;
  std::map<std::int64_t, double> encode_document(std::span<const std::int64_t> tokens_vec) const;
  std::map<std::string, double> encode_query(const std::vector<std::string>& tokens_vec) const;
  std::map<std::int64_t, double> encode_query(std::span<const std::int64_t> tokens_vec) const;

  // The same weights as encode_document and encode_query, keyed by input position: the binding
  // uses these so that no token is copied on the way in or out.
  PositionWeights document_weights(std::span<const std::string_view> tokens) const;
  PositionWeights document_weights(std::span<const std::int64_t> tokens) const;
  PositionWeights query_weights(std::span<const std::string_view> tokens) const;
  PositionWeights query_weights(std::span<const std::int64_t> tokens) const;

  // The weights of document_weights and query_weights keyed by the store index of each token's
  // key (an integer token's is its decimal text).
  IndexedWeights document_indexed(std::span<const std::string_view> tokens, IndexForm form) const;
  IndexedWeights document_indexed(std::span<const std::int64_t> tokens, IndexForm form) const;
  IndexedWeights query_indexed(std::span<const std::string_view> tokens, IndexForm form) const;
  IndexedWeights query_indexed(std::span<const std::int64_t> tokens, IndexForm form) const;

  std::int32_t doc_count() const { return _doc_count; }
  std::int64_t doc_length_total() const { return _doc_length_total; }
  double doc_length_average() const { return _doc_length_average; }
  const TokenFrequency& doc_token_frequency() const { return _doc_token_frequency; }

 private:
  struct KeyCount {
    std::string_view key;
    std::uint64_t hash;
    std::int64_t count;
  };

  template <class Entry>
  static std::vector<KeyCount> statistic_keys(const std::vector<Entry>& distinct,
                                              std::string& decimal);
  using DocumentChange = void (BM25::*)(std::span<const KeyCount> keys, std::size_t length);
  // A document's distinct tokens under their statistic keys, handed to `change` (add_document or
  // remove_document) with its length.
  template <class Token>
  void change_document(std::span<const Token> tokens, DocumentChange change);
  void add_document(std::span<const KeyCount> keys, std::size_t length);
  std::int64_t next_length_total(std::size_t length) const;
  void add_to_totals(std::int64_t length_total);
  void undo_counts(std::span<const std::string_view> tokens, std::span<const std::uint64_t> hashes);
  void remove_document(std::span<const KeyCount> keys, std::size_t length);
  template <class Token>
  PositionWeights document_weights_of(std::span<const Token> tokens) const;
  template <class Token>
  PositionWeights query_weights_of(std::span<const Token> tokens) const;
  template <class Token>
  IndexedWeights document_indexed_of(std::span<const Token> tokens, IndexForm form) const;
  template <class Token>
  IndexedWeights query_indexed_of(std::span<const Token> tokens, IndexForm form) const;
  void check_initialized() const;
  double inverse_document_frequency(std::string_view key, std::uint64_t hash) const;

  double _b;
  double _k1;
  std::int32_t _doc_count = 0;
  std::int64_t _doc_length_total = 0;
  double _doc_length_average = 0.0;
  TokenFrequency _doc_token_frequency;
};

}  // namespace tarn::typing::text
