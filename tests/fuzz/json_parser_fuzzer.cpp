// Any text, \u escapes kept or decoded: the parser returns (or throws one of its two numeric
// errors) without reading past the end of the text, and what it returns writes out as text that
// parses back to the same text. Read with an outline that builds nothing, the text gives a value
// of the same kind, or the same error.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "json/json_parser.h"

namespace {

class NothingOutline : public tarn::json::Outline {
 public:
  tarn::json::Outline* entry(std::string_view) override { return nullptr; }
};

// The kind of what the text parses to, or the message of what the parse threw.
std::string outcome(const std::string& text, tarn::json::ParseOptions options) {
  try {
    return std::to_string(static_cast<int>(tarn::json::parse_json(text, options).kind()));
  } catch (const std::invalid_argument& error) {
    return error.what();
  } catch (const std::out_of_range& error) {
    return error.what();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly `size` bytes, so that AddressSanitizer sees any read past the end.
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const bool decode : {false, true}) {
    const tarn::json::ParseOptions options{.decode_unicode = decode};
    NothingOutline nothing;
    if (outcome(text, {.decode_unicode = decode, .outline = &nothing}) != outcome(text, options)) {
      std::abort();
    }
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
