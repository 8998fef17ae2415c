// Any text handed to load: it loads or throws, and a model it loads dumps and loads back into a
// fresh encoder with the same statistics. Encoding the loaded model never fails but for its own
// documented error.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bm25/bm25.h"
#include "use_model.h"

using tarn::typing::text::BM25;

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

bool same_statistics(const BM25& left, const BM25& right) {
  if (left.doc_count() != right.doc_count()) return false;
  if (left.doc_token_frequency().size() != right.doc_token_frequency().size()) return false;
  bool same = true;
  left.doc_token_frequency().for_each([&](std::string_view key, std::int32_t count) {
    const std::int32_t* found = right.doc_token_frequency().find(key);
    same = same && found != nullptr && *found == count;
  });
  return same;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  BM25 model(0.75, 1.2);
  try {
    model.load(text);
  } catch (const std::exception&) {
    return 0;  // refused: nothing more to check
  }

  use_model(model);

  static const std::string path = "/tmp/bm25_model_fuzzer." + std::to_string(::getpid()) + ".json";
  try {
    model.dump(path);
  } catch (const std::runtime_error&) {
    return 0;  // a value JSON cannot hold
  }
  BM25 restored(0.1, 0.1);
  restored.load(read_file(path));
  if (!same_statistics(model, restored)) std::abort();
  return 0;
}
