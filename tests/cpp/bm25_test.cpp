#include "bm25/bm25.h"

#include "base/murmur3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarn::typing::text {
namespace {

using Text = std::vector<std::string>;
using Ids = std::vector<std::int64_t>;

std::int32_t frequency_of(const BM25& model, std::string_view key) {
  const std::int32_t* count = model.doc_token_frequency().find(key);
  return count ? *count : -1;
}

void expect_error(const std::function<void()>& call, const char* message) {
  try {
    call();
    FAIL() << "no exception, expected: " << message;
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), message);
  }
}

BM25 trained_on_text() {
  BM25 model(0.75, 1.2);
  model.train(Text{"a", "b", "a"});
  model.train(Text{"b", "c"});
  return model;
}

TEST(BM25Train, AccumulatesCountsTotalsAndAverage) {
  BM25 model(0.75, 1.2);
  model.train(Text{"a", "b", "a"});
  EXPECT_EQ(model.doc_count(), 1);
  EXPECT_EQ(model.doc_length_total(), 3);
  EXPECT_EQ(model.doc_length_average(), 3.0);
  model.train(Text{"b", "c"});
  EXPECT_EQ(model.doc_count(), 2);
  EXPECT_EQ(model.doc_length_total(), 5);
  EXPECT_EQ(model.doc_length_average(), 2.5);
  EXPECT_EQ(frequency_of(model, "a"), 2);
  EXPECT_EQ(frequency_of(model, "b"), 2);
  EXPECT_EQ(frequency_of(model, "c"), 1);
  EXPECT_EQ(model.doc_token_frequency().size(), 3u);
}

TEST(BM25Train, IntegerTokensAreKeyedByTheirDecimalText) {
  BM25 model(0.75, 1.2);
  model.train(Ids{7, 7, -3});
  model.train(Ids{7});
  model.train(Text{"7", "007", "+7", ""});
  model.train(Ids{INT64_MIN, 0});
  EXPECT_EQ(frequency_of(model, "7"), 4);
  EXPECT_EQ(frequency_of(model, "-3"), 1);
  EXPECT_EQ(frequency_of(model, "007"), 1);
  EXPECT_EQ(frequency_of(model, "+7"), 1);
  EXPECT_EQ(frequency_of(model, ""), 1);
  EXPECT_EQ(frequency_of(model, "-9223372036854775808"), 1);
  EXPECT_EQ(frequency_of(model, "0"), 1);
}

TEST(BM25Train, EmptyDocumentIsRefusedAndChangesNothing) {
  BM25 model(0.75, 1.2);
  expect_error([&] { model.train(Text{}); }, "trainning tokens_vec should not be empty");
  expect_error([&] { model.train(Ids{}); }, "trainning tokens_vec should not be empty");
  EXPECT_EQ(model.doc_count(), 0);
  EXPECT_EQ(model.doc_length_average(), 0.0);
  expect_error([&] { model.encode_query(Text{"a"}); }, "BM25 has not been initialized");
}

TEST(BM25Encode, DocumentWeightsMatchWorkedExamples) {
  const BM25 model = trained_on_text();
  const auto weights = model.encode_document(Text{"a", "a", "c"});
  ASSERT_EQ(weights.size(), 2u);
  EXPECT_EQ(weights.at("a"), 0.591715976331361);
  EXPECT_EQ(weights.at("c"), 0.42016806722689076);

  BM25 ids(0.75, 1.2);
  ids.train(Ids{7, 7, -3});
  ids.train(Ids{7});
  const auto id_weights = ids.encode_document(Ids{7, 12, 7});
  EXPECT_EQ(id_weights.at(7), 0.547945205479452);
  EXPECT_EQ(id_weights.at(12), 0.37735849056603776);
}

TEST(BM25Encode, QueryWeightsMatchWorkedExamples) {
  const BM25 model = trained_on_text();
  const auto weights = model.encode_query(Text{"a", "d", "a"});
  EXPECT_EQ(weights.at("a"), 0.2082559308114424);
  EXPECT_EQ(weights.at("d"), 0.7917440691885577);

  BM25 ids(0.75, 1.2);
  ids.train(Ids{7, 7, -3});
  ids.train(Ids{7});
  // 7 occurs 3 times in 2 documents: its idf, ln(3 / 3.5), is floored at 1e-6.
  const auto id_weights = ids.encode_query(Ids{7, 12});
  EXPECT_EQ(id_weights.at(7), 1.4426929595229852e-06);
  EXPECT_EQ(id_weights.at(12), 0.9999985573070405);

  BM25 negative(0.75, 1.2);
  negative.train(Text{"x", "x"});
  const auto negative_weights = negative.encode_query(Text{"x", "y"});
  EXPECT_EQ(negative_weights.at("x"), 3.476047413834584e-06);
  EXPECT_EQ(negative_weights.at("y"), 0.9999965239525863);
}

