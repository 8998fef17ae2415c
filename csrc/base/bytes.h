#pragma once

// The byte-level primitives that every table, the JSON parser and the casters share: loading
// short keys without a library call, hashing them, writing UTF-8. Inline: they run once per token
// or character on every hot path.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tarn {

// Eight bytes as one word in memory order.
inline std::uint64_t load8(const char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, 8);
  return word;
}

// Folded 64x64->128 multiply: cheap, and spreads every input bit over both halves.
inline std::uint64_t fold_multiply(std::uint64_t a, std::uint64_t b) {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

// Up to eight bytes as a zero-padded word in memory order, without a variable-length memcpy (a
// libc call on every token otherwise). Overlapping loads read every byte at least once.
inline std::uint64_t load_short(const char* bytes, std::size_t size) {
  static_assert(std::endian::native == std::endian::little);
  if (size >= 4) {
    if (size == 8) {
      std::uint64_t word;  // not load8: GCC 12 then schedules the token loops worse (callgrind)
      std::memcpy(&word, bytes, 8);
      return word;
    }
    std::uint32_t low, high;
    std::memcpy(&low, bytes, 4);
    std::memcpy(&high, bytes + size - 4, 4);
    return low | (std::uint64_t{high} << (8 * (size - 4)));
  }
  if (size == 0) return 0;
  const auto byte = [&](std::size_t at) {
    return std::uint64_t{static_cast<unsigned char>(bytes[at])};
  };
  return byte(0) | (byte(size / 2) << (8 * (size / 2))) | (byte(size - 1) << (8 * (size - 1)));
}

// splitmix64's finaliser: a bijection whose every output bit depends on every input bit, so that
// values differing only in high bits (integer ids, a counter) still spread over a table's low bits.
inline std::uint64_t mix64(std::uint64_t x) {
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Hash of a token key; callers that look a key up more than once compute it once.
inline std::uint64_t hash_token(std::string_view key) {
  const char* bytes = key.data();
  std::size_t left = key.size();
  std::uint64_t hash = 0x9E3779B97F4A7C15ull ^ left;
  while (left > 8) {
    std::uint64_t word;  // as in load_short, not load8
    std::memcpy(&word, bytes, 8);
    hash = fold_multiply(hash ^ word, 0xBF58476D1CE4E5B9ull);
    bytes += 8;
    left -= 8;
  }
  return fold_multiply(hash ^ load_short(bytes, left) ^ 0x94D049BB133111EBull,
                       0x2545F4914F6CDD1Dull);
}

// Writes the UTF-8 form of `code_point` (at most 0x10FFFF) at `out` and returns the end. A
// surrogate gets the three bytes its value would take; callers that must refuse one check first.
inline char* write_utf8(std::uint32_t code_point, char* out) {
  if (code_point < 0x80) {
    *out++ = static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    *out++ = static_cast<char>(0xC0 | (code_point >> 6));
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (code_point >> 12));
    *out++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (code_point >> 18));
    *out++ = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  }
  return out;
}

}  // namespace tarn
