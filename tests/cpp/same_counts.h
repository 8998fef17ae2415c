#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

#include "bm25/token_frequency.h"

namespace tarn::typing::text {

// The two tables hold the same keys with the same counts.
inline void expect_same_counts(const TokenFrequency& left, const TokenFrequency& right) {
  ASSERT_EQ(left.size(), right.size());
  left.for_each([&](std::string_view key, std::int32_t count) {
    const std::int32_t* found = right.find(key);
    ASSERT_NE(found, nullptr) << key;
    EXPECT_EQ(*found, count) << key;
  });
}

}  // namespace tarn::typing::text
