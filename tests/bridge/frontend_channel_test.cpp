#include "bridge/frontend_channel.hpp"

#include <gtest/gtest.h>

#include "common/utf.hpp"

namespace marquo {
namespace {

TEST(SearchRequestText, FollowsTheTemplateCharacterForCharacter) {
  EXPECT_EQ(SearchRequestText(1, u"game castle quest"), u"{ \"FN\":1, \"SS\":\"game castle quest\" }");
  EXPECT_EQ(SearchRequestText(2, u""), u"{ \"FN\":2, \"SS\":\"\" }");
  // The fixed part is 19 characters.
  EXPECT_EQ(SearchRequestText(2, u"").size(), 19u);
}

TEST(SearchRequestText, SubjectCannotBreakOrInjectJson) {
  struct Row {
    const char *name;
    std::u16string subject;
    std::u16string inserted;
  };
  const Row rows[] = {
      {"quote", u"say \"hi\"", u"say \\\"hi\\\""},
      {"injected member", u"x\", \"FN\":3, \"SS\":\"y", u"x\\\", \\\"FN\\\":3, \\\"SS\\\":\\\"y"},
      {"backslash", u"a\\b", u"a\\\\b"},
      {"line break and tab", u"a\nb\tc", u"a\\nb\\tc"},
      {"other control character", u"a\x01z", u"a\\u0001z"},
      {"non-ASCII is kept", u"caf\u00e9", u"caf\u00e9"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Utf16ToUtf8(SearchRequestText(1, row.subject)),
              Utf16ToUtf8(u"{ \"FN\":1, \"SS\":\"" + row.inserted + u"\" }"));
  }
}

TEST(FunctionCodeOf, WordsMapToTheirCodesExactly) {
  struct Row {
    std::u16string word;
    std::optional<std::int32_t> code;
  };
  const Row rows[] = {
      {u"launch", 7},    {u"system", 16},   {u"home", 9},      {u"exit", 15},
      {u"quit", 15},     {u"info", 10},     {u"help", 21},     {u"record", 17},
      {u"restart", 59},  {u"special", 24},  {u"lockdown", 22}, {u"close", 11},
      {u"custom", kCustomFunction},         {u"shutdown", 58}, {u"Home", std::nullopt},
      {u"home ", std::nullopt},             {u"", std::nullopt}, {u"launcher", std::nullopt},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(Utf16ToUtf8(row.word));
    EXPECT_EQ(FunctionCodeOf(row.word), row.code);
  }
}

} // namespace
} // namespace marquo
