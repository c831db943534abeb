#include "common/utf.hpp"

#include <gtest/gtest.h>

namespace marquo {
namespace {

TEST(Utf, WellFormedTextSurvivesBothDirections) {
  // ASCII, two-, three- and four-byte sequences (é, €, 😀).
  const std::string utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  const std::u16string utf16 = u"A\u00E9\u20AC\U0001F600";
  EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
  EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
  EXPECT_EQ(Utf8ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Utf, MalformedUtf8BecomesReplacementCharacters) {
  struct Row {
    const char *name;
    std::string input;
    std::u16string expected;
  };
  const Row rows[] = {
      {"stray continuation byte", "a\x80" "b", u"a\uFFFDb"},
      {"truncated at the end", "a\xE2\x82", u"a\uFFFD"},
      {"truncated before ASCII", "\xE2\x82z", u"\uFFFDz"},
      {"overlong slash", "\xC0\xAF", u"\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD"},
      {"invalid lead byte", "\xFF", u"\uFFFD"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Utf8ToUtf16(row.input), row.expected);
  }
}

TEST(Utf, UnpairedSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf16ToUtf8(u"\xD83D" u"a"), "\xEF\xBF\xBD" "a");
  EXPECT_EQ(Utf16ToUtf8(u"a\xDE00"), "a\xEF\xBF\xBD");
}

} // namespace
} // namespace marquo
