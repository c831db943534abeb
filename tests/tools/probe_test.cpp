#include "tools/probe.hpp"

#include <gtest/gtest.h>

namespace marquo {
namespace {

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

TEST(ProbeJson, BadArgumentsGiveUsageAndStatusTwo) {
  const std::vector<std::vector<std::u16string>> calls = {
      {}, {u"json"}, {u"json", u"1", u"2"}, {u"frobnicate", u"1"}};
  for (const auto &call : calls) {
    ProbeOutput output;
    EXPECT_EQ(RunProbe(call, output), 2);
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err.rfind("usage: marquo-probe ", 0), 0u) << output.err;
    EXPECT_NE(output.err.find("marquo-probe json TEXT\n"), std::string::npos) << output.err;
  }
}

} // namespace
} // namespace marquo
