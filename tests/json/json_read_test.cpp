// Tests of the member reads the command handling makes: GetO, GetA and GetS
// by name and GetS by index, including every way a member can be missing or
// of the wrong kind. A voice command arrives as
//   {"data":["{\"action\":...,\"what\":...}"]}
// and is read as ParseJson, GetA("data"), GetS(0), ParseJson again, and
// GetS("action") and GetS("what").
#include <memory>

#include <gtest/gtest.h>

#include "json/json_value.hpp"
#include "tests/json/json_test_util.hpp"

namespace {

using marquo::JsonArray;
using marquo::JsonType;
using marquo::JsonValuePtr;
using marquo::ParseJson;

TEST(JsonCommandEnvelopeTest, StringElementOfDataCarriesTheCommand) {
  JsonValuePtr outer = ParseJson(
      u"{\"data\":[\"{\\\"action\\\":\\\"process\\\",\\\"what\\\":\\\"find pinball\\\"}\"]}");
  ASSERT_NE(outer, nullptr);
  std::shared_ptr<JsonArray> data = outer->GetA(u"data");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->Length(), 1);
  const std::u16string command = data->GetS(0);
  EXPECT_TRUE(SameText(command, u"{\"action\":\"process\",\"what\":\"find pinball\"}"));

  JsonValuePtr inner = ParseJson(command);
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->DataType(), JsonType::stObject);
  EXPECT_TRUE(SameText(inner->GetS(u"action"), u"process"));
  EXPECT_TRUE(SameText(inner->GetS(u"what"), u"find pinball"));
}

// Some frontends put the command object itself into "data" instead of a
// string holding it; its text form must read the same.
TEST(JsonCommandEnvelopeTest, ObjectElementOfDataReadsLikeAString) {
  JsonValuePtr outer =
      ParseJson(u"{\"data\":[{\"what\":\"find \\\"pinball\\\"\",\"action\":\"process\"}]}");
  ASSERT_NE(outer, nullptr);
  std::shared_ptr<JsonArray> data = outer->GetA(u"data");
  ASSERT_NE(data, nullptr);
  JsonValuePtr inner = ParseJson(data->GetS(0));
  ASSERT_NE(inner, nullptr) << "element text " << Show(data->GetS(0));
  EXPECT_EQ(inner->AsObject()->Count(), 2u);
  EXPECT_TRUE(SameText(inner->GetS(u"action"), u"process"));
  EXPECT_TRUE(SameText(inner->GetS(u"what"), u"find \"pinball\""));
}

// A payload that is not a command must read as empty fields, never crash:
// each read on the wrong kind of value gives none or empty text.
TEST(JsonCommandEnvelopeTest, PayloadsWithoutACommandGiveEmptyFields) {
  struct Row {
    const char *name;
    std::u16string_view payload;
  };
  const Row rows[] = {
      {"plain words", u"hello"},
      {"empty data array", u"{\"data\":[]}"},
      {"data element is a word", u"{\"data\":[\"find pinball\"]}"},
      {"data element is null", u"{\"data\":[null]}"},
      {"data element is an array", u"{\"data\":[[\"action\"]]}"},
      {"command without fields", u"{\"data\":[\"{}\"]}"},
      {"command fields are null", u"{\"data\":[\"{\\\"action\\\":null,\\\"what\\\":null}\"]}"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    JsonValuePtr outer = ParseJson(row.payload);
    ASSERT_NE(outer, nullptr);
    std::shared_ptr<JsonArray> data = outer->GetA(u"data");
    if (data == nullptr) continue;
    JsonValuePtr inner = ParseJson(data->GetS(0));
    ASSERT_NE(inner, nullptr);
    EXPECT_TRUE(SameText(inner->GetS(u"action"), u""));
    EXPECT_TRUE(SameText(inner->GetS(u"what"), u""));
  }
}

// GetA gives an array only for an existing member of kind array, looked up
// by exact name in an object.
TEST(JsonMemberReadTest, GetAIsNoneUnlessTheMemberIsAnArray) {
  struct Row {
    const char *name;
    std::u16string_view input;
  };
  const Row rows[] = {
      {"member is a string", u"{\"data\":\"x\"}"},
      {"member is an object", u"{\"data\":{}}"},
      {"member is a number", u"{\"data\":1}"},
      {"member is true", u"{\"data\":true}"},
      {"member is false", u"{\"data\":false}"},
      {"member is null", u"{\"data\":null}"},
      {"member name differs in case", u"{\"Data\":[1]}"},
      {"member absent", u"{\"other\":[1]}"},
      {"receiver is an array", u"[\"data\"]"},
      {"receiver is an array of arrays", u"[[1]]"},
      {"receiver is a string", u"\"data\""},
      {"receiver is a number", u"5"},
      {"receiver is null", u"null"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.name) + ", input " + Show(row.input));
    JsonValuePtr value = ParseJson(row.input);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->GetA(u"data"), nullptr);
  }
}

