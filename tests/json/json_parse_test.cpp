// Tests of the lenient reader on words, whitespace, comments and the text
// that follows a complete value. Voice-command payloads come from several
// frontends that do not all write strict JSON, so these rules decide whether
// a command is understood at all.
#include <gtest/gtest.h>

#include "json/json_value.hpp"
#include "tests/json/json_test_util.hpp"

namespace {

using marquo::JsonType;
using marquo::ParseJson;

// The three literals are recognised only in exact lower case and only when
// the word ends with them; any other spelling is ordinary text. A letter, "_"
// or "." (or a unit from U+0100 up) continues the word, while a digit or any
// other unit ends the literal and is left for whatever follows.
TEST(JsonLiteralTest, LiteralsNeedExactLowerCaseAndAWordEnd) {
  const ParseCase rows[] = {
      {"null", u"null", "null"},
      {"true", u"true", "true"},
      {"false", u"false", "false"},
      {"capitalised True is text", u"True", "\"True\""},
      {"upper-case NULL is text", u"NULL", "\"NULL\""},
      {"upper-case FALSE is text", u"FALSE", "\"FALSE\""},
      {"truncated nul is text", u"nul", "\"nul\""},
      {"truncated tru is text", u"tru", "\"tru\""},
      {"truncated fals is text", u"fals", "\"fals\""},
      {"single letter t is text", u"t", "\"t\""},
      {"single letter f is text", u"f", "\"f\""},
      {"misspelt nxll is text", u"nxll", "\"nxll\""},
      {"letter after null continues the word", u"nullx", "\"nullx\""},
      {"underscore after true continues the word", u"true_x", "\"true_x\""},
      {"letter after false continues the word", u"falsey", "\"falsey\""},
      {"capital after true continues the word", u"trueZ", "\"trueZ\""},
      {"dot after null continues the word", u"null.x", "\"null.x\""},
      {"U+0100 after null continues the word", u"null\u0100", "\"null\\u0100\""},
      {"U+00FF after true ends the literal", u"true\u00ff", "true"},
      {"U+00E9 after false ends the literal", u"false\u00e9", "false"},
      {"digit after true ends the literal", u"true1", "true"},
      {"digit after null ends the literal", u"null0", "null"},
      {"digit after false ends the literal", u"false9", "false"},
      {"blank after true ends the literal", u"true x", "true"},
      {"comma after false ends the literal", u"false,1", "false"},
      {"literals as elements", u"[true,false,null]", "[true,false,null]"},
      {"literals with blanks as elements", u"[ true , null ]", "[true,null]"},
      {"literal as member value", u"{\"a\":false}", "{\"a\":false}"},
      {"literal closed by brace", u"{\"a\":null}", "{\"a\":null}"},
      {"truncated literal as element", u"[nul]", "[\"nul\"]"},
      {"continued literal as element", u"[truex]", "[\"truex\"]"},
      {"continued literal as member value", u"{\"a\":nullable}", "{\"a\":\"nullable\"}"},
      {"digit after literal inside array", u"[true1]", "none"},
      {"U+00E9 after literal inside array", u"[null\u00e9]", "none"},
  };
  ExpectParseResults(rows);
}

// A null literal is a value of kind null, not the absence of a result: the
// command handling tells "no message" from "a message that says null".
TEST(JsonLiteralTest, NullLiteralIsAValueNotAFailure) {
  marquo::JsonValuePtr value = ParseJson(u"null");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->DataType(), JsonType::stNull);
  EXPECT_TRUE(SameText(value->AsString(), u""));
}

