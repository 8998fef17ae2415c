#include "json/json_parser.h"

#include <gtest/gtest.h>

#include <clocale>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace tarn::json {
namespace {

using std::string_literals::operator""s;

struct ParseCase {
  std::string text;
  std::string value;   // to_text(0, "") of the result
  std::string errors;  // what standard error receives
};

void PrintTo(const ParseCase& c, std::ostream* out) { *out << testing::PrintToString(c.text); }

class Parse : public testing::TestWithParam<ParseCase> {};

TEST_P(Parse, YieldsValueAndErrorLines) {
  testing::internal::CaptureStderr();
  const JsonValue value = parse_json(GetParam().text);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), GetParam().errors);
  EXPECT_EQ(value.to_text(0, ""), GetParam().value);
}

// Builds nothing: every entry of an object it is given is read for its kind alone.
class NothingOutline : public Outline {
 public:
  Outline* entry(std::string_view) override { return nullptr; }
};

// What a parse wrote to standard error and the kind of its result.
std::pair<std::string, JsonClass> outcome(const std::string& text, ParseOptions options) {
  testing::internal::CaptureStderr();
  const JsonClass kind = parse_json(text, options).kind();
  return {testing::internal::GetCapturedStderr(), kind};
}

TEST_P(Parse, ReportsTheSameLinesWhenItBuildsNothing) {
  NothingOutline nothing;
  // The text itself, and as a value under a key: read for its kind alone, construct by construct.
  for (const std::string& text : {GetParam().text, "{\"k\": " + GetParam().text + "}"}) {
    for (const bool decode : {false, true}) {
      EXPECT_EQ(outcome(text, {.decode_unicode = decode, .outline = &nothing}),
                outcome(text, {.decode_unicode = decode}))
          << testing::PrintToString(text);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Parse,
    testing::Values(
        ParseCase{"", "null", "ERROR: Parse: Unknown starting character '\0'\n"s},
        ParseCase{"{\"a\" : 1}  word", "{\n\"a\" : 1\n}", ""}, ParseCase{"{}", "{\n\n}", ""},
        ParseCase{"{ }", "{\n\n}", ""}, ParseCase{"[]", "[]", ""}, ParseCase{"[ ]", "[]", ""},
        ParseCase{"[1, 2,]", "[1, 2, null]", "ERROR: Parse: Unknown starting character ']'\n"},
        ParseCase{"{\"a\" : 1,}", "{\n\"a\" : 1\n}",
                  "ERROR: Parse: Unknown starting character '}'\n"
                  "Error: Object: Expected colon, found '}'\n"},
        ParseCase{"{1 : 2}", "{\n\"\" : 2\n}", ""},
        ParseCase{"{:1}", "{\n\"\" : 1\n}", "ERROR: Parse: Unknown starting character ':'\n"},
        ParseCase{"{\"a\" 1}", "{\n\n}", "Error: Object: Expected colon, found '1'\n"},
        ParseCase{"{\"a\":1 \"b\":2}", "{\n\"a\" : 1\n}",
                  "ERROR: Object: Expected comma, found '\"'\n"},
        ParseCase{"[x]", "[]",
                  "ERROR: Parse: Unknown starting character 'x'\n"
                  "ERROR: Array: Expected ',' or ']', found 'x'\n"},
        ParseCase{"{\"q\\\"\":1, \"t\t\":2, \"u\\u00e9\":3, \"b\":1, \"b\":4}",
                  "{\n\"b\" : 4,\n\"q\\\"\" : 1,\n\"t\\t\" : 2,\n\"u\\\\u00e9\" : 3\n}", ""},
        ParseCase{"\"a\\u00e9b\"", "\"a\\\\u00e9b\"", ""},
        ParseCase{"\"\\/\\b\\f\\n\\r\\t\\\\\\x\"", "\"/\\b\\f\\n\\r\\t\\\\\\\\\"", ""},
        ParseCase{"\"a\\u00g0\"", "\"\"",
                  "ERROR: String: Expected hex character in unicode escape, found 'g'\n"},
        ParseCase{"[10,10.0,1e2,1E-2,-0,1e+2]",
                  "[10, 10.000000, 100.000000, 0.010000, 0, 100.000000]", ""},
        ParseCase{"[-2147483648]", "[-2147483648]", ""},
        ParseCase{"[1-2,1.5.3]", "[1, 1.500000]", ""},
        ParseCase{"5", "null", "ERROR: Number: unexpected character '\0'\n"s},
        ParseCase{"5 ", "5", ""},
        ParseCase{"0x1A", "null", "ERROR: Number: unexpected character 'x'\n"},
        ParseCase{"1ex", "null", "ERROR: Number: Expected a number for exponent, found 'x'\n"},
        ParseCase{"[true,false,trueX]", "[]", "ERROR: Array: Expected ',' or ']', found 'X'\n"},
        ParseCase{"tru", "null", "ERROR: Bool: Expected 'true' or 'false', found 'tru'\n"},
        ParseCase{"nul", "null", "ERROR: Null: Expected 'null', found 'nul'\n"},
        ParseCase{"[null]", "[null]", ""},
        // Text that ends early: never read past the end.
        ParseCase{"\"abc", "\"\"",
                  "ERROR: String: Expected '\"' before the end of the text, found '\0'\n"s},
        ParseCase{"\"abc\\", "\"\"",
                  "ERROR: String: Expected '\"' before the end of the text, found '\0'\n"s},
        ParseCase{"\"\\u12", "\"\"",
                  "ERROR: String: Expected hex character in unicode escape, found '\0'\n"s},
        ParseCase{"\"a\0b\"  "s, "\"a\0b\""s, ""},
        ParseCase{"{\"a\":", "{\n\"a\" : null\n}",
                  "ERROR: Parse: Unknown starting character '\0'\n"
                  "ERROR: Object: Expected comma, found '\0'\n"s},
        ParseCase{"[1", "[]",
                  "ERROR: Number: unexpected character '\0'\n"
                  "ERROR: Array: Expected ',' or ']', found '\0'\n"s}));

class ParseDecodingUnicode : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseDecodingUnicode, YieldsValueAndErrorLines) {
  testing::internal::CaptureStderr();
  const JsonValue value = parse_json(GetParam().text, {.decode_unicode = true});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), GetParam().errors);
  EXPECT_EQ(value.to_text(0, ""), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseDecodingUnicode,
    testing::Values(
        ParseCase{"\"\\u0041\\u00e9\\u4E2D\\uffff\"", "\"A\u00e9\u4e2d\xef\xbf\xbf\"", ""},
        ParseCase{"\"\\u0000\\u0022\\u005c\"", "\"\0\\\"\\\\\""s, ""},
        ParseCase{"\"\\ud83d\\ude00\\uDBFF\\uDFFF\"", "\"\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf\"", ""},
        // An escaped backslash stays a backslash before plain text.
        ParseCase{"\"\\\\u4e2d\"", "\"\\\\u4e2d\"", ""},
        ParseCase{"{\"\\u4e2d\" : 1, \"\\\\u4e2d\" : 2}",
                  "{\n\"\\\\u4e2d\" : 2,\n\"\u4e2d\" : 1\n}", ""},
        // Surrogates that are not a pair have no UTF-8 form: the three bytes of their code point.
        ParseCase{"\"\\ud800x\\udc00\\ud800\\u0041\\ud800\\ud800\\udc00\\ud800\"",
                  "\"\xed\xa0\x80x\xed\xb0\x80\xed\xa0\x80"
                  "A\xed\xa0\x80\xf0\x90\x80\x80\xed\xa0\x80\"",
                  ""},
        ParseCase{"\"\\ud800\\", "\"\"",
                  "ERROR: String: Expected '\"' before the end of the text, found '\0'\n"s},
        ParseCase{"\"\\ud800\\u12\"", "\"\"",
                  "ERROR: String: Expected hex character in unicode escape, found '\"'\n"}));

