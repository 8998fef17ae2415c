#pragma once

// MurmurHash3 x86_32, Austin Appleby's public-domain hash: what sparse-vector stores and the
// libraries that feed them hash a token's bytes with to key it by a 32-bit index. Blocks are read
// little-endian and the tail bytes unsigned, as the reference code does, so every platform gives
// the reference's value.

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tarn {

inline std::uint32_t murmur3_x86_32(std::string_view bytes, std::uint32_t seed = 0) {
  static_assert(std::endian::native == std::endian::little, "blocks load as little-endian words");
  constexpr std::uint32_t c1 = 0xCC9E2D51u;
  constexpr std::uint32_t c2 = 0x1B873593u;
  const auto scramble = [&](std::uint32_t k) { return std::rotl(k * c1, 15) * c2; };
  const char* data = bytes.data();
  const std::size_t blocks = bytes.size() / 4;
  std::uint32_t hash = seed;
  for (std::size_t i = 0; i < blocks; ++i) {
    std::uint32_t block;
    std::memcpy(&block, data + 4 * i, 4);
    hash = std::rotl(hash ^ scramble(block), 13) * 5 + 0xE6546B64u;
  }
  const auto* tail = reinterpret_cast<const unsigned char*>(data + 4 * blocks);
  std::uint32_t last = 0;
  switch (bytes.size() & 3) {
    case 3:
      last ^= std::uint32_t{tail[2]} << 16;
      [[fallthrough]];
    case 2:
      last ^= std::uint32_t{tail[1]} << 8;
      [[fallthrough]];
    case 1:
      last ^= tail[0];
      hash ^= scramble(last);
  }
  hash ^= static_cast<std::uint32_t>(bytes.size());  // the length modulo 2^32, as the reference
  hash ^= hash >> 16;
  hash *= 0x85EBCA6Bu;
  hash ^= hash >> 13;
  hash *= 0xC2B2AE35u;
  return hash ^ (hash >> 16);
}

}  // namespace tarn