// Text that is not a literal, number, string or container is read as a bare
// word. At the top level only the end of the text ends it; inside an array
// "," and "]" do, inside an object "," and "}". Trailing blanks, carriage
// returns and line feeds are dropped, tabs are kept.
TEST(JsonBareWordTest, BareWordsBecomeTextUpToTheirDelimiter) {
  const ParseCase rows[] = {
      {"two words", u"hello world", "\"hello world\""},
      {"trailing blanks and line breaks dropped", u"hello world \r\n \n", "\"hello world\""},
      {"trailing tab kept", u"hello\t", "\"hello\\u0009\""},
      {"tab before trailing blanks kept", u"a\t  ", "\"a\\u0009\""},
      {"leading whitespace skipped", u" \t\r\n word", "\"word\""},
      {"separators belong to a top-level word", u"a,b]}:", "\"a,b]}:\""},
      {"quote inside a word", u"it\"s", "\"it\\\"s\""},
      {"plus sign starts a word", u"+1", "\"+1\""},
      {"leading dot starts a word", u".5", "\".5\""},
      {"non-ASCII word", u"\u00e9t\u00e9", "\"\\u00e9t\\u00e9\""},
      {"escape inside a word", u"a\\tb", "\"a\\u0009b\""},
      {"escaped blank at the end is dropped like a blank", u"a\\u0020", "\"a\""},
      {"escaped comma does not end an element", u"[a\\,b]", "[\"a,b\"]"},
      {"backslash at the end of the text", u"abc\\", "none"},
      {"words in an array end at comma and bracket", u"[a b,c d ]", "[\"a b\",\"c d\"]"},
      {"brace and colon belong to a word in an array", u"[a}:b]", "[\"a}:b\"]"},
      {"words in an object end at comma and brace", u"{x:a]b,y:c }",
       "{\"x\":\"a]b\",\"y\":\"c\"}"},
      {"tab kept at the end of an element", u"[a\t]", "[\"a\\u0009\"]"},
      {"comment marks inside a word are text", u"[a /*c*/]", "[\"a /*c*/\"]"},
      {"opening parenthesis is skipped", u"(1)", "int:1"},
      {"several opening parentheses are skipped", u"(((\"x\")))", "\"x\""},
      {"parenthesis skipped inside an array", u"[(2]", "[int:2]"},
      {"closing parenthesis after an element", u"[(2)]", "none"},
      {"closing parenthesis belongs to a word", u"[(a)]", "[\"a)\"]"},
  };
  ExpectParseResults(rows);
}

// An empty payload is an empty text, not a failure; the command handling
// relies on always getting a value back for text that is merely empty.
TEST(JsonBareWordTest, EmptyAndBlankTextGiveEmptyString) {
  const ParseCase rows[] = {
      {"empty text", u"", "\"\""},
      {"blanks only", u"   ", "\"\""},
      {"every whitespace unit", u" \t\r\n\f\b", "\"\""},
      {"line comment then line break", u"// note\n", "\"\""},
  };
  ExpectParseResults(rows);
}

// Whitespace is exactly backspace, tab, line feed, form feed, carriage return
// and blank. Vertical tab is not, so it starts a word.
TEST(JsonWhitespaceTest, OnlyTheListedUnitsAreWhitespace) {
  const ParseCase rows[] = {
      {"backspace before a number", u"\b7", "int:7"},
      {"form feed before a number", u"\f7", "int:7"},
      {"carriage return before a number", u"\r7", "int:7"},
      {"vertical tab starts a word", u"\v1", "\"\\u000b1\""},
      {"vertical tab inside an array", u"[\v1]", "[\"\\u000b1\"]"},
      {"whitespace between every token", u"\t{\r\n\"a\"\b:\f[ 1 ,\n2 ]\r}\n",
       "{\"a\":[int:1,int:2]}"},
  };
  ExpectParseResults(rows);
}

// The text ends at its first U+0000, wherever the caller's buffer ends.
TEST(JsonWhitespaceTest, TextEndsAtFirstNulUnit) {
  const ParseCase rows[] = {
      {"word cut at NUL", u"ab\0cd"sv, "\"ab\""},
      {"quoted string cut at NUL is unterminated", u"\"ab\0cd\""sv, "none"},
      {"array cut at NUL is unterminated", u"[1,\0 2]"sv, "none"},
  };
  ExpectParseResults(rows);
}

