#include "common/windows1252.hpp"

#include <gtest/gtest.h>

namespace marquo {
namespace {

TEST(Windows1252, EveryByteIsOneCharacter) {
  struct Row {
    const char *name;
    std::string bytes;
    std::u16string text;
  };
  const Row rows[] = {
      {"ASCII", "Find 40", u"Find 40"},
      {"Latin-1 range is unchanged", "caf\xE9 \xFF", u"caf\u00E9 \u00FF"},
      {"euro and quotes", "\x80\x93\x94", u"\u20AC\u201C\u201D"},
      {"undefined bytes map to their control characters", "\x81\x8D\x8F\x90\x9D",
       u"\u0081\u008D\u008F\u0090\u009D"},
      {"last of the high controls", "\x9F", u"\u0178"},
      {"UTF-8 is not decoded", "\xC3\xA9", u"\u00C3\u00A9"},
      {"U+0000 is kept", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Windows1252ToUtf16(row.bytes), row.text);
  }
}

} // namespace
} // namespace marquo
