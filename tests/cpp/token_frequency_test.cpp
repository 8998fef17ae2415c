#include "bm25/token_frequency.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace tarn::typing::text {
namespace {

TEST(TokenFrequency, KeepsEveryKeyThroughGrowth) {
  TokenFrequency frequency;
  std::map<std::string, std::int32_t> expected;
  for (int i = 0; i < 20000; ++i) {
    std::string key = "k";
    key += std::to_string(i * 7919 % 5003);
    key.append(i % 3, 'x');
    frequency[key] += 1;
    expected[key] += 1;
  }
  EXPECT_EQ(frequency.size(), expected.size());
  std::size_t visited = 0;
  frequency.for_each([&](std::string_view key, std::int32_t count) {
    ++visited;
    EXPECT_EQ(expected.at(std::string(key)), count) << key;
  });
  EXPECT_EQ(visited, expected.size());
}

TEST(TokenFrequency, DistinguishesKeysThatShareBytes) {
  TokenFrequency frequency;
  const std::string with_nul("a\0b", 3);
  frequency[""] = 1;
  frequency["a"] = 2;
  frequency[with_nul] = 3;
  frequency["ab"] = 4;
  frequency["abcdefgh"] = 5;
  frequency["abcdefghi"] = 6;
  EXPECT_EQ(*frequency.find(""), 1);
  EXPECT_EQ(*frequency.find("a"), 2);
  EXPECT_EQ(*frequency.find(with_nul), 3);
  EXPECT_EQ(*frequency.find("ab"), 4);
  EXPECT_EQ(*frequency.find("abcdefgh"), 5);
  EXPECT_EQ(*frequency.find("abcdefghi"), 6);
  EXPECT_EQ(frequency.find("b"), nullptr);
  EXPECT_EQ(frequency.find("abcdefghij"), nullptr);
}

TEST(TokenFrequency, ReserveKeepsFoundCountsValidAcrossInsertions) {
  TokenFrequency frequency;
  frequency["old"] = 7;
  frequency.reserve(1000, 10000);
  std::int32_t* old = frequency.find("old");
  for (int i = 0; i < 1000; ++i) {
    const std::string key = std::to_string(i);
    frequency.insert_new(key, hash_token(key), i);
  }
  EXPECT_EQ(old, frequency.find("old"));
  *old += 1;
  EXPECT_EQ(*frequency.find("old"), 8);
  EXPECT_EQ(*frequency.find("999"), 999);
}

}  // namespace
}  // namespace tarn::typing::text
