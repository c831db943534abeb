#include "tools/probe.hpp"

#include <gtest/gtest.h>

#include <string_view>

#include "bridge/bridge_platform.hpp"
#include "common/utf.hpp"

namespace marquo {
namespace {

using namespace std::string_view_literals;

TEST(ProbeJson, PrintsKindAndTextOrNone) {
  struct Row {
    const char *name;
    std::u16string text;
    const char *expected;
  };
  const Row rows[] = {
      {"object with a trailing comment", u"{\"a\":1} // note", "stObject\n{\"a\":1}\n"},
      {"unterminated array", u"[1", "none\n"},
      // A null root has empty text, so its second line is empty.
      {"null", u"null", "stNull\n\n"},
      {"currency", u"1.50", "stCurrency\n1.5\n"},
      {"double", u"1e20", "stDouble\n1E20\n"},
      {"non-ASCII text comes out as UTF-8", u"\u00e9\U0001F600", "stString\n\xC3\xA9\xF0\x9F\x98\x80\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    ProbeOutput output;
    EXPECT_EQ(RunProbe({u"json", row.text}, output), 0);
    EXPECT_EQ(output.out, row.expected);
    EXPECT_EQ(output.err, "");
  }
}

TEST(ProbeJson, DashReadsStandardInputAsThePayloadBytes) {
  struct Row {
    const char *name;
    std::string_view input;
    std::string expected;
  };
  const Row rows[] = {
      {"a payload over several lines", "{\r\n  \"a\": 1\r\n} // note\n"sv, "stObject\n{\"a\":1}\n"},
      {"whatever follows the value, NUL included, is ignored", "[1]\0[2"sv, "stArray\n[1]\n"},
      // The lenient parser reads no text at all as an empty string.
      {"empty input", ""sv, "stString\n\n"},
      // Each byte is a character of the payload code page, as the bridge
      // reads it, not a piece of UTF-8; the expected text is the bridge's own
      // reading, since the code page differs by platform.
      {"bytes read as the bridge reads a payload", "\"\xE9\xC3\xA9\""sv,
       "stString\n" + Utf16ToUtf8(PayloadToText("\xE9\xC3\xA9")) + "\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    ProbeOutput output;
    EXPECT_EQ(RunProbe({u"json", u"-"}, output, [&row] { return std::string(row.input); }), 0);
    EXPECT_EQ(output.out, row.expected);
    EXPECT_EQ(output.err, "");
  }
}

TEST(ProbeJson, StandardInputIsReadOnlyForDash) {
  int reads = 0;
  const ProbeInput input = [&reads] {
    ++reads;
    return std::string("[1]");
  };
  ProbeOutput output;
  EXPECT_EQ(RunProbe({u"json", u"2"}, output, input), 0);
  EXPECT_EQ(output.out, "stInt\n2\n");
  EXPECT_EQ(reads, 0);
  // No input at all reads as an empty one, which parses as an empty string.
  ProbeOutput none;
  EXPECT_EQ(RunProbe({u"json", u"-"}, none), 0);
  EXPECT_EQ(none.out, "stString\n\n");
}

TEST(ProbeJson, BadArgumentsGiveUsageAndStatusTwo) {
  const std::vector<std::vector<std::u16string>> calls = {
      {}, {u"json"}, {u"json", u"1", u"2"}, {u"frobnicate", u"1"}};
  for (const auto &call : calls) {
    ProbeOutput output;
    EXPECT_EQ(RunProbe(call, output), 2);
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err.rfind("usage: marquo-probe ", 0), 0u) << output.err;
    EXPECT_NE(output.err.find("marquo-probe json TEXT|-\n"), std::string::npos) << output.err;
  }
}

} // namespace
} // namespace marquo