TEST(BM25Encode, QueryTokensBelowTheFloorWeighAlike) {
  BM25 model(0.75, 1.2);
  model.train(Text{"x", "x", "y", "y", "y"});
  const auto text = model.encode_query(Text{"y", "x", "y"});
  EXPECT_EQ(text.at("x"), 0.5);
  EXPECT_EQ(text.at("y"), 0.5);
  // Negative counts, which only a loaded model has, make the idf NaN: floored too.
  model.load(R"({"_doc_token_frequency": {"-1": -4, "5": 3}, "_doc_count": 1,
                 "_doc_length_average": 1.0, "_b": 0.75, "_k1": 1.2})");
  const auto ids = model.encode_query(Ids{5, -1, 9});
  EXPECT_EQ(ids.at(-1), ids.at(5));
  EXPECT_GT(ids.at(9), 0.99);
}

TEST(BM25Encode, ResultsAreInUnsignedByteOrder) {
  const BM25 model = trained_on_text();
  const auto weights = model.encode_document(Text{"b", "a", "B", "\xc3\xa9", "ab", "~"});
  std::vector<std::string> keys;
  for (const auto& [key, weight] : weights) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"B", "a", "ab", "b", "~", "\xc3\xa9"}));
  const auto positions = model.document_weights(std::vector<std::string_view>{"b", "a", "b"});
  ASSERT_EQ(positions.size(), 2u);
  EXPECT_EQ(positions[0].position, 1u);  // "a", first seen at 1
  EXPECT_EQ(positions[1].position, 0u);
}

TEST(BM25Encode, EmptyInputNeedsNoTraining) {
  const BM25 model(0.75, 1.2);
  EXPECT_TRUE(model.encode_document(Text{}).empty());
  EXPECT_TRUE(model.encode_query(Ids{}).empty());
  expect_error([&] { model.encode_document(Ids{1}); }, "BM25 has not been initialized");
}

TEST(BM25Encode, ParametersChangeDocumentWeightsOnly) {
  BM25 model = trained_on_text();
  model.k1(0.0);
  EXPECT_EQ(model.encode_document(Text{"a", "q"}).at("q"), 1.0);
  model.k1(1.2);
  model.b(0.0);
  EXPECT_EQ(model.encode_document(Text{"a", "b", "c", "d", "e"}).at("a"), 1.0 / (1.0 + 1.2));
  EXPECT_EQ(model.doc_count(), 2);
  EXPECT_EQ(frequency_of(model, "a"), 2);
}

void expect_refused(BM25& model, const std::function<void()>& call, const char* message) {
  const std::string before = model.state();
  try {
    call();
    FAIL() << "no exception, expected: " << message;
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), message);
  }
  EXPECT_EQ(model.state(), before);
}

TEST(BM25Untrain, IsTheExactInverseOfTrain) {
  BM25 model = trained_on_text();
  const std::string before = model.state();
  model.train(Ids{7, 7, -3});
  model.train(Text{"a", "a-token-long-enough-for-the-arena", "new"});
  model.untrain(Text{"new", "a", "a-token-long-enough-for-the-arena"});  // any order
  model.untrain(Text{"7", "-3", "7"});  // integers are untrained by their keys
  EXPECT_EQ(model.state(), before);
  model.untrain(Text{"b", "c"});
  EXPECT_EQ(model.doc_count(), 1);
  EXPECT_EQ(model.doc_length_total(), 3);
  EXPECT_EQ(model.doc_length_average(), 3.0);
  EXPECT_EQ(frequency_of(model, "c"), -1);  // gone, not kept at 0
  model.untrain(Text{"a", "b", "a"});
  EXPECT_EQ(model.state(), BM25(0.75, 1.2).state());  // 0 documents, average 0.0, no entry
}

TEST(BM25Untrain, RefusesWhatTheEncoderNeverHeldAndChangesNothing) {
  BM25 model = trained_on_text();  // a: 2, b: 2, c: 1 in 2 documents of 5 tokens
  const char* prefix = "BM25 cannot untrain a document it never held: ";
  const std::string unknown = std::string(prefix) + "a token has no count";
  const std::string too_often = std::string(prefix) + "a token occurs more often than its count";
  expect_refused(model, [&] { model.untrain(Text{"a", "z"}); }, unknown.c_str());
  expect_refused(model, [&] { model.untrain(Ids{1}); }, unknown.c_str());
  expect_refused(model, [&] { model.untrain(Text{"b", "c", "c"}); }, too_often.c_str());
  const std::string longer =
      std::string(prefix) + "the length total is less than the document's length";
  expect_refused(model, [&] { model.untrain(Text{"a", "a", "b", "b", "c", "c"}); }, longer.c_str());
  BM25 fresh(0.75, 1.2);
  const std::string none = std::string(prefix) + "it holds no document";
  expect_refused(fresh, [&] { fresh.untrain(Text{"a"}); }, none.c_str());
  // As train does, an empty document is a runtime error.
  expect_error([&] { model.untrain(Text{}); }, "trainning tokens_vec should not be empty");
}

