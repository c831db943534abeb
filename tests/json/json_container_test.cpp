// Tests of strings, member names, separators, escapes and nesting depth in
// the lenient reader.
#include <gtest/gtest.h>

#include "json/json_value.hpp"
#include "tests/json/json_test_util.hpp"

namespace {

using marquo::JsonType;
using marquo::JsonValuePtr;
using marquo::ParseJson;

// Strings may be quoted with either quotation mark; the other one is an
// ordinary character inside. Raw control characters and line breaks are
// kept as they are, and blanks inside quotes are never trimmed.
TEST(JsonStringTest, QuotedStringsKeepTheirContent) {
  const ParseCase rows[] = {
      {"double-quoted", u"\"abc\"", "\"abc\""},
      {"single-quoted", u"'abc'", "\"abc\""},
      {"double quote inside single quotes", u"'a\"b'", "\"a\\\"b\""},
      {"single quote inside double quotes", u"\"it's\"", "\"it's\""},
      {"blanks inside quotes kept", u"\"  a  \"", "\"  a  \""},
      {"empty quoted string", u"\"\"", "\"\""},
      {"raw control characters and line breaks", u"\"a\tb\nc\u0001\r\"",
       "\"a\\u0009b\\u000ac\\u0001\\u000d\""},
      {"non-ASCII kept", u"\"\u00e9\u4e2d\"", "\"\\u00e9\\u4e2d\""},
      {"mixed quotes in an array", u"[\"a\",'b',c]", "[\"a\",\"b\",\"c\"]"},
      {"unterminated double-quoted", u"\"abc", "none"},
      {"unterminated single-quoted", u"'abc", "none"},
      {"closed by the other quotation mark", u"\"abc'", "none"},
      {"unterminated string inside an array", u"[\"a]", "none"},
  };
  ExpectParseResults(rows);
}

// Member names may be double-quoted, single-quoted or bare. A bare name runs
// up to the ":" and keeps everything before it, trailing blanks and closing
// braces included; only its first unit is checked against the reserved
// characters. Names are case-sensitive and the last of two equal names wins.
TEST(JsonMemberNameTest, QuotedAndBareNames) {
  const ParseCase rows[] = {
      {"single-quoted name and value", u"{'a':'b'}", "{\"a\":\"b\"}"},
      {"bare name and value", u"{a:b}", "{\"a\":\"b\"}"},
      {"bare name keeps its trailing blank", u"{ my key : 1}", "{\"my key \":int:1}"},
      {"bare name runs across a brace", u"{a}:1}", "{\"a}\":int:1}"},
      {"bare name runs across a comma", u"{a,b:1}", "{\"a,b\":int:1}"},
      {"reserved character after the first unit", u"{a.b:1}", "{\"a.b\":int:1}"},
      {"non-ASCII bare name", u"{\u00e9:1}", "{\"\\u00e9\":int:1}"},
      {"double quote inside a single-quoted name", u"{'a\"b':'c\"d'}",
       "{\"a\\\"b\":\"c\\\"d\"}"},
      {"single quote inside a double-quoted name", u"{\"it's\":\"x'y\"}",
       "{\"it's\":\"x'y\"}"},
      {"brackets inside a quoted name", u"{\"}{[\":1}", "{\"}{[\":int:1}"},
      {"empty name", u"{\"\":1}", "{\"\":int:1}"},
      {"blanks around name, colon and value", u"{ \"a\" \t:\n 1 }", "{\"a\":int:1}"},
      {"names differ by case", u"{\"a\":1,\"A\":2}", "{\"A\":int:2,\"a\":int:1}"},
      {"last of two equal names wins", u"{\"a\":1,\"a\":2}", "{\"a\":int:2}"},
      {"empty object", u"{}", "{}"},
      {"empty object with blanks", u"{ }", "{}"},
  };
  ExpectParseResults(rows);
}

// A name may not start with a reserved unit; a name must be followed by ":";
// a member must be followed by "," or "}". The end of the text counts as a
// unit in each of these places.
TEST(JsonMemberNameTest, MalformedMembersFail) {
  const ParseCase rows[] = {
      {"open brace alone", u"{", "none"},
      {"comma instead of a name", u"{,}", "none"},
      {"colon instead of a name", u"{:1}", "none"},
      {"name starting with a dot", u"{.a:1}", "none"},
      {"name starting with an opening parenthesis", u"{(a:1}", "none"},
      {"name starting with a closing parenthesis", u"{)a:1}", "none"},
      {"name starting with an opening bracket", u"{[a:1}", "none"},
      {"name starting with a closing bracket", u"{]a:1}", "none"},
      {"name starting with an opening brace", u"{{a:1}", "none"},
      {"quoted name without colon", u"{\"a\"}", "none"},
      {"quoted name followed by a value", u"{\"a\" 1}", "none"},
      {"bare name to the end of the text", u"{a}", "none"},
      {"bare name cut by the end of the text", u"{a", "none"},
      {"unterminated quoted name", u"{\"a", "none"},
      {"name quotes do not match", u"{'a\":1}", "none"},
      {"object left open after a member", u"{\"a\":1", "none"},
      {"object left open after a colon", u"{\"a\":", "none"},
      {"object left open after a name", u"{\"a\"", "none"},
      {"members without comma", u"{\"a\":1 \"b\":2}", "none"},
      {"semicolon between members", u"{\"a\":1;\"b\":2}", "none"},
      {"two commas between members", u"{\"a\":1,,}", "none"},
  };
  ExpectParseResults(rows);
}

// A "," may stand before the closing bracket. An element or member value
// that is missing is an empty bare word, that is an empty string.
TEST(JsonSeparatorTest, TrailingCommasAndEmptyElements) {
  const ParseCase rows[] = {
      {"trailing comma in an array", u"[1,2,]", "[int:1,int:2]"},
      {"trailing comma in an object", u"{\"a\":1,}", "{\"a\":int:1}"},
      {"lone comma", u"[,]", "[\"\"]"},
      {"two lone commas", u"[,,]", "[\"\",\"\"]"},
      {"leading comma", u"[,1]", "[\"\",int:1]"},
      {"empty element between commas", u"[1,,2]", "[int:1,\"\",int:2]"},
      {"missing member value", u"{\"a\":}", "{\"a\":\"\"}"},
      {"missing member value before a comma", u"{\"a\":,\"b\":1}", "{\"a\":\"\",\"b\":int:1}"},
      {"empty array", u"[]", "[]"},
      {"empty array with blanks", u"[ ]", "[]"},
      {"blanks around elements", u"[ 1 , 2 ]", "[int:1,int:2]"},
      {"nested containers", u"[[1,[2]],{\"a\":[]},[]]",
       "[[int:1,[int:2]],{\"a\":[]},[]]"},
  };
  ExpectParseResults(rows);
}

// After an element comes "," or "]"; anything else, the end of the text
// included, fails the whole parse.
TEST(JsonSeparatorTest, MalformedArraysFail) {
  const ParseCase rows[] = {
      {"open bracket alone", u"[", "none"},
      {"array left open after an element", u"[1", "none"},
      {"array left open after a comma", u"[1,", "none"},
      {"elements without comma", u"[1 2]", "none"},
      {"strings without comma", u"[\"a\" \"b\"]", "none"},
      {"letters after a number element", u"[12abc]", "none"},
      {"text after a string element", u"[\"a\"x]", "none"},
      {"array closed by a brace", u"[1}", "none"},
      {"colon after an element", u"[1:2]", "none"},
      {"inner array left open", u"[[1]", "none"},
  };
  ExpectParseResults(rows);
}

// Backslash escapes work the same in quoted strings, in quoted and bare
// member names and in bare words. \u takes exactly four hex digits and \x
// exactly two, of either case, and each gives one UTF-16 unit without any
// check of surrogates. An unknown escape letter stands for itself, and the
// escape letters are case-sensitive.
TEST(JsonEscapeTest, EscapesGiveTheirUnits) {
  const ParseCase rows[] = {
      {"\\u with lower-case hex", u"\"\\u00e9\"", "\"\\u00e9\""},
      {"\\u with upper-case hex", u"\"\\u00E9\"", "\"\\u00e9\""},
      {"\\u takes four digits only", u"\"\\u0041BC\"", "\"ABC\""},
      {"surrogate pair kept as two units", u"\"\\ud83d\\ude00\"", "\"\\ud83d\\ude00\""},
      {"lone low surrogate kept", u"\"\\udc00\"", "\"\\udc00\""},
      {"\\u0000 gives a NUL unit", u"\"a\\u0000b\"", "\"a\\u0000b\""},
      {"\\x", u"\"\\x41\"", "\"A\""},
      {"\\x takes two digits only", u"\"\\x414\"", "\"A4\""},
      {"\\x with upper-case hex", u"\"\\x4A\"", "\"J\""},
      {"\\x with the highest value", u"\"\\xff\"", "\"\\u00ff\""},
      {"named control escapes", u"\"\\b\\f\\n\\r\\t\"",
       "\"\\u0008\\u000c\\u000a\\u000d\\u0009\""},
      {"escaped quotes, backslash and slash", u"\"\\\"\\\\\\/\\'\"", "\"\\\"\\\\/'\""},
      {"unknown escape letter stands for itself", u"\"\\q\"", "\"q\""},
      {"escape letters are case-sensitive", u"\"\\N\\T\\U0041\\X41\"", "\"NTU0041X41\""},
      {"escaped quote in a single-quoted string", u"'it\\'s'", "\"it's\""},
      {"escape in a quoted name", u"{\"a\\u0062\":1}", "{\"ab\":int:1}"},
      {"escaped quote in a quoted name", u"{\"a\\\"b\":1}", "{\"a\\\"b\":int:1}"},
      {"escape in a bare name", u"{a\\x62:1}", "{\"ab\":int:1}"},
      {"escaped colon in a bare name", u"{a\\:b:1}", "{\"a:b\":int:1}"},
      {"escape in a bare word", u"a\\u0062", "\"ab\""},
  };
  ExpectParseResults(rows);
}

// An escape that is cut short, by a non-hex unit or by the end of the text,
// fails the whole parse.
TEST(JsonEscapeTest, IncompleteEscapesFail) {
  const ParseCase rows[] = {
      {"\\u with two digits", u"\"\\u12\"", "none"},
      {"\\u with a non-hex digit", u"\"\\u12g4\"", "none"},
      {"\\u at the end of the text", u"\"\\u", "none"},
      {"\\x with one digit", u"\"\\x4\"", "none"},
      {"\\x at the end of the text", u"\"\\x", "none"},
      {"backslash at the end of the text", u"\"abc\\", "none"},
      {"short \\u in a member name", u"{\"a\\u12\":1}", "none"},
      {"short \\u in an array element", u"[\"\\u12\"]", "none"},
  };
  ExpectParseResults(rows);
}

// Containers may nest 31 deep around a value; the 32nd nested container may
// only be empty. The limit protects the parser's fixed level stack, so it
// counts open containers at one time, not containers in total.
TEST(JsonDepthTest, ThirtyOneNestedArraysAroundANumberParse) {
  JsonValuePtr value = ParseJson(Nest(31, u"[", u"1", u"]"));
  ASSERT_NE(value, nullptr);
  const marquo::JsonValue *level = value.get();
  for (int i = 0; i < 31; ++i) {
    ASSERT_EQ(level->DataType(), JsonType::stArray) << "at nesting level " << i;
    ASSERT_EQ(level->AsArray()->Length(), 1) << "at nesting level " << i;
    level = level->AsArray()->GetO(0).get();
  }
  EXPECT_EQ(Describe(level), "int:1");
}

TEST(JsonDepthTest, NestingLimitAppliesToEveryKindOfContainer) {
  struct Row {
    const char *name;
    std::u16string input;
    bool parses;
  };
  const Row rows[] = {
      {"32 nested empty arrays", Nest(32, u"[", u"", u"]"), true},
      {"32 nested arrays around a number", Nest(32, u"[", u"1", u"]"), false},
      {"32 nested arrays around a string", Nest(32, u"[", u"\"x\"", u"]"), false},
      {"33 nested empty arrays", Nest(33, u"[", u"", u"]"), false},
      {"31 nested objects around a number", Nest(31, u"{\"a\":", u"1", u"}"), true},
      {"32 nested objects, the innermost empty", Nest(31, u"{\"a\":", u"{}", u"}"), true},
      {"32 nested objects around a number", Nest(32, u"{\"a\":", u"1", u"}"), false},
      {"33 nested objects, the innermost empty", Nest(32, u"{\"a\":", u"{}", u"}"), false},
      {"31 alternating containers around a number",
       Nest(15, u"[{\"a\":", Nest(1, u"[", u"1", u"]"), u"}]"), true},
      {"32 alternating containers around a number",
       Nest(16, u"[{\"a\":", u"1", u"}]"), false},
      {"32 alternating containers, the innermost empty",
       Nest(15, u"[{\"a\":", u"[{}]", u"}]"), true},
      {"two siblings each 30 deep inside one array",
       u"[" + Nest(30, u"[", u"1", u"]") + u"," + Nest(30, u"[", u"2", u"]") + u"]", true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    JsonValuePtr value = ParseJson(row.input);
    EXPECT_EQ(value != nullptr, row.parses) << "result " << Describe(value);
  }
}

} // namespace
