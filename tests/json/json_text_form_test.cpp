// Tests of the compact text form that AsString gives for values that are not
// plain strings. The command handling reads an element of "data" with GetS,
// and when that element is an object instead of a string holding one, this
// text form is parsed a second time; so it must be exact and must read back
// as the same text.
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "json/json_value.hpp"
#include "tests/json/json_test_util.hpp"

namespace {

using marquo::JsonValue;
using marquo::JsonValuePtr;
using marquo::ParseJson;

constexpr std::int64_t kMaxInt64 = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMinInt64 = std::numeric_limits<std::int64_t>::min();

struct TextCase {
  const char *name;
  JsonValuePtr value;
  std::u16string_view expected;
};

void ExpectTexts(const std::vector<TextCase> &aRows) {
  for (const TextCase &row : aRows) {
    SCOPED_TRACE(row.name);
    ASSERT_NE(row.value, nullptr);
    EXPECT_TRUE(SameText(row.value->AsString(), row.expected));
  }
}

// Null reads as empty text on its own and a string as its raw text; only
// values of the other kinds have a written form at the top level.
TEST(JsonTextFormTest, ScalarsOnTheirOwn) {
  ExpectTexts({
      {"null", JsonValue::NewNull(), u""},
      {"true", JsonValue::NewBoolean(true), u"true"},
      {"false", JsonValue::NewBoolean(false), u"false"},
      {"string is not quoted or escaped", JsonValue::NewString(u"a\"b\\c"), u"a\"b\\c"},
      {"zero", JsonValue::NewInt(0), u"0"},
      {"negative integer", JsonValue::NewInt(-1), u"-1"},
      {"largest integer", JsonValue::NewInt(kMaxInt64), u"9223372036854775807"},
      {"most negative integer", JsonValue::NewInt(kMinInt64), u"-9223372036854775808"},
  });
}

// Currency shows at most four decimals with trailing zeros and a bare point
// removed; the sign must not be lost when the whole-number part is zero, and
// the extreme values must not overflow while being split.
TEST(JsonTextFormTest, CurrencyDropsTrailingZeros) {
  ExpectTexts({
      {"one and a half", JsonValue::NewCurrency(15000), u"1.5"},
      {"whole number", JsonValue::NewCurrency(30000), u"3"},
      {"ten", JsonValue::NewCurrency(100000), u"10"},
      {"zero", JsonValue::NewCurrency(0), u"0"},
      {"four decimals", JsonValue::NewCurrency(12345), u"1.2345"},
      {"two decimals", JsonValue::NewCurrency(1234500), u"123.45"},
      {"smallest unit", JsonValue::NewCurrency(1), u"0.0001"},
      {"thousandth", JsonValue::NewCurrency(10), u"0.001"},
      {"negative below one", JsonValue::NewCurrency(-2500), u"-0.25"},
      {"negative half", JsonValue::NewCurrency(-5000), u"-0.5"},
      {"negative smallest unit", JsonValue::NewCurrency(-1), u"-0.0001"},
      {"negative with zero inside the decimals", JsonValue::NewCurrency(-10001), u"-1.0001"},
      {"largest", JsonValue::NewCurrency(kMaxInt64), u"922337203685477.5807"},
      {"most negative", JsonValue::NewCurrency(kMinInt64), u"-922337203685477.5808"},
  });
}

// Doubles use up to 15 significant digits with no trailing zeros; fixed
// notation up to 15 digits before the point and down to 0.00001 in
// magnitude, a mantissa and an E exponent (signed only when negative)
// beyond that.
TEST(JsonTextFormTest, DoublesUseFifteenSignificantDigits) {
  ExpectTexts({
      {"whole number", JsonValue::NewDouble(1000.0), u"1000"},
      {"negative whole number", JsonValue::NewDouble(-1000000.0), u"-1000000"},
      {"half", JsonValue::NewDouble(0.5), u"0.5"},
      {"negative", JsonValue::NewDouble(-2.5), u"-2.5"},
      {"five decimals", JsonValue::NewDouble(1.23456), u"1.23456"},
      {"binary noise rounded away", JsonValue::NewDouble(0.1 + 0.2), u"0.3"},
      {"a third", JsonValue::NewDouble(1.0 / 3.0), u"0.333333333333333"},
      {"two thirds rounded up", JsonValue::NewDouble(2.0 / 3.0), u"0.666666666666667"},
      {"fifteen significant digits", JsonValue::NewDouble(123456.789012345678),
       u"123456.789012346"},
      {"fifteen digits before the point", JsonValue::NewDouble(123456789012345.0),
       u"123456789012345"},
      {"ten to the fourteenth", JsonValue::NewDouble(1e14), u"100000000000000"},
      {"ten to the fifteenth has sixteen digits", JsonValue::NewDouble(1e15), u"1E15"},
      {"sixteen digits", JsonValue::NewDouble(1234567890123456.0), u"1.23456789012346E15"},
      {"eighteen digits", JsonValue::NewDouble(123456789012345678.0), u"1.23456789012346E17"},
      {"ten to the twentieth", JsonValue::NewDouble(1e20), u"1E20"},
      {"mantissa with decimals", JsonValue::NewDouble(1.25e21), u"1.25E21"},
      {"ten to the hundredth", JsonValue::NewDouble(1e100), u"1E100"},
      {"largest double", JsonValue::NewDouble(1.7976931348623157e308), u"1.79769313486232E308"},
      {"exactly the smallest fixed magnitude", JsonValue::NewDouble(0.00001), u"0.00001"},
      {"just above the smallest fixed magnitude", JsonValue::NewDouble(0.000015), u"0.000015"},
      {"just below the smallest fixed magnitude", JsonValue::NewDouble(0.0000099), u"9.9E-6"},
      {"small with decimals", JsonValue::NewDouble(1.5e-7), u"1.5E-7"},
      {"negative small", JsonValue::NewDouble(-1.5e-7), u"-1.5E-7"},
      {"ten to the minus tenth", JsonValue::NewDouble(1e-10), u"1E-10"},
      {"long mantissa, small exponent", JsonValue::NewDouble(9.87654321e-20), u"9.87654321E-20"},
  });
}

// Inside a container strings are quoted and exactly three units are
// substituted: NUL, the quotation mark and the backslash. Everything else,
// control characters, "/" and non-ASCII included, is written unchanged.
TEST(JsonTextFormTest, StringsInsideContainersEscapeOnlyNulQuoteAndBackslash) {
  const std::u16string nul(1, u'\0');
  auto arrayOf = [](JsonValuePtr anElement) {
    JsonValuePtr array = JsonValue::NewArray();
    array->AsArray()->Add(std::move(anElement));
    return array;
  };
  auto objectWith = [](std::u16string aName, JsonValuePtr aValue) {
    JsonValuePtr object = JsonValue::NewObject();
    object->AsObject()->PutO(aName, std::move(aValue));
    return object;
  };
  ExpectTexts({
      {"quote, backslash and NUL", arrayOf(JsonValue::NewString(u"a\"b\\c" + nul + u"d")),
       u"[\"a\\\"b\\\\c\\u0000d\"]"},
      {"control characters unchanged",
       arrayOf(JsonValue::NewString(u"\b\t\n\f\r\u0001\u001f")),
       u"[\"\b\t\n\f\r\u0001\u001f\"]"},
      {"slash and apostrophe unchanged", arrayOf(JsonValue::NewString(u"a/b'c")),
       u"[\"a/b'c\"]"},
      {"non-ASCII unchanged", arrayOf(JsonValue::NewString(u"\u00e9\u4e2d\uffff")),
       u"[\"\u00e9\u4e2d\uffff\"]"},
      {"backslash followed by u0000 is not a NUL",
       arrayOf(JsonValue::NewString(u"\\u0000")), u"[\"\\\\u0000\"]"},
      {"empty string", arrayOf(JsonValue::NewString(u"")), u"[\"\"]"},
      {"member name escaped like a string",
       objectWith(u"k\"\\" + nul, JsonValue::NewString(u"v")), u"{\"k\\\"\\\\\\u0000\":\"v\"}"},
      {"empty member name", objectWith(u"", JsonValue::NewInt(1)), u"{\"\":1}"},
  });
}

// Containers are written without any whitespace, with null spelled out, and
// each element in its own compact form.
TEST(JsonTextFormTest, ContainersAreCompact) {
  JsonValuePtr mixed = JsonValue::NewArray();
  mixed->AsArray()->Add(JsonValue::NewNull());
  mixed->AsArray()->Add(JsonValue::NewBoolean(false));
  mixed->AsArray()->Add(JsonValue::NewInt(kMinInt64));
  mixed->AsArray()->Add(JsonValue::NewCurrency(15000));
  mixed->AsArray()->Add(JsonValue::NewDouble(1e20));
  mixed->AsArray()->Add(JsonValue::NewString(u"s"));
  mixed->AsArray()->Add(JsonValue::NewArray());
  mixed->AsArray()->Add(JsonValue::NewObject());
  JsonValuePtr holder = JsonValue::NewObject();
  holder->AsObject()->PutO(u"k", JsonValue::NewArray());

  ExpectTexts({
      {"empty array", JsonValue::NewArray(), u"[]"},
      {"empty object", JsonValue::NewObject(), u"{}"},
      {"every kind in one array", mixed,
       u"[null,false,-9223372036854775808,1.5,1E20,\"s\",[],{}]"},
      {"object holding an empty array", holder, u"{\"k\":[]}"},
      {"parsed with whitespace", ParseJson(u"{ \"a\" : [ 1 , { } , null ] }"),
       u"{\"a\":[1,{},null]}"},
      {"parsed literals", ParseJson(u"[ true , false , null ]"), u"[true,false,null]"},
      {"bare words become quoted strings", ParseJson(u"{a:b c,d:[e]}"),
       u"{\"a\":\"b c\",\"d\":[\"e\"]}"},
      {"numbers in their normal form", ParseJson(u"[007,-0,3.,7.0000,-0.25,1e3,1E20,1.5E-7]"),
       u"[7,0,3,7,-0.25,1000,1E20,1.5E-7]"},
      {"strings that look like other kinds stay quoted", ParseJson(u"[\"1\",\"true\",\"null\"]"),
       u"[\"1\",\"true\",\"null\"]"},
      {"escapes decoded and re-escaped", ParseJson(u"[\"\\/\\x41\\\"\\\\\\u0000\"]"),
       u"[\"/A\\\"\\\\\\u0000\"]"},
      {"nested objects", ParseJson(u"{\"a\":{\"b\":{}}}"), u"{\"a\":{\"b\":{}}}"},
      {"top-level string is raw", ParseJson(u"\"a\\\"b\""), u"a\"b"},
      {"top-level null is empty", ParseJson(u"null"), u""},
  });
}

// Every text form must read back as the same text: this is what lets an
// element of "data" that is an object work like a string holding it.
TEST(JsonTextFormTest, TextFormReadsBackAsTheSameText) {
  const std::u16string_view inputs[] = {
      u"[1,2,3]",
      u"{\"a\":[1,{\"b\":null}],\"c\":{}}",
      u"[[[]],{},[{}]]",
      u"{\"x\":{\"y\":{\"z\":[0.5,\"\\\\\"]}}}",
      u"[\"a\\\"b\\\\c\\u0000d\"]",
      u"[\"\\u0000\\u0000\",\"\\\"\\\"\",\"\\\\u0000\"]",
      u"{\"k\\\"\\\\\\u0000\":\"v\\u0000\"}",
      u"{\"\":\"\"}",
      u"[\"\\n\\t\\b\\f\\r\\u0001/'\"]",
      u"[\"\\u00e9\\ud83d\\ude00\\uffff\"]",
      u"[\"1\",\"true\",\"null\",\"\",\" \"]",
      u"[1.5,-0.25,3.,7.0000,0.0001,-0.0001,922337203685477.5807,-922337203685477.5807]",
      u"[1E20,1.5E-7,-1.5E-7,1e15,1e14,1e-5,1.5e-5,9.9e-6,0.30000000000000004]",
      u"[1.23456,123456789.123456789,1e100,1e-100,1.7976931348623157e308,0e0]",
      u"[-1,-9223372036854775807,9223372036854775807,-9223372036854775808]",
      u"[99999999999999999999,-99999999999999999999,12345678901234567.5]",
      u"[1e,1.2.3e4,-e]",
      u"[true,false,null]",
      u"{\"data\":[\"{\\\"action\\\":\\\"process\\\",\\\"what\\\":\\\"find pinball\\\"}\"]}",
      u"{\"data\":[{\"action\":\"process\",\"what\":\"find pinball\"}]}",
      u"[a b,'c',  d  ,]",
      u"{b:2,a:1,'c':[x],\"d\":{e:f}}",
      u"[,]",
      u"1E20",
      u"1.5E-7",
      u"-5",
      u"1.5",
      u"-0.0001",
      u"99999999999999999999",
      u"true",
      u"[]",
      u"{}",
  };
  for (std::u16string_view input : inputs) {
    SCOPED_TRACE("input " + Show(input));
    JsonValuePtr first = ParseJson(input);
    ASSERT_NE(first, nullptr);
    const std::u16string text = first->AsString();
    JsonValuePtr second = ParseJson(text);
    ASSERT_NE(second, nullptr) << "text form " << Show(text);
    EXPECT_TRUE(SameText(second->AsString(), text));
  }
}

// The same must hold at the deepest nesting the reader accepts.
TEST(JsonTextFormTest, DeepestNestingReadsBack) {
  for (const std::u16string &input :
       {Nest(31, u"[", u"1.5", u"]"), Nest(32, u"[", u"", u"]"),
        Nest(31, u"{\"a\":", u"\"\\u0000\"", u"}")}) {
    SCOPED_TRACE("input " + Show(input));
    JsonValuePtr first = ParseJson(input);
    ASSERT_NE(first, nullptr);
    const std::u16string text = first->AsString();
    EXPECT_TRUE(SameText(text, input));
    JsonValuePtr second = ParseJson(text);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(SameText(second->AsString(), text));
  }
}

} // namespace
