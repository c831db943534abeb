// Tests of how number tokens are classified and valued.
//
// A token made of "+-.0123456789Ee" that starts with "-" or a digit is an
// integer when it has no "." and no exponent letter; a fixed-point currency
// (four implied decimals) when its last "." is followed by at most four
// digits and no exponent letter comes after that "."; and a double
// otherwise.
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "json/json_value.hpp"
#include "tests/json/json_test_util.hpp"

namespace {

using marquo::JsonType;
using marquo::JsonValuePtr;
using marquo::ParseJson;

TEST(JsonNumberTest, IntegersReadTheLeadingDigitRun) {
  const ParseCase rows[] = {
      {"zero", u"0", "int:0"},
      {"leading zeros", u"007", "int:7"},
      {"negative zero", u"-0", "int:0"},
      {"minus sign alone", u"-", "int:0"},
      {"negative", u"-12", "int:-12"},
      {"minus inside the token ends the digit run", u"1-2", "int:1"},
      {"plus inside the token ends the digit run", u"12+3", "int:12"},
      {"minus followed by a word", u"-x", "int:0"},
      {"largest 64-bit value", u"9223372036854775807", "int:9223372036854775807"},
      {"most negative value but one", u"-9223372036854775807", "int:-9223372036854775807"},
      {"integers as elements", u"[1,-2,0]", "[int:1,int:-2,int:0]"},
      {"integer closed by a brace", u"{\"a\":-3}", "{\"a\":int:-3}"},
  };
  ExpectParseResults(rows);
}

// Currency keeps the digits after the first "." up to the count of digits
// that follow the last ".", scaled to four decimals. A sign before the point
// must survive an integer part of zero.
TEST(JsonNumberTest, ShortDecimalsAreCurrency) {
  const ParseCase rows[] = {
      {"one decimal", u"1.5", "cur:15000"},
      {"point without decimals", u"3.", "cur:30000"},
      {"negative below one", u"-0.25", "cur:-2500"},
      {"negative half", u"-0.5", "cur:-5000"},
      {"minus then point", u"-.5", "cur:-5000"},
      {"four decimals", u"1.2345", "cur:12345"},
      {"four zero decimals", u"7.0000", "cur:70000"},
      {"smallest unit", u"0.0001", "cur:1"},
      {"negative with four decimals", u"-1.0001", "cur:-10001"},
      {"largest currency", u"922337203685477.5807", "cur:9223372036854775807"},
      {"second point restarts the decimal count", u"1.2.3", "cur:12000"},
      {"point after an exponent makes currency again", u"1e2.5", "cur:1000"},
      {"currency as elements", u"[1.5,-0.25,3.]", "[cur:15000,cur:-2500,cur:30000]"},
      {"currency closed by a brace", u"{\"a\":-0.5}", "{\"a\":cur:-5000}"},
  };
  ExpectParseResults(rows);
}

// An exponent letter, or a fifth digit after the last ".", makes a double,
// which must be the nearest double to the decimal text.
TEST(JsonNumberTest, ExponentsAndLongDecimalsAreDoubles) {
  const ParseCase rows[] = {
      {"five decimals", u"1.23456", "dbl:1.23456"},
      {"six decimals below one", u"0.123456", "dbl:0.123456"},
      {"five zero decimals", u"1.00000", "dbl:1"},
      {"lower-case exponent", u"1e3", "dbl:1000"},
      {"upper-case exponent", u"1E3", "dbl:1000"},
      {"exponent with plus", u"1e+2", "dbl:100"},
      {"negative exponent", u"2.5E-3", "dbl:0.0025"},
      {"decimals and exponent", u"1.5e2", "dbl:150"},
      {"negative with exponent", u"-1e3", "dbl:-1000"},
      {"many decimals round to nearest", u"0.30000000000000004", "dbl:0.30000000000000004"},
      {"large with many digits", u"123.456789", "dbl:123.456789"},
      {"double as element", u"[4e1]", "[dbl:40]"},
  };
  ExpectParseResults(rows);
}

// Tokens that only look like numbers to the tokenizer, and integers beyond
// 64 bits, must still give a value of the kind the token shape selects; what
// number they hold is left open, but their text form must read back as the
// same text, inside a container as well as alone.
TEST(JsonNumberTest, MalformedAndOversizedTokensStillGiveAValue) {
  struct Row {
    const char *name;
    std::u16string_view input;
    JsonType kind;
  };
  const Row rows[] = {
      {"exponent letter without digits", u"1e", JsonType::stDouble},
      {"two points and an exponent", u"1.2.3e4", JsonType::stDouble},
      {"sign and exponent letter only", u"-e", JsonType::stDouble},
      {"exponent sign without digits", u"1e+", JsonType::stDouble},
      {"twenty nines", u"99999999999999999999", JsonType::stInt},
      {"minus twenty nines", u"-99999999999999999999", JsonType::stInt},
      {"one above the largest 64-bit value", u"9223372036854775808", JsonType::stInt},
      {"most negative 64-bit value", u"-9223372036854775808", JsonType::stInt},
      {"currency beyond 64 bits", u"99999999999999999999.5", JsonType::stCurrency},
      {"currency whose scaling overflows", u"12345678901234567.5", JsonType::stCurrency},
      {"negative currency whose scaling overflows", u"-12345678901234567.", JsonType::stCurrency},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.name) + ", input " + Show(row.input));
    JsonValuePtr value = ParseJson(row.input);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->DataType(), row.kind) << "got " << marquo::JsonTypeName(value->DataType());

    const std::u16string text = value->AsString();
    JsonValuePtr again = ParseJson(text);
    ASSERT_NE(again, nullptr) << "text form " << Show(text);
    EXPECT_TRUE(SameText(again->AsString(), text));

    const std::u16string inArray = u"[" + std::u16string(row.input) + u"]";
    JsonValuePtr array = ParseJson(inArray);
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(array->DataType(), JsonType::stArray);
    ASSERT_EQ(array->AsArray()->Length(), 1);
    EXPECT_EQ(array->AsArray()->GetO(0)->DataType(), row.kind);
    const std::u16string arrayText = array->AsString();
    JsonValuePtr arrayAgain = ParseJson(arrayText);
    ASSERT_NE(arrayAgain, nullptr) << "text form " << Show(arrayText);
    EXPECT_TRUE(SameText(arrayAgain->AsString(), arrayText));
  }
}

// Exponents beyond the range of a double must neither fail the parse nor
// change the kind.
TEST(JsonNumberTest, ExponentsOutOfRangeStayDoubles) {
  for (std::u16string_view input : {u"1e400"sv, u"-1e400"sv, u"1e-400"sv}) {
    SCOPED_TRACE(Show(input));
    JsonValuePtr value = ParseJson(input);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->DataType(), JsonType::stDouble);
  }
}

} // namespace