TEST(JsonMemberReadTest, GetAFindsAnArrayMember) {
  JsonValuePtr value = ParseJson(u"{\"data\":[],\"more\":[1,\"x\"]}");
  ASSERT_NE(value, nullptr);
  std::shared_ptr<JsonArray> empty = value->GetA(u"data");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->Length(), 0);
  EXPECT_TRUE(SameText(empty->GetS(0), u""));
  std::shared_ptr<JsonArray> more = value->GetA(u"more");
  ASSERT_NE(more, nullptr);
  EXPECT_EQ(more->Length(), 2);
  EXPECT_TRUE(SameText(more->GetS(1), u"x"));
}

// An array handed out by GetA must stay usable after the caller drops the
// tree it came from.
TEST(JsonMemberReadTest, ArrayFromGetAOutlivesTheRoot) {
  JsonValuePtr value = ParseJson(u"{\"data\":[\"kept\"]}");
  ASSERT_NE(value, nullptr);
  std::shared_ptr<JsonArray> data = value->GetA(u"data");
  value.reset();
  ASSERT_NE(data, nullptr);
  EXPECT_TRUE(SameText(data->GetS(0), u"kept"));
}

// GetS gives the raw text of a string member, the compact form of any other
// kind, and empty text for a null or missing member or a receiver that is
// not an object.
TEST(JsonMemberReadTest, GetSByNameForEveryKindOfMember) {
  struct Row {
    const char *name;
    std::u16string_view input;
    std::u16string_view expected;
  };
  const Row rows[] = {
      {"string member", u"{\"what\":\"find pinball\"}", u"find pinball"},
      {"string member is not re-escaped", u"{\"what\":\"a\\\"b\\\\c\"}", u"a\"b\\c"},
      {"empty string member", u"{\"what\":\"\"}", u""},
      {"null member", u"{\"what\":null}", u""},
      {"integer member", u"{\"what\":5}", u"5"},
      {"currency member", u"{\"what\":1.5}", u"1.5"},
      {"double member", u"{\"what\":1e3}", u"1000"},
      {"true member", u"{\"what\":true}", u"true"},
      {"false member", u"{\"what\":false}", u"false"},
      {"array member", u"{\"what\":[1,2]}", u"[1,2]"},
      {"array holding null", u"{\"what\":[null]}", u"[null]"},
      {"object member", u"{\"what\":{\"a\":\"b\"}}", u"{\"a\":\"b\"}"},
      {"member absent", u"{\"action\":\"x\"}", u""},
      {"member name differs in case", u"{\"What\":\"x\"}", u""},
      {"last of two equal names", u"{\"what\":1,\"what\":2}", u"2"},
      {"receiver is an array", u"[\"what\"]", u""},
      {"receiver is a string", u"\"what\"", u""},
      {"receiver is a number", u"5", u""},
      {"receiver is null", u"null", u""},
      {"receiver is true", u"true", u""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.name) + ", input " + Show(row.input));
    JsonValuePtr value = ParseJson(row.input);
    ASSERT_NE(value, nullptr);
    EXPECT_TRUE(SameText(value->GetS(u"what"), row.expected));
  }
}

TEST(JsonMemberReadTest, GetOGivesTheMemberItselfOrNone) {
  JsonValuePtr value = ParseJson(u"{\"a\":[1],\"b\":null}");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->GetO(u"a"), value->AsObject()->GetO(u"a"));
  JsonValuePtr b = value->GetO(u"b");
  ASSERT_NE(b, nullptr) << "a null member is a value, not none";
  EXPECT_EQ(b->DataType(), JsonType::stNull);
  EXPECT_EQ(value->GetO(u"c"), nullptr);
  EXPECT_EQ(value->GetO(u"A"), nullptr);
}

