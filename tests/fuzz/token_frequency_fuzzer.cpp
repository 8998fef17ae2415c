// Any sequence of insertions, increments and removals on the token table gives what a std::map
// gives: every key findable with its count, removed keys gone, the size right, and the arena of
// long keys at most twice what its live keys take.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "bm25/token_frequency.h"

using tarn::typing::text::TokenFrequency;

namespace {

void check(const TokenFrequency& table, const std::map<std::string, std::int32_t>& expected) {
  if (table.size() != expected.size()) std::abort();
  std::size_t long_bytes = 0;
  for (const auto& [key, count] : expected) {
    const std::int32_t* found = table.find(key);
    if (found == nullptr || *found != count) std::abort();
    if (key.size() > 8) long_bytes += 4 + key.size();
  }
  if (table.arena_bytes() > 2 * long_bytes) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TokenFrequency table;
  std::map<std::string, std::int32_t> expected;
  // Each step: an operation byte, then a key of (operation >> 2) % 24 bytes. Keys of up to 23
  // bytes hold both forms, in the slot and in the arena.
  std::size_t at = 0;
  while (at < size) {
    const std::uint8_t operation = data[at++];
    const std::size_t length = std::min<std::size_t>((operation >> 2) % 24, size - at);
    const std::string key(reinterpret_cast<const char*>(data + at), length);
    at += length;
    switch (operation & 3) {
      case 0:
      case 1:
        table[key] += 1;
        expected[key] += 1;
        break;
      case 2:
        if (table.erase(key) != (expected.erase(key) == 1)) std::abort();
        break;
      default:
        if ((table.find(key) == nullptr) != (expected.find(key) == expected.end())) std::abort();
        break;
    }
  }
  check(table, expected);
  for (auto entry = expected.begin(); entry != expected.end();) {
    if (!table.erase(entry->first)) std::abort();
    entry = expected.erase(entry);
    if (expected.size() % 16 == 0) check(table, expected);
  }
  check(table, expected);
  return 0;
}
