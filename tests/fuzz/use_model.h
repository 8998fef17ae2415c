#pragma once

// What both encoder fuzzers do with a model they got from their input: encode, then train on, up
// to eight of its own tokens and one it has not seen. Encoding fails only for an untrained model;
// training fails only when a count would leave its range, and then changes nothing.

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
  try {
    model.train(tokens);
  } catch (const std::runtime_error&) {
    if (model.state() != before) std::abort();
  }
}
