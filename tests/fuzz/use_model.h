#pragma once

// What both encoder fuzzers do with a model they got from their input: encode, then train on, up
// to eight of its own tokens and one it has not seen, then untrain them. Encoding fails only for an
// untrained model; training fails only when a count would leave its range, and then changes
// nothing; untraining what was just trained gives back the model, wherever that model is as train
// leaves one (its average from its total, no count of 0 among the tokens), and a refused untrain
// changes nothing.

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bm25/bm25.h"

inline void use_model(tarn::typing::text::BM25& model) {
  std::vector<std::string> tokens;
  model.doc_token_frequency().for_each([&](std::string_view key, std::int32_t) {
    if (tokens.size() < 8) tokens.emplace_back(key);
  });
  tokens.emplace_back("unseen");
  try {
    model.encode_document(tokens);
    model.encode_query(tokens);
  } catch (const std::runtime_error&) {  // not initialised
  }
  const std::string before = model.state();
  // Bit for bit: a state may hold an average of -0.0, which train and untrain never compute.
  const double average = model.doc_count() == 0 ? 0.0
                                                : static_cast<double>(model.doc_length_total()) /
                                                      static_cast<double>(model.doc_count());
  const bool as_trained = (model.doc_count() != 0 || model.doc_length_total() == 0) &&
                          std::bit_cast<std::uint64_t>(model.doc_length_average()) ==
                              std::bit_cast<std::uint64_t>(average);
  bool zero_count = false;
  for (const std::string& token : tokens) {
    const std::int32_t* count = model.doc_token_frequency().find(token);
    zero_count = zero_count || (count != nullptr && *count == 0);
  }
  try {
    model.train(tokens);
  } catch (const std::runtime_error&) {
    if (model.state() != before) std::abort();
    return;
  }
  const std::string after = model.state();
  try {
    model.untrain(tokens);
  } catch (const std::invalid_argument&) {  // negative counts or totals that a loaded model held
    if (model.state() != after) std::abort();
    return;
  }
  if (as_trained && !zero_count && model.state() != before) std::abort();
  // Once more: "unseen" is gone unless the model held it, so this is mostly refused.
  const std::string again = model.state();
  try {
    model.untrain(tokens);
  } catch (const std::invalid_argument&) {
    if (model.state() != again) std::abort();
  }
}
