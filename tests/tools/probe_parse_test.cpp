#include "tools/probe.hpp"

#include <gtest/gtest.h>

namespace marquo {
namespace {

TEST(ProbeParse, PrintsOneLinePerEventInTheOrderRaised) {
  struct Row {
    const char *name;
    std::vector<std::u16string> chunks;
    const char *expected;
  };
  const Row rows[] = {
      {"SUBACK and PINGRESP in one chunk",
       {u"90 03 00 01 00 D0 00"},
       "Header MsgType=mtSUBACK Dup=0 Qos=qtAT_MOST_ONCE Retain=0\n"
       "SubAck ID=1 Qoss=qtAT_MOST_ONCE\n"
       "Header MsgType=mtPINGRESP Dup=0 Qos=qtAT_MOST_ONCE Retain=0\n"
       "PingResp\n"},
      {"a packet split over two arguments, blanks optional",
       {u"3209000361", u"2f62000A6869"},
       "Header MsgType=mtPUBLISH Dup=0 Qos=qtAT_LEAST_ONCE Retain=0\n"
       "Publish ID=10 Topic=a/b Message=hi\n"},
      {"SUBSCRIBE lists its topics as text:value, UTF-8 escaped byte by byte",
       {u"82 0D 00 02 00 03 61 2F 62 06 00 02 C3 A9 01"},
       "Header MsgType=mtSUBSCRIBE Dup=0 Qos=qtAT_LEAST_ONCE Retain=0\n"
       "Subscribe ID=2 Topics=a/b:2,\\xC3\\xA9:1\n"},
      // Byte text that would break the line, or blur an escape, is escaped.
      {"SUBSCRIBE topics with a line feed and a backslash",
       {u"82 0D 00 03 00 03 61 0A 62 01 00 02 5C 7E 00"},
       "Header MsgType=mtSUBSCRIBE Dup=0 Qos=qtAT_LEAST_ONCE Retain=0\n"
       "Subscribe ID=3 Topics=a\\x0Ab:1,\\x5C~:0\n"},
      {"UNSUBSCRIBE topic of CR LF",
       {u"A2 06 00 04 00 02 0D 0A"},
       "Header MsgType=mtUNSUBSCRIBE Dup=0 Qos=qtAT_LEAST_ONCE Retain=0\n"
       "Unsubscribe ID=4 Topics=\\x0D\\x0A:0\n"},
      {"PUBLISH topic and message with control, NUL and non-ASCII bytes",
       {u"30 09 00 02 74 5C 0D 0A 00 C3 A9"},
       "Header MsgType=mtPUBLISH Dup=0 Qos=qtAT_MOST_ONCE Retain=0\n"
       "Publish ID=0 Topic=t\\x5C Message=\\x0D\\x0A\\x00\\xC3\\xA9\n"},
      {"CONNECT with a will",
       {u"10 13 00 06 4D 51 49 73 64 70 03 2C 00 0A 00 00 00 01 77 00 00"},
       "Header MsgType=mtCONNECT Dup=0 Qos=qtAT_MOST_ONCE Retain=0\n"
       "SetWill Topic=w Message= Qos=qtAT_LEAST_ONCE Retain=1\n"
       "Connect Protocol=MQIsdp Version=3 ClientID= UserName= Password= KeepAlive=10 "
       "Clean=0\n"},
      {"CONNECT with escaped client id, will, user name and password",
       {u"10 21 00 06 4D 51 49 73 64 70 03 C6 00 3C 00 02 63 0A 00 02 74 0D 00 02 6D 7F"
        u" 00 02 75 5C 00 03 70 00 FF"},
       "Header MsgType=mtCONNECT Dup=0 Qos=qtAT_MOST_ONCE Retain=0\n"
       "SetWill Topic=t\\x0D Message=m\\x7F Qos=qtAT_MOST_ONCE Retain=0\n"
       "Connect Protocol=MQIsdp Version=3 ClientID=c\\x0A UserName=u\\x5C Password=p\\x00\\xFF "
       "KeepAlive=60 Clean=1\n"},
      {"acknowledgements and pings",
       {u"20 02 00 05", u"B0 02 01 2C", u"40 02 00 01 50 02 00 02 62 02 00 03 70 02 00 04",
        u"C0 00 E0 00"},
       "Header MsgType=mtCONNACK Dup=0 Qos=qtAT_MOST_ONCE Retain=0\nConnAck Code=5\n"
       "Header MsgType=mtUNSUBACK Dup=0 Qos=qtAT_MOST_ONCE Retain=0\nUnsubAck ID=300\n"
       "Header MsgType=mtPUBACK Dup=0 Qos=qtAT_MOST_ONCE Retain=0\nPubAck ID=1\n"
       "Header MsgType=mtPUBREC Dup=0 Qos=qtAT_MOST_ONCE Retain=0\nPubRec ID=2\n"
       "Header MsgType=mtPUBREL Dup=0 Qos=qtAT_LEAST_ONCE Retain=0\nPubRel ID=3\n"
       "Header MsgType=mtPUBCOMP Dup=0 Qos=qtAT_MOST_ONCE Retain=0\nPubComp ID=4\n"
       "Header MsgType=mtPINGREQ Dup=0 Qos=qtAT_MOST_ONCE Retain=0\nPing\n"
       "Header MsgType=mtDISCONNECT Dup=0 Qos=qtAT_MOST_ONCE Retain=0\nDisconnect\n"},
      {"a broken stream has its own line",
       {u"3F FF FF FF FF D0 00"},
       "Header MsgType=mtPUBLISH Dup=1 Qos=qtReserved3 Retain=1\nBrokenStream\n"},
      {"an empty chunk prints nothing", {u""}, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::u16string> args = {u"parse"};
    args.insert(args.end(), row.chunks.begin(), row.chunks.end());
    ProbeOutput output;
    EXPECT_EQ(RunProbe(args, output), 0);
    EXPECT_EQ(output.out, row.expected);
    EXPECT_EQ(output.err, "");
  }
}

TEST(ProbeParse, DashIsTheHexTextOfStandardInputAsOneChunk) {
  struct Row {
    const char *name;
    std::vector<std::u16string> chunks;
    std::string input;
    const char *expected;
  };
  const Row rows[] = {
      {"one packet a line, CR LF or LF",
       {u"-"},
       "90 03 00 01 00\r\nD0 00\n",
       "Header MsgType=mtSUBACK Dup=0 Qos=qtAT_MOST_ONCE Retain=0\n"
       "SubAck ID=1 Qoss=qtAT_MOST_ONCE\n"
       "Header MsgType=mtPINGRESP Dup=0 Qos=qtAT_MOST_ONCE Retain=0\n"
       "PingResp\n"},
      {"between command-line chunks, in its place",
       {u"3209", u"-", u"6869"},
       "000361\n2f62000A",
       "Header MsgType=mtPUBLISH Dup=0 Qos=qtAT_LEAST_ONCE Retain=0\n"
       "Publish ID=10 Topic=a/b Message=hi\n"},
      {"empty input is an empty chunk", {u"-"}, "", ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::u16string> args = {u"parse"};
    args.insert(args.end(), row.chunks.begin(), row.chunks.end());
    ProbeOutput output;
    EXPECT_EQ(RunProbe(args, output, [&row] { return row.input; }), 0);
    EXPECT_EQ(output.out, row.expected);
    EXPECT_EQ(output.err, "");
  }
}

TEST(ProbeParse, MalformedHexGivesUsageAndNoEvents) {
  struct Row {
    std::vector<std::u16string> args;
    std::string input; // standard input, for "-"
  };
  const Row rows[] = {
      {{u"parse"}, ""},                  // no chunk at all
      {{u"parse", u"D0 0"}, ""},         // odd digit count
      {{u"parse", u"D 00"}, ""},         // blank inside a byte
      {{u"parse", u"D0 00", u"zz"}, ""}, // a later bad argument stops the whole run
      {{u"parse", u"0x10"}, ""},
      {{u"parse", u"-"}, "D0 00 zz\n"}, // bad hex on standard input
      {{u"parse", u"-"}, std::string("D0\0 00", 6)}, // a NUL is no blank
      {{u"parse", u"-", u"-"}, "D0 00"}, // standard input holds one chunk only
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.input);
    ProbeOutput output;
    EXPECT_EQ(RunProbe(row.args, output, [&row] { return row.input; }), 2);
    EXPECT_EQ(output.out, "");
    EXPECT_NE(output.err.find("marquo-probe parse HEX|-...\n"), std::string::npos) << output.err;
  }
}

} // namespace
} // namespace marquo