TEST(Parse, ExponentMultipliesByAPowerOfTen) {
  bool ok = false;
  // 1.1 * 10.0 is exactly halfway between two doubles and rounds to even: 11.
  EXPECT_EQ(parse_json("1.1e1,").to_float(ok), 11.0);
  EXPECT_TRUE(ok);
  EXPECT_EQ(parse_json("0.3e-1,").to_float(ok), 0.3 * 0.1);
  EXPECT_EQ(parse_json("3e-1,").to_float(ok), 3.0 * 0.1);
}

struct NumberError {
  std::string text;
  bool out_of_range;
  std::string message;
};

// Callers tell the two apart by type, so the type is checked along with the text.
void expect_number_error(const NumberError& expected, const std::function<void()>& parse) {
  try {
    parse();
    FAIL() << "no exception";
  } catch (const std::out_of_range& error) {
    EXPECT_TRUE(expected.out_of_range);
    EXPECT_STREQ(error.what(), expected.message.c_str());
  } catch (const std::invalid_argument& error) {
    EXPECT_FALSE(expected.out_of_range);
    EXPECT_STREQ(error.what(), expected.message.c_str());
  }
}

class ParseNumberError : public testing::TestWithParam<NumberError> {};

TEST_P(ParseNumberError, Throws) {
  expect_number_error(GetParam(), [this] { parse_json(GetParam().text); });
}

