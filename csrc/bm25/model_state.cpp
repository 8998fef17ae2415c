// An encoder's exact state as a compact binary, for pickles. Every number is little-endian:
//
//   magic "BM25", version (u32, 1)
//   b, k1, average document length (IEEE-754 double bits, u64 each)
//   document count (i32), document length total (i64), entry count (u64)
//   per entry, in ascending byte order of the keys: key length (u32), key bytes, count (i32)
//
// The reader checks the structure: magic, version, every length against the bytes left, nothing
// after the last entry, keys strictly ascending (so none repeats, and each encoder has one state).
// It does not check the values against each other or against what training produces: `load` can
// give an encoder any counts and average, and such an encoder must survive a pickle too.

#include <bit>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "bm25.h"

namespace tarn::typing::text {
namespace {

constexpr char kMagic[4] = {'B', 'M', '2', '5'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderBytes = 4 + 4 + 3 * 8 + 4 + 8 + 8;
constexpr std::size_t kEntryBytes = 4 + 4;  // an entry with an empty key

[[noreturn]] void refuse(const char* why) {
  throw std::invalid_argument(std::string("BM25 state ") + why);
}

class Writer {
 public:
  explicit Writer(char* at) : _at(at) {}
  void bytes(std::string_view data) {
    std::memcpy(_at, data.data(), data.size());
    _at += data.size();
  }
  template <class Int>
  void integer(Int value) {
    auto bits = static_cast<std::make_unsigned_t<Int>>(value);
    for (std::size_t i = 0; i < sizeof(Int); ++i, bits >>= 8) *_at++ = static_cast<char>(bits);
  }
  void real(double value) { integer(std::bit_cast<std::uint64_t>(value)); }

 private:
  char* _at;
};

class Reader {
 public:
  explicit Reader(std::string_view data) : _rest(data) {}
  std::size_t left() const { return _rest.size(); }
  std::string_view bytes(std::size_t size) {
    if (size > _rest.size()) refuse("is truncated");
    const std::string_view taken = _rest.substr(0, size);
    _rest.remove_prefix(size);
    return taken;
  }
  template <class Int>
  Int integer() {
    const std::string_view data = bytes(sizeof(Int));
    std::make_unsigned_t<Int> bits = 0;
    for (std::size_t i = sizeof(Int); i-- > 0;) {
      bits = (bits << 8) | static_cast<unsigned char>(data[i]);
    }
    return static_cast<Int>(bits);
  }
  double real() { return std::bit_cast<double>(integer<std::uint64_t>()); }

 private:
  std::string_view _rest;
};

}  // namespace

std::string BM25::state() const {
  const std::vector<KeyedCount> entries = _doc_token_frequency.in_key_order();
  std::size_t size = kHeaderBytes;
  for (const KeyedCount& entry : entries) size += kEntryBytes + entry.key.size();

  std::string state(size, '\0');
  Writer out(state.data());
  out.bytes({kMagic, sizeof kMagic});
  out.integer(kVersion);
  out.real(_b);
  out.real(_k1);
  out.real(_doc_length_average);
  out.integer(_doc_count);
  out.integer(_doc_length_total);
  out.integer(std::uint64_t{entries.size()});
  for (const KeyedCount& entry : entries) {
    out.integer(static_cast<std::uint32_t>(entry.key.size()));  // keys are under 4 GiB
    out.bytes(entry.key);
    out.integer(entry.count);
  }
  return state;
}

BM25 BM25::from_state(std::string_view state) {
  Reader in(state);
  if (state.size() < sizeof kMagic || std::memcmp(state.data(), kMagic, sizeof kMagic) != 0) {
    refuse("is not a BM25 state");
  }
  in.bytes(sizeof kMagic);
  if (in.integer<std::uint32_t>() != kVersion) refuse("has a version this module does not know");
  BM25 model(0.0, 0.0);
  model._b = in.real();
  model._k1 = in.real();
  model._doc_length_average = in.real();
  model._doc_count = in.integer<std::int32_t>();
  model._doc_length_total = in.integer<std::int64_t>();
  const auto entry_count = in.integer<std::uint64_t>();
  // Checked before anything is sized by it: a hostile count must not reserve terabytes.
  if (entry_count > in.left() / kEntryBytes) refuse("is truncated");

  std::vector<std::pair<std::string_view, std::int32_t>> entries;
  entries.reserve(entry_count);
  std::size_t key_bytes = 0;
  for (std::uint64_t i = 0; i < entry_count; ++i) {
    const std::string_view key = in.bytes(in.integer<std::uint32_t>());
    const auto count = in.integer<std::int32_t>();
    if (!entries.empty() && !(entries.back().first < key)) {
      refuse("has keys out of order or repeated");
    }
    entries.emplace_back(key, count);
    key_bytes += key.size();
  }
  if (in.left() != 0) refuse("has bytes after its end");

  model._doc_token_frequency.reserve(entries.size(), key_bytes);
  for (const auto& [key, count] : entries) {
    model._doc_token_frequency.insert_new(key, hash_token(key), count);
  }
  return model;
}

}  // namespace tarn::typing::text
