#pragma once

#include <cstdint>

namespace tarn {

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
