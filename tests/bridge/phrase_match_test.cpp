#include "bridge/phrase_match.hpp"

#include <gtest/gtest.h>

#include "bridge/phrase_lists.hpp"
#include "common/utf.hpp"

namespace marquo {
namespace {

std::string Show(const std::u16string &aText) { return Utf16ToUtf8(aText); }

TEST(SplitCommaText, ItemsFollowTheCommaTextRules) {
  struct Row {
    const char *name;
    std::u16string text;
    std::vector<std::u16string> items;
  };
  const Row rows[] = {
      {"plain items", u"find,search", {u"find", u"search"}},
      {"quoted item keeps its blank", u"find,\"find game\"", {u"find", u"find game"}},
      {"unquoted blank separates like a comma", u"Find Playlist", {u"Find", u"Playlist"}},
      {"blanks around items and commas are skipped", u"  a ,\t b  ", {u"a", u"b"}},
      {"doubled quote inside a quoted item", u"\"say \"\"hi\"\"\",x", {u"say \"hi\"", u"x"}},
      {"unclosed quote runs to the end", u"\"a, b", {u"a, b"}},
      {"text right after a closing quote starts an item", u"\"a\"b", {u"a", u"b"}},
      {"comma inside quotes belongs to the item", u"\"a,b\",c", {u"a,b", u"c"}},
      {"adjacent commas give an empty item", u"a,,b", {u"a", u"", u"b"}},
      {"a trailing comma closes an empty item", u"a,", {u"a", u""}},
      {"empty text", u"", {}},
      {"blanks only", u" \t\r\n", {}},
      {"line breaks separate items", u"a\r\nb", {u"a", u"b"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(SplitCommaText(row.text), row.items);
  }
}

TEST(SplitCommaText, DefaultListsGiveTheirItems) {
  const std::vector<std::vector<std::u16string>> expected = {
      {u"Find", u"Search", u"Find Game"},
      {u"Playlist", u"List", u"Find", u"Playlist"},
      {u"Set Volume", u"Volume"},
      {u"Function", u"Do"},
      {u"Run", u"Batch"},
  };
  for (std::size_t i = 0; i < kPhraseLists.size(); ++i) {
    SCOPED_TRACE(Show(std::u16string(kPhraseLists[i].field)));
    EXPECT_EQ(SplitCommaText(kPhraseLists[i].defaultText), expected[i]);
  }
}

TEST(MatchPhrase, FirstMatchingItemWinsAndLeavesTheLowerCasedRest) {
  struct Row {
    const char *name;
    std::u16string list;
    std::u16string phrase;
    std::u16string rest;
  };
  const Row rows[] = {
      {"first item wins over a longer one", u"Find,Search,\"Find Game\"", u"Find Game Castle Quest",
       u" game castle quest"},
      {"case is ignored on both sides", u"\"SET VOLUME\"", u"set Volume 40", u" 40"},
      {"a phrase equal to an item leaves nothing", u"\"Set Volume\",Volume", u"Volume", u""},
      {"prefix only, no word boundary", u"Function,Do", u"Dolphin", u"lphin"},
      {"no item matches", u"Run,Batch", u" 40", u""},
      {"empty items never match", u",,", u"anything", u""},
      {"empty list", u"", u"find x", u""},
      {"empty phrase", u"Find", u"", u""},
      {"non-ASCII letters are lower-cased", u"\u00C9t\u00E9", u"\u00C9T\u00C9 x", u" x"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Show(MatchPhrase(row.list, row.phrase)), Show(row.rest));
  }
}

TEST(TrimBlanks, RemovesEveryUnitUpToBlankAtBothEnds) {
  EXPECT_EQ(TrimBlanks(u" \t\r\n 40 \x01"), u"40");
  EXPECT_EQ(TrimBlanks(u"  "), u"");
  EXPECT_EQ(TrimBlanks(u"a b"), u"a b");
}

TEST(ReadVolumeNumber, ReadsSigned32BitIntegersOrMinusOne) {
  struct Row {
    std::u16string text;
    std::int32_t value;
  };
  const Row rows[] = {
      {u"40", 40},         {u"  40", 40},      {u"+40", 40},
      {u"-5", -5},         {u"0", 0},          {u"150", 150},
      {u"$28", 40},        {u"x28", 40},       {u"X28", 40},
      {u"0x28", 40},       {u"0X1f", 31},      {u"-$10", -16},
      {u"2147483647", 2147483647},             {u"-2147483648", -2147483647 - 1},
      {u"2147483648", -1}, {u"99999999999", -1}, {u"$80000000", -1},
      {u"", -1},           {u" ", -1},         {u"40 ", -1},
      {u"40%", -1},        {u"abc", -1},       {u"4 0", -1},
      {u"\t40", -1},       {u"$", -1},         {u"0x", -1},
      {u"-", -1},          {u"1e2", -1},       {u"0x1g", -1},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(Show(row.text));
    EXPECT_EQ(ReadVolumeNumber(row.text), row.value);
  }
}

} // namespace
} // namespace marquo
