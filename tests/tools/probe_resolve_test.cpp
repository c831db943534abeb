#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

#include "bridge/bridge_platform.hpp"
#include "common/utf.hpp"
#include "tools/probe.hpp"

namespace marquo {
namespace {

std::u16string Envelope(const std::u16string &anAction, const std::u16string &aWhat) {
  return u"{\"data\":[\"{\\\"action\\\":\\\"" + anAction + u"\\\",\\\"what\\\":\\\"" + aWhat +
         u"\\\"}\"]}";
}

// A "find" envelope as payload bytes, with aWhat's bytes as they are, for
// bytes that no command-line text could carry.
std::string FindBytes(std::string_view aWhat) {
  std::string bytes = Utf16ToUtf8(Envelope(u"find", u"@"));
  return bytes.replace(bytes.find('@'), 1, aWhat);
}

TEST(ProbeResolve, PrintsTheLogLinesThenWhatWouldBeDone) {
  struct Row {
    const char *name;
    std::vector<std::u16string> args;
    std::string tail; // the output after the payload line
  };
  const Row rows[] = {
      {"find", {Envelope(u"process", u"Find Game Castle Quest")},
       "processed find ->  game castle quest\nsearch 1 { \"FN\":1, \"SS\":\"game castle quest\" }\n"},
      {"find without the frontend", {u"--no-frontend", Envelope(u"process", u"Find Game x")},
       "processed find ->  game x\nnone\n"},
      {"function", {Envelope(u"process", u"Function Home")}, "processed do ->  home\nfunction 9\n"},
      {"custom", {Envelope(u"do", u"custom")}, "custom\n"},
      {"custom without the frontend", {u"--no-frontend", Envelope(u"do", u"custom")}, "none\n"},
      {"volume", {Envelope(u"process", u"Set Volume 40")}, "processed volume ->  40\nvolume 40\n"},
      {"refused launch name", {Envelope(u"run", u"../x")},
       "refused launch name: ../x\nrefused ../x\n"},
      {"dropped payload", {u"{}"}, "none\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    ProbeOutput output;
    std::vector<std::u16string> args = {u"resolve"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    EXPECT_EQ(RunProbe(args, output), 0);
    const std::size_t firstLineEnd = output.out.find('\n');
    ASSERT_NE(firstLineEnd, std::string::npos);
    EXPECT_EQ(output.out.substr(0, 3), "- :");
    EXPECT_EQ(output.out.substr(firstLineEnd + 1), row.tail);
  }
}

TEST(ProbeResolve, PayloadBytesAreTakenAsTheyCome) {
  // The UTF-8 of "é" is two bytes, which the bridge reads as two single-byte
  // characters, as it would read them from the broker.
  ProbeOutput output;
  RunProbe({u"resolve", Envelope(u"find", u"\u00e9")}, output);
  EXPECT_NE(output.out.find("search 1 { \"FN\":1, \"SS\":\"\xC3\x83\xC2\xA9\" }"), std::string::npos)
      << output.out;
}

TEST(ProbeResolve, DashTakesThePayloadBytesFromStandardInput) {
  using namespace std::string_view_literals;
  const std::string find = FindBytes("x");
  struct Row {
    const char *name;
    std::vector<std::u16string> args;
    std::string input;
    std::string tail; // the output after the payload line
  };
  const Row rows[] = {
      {"bytes after a NUL still arrive", {u"-"}, find + std::string("\0\r\n\x1A"sv),
       "search 1 { \"FN\":1, \"SS\":\"x\" }\n"},
      {"with --no-frontend", {u"--no-frontend", u"-"}, find, "none\n"},
      // A lone 0xE9 is no UTF-8, so no command line could carry it; the
      // bridge reads it as a character of the payload code page.
      {"a byte that is not UTF-8", {u"-"}, FindBytes("\xE9"),
       "search 1 { \"FN\":1, \"SS\":\"" + Utf16ToUtf8(PayloadToText("\xE9")) + "\" }\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::u16string> args = {u"resolve"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    ProbeOutput output;
    EXPECT_EQ(RunProbe(args, output, [&row] { return row.input; }), 0);
    // The log line holds the payload exactly as the bridge read it.
    const std::string logLine = "- :" + Utf16ToUtf8(PayloadToText(row.input)) + "\n";
    EXPECT_EQ(output.out.substr(0, logLine.size()), logLine);
    EXPECT_EQ(output.out.substr(std::min(logLine.size(), output.out.size())), row.tail);
  }
}

TEST(ProbeResolve, BadArgumentsGiveUsage) {
  for (const std::vector<std::u16string> &args :
       {std::vector<std::u16string>{u"resolve"}, {u"resolve", u"--no-frontend"},
        {u"resolve", u"--frontend", u"{}"}, {u"resolve", u"{}", u"{}"}}) {
    ProbeOutput output;
    EXPECT_EQ(RunProbe(args, output), 2);
    EXPECT_NE(output.err.find("resolve [--no-frontend] PAYLOAD|-\n"), std::string::npos);
  }
}

} // namespace
} // namespace marquo