// Block and line comments are skipped like whitespace wherever whitespace may
// stand. "**/" does not close a block comment, a lone "/" is an error, and
// only a line feed ends a line comment.
TEST(JsonCommentTest, CommentsAreSkippedLikeWhitespace) {
  const ParseCase rows[] = {
      {"block comment before a value", u"/* c */ 1", "int:1"},
      {"line comment before a value", u"// c\n1", "int:1"},
      {"empty block comment", u"/**/1", "int:1"},
      {"star inside a block comment", u"/* a * b */1", "int:1"},
      {"CRLF ends a line comment", u"// x\r\n1", "int:1"},
      {"comments around every token",
       u"/*0*/{/*1*/\"a\"/*2*/:/*3*/[/*4*/1/*5*/,/*6*/2/*7*/]/*8*/}/*9*/",
       "{\"a\":[int:1,int:2]}"},
      {"line comments inside an array", u"[1, // one\n 2 // two\n]", "[int:1,int:2]"},
      {"comment before an unquoted name", u"{/*c*/a:1}", "{\"a\":int:1}"},
      {"comment marks inside a quoted string are text", u"\"/* x */\"", "\"/* x */\""},
      {"double star before the slash does not close", u"/* a **/ 1", "none"},
      {"three stars do not close", u"/***/1", "none"},
      {"unterminated block comment and no value", u"/* x", "none"},
      {"line comment to the end and no value", u"// x", "none"},
      {"carriage return alone does not end a line comment", u"// x\r1", "none"},
      {"lone slash before a value", u"/ 1", "none"},
  };
  ExpectParseResults(rows);
}

// After a complete top-level value the reader stops at the first unit that
// is neither whitespace nor a comment and ignores the rest, but a comment
// there is still read, so a stray "/" fails. When the text ends inside a
// comment that follows a completed value, the result is the value of the
// innermost level that was complete.
TEST(JsonCommentTest, TextAfterACompleteValue) {
  const ParseCase rows[] = {
      {"word after an object", u"{\"a\":1} tail", "{\"a\":int:1}"},
      {"second array ignored", u"[1] [2]", "[int:1]"},
      {"extra closing bracket ignored", u"[1]]", "[int:1]"},
      {"letters after a number", u"12abc", "int:12"},
      {"text after a closing quote", u"\"abc\"x", "\"abc\""},
      {"line comment after an object", u"{\"a\":1} // note", "{\"a\":int:1}"},
      {"open block comment after an object", u"{\"a\":1} /* note", "{\"a\":int:1}"},
      {"closed comment then a word", u"{\"a\":1} /* note */ tail", "{\"a\":int:1}"},
      {"stray slash after an object", u"{\"a\":1} / tail", "none"},
      {"slash after a number", u"1 /", "none"},
      {"slash right after a number", u"1/", "none"},
      {"open comment after an element", u"[1 /* x", "int:1"},
      {"line comment after a member value", u"{\"a\":1 // x", "int:1"},
      {"open comment after a comma", u"[1, /* x", "none"},
      {"open comment after a colon", u"{\"a\": /* x", "none"},
  };
  ExpectParseResults(rows);
}

// Every parse starts from scratch, so a failed parse must not leave state
// behind that changes how the next text is read.
TEST(JsonParseStateTest, FailedParseDoesNotAffectTheNext) {
  EXPECT_EQ(Describe(ParseJson(u"[[[1,")), "none");
  EXPECT_EQ(Describe(ParseJson(u"/* open")), "none");
  EXPECT_EQ(Describe(ParseJson(u"{\"a\":\"open")), "none");
  EXPECT_EQ(Describe(ParseJson(u"7")), "int:7");
  EXPECT_EQ(Describe(ParseJson(u"x")), "\"x\"");
}

} // namespace