TEST(StoreIndex, IsMurmurHash3OfTheKey) {
  // The reference implementation's published values.
  EXPECT_EQ(murmur3_x86_32(""), 0u);
  EXPECT_EQ(murmur3_x86_32("", 1), 0x514E28B7u);
  EXPECT_EQ(murmur3_x86_32(std::string(4, '\0')), 0x2362F9DEu);
  EXPECT_EQ(murmur3_x86_32("aaaa", 0x9747B28C), 0x5A97808Au);
  EXPECT_EQ(murmur3_x86_32("Hello, world!", 0x9747B28C), 0x24884CBAu);
  EXPECT_EQ(murmur3_x86_32("The quick brown fox jumps over the lazy dog", 0x9747B28C), 0x2FA826CDu);
  EXPECT_EQ(murmur3_x86_32("\xff\xfe"), 0x96C86850u);  // tail bytes are unsigned
  // "abc" hashes to a negative signed value; b"U\x07o\x83" to -2^31 exactly.
  EXPECT_EQ(store_index("abc", IndexForm::unsigned_result), 0xB3DD93FAu);
  EXPECT_EQ(store_index("abc", IndexForm::absolute), 0u - 0xB3DD93FAu);
  EXPECT_EQ(store_index("U\x07o\x83", IndexForm::absolute), 2147483648u);
  EXPECT_EQ(store_index("U\x07o\x83", IndexForm::unsigned_result), 2147483648u);
}

TEST(StoreIndex, TokensSharingAnIndexAddTheirWeights) {
  BM25 model = trained_on_text();
  // w30181 and w38066 share their hash; w90930 and w122127 hash to opposite signed values.
  const std::vector<std::string_view> tokens{"w38066", "w30181", "w122127", "w90930", "a", "a"};
  const PositionWeights weights = model.document_weights(tokens);  // w12..., w3..., w9...
  const IndexedWeights absolute = model.document_indexed(tokens, IndexForm::absolute);
  ASSERT_EQ(absolute.indices.size(), 3u);
  const IndexedWeights plain = model.document_indexed(tokens, IndexForm::unsigned_result);
  ASSERT_EQ(plain.indices.size(), 4u);
  EXPECT_TRUE(std::is_sorted(absolute.indices.begin(), absolute.indices.end()));
  EXPECT_TRUE(std::is_sorted(plain.indices.begin(), plain.indices.end()));
  double pair_sum = 0.0, opposite_sum = 0.0;
  for (const TokenWeight& weight : weights) {
    const std::string_view token = tokens[weight.position];
    if (token == "w38066" || token == "w30181") pair_sum += weight.weight;
    if (token == "w122127" || token == "w90930") opposite_sum += weight.weight;
  }
  for (const IndexedWeights* vector : {&absolute, &plain}) {
    const auto at = std::find(vector->indices.begin(), vector->indices.end(),
                              store_index("w30181", IndexForm::absolute));
    ASSERT_NE(at, vector->indices.end());
    EXPECT_EQ(vector->values[at - vector->indices.begin()], pair_sum);
  }
  const auto at = std::find(absolute.indices.begin(), absolute.indices.end(),
                            store_index("w90930", IndexForm::absolute));
  ASSERT_NE(at, absolute.indices.end());
  EXPECT_EQ(absolute.values[at - absolute.indices.begin()], opposite_sum);
}

TEST(StoreIndex, QueryWeightsAreEncodeQuerysAndIntegersIndexByTheirText) {
  const BM25 model = trained_on_text();
  const auto weights = model.encode_query(Text{"a", "d"});
  const IndexedWeights indexed =
      model.query_indexed(std::vector<std::string_view>{"d", "a"}, IndexForm::absolute);
  ASSERT_EQ(indexed.indices.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const std::string key = store_index("a", IndexForm::absolute) == indexed.indices[i] ? "a" : "d";
    EXPECT_EQ(indexed.indices[i], store_index(key, IndexForm::absolute));
    EXPECT_EQ(indexed.values[i], weights.at(key));
  }
  const IndexedWeights ids = model.query_indexed(Ids{-3, 7}, IndexForm::unsigned_result);
  const IndexedWeights texts =
      model.query_indexed(std::vector<std::string_view>{"-3", "7"}, IndexForm::unsigned_result);
  EXPECT_EQ(ids.indices, texts.indices);
  EXPECT_EQ(ids.values, texts.values);
  EXPECT_TRUE(model.document_indexed(Ids{}, IndexForm::absolute).indices.empty());
}

}  // namespace
}  // namespace tarn::typing::text
