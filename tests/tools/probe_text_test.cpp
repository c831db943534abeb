#include "tools/probe_text.hpp"

#include <gtest/gtest.h>

#include <string_view>

namespace marquo {
namespace {

using namespace std::string_view_literals;

TEST(EscapeLineBytes, KeepsPrintableAsciiAndWritesEveryOtherByteAsHex) {
  struct Row {
    const char *name;
    std::string_view bytes;
    const char *expected;
  };
  const Row rows[] = {
      {"empty", ""sv, ""},
      {"printable ASCII, from blank to tilde, stays", " az~AZ09/+#{}\"'"sv, " az~AZ09/+#{}\"'"},
      {"the backslash is escaped, so an escape reads back unambiguously", "a\\x41"sv, "a\\x5Cx41"},
      {"line breaks and tabs", "a\nb\r\n\t"sv, "a\\x0Ab\\x0D\\x0A\\x09"},
      {"NUL and the edges of the printable range", "\0\x1F\x7F"sv, "\\x00\\x1F\\x7F"},
      {"UTF-8 is escaped byte by byte, digits upper-case", "\xC3\xA9\xF0\x9F\x98\x80"sv,
       "\\xC3\\xA9\\xF0\\x9F\\x98\\x80"},
      {"bytes that are not UTF-8", "\xFF\x80"sv, "\\xFF\\x80"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(EscapeLineBytes(row.bytes), row.expected);
  }
}

} // namespace
} // namespace marquo
