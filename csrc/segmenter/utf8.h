#pragma once

// cppjieba's UTF-8 decoder, to the bit: it looks at the lead byte only and takes the next bytes
// whatever they are (so "\xC3\x28" is one character, U+00E8), and gives up only on a lead byte
// above 0xF7 or a sequence cut short by the end. Its words are made of what this decoder finds.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pytarntext::segmenter {

using Rune = std::uint32_t;

struct Decoded {
  Rune rune;
  std::uint32_t length;  // bytes; 0 where the decoder gives up
};

inline Decoded decode_rune(const unsigned char* bytes, std::size_t left) {
  const unsigned lead = bytes[0];
  if (lead < 0x80) return {lead, 1};
  if (lead <= 0xDF && left > 1) return {((lead & 0x1Fu) << 6) | (bytes[1] & 0x3Fu), 2};
  if (lead <= 0xEF && left > 2) {
    return {((lead & 0x0Fu) << 12) | ((bytes[1] & 0x3Fu) << 6) | (bytes[2] & 0x3Fu), 3};
  }
  if (lead <= 0xF7 && left > 3) {
    return {((lead & 0x07u) << 18) | ((bytes[1] & 0x3Fu) << 12) | ((bytes[2] & 0x3Fu) << 6) |
                (bytes[3] & 0x3Fu),
            4};
  }
  return {0, 0};
}

// Calls visit(rune, offset) for each character of `text`; false, having visited some, where the
// decoder gives up.
template <class Visit>
bool for_each_rune(std::string_view text, Visit&& visit) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t at = 0; at < text.size();) {
    const Decoded decoded = decode_rune(bytes + at, text.size() - at);
    if (decoded.length == 0) return false;
    visit(decoded.rune, at);
    at += decoded.length;
  }
  return true;
}

// Whether `text` is UTF-8 as Unicode defines it (no overlong form, no surrogate, at most U+10FFFF).
inline bool is_strict_utf8(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  for (std::size_t at = 0; at < size;) {
    const unsigned lead = bytes[at];
    std::size_t length = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;  // the range of the second byte
    if (lead < 0x80) {
      ++at;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (size - at < length || bytes[at + 1] < low || bytes[at + 1] > high) return false;
    for (std::size_t i = 2; i < length; ++i) {
      if ((bytes[at + i] & 0xC0) != 0x80) return false;
    }
    at += length;
  }
  return true;
}

}  // namespace pytarntext::segmenter
