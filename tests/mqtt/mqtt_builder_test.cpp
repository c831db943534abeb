// The bytes every builder sends, compared with hand-written packets.

#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "mqtt/mqtt_parser.hpp"
#include "mqtt/mqtt_wire.hpp"
#include "tests/mqtt/mqtt_test_util.hpp"

namespace marquo {
namespace {

using test::Bytes;
using test::Hex;
using enum TMQTTQOSType;

struct SentPacket {
  std::uint16_t id = 0;
  std::int32_t retry = -1;
  std::string bytes;
  bool atEnd = false;
};

// A parser whose OnSend records every packet it is handed.
class BuilderTest : public ::testing::Test {
protected:
  BuilderTest() {
    parser.OnSend = [this](std::uint16_t anID, std::int32_t aRetry, TMemoryStream &aStream) {
      sent.push_back({anID, aRetry, aStream.Bytes(), aStream.Position() == aStream.Size()});
    };
  }

  TMQTTParser parser;
  std::vector<SentPacket> sent;
};

struct BuildRow {
  const char *name;
  std::function<void(TMQTTParser &)> build;
  const char *expected; // hexadecimal
  std::uint16_t id;     // the anID OnSend must receive
};

TEST_F(BuilderTest, EveryBuilderSendsExactlyItsPacketOnce) {
  const BuildRow rows[] = {
      {"CONNECT with client ID, user name, no password, no will, clean",
       [](TMQTTParser &p) {
         p.Clean = true;
         p.SendConnect("CID50000", "u", "", 10, true);
       },
       "12 19 00 06 4D 51 49 73 64 70 03 82 00 0A 00 08 43 49 44 35 30 30 30 30 00 01 75", 0},
      {"broker connect differs only in the first byte",
       [](TMQTTParser &p) {
         p.Clean = true;
         p.SendBrokerConnect("CID50000", "u", "", 10, true);
       },
       "02 19 00 06 4D 51 49 73 64 70 03 82 00 0A 00 08 43 49 44 35 30 30 30 30 00 01 75", 0},
      {"CONNECT with user name and password (the default settings): flags C2",
       [](TMQTTParser &p) {
         p.Clean = true;
         p.SendConnect("c", "u", "p", 10, true);
       },
       "12 15 00 06 4D 51 49 73 64 70 03 C2 00 0A  00 01 63  00 01 75  00 01 70", 0},
      {"a password without a user name sets bit 6 alone",
       [](TMQTTParser &p) { p.SendConnect("c", "", "p", 60, false); },
       "12 12 00 06 4D 51 49 73 64 70 03 40 00 3C  00 01 63  00 01 70", 0},
      {"an empty client ID is still written, as 00 00",
       [](TMQTTParser &p) { p.SendConnect("", "", "", 0, false); },
       "12 0E 00 06 4D 51 49 73 64 70 03 00 00 00  00 00", 0},
      {"the clean flag comes from Clean, not from aClean",
       [](TMQTTParser &p) { p.SendConnect("", "", "", 0, true); },
       "12 0E 00 06 4D 51 49 73 64 70 03 00 00 00  00 00", 0},
      {"will at QoS 1 with retain adds 2C and the will strings after the client ID",
       [](TMQTTParser &p) {
         p.SetWill("w", "m", qtAT_LEAST_ONCE, true);
         p.SendConnect("c", "", "", 10, false);
       },
       "12 15 00 06 4D 51 49 73 64 70 03 2C 00 0A  00 01 63  00 01 77  00 01 6D", 0},
      {"will at QoS 2 without retain, clean, with user name and password",
       [](TMQTTParser &p) {
         p.Clean = true;
         p.SetWill("w", "m", qtEXACTLY_ONCE, false);
         p.SendConnect("c", "u", "p", 10, false);
       },
       "12 1B 00 06 4D 51 49 73 64 70 03 D6 00 0A  00 01 63  00 01 77  00 01 6D  00 01 75  00 01 "
       "70",
       0},
      {"a will with an empty message is not sent",
       [](TMQTTParser &p) {
         p.SetWill("w", "", qtEXACTLY_ONCE, true);
         p.SendConnect("c", "", "", 10, false);
       },
       "12 0F 00 06 4D 51 49 73 64 70 03 00 00 0A  00 01 63", 0},
      {"a will set again with an empty topic stops being sent",
       [](TMQTTParser &p) {
         p.SetWill("w", "m", qtAT_LEAST_ONCE, true);
         p.SetWill("", "m", qtAT_LEAST_ONCE, true);
         p.SendConnect("c", "", "", 10, false);
       },
       "12 0F 00 06 4D 51 49 73 64 70 03 00 00 0A  00 01 63", 0},
      {"CONNACK", [](TMQTTParser &p) { p.SendConnAck(5); }, "20 02 00 05", 0},
      {"PUBLISH at QoS 1 carries the identifier",
       [](TMQTTParser &p) { p.SendPublish(10, "a/b", "hi", qtAT_LEAST_ONCE, false, false); },
       "32 09 00 03 61 2F 62 00 0A 68 69", 10},
      {"PUBLISH at QoS 0 has no identifier, but OnSend still gets anID",
       [](TMQTTParser &p) { p.SendPublish(10, "a/b", "hi", qtAT_MOST_ONCE, false, false); },
       "30 07 00 03 61 2F 62 68 69", 10},
      {"PUBLISH at QoS 2 with DUP and RETAIN and an empty message ends after the identifier",
       [](TMQTTParser &p) { p.SendPublish(5, "a/b", "", qtEXACTLY_ONCE, true, true); },
       "3D 07 00 03 61 2F 62 00 05", 5},
      {"PUBLISH at the reserved QoS 3 has no identifier",
       [](TMQTTParser &p) { p.SendPublish(5, "a/b", "", qtReserved3, false, false); },
       "36 05 00 03 61 2F 62", 5},
      {"a non-ASCII topic is prefixed with its UTF-8 byte length",
       [](TMQTTParser &p) { p.SendPublish(0, "\xC3\xA9", "", qtAT_MOST_ONCE, false, false); },
       "30 04 00 02 C3 A9", 0},
      {"PUBACK", [](TMQTTParser &p) { p.SendPubAck(300); }, "40 02 01 2C", 300},
      {"PUBREC", [](TMQTTParser &p) { p.SendPubRec(300); }, "50 02 01 2C", 300},
      {"PUBREL", [](TMQTTParser &p) { p.SendPubRel(300, false); }, "62 02 01 2C", 300},
      {"PUBREL with DUP", [](TMQTTParser &p) { p.SendPubRel(300, true); }, "6A 02 01 2C", 300},
      {"PUBCOMP", [](TMQTTParser &p) { p.SendPubComp(300); }, "70 02 01 2C", 300},
      {"SUBSCRIBE, one topic", [](TMQTTParser &p) { p.SendSubscribe(1, "a/b", qtAT_MOST_ONCE); },
       "82 08 00 01 00 03 61 2F 62 00", 1},
      {"SUBSCRIBE, a list: UTF-8 topics, attached value AND 3 as QoS",
       [](TMQTTParser &p) {
         p.SendSubscribe(2, TStringList{{u"a/b", 6}, {u"\u00e9", 1}});
       },
       "82 0D 00 02  00 03 61 2F 62 02  00 02 C3 A9 01", 2},
      {"SUBSCRIBE, an empty list", [](TMQTTParser &p) { p.SendSubscribe(7, TStringList{}); },
       "82 02 00 07", 7},
      {"UNSUBSCRIBE, one topic", [](TMQTTParser &p) { p.SendUnsubscribe(1, "a/b"); },
       "A2 07 00 01 00 03 61 2F 62", 1},
      {"UNSUBSCRIBE, a list",
       [](TMQTTParser &p) {
         p.SendUnsubscribe(2, TStringList{{u"a/b", 6}, {u"\u00e9", 1}});
       },
       "A2 0B 00 02  00 03 61 2F 62  00 02 C3 A9", 2},
      {"UNSUBSCRIBE, an empty list", [](TMQTTParser &p) { p.SendUnsubscribe(7, TStringList{}); },
       "A2 02 00 07", 7},
      {"SUBACK",
       [](TMQTTParser &p) {
         const TMQTTQOSType granted[] = {qtAT_MOST_ONCE, qtAT_LEAST_ONCE, qtEXACTLY_ONCE};
         p.SendSubAck(1, granted);
       },
       "90 05 00 01 00 01 02", 1},
      {"SUBACK, empty", [](TMQTTParser &p) { p.SendSubAck(1, {}); }, "90 02 00 01", 1},
      {"UNSUBACK", [](TMQTTParser &p) { p.SendUnsubAck(300); }, "B0 02 01 2C", 300},
      {"PINGREQ", [](TMQTTParser &p) { p.SendPing(); }, "C0 00", 0},
      {"PINGRESP", [](TMQTTParser &p) { p.SendPingResp(); }, "D0 00", 0},
      {"DISCONNECT", [](TMQTTParser &p) { p.SendDisconnect(); }, "E0 00", 0},
  };
  for (const BuildRow &row : rows) {
    SCOPED_TRACE(row.name);
    TMQTTParser fresh;
    std::vector<SentPacket> packets;
    fresh.OnSend = [&](std::uint16_t anID, std::int32_t aRetry, TMemoryStream &aStream) {
      packets.push_back({anID, aRetry, aStream.Bytes(), aStream.Position() == aStream.Size()});
    };
    row.build(fresh);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(Hex(packets[0].bytes), Hex(Bytes(row.expected)));
    EXPECT_EQ(packets[0].id, row.id);
    EXPECT_EQ(packets[0].retry, 0);
    EXPECT_TRUE(packets[0].atEnd) << "OnSend's stream must be positioned at its end";
  }
}

TEST_F(BuilderTest, TransmitStreamIsReusedSoTheNextPacketHoldsNothingOfTheLast) {
  parser.SendPublish(1, "a/b", "a long message", qtAT_LEAST_ONCE, false, false);
  parser.SendPing();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(Hex(sent[1].bytes), "C0 00");
}

TEST_F(BuilderTest, WillWithEmptyMessageIsStoredButNotSent) {
  parser.SetWill("w", "", qtAT_LEAST_ONCE, true);
  EXPECT_FALSE(parser.WillFlag());
  EXPECT_EQ(parser.WillTopic, "w");
  EXPECT_TRUE(parser.WillRetain);
  EXPECT_EQ(parser.WillQos, qtAT_LEAST_ONCE);
}

TEST_F(BuilderTest, ConnectTakesOverItsKeepAliveAndReloadsTheCountdown) {
  parser.SendConnect("c", "", "", 2, false);
  EXPECT_EQ(parser.KeepAlive(), 2);
  int trueCalls = 0;
  while (parser.CheckKeepAlive() && trueCalls < 100)
    ++trueCalls;
  EXPECT_EQ(trueCalls, 19); // the countdown was reloaded with 2 * 10
}

TEST_F(BuilderTest, UnexpressibleStringsBuildNothingAndChangeNothing) {
  const std::string fits(65535, 'x');
  const std::string tooLong(65536, 'x');
  struct Row {
    const char *name;
    std::function<void(TMQTTParser &, const std::string &)> build;
  };
  const Row rows[] = {
      {"PUBLISH topic",
       [](TMQTTParser &p, const std::string &s) { p.SendPublish(1, s, "", qtAT_MOST_ONCE, 0, 0); }},
      {"SUBSCRIBE topic",
       [](TMQTTParser &p, const std::string &s) { p.SendSubscribe(1, s, qtAT_MOST_ONCE); }},
      {"SUBSCRIBE list item",
       [](TMQTTParser &p, const std::string &s) {
         p.SendSubscribe(1, TStringList{{u"a", 0}, {Utf8ToUtf16(s), 0}});
       }},
      {"UNSUBSCRIBE topic", [](TMQTTParser &p, const std::string &s) { p.SendUnsubscribe(1, s); }},
      {"UNSUBSCRIBE list item",
       [](TMQTTParser &p, const std::string &s) {
         p.SendUnsubscribe(1, TStringList{{Utf8ToUtf16(s), 0}});
       }},
      {"CONNECT client ID",
       [](TMQTTParser &p, const std::string &s) { p.SendConnect(s, "", "", 30, false); }},
      {"CONNECT user name",
       [](TMQTTParser &p, const std::string &s) { p.SendConnect("c", s, "", 30, false); }},
      {"CONNECT password",
       [](TMQTTParser &p, const std::string &s) { p.SendConnect("c", "", s, 30, false); }},
      {"CONNECT will message",
       [](TMQTTParser &p, const std::string &s) {
         p.SetWill("w", s, qtAT_MOST_ONCE, false);
         p.SendConnect("c", "", "", 30, false);
       }},
      {"broker connect will topic",
       [](TMQTTParser &p, const std::string &s) {
         p.SetWill(s, "m", qtAT_MOST_ONCE, false);
         p.SendBrokerConnect("c", "", "", 30, false);
       }},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    for (const std::string *text : {&fits, &tooLong}) {
      TMQTTParser fresh;
      int sends = 0;
      std::size_t size = 0;
      fresh.OnSend = [&](std::uint16_t, std::int32_t, TMemoryStream &aStream) {
        ++sends;
        size = aStream.Size();
      };
      row.build(fresh, *text);
      if (text == &fits) {
        EXPECT_EQ(sends, 1) << "65535 bytes still fit a string field";
        EXPECT_GT(size, 65535u);
      } else {
        EXPECT_EQ(sends, 0) << "a string over 65535 bytes must not be sent truncated";
        EXPECT_EQ(fresh.KeepAlive(), 10) << "a packet not built has no side effect";
      }
    }
  }
}

TEST(MQTTWire, RemainingLengthTakesTheFewestBytes) {
  struct Row {
    std::uint32_t value;
    const char *expected;
  };
  const Row rows[] = {
      {0, "00"},
      {127, "7F"},
      {128, "80 01"},
      {321, "C1 02"},
      {16383, "FF 7F"},
      {16384, "80 80 01"},
      {2097151, "FF FF 7F"},
      {2097152, "80 80 80 01"},
      {268435455, "FF FF FF 7F"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.value);
    TMemoryStream stream;
    StreamWriteLength(stream, row.value);
    EXPECT_EQ(Hex(stream.Bytes()), Hex(Bytes(row.expected)));
  }
}

TEST_F(BuilderTest, PublishLengthFieldGrowsFrom127To128) {
  // Topic "t" (3 bytes) plus a message of 124 or 125 bytes.
  parser.SendPublish(0, "t", std::string(124, 'm'), qtAT_MOST_ONCE, false, false);
  parser.SendPublish(0, "t", std::string(125, 'm'), qtAT_MOST_ONCE, false, false);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(Hex(sent[0].bytes.substr(0, 4)), "30 7F 00 01");
  EXPECT_EQ(Hex(sent[1].bytes.substr(0, 5)), "30 80 01 00 01");
  EXPECT_EQ(sent[1].bytes.size(), 3u + 128u);
}

TEST(MQTTWire, StringFieldCountsBytesNotCharacters) {
  TMemoryStream stream;
  EXPECT_TRUE(StreamWriteString(stream, ""));
  EXPECT_TRUE(StreamWriteString(stream, "\xC3\xA9"));
  EXPECT_FALSE(StreamWriteString(stream, std::string(65536, 'x')));
  EXPECT_EQ(Hex(stream.Bytes()), "00 00 00 02 C3 A9");
}

TEST(MQTTWire, HeaderByteHoldsTypeDupQosRetain) {
  TMemoryStream stream;
  StreamWriteHeader(stream, TMQTTMessageType::mtPUBLISH, true, qtEXACTLY_ONCE, true);
  StreamWriteHeader(stream, TMQTTMessageType::mtCONNECT, false, qtAT_LEAST_ONCE, false);
  EXPECT_EQ(Hex(stream.Bytes()), "3D 12");
}

TEST(MQTTWire, ReadersStopAtTheEndInsteadOfFailing) {
  TMemoryStream stream(Bytes("3D 00 05 61 62"));
  const TMQTTHeader header = StreamReadHeader(stream);
  EXPECT_EQ(header.MsgType, TMQTTMessageType::mtPUBLISH);
  EXPECT_TRUE(header.Dup);
  EXPECT_EQ(header.Qos, qtEXACTLY_ONCE);
  EXPECT_TRUE(header.Retain);
  // The string announces 5 bytes but only 2 follow: empty, and the position
  // stays just after the two length bytes.
  EXPECT_EQ(StreamReadString(stream), "");
  EXPECT_EQ(stream.Position(), 3u);
  EXPECT_EQ(StreamReadByte(stream), 0x61);
  EXPECT_EQ(StreamReadByte(stream), 0x62);
  EXPECT_EQ(StreamReadByte(stream), 0);
  EXPECT_EQ(stream.Position(), 5u);
  EXPECT_EQ(StreamReadString(stream), "");
  EXPECT_EQ(stream.Position(), 5u);

  TMemoryStream exact(Bytes("00 02 C3 A9"));
  EXPECT_EQ(StreamReadString(exact), "\xC3\xA9");
}

TEST(MQTTTexts, ConnAckCodesAndQosLevels) {
  struct Row {
    std::uint8_t code;
    std::u16string text;
  };
  const Row rows[] = {
      {0, u"ACCEPTED"},
      {1, u"PROTOCOL UNACCEPTABLE"},
      {2, u"IDENTIFIER REJECTED"},
      {3, u"SERVER UNAVILABLE"},
      {4, u"BAD LOGIN"},
      {5, u"NOT AUTHORISED"},
      {6, u"RESERVED 6"},
      {10, u"RESERVED 10"},
      {255, u"RESERVED 255"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(int(row.code));
    EXPECT_EQ(ConnAckCodeText(row.code), row.text);
  }
  EXPECT_EQ(QosLevelTexts[0], u"AT_MOST_ONCE");
  EXPECT_EQ(QosLevelTexts[1], u"AT_LEAST_ONCE");
  EXPECT_EQ(QosLevelTexts[2], u"EXACTLY_ONCE");
  EXPECT_EQ(QosLevelTexts[3], u"RESERVED");
}

TEST(MQTTParserSettings, StartValuesTheClientRelyOn) {
  TMQTTParser parser;
  EXPECT_EQ(parser.KeepAlive(), 10);
  EXPECT_EQ(parser.MaxRetries(), 8);
  EXPECT_EQ(parser.RetryTime(), 60);
  EXPECT_EQ(parser.WillQos, qtAT_LEAST_ONCE);
  EXPECT_FALSE(parser.WillFlag());
  EXPECT_FALSE(parser.Clean);
  EXPECT_EQ(parser.RxMsg, TMQTTMessageType::mtReserved15);
  // Nothing received yet: the countdown is 0 and never reports expiry.
  EXPECT_TRUE(parser.CheckKeepAlive());
  EXPECT_TRUE(parser.CheckKeepAlive());
}

TEST(MQTTParserSettings, MonPrefixesItsText) {
  TMQTTParser parser;
  std::u16string text;
  parser.OnMon = [&](const std::u16string &aStr) { text = aStr; };
  parser.Mon(u"hello");
  EXPECT_EQ(text, u"P hello");
}

} // namespace
} // namespace marquo
