#include "json/json_value.h"

#include <gtest/gtest.h>

#include <string>

namespace tarn::json {
namespace {

TEST(JsonText, WorkedExampleByteForByte) {
  JsonValue document;
  document["a"] = 1;
  JsonValue& b = document["b"];
  b["c"] = true;
  b["d"][0u] = 1;
  b["d"][1u] = "x";
  document["e"].set_kind(JsonClass::Object);
  EXPECT_EQ(document.to_text(1, "  "),
            "{\n  \"a\" : 1,\n  \"b\" : {\n    \"c\" : true,\n    \"d\" : [1, \"x\"]\n  },\n"
            "  \"e\" : {\n\n  }\n}");
}

TEST(JsonText, ObjectLayoutFollowsDepth) {
  const JsonValue empty = JsonValue::make(JsonClass::Object);
  EXPECT_EQ(empty.to_text(1, "  "), "{\n\n}");
  EXPECT_EQ(empty.to_text(2, "  "), "{\n\n  }");
  EXPECT_EQ(empty.to_text(0, "  "), "{\n\n}");
  JsonValue one;
  one["a"] = 1;
  EXPECT_EQ(one.to_text(0, "  "), "{\n\"a\" : 1\n}");
  JsonValue array;
  array[0u] = one;
  EXPECT_EQ(array.to_text(1, "  "), "[{\n    \"a\" : 1\n  }]");
  EXPECT_EQ(JsonValue::make(JsonClass::Array).to_text(1, "  "), "[]");
}

struct ScalarCase {
  JsonValue value;
  const char* text;
};

class ScalarText : public testing::TestWithParam<ScalarCase> {};

TEST_P(ScalarText, IsWrittenExactly) {
  EXPECT_EQ(GetParam().value.to_text(1, "  "), GetParam().text);
}

JsonValue of(auto raw) {
  JsonValue value;
  value = raw;
  return value;
}

INSTANTIATE_TEST_SUITE_P(
    Values, ScalarText,
    testing::Values(ScalarCase{JsonValue(), "null"}, ScalarCase{of(true), "true"},
                    ScalarCase{of(false), "false"}, ScalarCase{of(-2147483647 - 1), "-2147483648"},
                    ScalarCase{of(0.75), "0.750000"}, ScalarCase{of(1.2), "1.200000"},
                    ScalarCase{of(2.0 / 3.0), "0.666667"}, ScalarCase{of(1e-7), "0.000000"},
                    ScalarCase{of(0.0000004), "0.000000"}, ScalarCase{of(-0.0), "-0.000000"},
                    ScalarCase{of(7.0 / 3.0), "2.333333"},
                    ScalarCase{of(1e20), "100000000000000000000.000000"},
                    ScalarCase{of(std::string("a\"b\\c\b\f\n\r\t\x01/\x7f\xc3\xa9")),
                               "\"a\\\"b\\\\c\\b\\f\\n\\r\\t\x01/\x7f\xc3\xa9\""}));

TEST(JsonText, KeysAreWrittenAsStored) {
  JsonValue document;
  document["q\"\n"] = "q\"\n";
  EXPECT_EQ(document.to_text(1, "  "), "{\n  \"q\"\n\" : \"q\\\"\\n\"\n}");
}

TEST(JsonValue, AccessConvertsTheKind) {
  JsonValue text;
  text = "discarded";
  text["k"];
  ASSERT_EQ(text.kind(), JsonClass::Object);
  EXPECT_EQ(text.to_text(1, "  "), "{\n  \"k\" : null\n}");
  JsonValue array;
  array[3u];
  EXPECT_EQ(array.to_text(0, ""), "[null, null, null, null]");
}

TEST(JsonValue, ConversionsNeverCrossKinds) {
  bool ok = true;
  EXPECT_EQ(of(1).to_float(ok), 0.0);
  EXPECT_FALSE(ok);
  EXPECT_EQ(of(1.0).to_int(ok), 0);
  EXPECT_FALSE(ok);
  EXPECT_EQ(of(-7).to_int(ok), -7);
  EXPECT_TRUE(ok);
  EXPECT_EQ(of(std::string("a\tb")).to_escaped_string(), "a\\tb");
  EXPECT_EQ(of(3).to_escaped_string(), "");
  EXPECT_EQ(of(3).entries().begin(), of(3).entries().end());
}

TEST(JsonValue, CopiesAreDeepAndMovesLeaveNull) {
  JsonValue original;
  original["list"][1u] = "x";
  JsonValue copy = original;
  copy["list"][1u] = "y";
  EXPECT_EQ(original.to_text(0, ""), "{\n\"list\" : [null, \"x\"]\n}");
  JsonValue moved = std::move(copy);
  EXPECT_EQ(copy.kind(), JsonClass::Null);
  EXPECT_EQ(moved.to_text(0, ""), "{\n\"list\" : [null, \"y\"]\n}");
  moved = moved["list"];  // a child assigned over its parent
  EXPECT_EQ(moved.to_text(0, ""), "[null, \"y\"]");
  moved = std::move(moved[1u]);
  EXPECT_EQ(moved.to_text(0, ""), "\"y\"");
}

TEST(JsonEscape, UnescapeIsTheExactInverseForEveryByte) {
  for (int first = 0; first < 256; ++first) {
    for (const char second : std::string("\\bx\"n")) {
      const std::string text{static_cast<char>(first), second, '\\'};
      EXPECT_EQ(json_unescape(json_escape(text)), text) << first;
    }
  }
  EXPECT_EQ(json_escape("\b\t\n\f\r\"\\/\x01"), "\\b\\t\\n\\f\\r\\\"\\\\/\x01");
  EXPECT_EQ(json_unescape("\\u0001\\x\\"), "\\u0001\\x\\");
}

}  // namespace
}  // namespace tarn::json
