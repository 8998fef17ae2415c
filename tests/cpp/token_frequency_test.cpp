#include "bm25/token_frequency.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
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

void expect_same_entries(const TokenFrequency& frequency,
                         const std::map<std::string, std::int32_t>& expected) {
  ASSERT_EQ(frequency.size(), expected.size());
  for (const auto& [key, count] : expected) {
    const std::int32_t* found = frequency.find(key);
    ASSERT_NE(found, nullptr) << key;
    EXPECT_EQ(*found, count) << key;
  }
  std::size_t visited = 0;
  frequency.for_each([&](std::string_view, std::int32_t) { ++visited; });
  EXPECT_EQ(visited, expected.size());
}

// Keys come and go in a table that stays small, so that runs wrap around its end and removals
// shift entries from every position of a run; short and long keys both.
TEST(TokenFrequency, RemovalKeepsEveryOtherKeyFindable) {
  std::mt19937 random(19);
  TokenFrequency frequency;
  std::map<std::string, std::int32_t> expected;
  for (int step = 0; step < 200000; ++step) {
    const auto number = random() % 600;
    std::string key = std::to_string(number);
    if (number % 3 == 0) key.append(9, 'l');  // lives in the arena
    if (random() % 2 == 0) {
      frequency[key] += 1;
      expected[key] += 1;
    } else {
      EXPECT_EQ(frequency.erase(key), expected.erase(key) == 1) << key;
      EXPECT_EQ(frequency.find(key), nullptr) << key;
    }
    if (step % 20000 == 0) expect_same_entries(frequency, expected);
  }
  expect_same_entries(frequency, expected);
  for (const auto& [key, count] : std::map(expected)) {
    EXPECT_TRUE(frequency.erase(key));
    expected.erase(key);
  }
  expect_same_entries(frequency, expected);
  EXPECT_EQ(frequency.arena_bytes(), 0u);
  EXPECT_FALSE(frequency.erase("absent"));
  EXPECT_FALSE(TokenFrequency().erase("absent"));
}

TEST(TokenFrequency, ArenaStaysBoundedWhileLongKeysComeAndGo) {
  TokenFrequency frequency;
  const std::string kept = "kept-long-key-0123456789";
  frequency[kept] = 5;
  std::size_t most = 0;
  for (int i = 0; i < 100000; ++i) {
    const std::string key = "churning-long-key-" + std::to_string(i);
    frequency[key] = 1;
    most = std::max(most, frequency.arena_bytes());
    ASSERT_TRUE(frequency.erase(key));
  }
  // Twice the live bytes at most: the kept key's and the one coming and going (23 bytes at most),
  // each with its length.
  EXPECT_LE(most, 2 * ((4 + kept.size()) + (4 + 23)));
  EXPECT_EQ(*frequency.find(kept), 5);
  EXPECT_EQ(frequency.size(), 1u);
}

TEST(TokenFrequency, KeyRemovedAndAddedAgainIsOneEntry) {
  TokenFrequency frequency;
  const std::string key = "a-long-key-in-the-arena";
  for (int i = 0; i < 10; ++i) frequency["long-key-number-" + std::to_string(i)] = i;
  frequency[key] = 1;
  ASSERT_TRUE(frequency.erase(key));
  frequency[key] = 2;  // a dead copy of its bytes stays before the live one until compaction
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(frequency.erase("long-key-number-" + std::to_string(i)));
  EXPECT_EQ(frequency.size(), 1u);
  EXPECT_EQ(*frequency.find(key), 2);
  EXPECT_LE(frequency.arena_bytes(), 2 * (4 + key.size()));
}

}  // namespace
}  // namespace tarn::typing::text
