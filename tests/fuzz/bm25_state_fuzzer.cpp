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
#include "use_model.h"

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

  try {
    model.merge(model);
  } catch (const std::runtime_error&) {  // a count would leave its range
  }
  use_model(model);
  return 0;
}