// Names that merely start like a literal, or consist of one letter that
// starts a literal, are ordinary member names.
TEST(JsonMemberReadTest, NamesStartingLikeLiteralsFindTheirMembers) {
  JsonValuePtr value = ParseJson(
      u"{\"nullable\":1,\"trueness\":2,\"falsetto\":3,\"name\":4,\"fact\":5,\"t\":6,\"n\":7,"
      u"\"f\":8,\"N\":9,\"T\":10,\"F\":11,\"_x\":12,\"a1\":13,\"Null\":14,\"true_\":15,"
      u"\"nul\":16}");
  ASSERT_NE(value, nullptr);
  struct Row {
    std::u16string_view name;
    std::u16string_view expected;
  };
  const Row rows[] = {
      {u"nullable", u"1"}, {u"trueness", u"2"}, {u"falsetto", u"3"}, {u"name", u"4"},
      {u"fact", u"5"},     {u"t", u"6"},        {u"n", u"7"},        {u"f", u"8"},
      {u"N", u"9"},        {u"T", u"10"},       {u"F", u"11"},       {u"_x", u"12"},
      {u"a1", u"13"},      {u"Null", u"14"},    {u"true_", u"15"},   {u"nul", u"16"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE("name " + Show(row.name));
    EXPECT_TRUE(SameText(value->GetS(row.name), row.expected));
  }
}

// A name that is exactly a literal, or a literal followed by a digit, is read
// as that literal's value and not looked up as a member.
TEST(JsonMemberReadTest, NameSpelledAsALiteralReadsTheLiteral) {
  JsonValuePtr value =
      ParseJson(u"{\"null\":\"member\",\"true\":\"member\",\"false\":\"member\",\"true1\":\"member\"}");
  ASSERT_NE(value, nullptr);
  struct Row {
    std::u16string_view name;
    const char *expected;
  };
  const Row rows[] = {
      {u"null", "null"}, {u"true", "true"}, {u"false", "false"}, {u"true1", "true"}};
  for (const Row &row : rows) {
    SCOPED_TRACE("name " + Show(row.name));
    EXPECT_EQ(Describe(value->GetO(row.name)), row.expected);
  }
}

// GetS by index: empty text past the end and for a null element, raw text
// for a string element, the compact form for anything else.
TEST(JsonArrayReadTest, GetSByIndexForEveryKindOfElement) {
  JsonValuePtr value =
      ParseJson(u"[null,\"s\\\"q\",12,1.5,1e20,true,[1,\"a\"],{\"a\":1},\"\"]");
  ASSERT_NE(value, nullptr);
  const JsonArray *array = value->AsArray();
  ASSERT_NE(array, nullptr);
  ASSERT_EQ(array->Length(), 9);
  const std::u16string_view expected[] = {
      u"", u"s\"q", u"12", u"1.5", u"1E20", u"true", u"[1,\"a\"]", u"{\"a\":1}", u"",
  };
  for (int i = 0; i < 9; ++i) {
    SCOPED_TRACE("index " + std::to_string(i));
    EXPECT_TRUE(SameText(array->GetS(i), expected[i]));
  }
  EXPECT_TRUE(SameText(array->GetS(9), u""));
  EXPECT_TRUE(SameText(array->GetS(1000), u""));
  EXPECT_EQ(array->GetO(9), nullptr);
  EXPECT_EQ(array->GetO(-1), nullptr);
  ASSERT_NE(array->GetO(0), nullptr) << "a null element is a value, not none";
  EXPECT_EQ(array->GetO(0)->DataType(), JsonType::stNull);
}

// Objects and arrays own their members: reading a member after the parse
// must not depend on anything but the root being held.
TEST(JsonArrayReadTest, NestedMembersStayReachableThroughTheRoot) {
  JsonValuePtr value = ParseJson(u"{\"a\":[{\"b\":[\"deep\"]}]}");
  ASSERT_NE(value, nullptr);
  std::shared_ptr<JsonArray> a = value->GetA(u"a");
  ASSERT_NE(a, nullptr);
  JsonValuePtr first = a->GetO(0);
  ASSERT_NE(first, nullptr);
  std::shared_ptr<JsonArray> b = first->GetA(u"b");
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(SameText(b->GetS(0), u"deep"));
}

} // namespace