TEST_P(ParseNumberError, ThrowsTheSameUnderAKeyThatIsReadForItsKindAlone) {
  NothingOutline nothing;
  expect_number_error(GetParam(), [this, &nothing] {
    parse_json("{\"k\": [{\"a\": [" + GetParam().text + "]}]}", {.outline = &nothing});
  });
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseNumberError,
    testing::Values(NumberError{"2147483648,", true, "stol argument out of range"},
                    NumberError{"-2147483649,", true, "stol argument out of range"},
                    NumberError{"99999999999999999999,", true, "stol argument out of range"},
                    NumberError{"1e99999999999,", true, "stol argument out of range"},
                    NumberError{std::string("1").append(400, '0').append(".0,"), true,
                                "stod argument out of range"},
                    NumberError{"-,", false, "invalid stol argument"},
                    NumberError{"--1,", false, "invalid stol argument"},
                    NumberError{"-.,", false, "invalid stod argument"},
                    NumberError{"1e,", false, "invalid stol argument"},
                    NumberError{"1e-,", false, "invalid stol argument"}));

// Keeps the object under "keep", and takes its entries whose key begins with "t".
class KeepOutline : public Outline {
 public:
  class Inner : public Outline {
   public:
    Outline* entry(std::string_view) override { return nullptr; }
    bool take(std::string& key, JsonValue& value) override {
      if (!key.starts_with("t")) return false;
      taken += key + "=" + value.to_text(0, "") + ";";
      return true;
    }
    std::string taken;
  };
  Outline* entry(std::string_view key) override { return key == "keep" ? &inner : nullptr; }
  Inner inner;
};

TEST(Parse, AnOutlineBuildsWhatItNamesAndTakesWhatItAsksFor) {
  KeepOutline outline;
  const JsonValue value = parse_json(
      R"({"keep": {"a": [1, 2], "b": {"c": 1}, "n": 3, "s": "text", "t1": 4, "t2": [5]},)"
      R"( "drop": [[1], {"x": 2}], "s": "text", "i": 7, "f": 1.5, "z": {"keep": {"n": 1}}})",
      {.outline = &outline});
  EXPECT_EQ(value.to_text(0, ""),
            "{\n\"drop\" : [],\n\"f\" : 1.500000,\n\"i\" : 7,\n\"keep\" : {\n\"a\" : [],\n"
            "\"b\" : {\n\n},\n\"n\" : 3,\n\"s\" : \"\"\n},\n\"s\" : \"\",\n\"z\" : {\n\n}\n}");
  EXPECT_EQ(outline.inner.taken, "t1=4;t2=[];");
}

TEST(Parse, DeepNestingIsAFaultNotACrash) {
  const std::string deep = std::string(200000, '[') + std::string(200000, ']');
  testing::internal::CaptureStderr();
  const JsonValue value = parse_json(deep);
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(value.kind(), JsonClass::Array);
  EXPECT_EQ(errors.rfind("ERROR: Parse: Nesting deeper than 1000 levels, found '['\n", 0), 0u);
}

// A text that ends inside its top-level object is cut short; one that a fault stops anywhere
// else, or whose top-level value is no object, is read as before. Either way the value and the
// error lines are parse_json's.
TEST(Parse, TellsATextCutShortInsideItsObject) {
  const std::pair<std::string, bool> cases[] = {
      {"{", true},
      {" {\"a\": 1", true},
      {"{\"a\": {\"b\": 1}", true},
      {"{\"a\": {}", true},
      {"{\"a\": 1, \"b", true},
      {"{\"a\": \"x\\", true},
      {"{\"a\": 1e", true},
      {"{\"a\": tru", true},
      {"{\"a\": [fals", true},
      {"{\"a\": \"\\u00", true},
      {"{\"\\ud83d\\ude", true},
      {"{\"a\": tx}", false},
      {"{\"a\": \"\\u00x0\"}", false},
      {"{}", false},
      {"{\"a\": {\"b\": 1}}  trailing", false},
      {"{\"a\": 1 \"b\": 2}", false},
      {"{\"a\": 1,}", false},
      {"{\"a\": 1 x", false},
      {"{\"a\": 1\0 }"s, false},
      {"[1, 2", false},
      {"", false},
  };
  for (const auto& [text, cut_short] : cases) {
    testing::internal::CaptureStderr();
    const Document document = parse_document(text, {.decode_unicode = true});
    const std::string errors = testing::internal::GetCapturedStderr();
    testing::internal::CaptureStderr();
    const JsonValue value = parse_json(text, {.decode_unicode = true});
    EXPECT_EQ(errors, testing::internal::GetCapturedStderr()) << testing::PrintToString(text);
    EXPECT_EQ(document.cut_short, cut_short) << testing::PrintToString(text);
    EXPECT_EQ(document.value.to_text(0, ""), value.to_text(0, "")) << testing::PrintToString(text);
  }
}

TEST(Parse, NumbersIgnoreTheProcessLocale) {
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "no de_DE locale";
  bool ok = false;
  const double value = parse_json("2.5,").to_float(ok);
  JsonValue written;
  written = 2.5;
  const std::string text = written.to_text(0, "");
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(value, 2.5);
  EXPECT_EQ(text, "2.500000");
}

}  // namespace
}  // namespace tarn::json
