// Any text, \u escapes kept or decoded: the parser returns (or throws one of its two numeric
// errors) without reading past the end of the text, and what it returns writes out as text that
// parses back to the same text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "json/json_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly `size` bytes, so that AddressSanitizer sees any read past the end.
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const bool decode : {false, true}) {
    const tarn::json::ParseOptions options{.decode_unicode = decode};
    try {
      const std::string written = tarn::json::parse_json(text, options).to_text(1, "  ");
      // Infinities and NaN (from huge exponents) are written as text that JSON cannot read.
      if (written.find("inf") != std::string::npos || written.find("nan") != std::string::npos)
        continue;
      // A space after it, since a number that ends the text is a fault.
      if (tarn::json::parse_json(written + " ", options).to_text(1, "  ") != written) std::abort();
    } catch (const std::invalid_argument&) {
    } catch (const std::out_of_range&) {
    }
  }
  return 0;
}
