// Any bytes handed to the pickled-state decoder: it restores an encoder or throws
// std::invalid_argument, and what it restores encodes back to exactly the bytes it was given (the
// state is canonical), survives a merge with itself and encodes without failing but for its own
// documented errors.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bm25/bm25.h"

using tarn::typing::text::BM25;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view state(reinterpret_cast<const char*>(data), size);
  BM25 model(0.0, 0.0);
  try {
    model = BM25::from_state(state);
  } catch (const std::invalid_argument&) {
    return 0;
  }
  if (model.state() != state) std::abort();

  std::vector<std::string> tokens;
  model.doc_token_frequency().for_each([&](std::string_view key, std::int32_t) {
    if (tokens.size() < 8) tokens.emplace_back(key);
  });
  tokens.emplace_back("unseen");
  try {
    model.encode_document(tokens);
    model.encode_query(tokens);
    model.merge(model);
    model.train(tokens);
  } catch (const std::runtime_error&) {  // not initialised, or a count would leave its range
  }
  return 0;
}
