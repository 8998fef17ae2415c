#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "bm25/bm25.h"
#include "same_counts.h"

namespace tarn::typing::text {
namespace {

using Text = std::vector<std::string>;

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

void expect_same_fields(const BM25& left, const BM25& right) {
  EXPECT_EQ(bits(left.b()), bits(right.b()));
  EXPECT_EQ(bits(left.k1()), bits(right.k1()));
  EXPECT_EQ(bits(left.doc_length_average()), bits(right.doc_length_average()));
  EXPECT_EQ(left.doc_count(), right.doc_count());
  EXPECT_EQ(left.doc_length_total(), right.doc_length_total());
  expect_same_counts(left.doc_token_frequency(), right.doc_token_frequency());
}

TEST(ModelState, RestoresEveryFieldExactly) {
  BM25 model(std::bit_cast<double>(std::uint64_t{0x7FF8000000000123}),
             -std::numeric_limits<double>::infinity());
  model.train(Text{"a", "", std::string("\0x", 2), "a key longer than eight bytes"});
  model.train(std::vector<std::int64_t>{std::numeric_limits<std::int64_t>::min(), 7, 7});
  model.load(R"({"_doc_token_frequency": {"negative": -5, "zero": 0}, "_doc_count": 2,
                 "_doc_length_average": 3.5, "_b": 0.1, "_k1": 0.2})");
  model.train(Text{"after load"});  // an average that is the total over the count, not the file's
  model.k1(-0.0);
  expect_same_fields(model, BM25::from_state(model.state()));
  expect_same_fields(BM25(0.75, 1.2), BM25::from_state(BM25(0.75, 1.2).state()));
}

TEST(ModelState, LayoutIsVersionedAndLittleEndian) {
  BM25 model(0.5, 2.0);
  model.train(Text{"b", "a", "b"});
  const std::string expected(
      "BM25"
      "\x01\x00\x00\x00"                  // version
      "\x00\x00\x00\x00\x00\x00\xe0\x3f"  // b
      "\x00\x00\x00\x00\x00\x00\x00\x40"  // k1
      "\x00\x00\x00\x00\x00\x00\x08\x40"  // average
      "\x01\x00\x00\x00"                  // documents
      "\x03\x00\x00\x00\x00\x00\x00\x00"  // length total
      "\x02\x00\x00\x00\x00\x00\x00\x00"  // entries, keys ascending
      "\x01\x00\x00\x00"
      "a\x01\x00\x00\x00"
      "\x01\x00\x00\x00"
      "b\x02\x00\x00\x00",
      4 + 4 + 24 + 4 + 8 + 8 + 2 * 9);
  EXPECT_EQ(model.state(), expected);
}

}  // namespace
}  // namespace tarn::typing::text
