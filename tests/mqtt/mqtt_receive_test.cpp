// The receive side: byte streams and the events they must raise, whole, byte
// by byte and split at every position.

#include <stdexcept>

#include <gtest/gtest.h>

#include "mqtt/mqtt_parser.hpp"
#include "tests/mqtt/mqtt_test_util.hpp"

namespace marquo {
namespace {

using test::Bytes;
using test::EventRecorder;
using test::Hex;
using Lines = std::vector<std::string>;

struct StreamRow {
  const char *name;
  std::string input; // the bytes
  Lines expected;
};

// A PUBLISH whose remaining length is sent as C1 02 (321): topic "t", then a
// message of 318 bytes.
std::string LongPublish() {
  std::string message(318, 'x');
  return Bytes("30 C1 02 00 01 74") + message;
}

const std::string kHeaderPublish0 = "Header mtPUBLISH dup=0 qos=0 retain=0";
const std::string kHeaderPingResp = "Header mtPINGRESP dup=0 qos=0 retain=0";

std::vector<StreamRow> Rows() {
  return {
      {"PINGRESP", Bytes("D0 00"), {kHeaderPingResp, "PingResp"}},
      {"PINGREQ", Bytes("C0 00"), {"Header mtPINGREQ dup=0 qos=0 retain=0", "Ping"}},
      {"DISCONNECT", Bytes("E0 00"), {"Header mtDISCONNECT dup=0 qos=0 retain=0", "Disconnect"}},
      {"PINGREQ with a body raises only its header",
       Bytes("C0 01 00"),
       {"Header mtPINGREQ dup=0 qos=0 retain=0"}},
      {"zero-length packets of other types raise only their header",
       Bytes("20 00 30 00 90 00"),
       {"Header mtCONNACK dup=0 qos=0 retain=0", kHeaderPublish0,
        "Header mtSUBACK dup=0 qos=0 retain=0"}},
      {"CONNACK accepted",
       Bytes("20 02 00 00"),
       {"Header mtCONNACK dup=0 qos=0 retain=0", "ConnAck 0"}},
      {"CONNACK refused",
       Bytes("20 02 00 05"),
       {"Header mtCONNACK dup=0 qos=0 retain=0", "ConnAck 5"}},
      {"CONNACK of 3 bytes is dropped",
       Bytes("20 03 00 00 00"),
       {"Header mtCONNACK dup=0 qos=0 retain=0"}},
      {"PUBLISH at QoS 0",
       Bytes("30 07 00 03 61 2F 62 68 69"),
       {kHeaderPublish0, "Publish id=0 topic=a/b message=hi rxqos=0 rxretain=0"}},
      {"PUBLISH at QoS 1: identifier read, RxQos 1 during the event",
       Bytes("32 09 00 03 61 2F 62 00 0A 68 69"),
       {"Header mtPUBLISH dup=0 qos=1 retain=0",
        "Publish id=10 topic=a/b message=hi rxqos=1 rxretain=0"}},
      {"PUBLISH at QoS 2 with DUP and RETAIN",
       Bytes("3D 09 00 03 61 2F 62 01 00 68 69"),
       {"Header mtPUBLISH dup=1 qos=2 retain=1",
        "Publish id=256 topic=a/b message=hi rxqos=2 rxretain=1"}},
      {"PUBLISH at the reserved QoS 3 has identifier 0",
       Bytes("36 07 00 03 61 2F 62 68 69"),
       {"Header mtPUBLISH dup=0 qos=3 retain=0",
        "Publish id=0 topic=a/b message=hi rxqos=3 rxretain=0"}},
      {"PUBLISH of 3 bytes is dropped", Bytes("30 03 00 01 61"), {kHeaderPublish0}},
      {"PUBLISH holding only its topic has an empty message",
       Bytes("30 05 00 03 61 2F 62"),
       {kHeaderPublish0, "Publish id=0 topic=a/b message= rxqos=0 rxretain=0"}},
      {"PUBLISH whose topic runs past the body: empty topic, the rest is the message",
       Bytes("30 04 00 05 61 62"),
       {kHeaderPublish0, "Publish id=0 topic= message=ab rxqos=0 rxretain=0"}},
      {"remaining length C1 02 is 321 body bytes",
       LongPublish() + Bytes("D0 00"),
       {kHeaderPublish0,
        "Publish id=0 topic=t message=" + std::string(318, 'x') + " rxqos=0 rxretain=0",
        kHeaderPingResp, "PingResp"}},
      {"PUBACK", Bytes("40 02 01 2C"), {"Header mtPUBACK dup=0 qos=0 retain=0", "PubAck 300"}},
      {"PUBACK of 3 bytes is dropped",
       Bytes("40 03 01 2C 00"),
       {"Header mtPUBACK dup=0 qos=0 retain=0"}},
      {"PUBREC", Bytes("50 02 00 01"), {"Header mtPUBREC dup=0 qos=0 retain=0", "PubRec 1"}},
      {"PUBREL", Bytes("62 02 FF FF"), {"Header mtPUBREL dup=0 qos=1 retain=0", "PubRel 65535"}},
      {"PUBCOMP", Bytes("70 02 00 02"), {"Header mtPUBCOMP dup=0 qos=0 retain=0", "PubComp 2"}},
      {"PUBCOMP of 1 byte is dropped",
       Bytes("70 01 00"),
       {"Header mtPUBCOMP dup=0 qos=0 retain=0"}},
      {"UNSUBACK",
       Bytes("B0 02 01 2C"),
       {"Header mtUNSUBACK dup=0 qos=0 retain=0", "UnsubAck 300"}},
      {"UNSUBACK of 3 bytes is dropped",
       Bytes("B0 03 01 2C 00"),
       {"Header mtUNSUBACK dup=0 qos=0 retain=0"}},
      {"PUBREC and PUBREL of the wrong size are dropped",
       Bytes("50 03 00 01 00 62 01 00"),
       {"Header mtPUBREC dup=0 qos=0 retain=0", "Header mtPUBREL dup=0 qos=1 retain=0"}},
      {"CONNACK of 1 byte is dropped", Bytes("20 01 00"), {"Header mtCONNACK dup=0 qos=0 retain=0"}},
      {"SUBSCRIBE and UNSUBSCRIBE under 2 bytes are dropped",
       Bytes("82 01 00 A2 01 00"),
       {"Header mtSUBSCRIBE dup=0 qos=1 retain=0", "Header mtUNSUBSCRIBE dup=0 qos=1 retain=0"}},
      {"SUBSCRIBE and UNSUBSCRIBE of just an identifier have no topics",
       Bytes("82 02 00 05 A2 02 00 06"),
       {"Header mtSUBSCRIBE dup=0 qos=1 retain=0", "Subscribe id=5",
        "Header mtUNSUBSCRIBE dup=0 qos=1 retain=0", "Unsubscribe id=6"}},
      {"SUBACK and PINGRESP in one chunk, in order",
       Bytes("90 03 00 01 00 D0 00"),
       {"Header mtSUBACK dup=0 qos=0 retain=0", "SubAck id=1 qoss=0", kHeaderPingResp, "PingResp"}},
      {"SUBACK without entries",
       Bytes("90 02 00 07"),
       {"Header mtSUBACK dup=0 qos=0 retain=0", "SubAck id=7 qoss="}},
      {"SUBACK keeps the low two bits of each entry",
       Bytes("90 05 00 07 81 02 FF"),
       {"Header mtSUBACK dup=0 qos=0 retain=0", "SubAck id=7 qoss=1,2,3"}},
      {"SUBACK of 1 byte is dropped", Bytes("90 01 00"), {"Header mtSUBACK dup=0 qos=0 retain=0"}},
      {"SUBSCRIBE: UTF-16 topics with the requested QoS attached",
       Bytes("82 0D 00 02  00 03 61 2F 62 06  00 02 C3 A9 01"),
       {"Header mtSUBSCRIBE dup=0 qos=1 retain=0", "Subscribe id=2 a/b:2 \xC3\xA9:1"}},
      {"SUBSCRIBE ignores fewer than 3 trailing bytes",
       Bytes("82 0A 00 02  00 03 61 2F 62 00  00 01"),
       {"Header mtSUBSCRIBE dup=0 qos=1 retain=0", "Subscribe id=2 a/b:0"}},
      {"UNSUBSCRIBE",
       Bytes("A2 0C 00 02  00 03 61 2F 62  00 02 C3 A9  00"),
       {"Header mtUNSUBSCRIBE dup=0 qos=1 retain=0", "Unsubscribe id=2 a/b:0 \xC3\xA9:0"}},
      {"CONNECT",
       Bytes("12 19 00 06 4D 51 49 73 64 70 03 82 00 0A 00 08 43 49 44 35 30 30 30 30 00 01 75"),
       {"Header mtCONNECT dup=0 qos=1 retain=0",
        "Connect MQIsdp 3 client=CID50000 user=u password= keepalive=10 clean=1"}},
      {"broker connect with will, user name and password: the will comes first",
       Bytes("02 1B 00 06 4D 51 49 73 64 70 03 EC 00 3C  00 01 63  00 01 77  00 01 6D  00 01 75  "
             "00 01 70"),
       {"Header mtBROKERCONNECT dup=0 qos=1 retain=0", "SetWill topic=w message=m qos=1 retain=1",
        "BrokerConnect MQIsdp 3 client=c user=u password=p keepalive=60 clean=0"}},
      {"a truncated CONNECT gives empty and zero fields",
       Bytes("10 03 00 06 4D"),
       {"Header mtCONNECT dup=0 qos=0 retain=0",
        "Connect  77 client= user= password= keepalive=0 clean=0"}},
      {"type 15 with a body is consumed without an event",
       Bytes("F0 03 01 02 03 D0 00"),
       {"Header mtReserved15 dup=0 qos=0 retain=0", kHeaderPingResp, "PingResp"}},
      {"an overlong zero length in four bytes is still a length",
       Bytes("D0 80 80 80 00 D0 00"),
       {kHeaderPingResp, "PingResp", kHeaderPingResp, "PingResp"}},
      {"the largest four-byte length of a PUBACK is counted down, not decoded",
       Bytes("40 FF FF FF 7F 00 01 61"),
       {"Header mtPUBACK dup=0 qos=0 retain=0"}},
      {"packets of a size their kind does not allow are skipped up to the next packet",
       Bytes("40 03 01 2C 00 D0 00 C0 01 00 E0 00"),
       {"Header mtPUBACK dup=0 qos=0 retain=0", kHeaderPingResp, "PingResp",
        "Header mtPINGREQ dup=0 qos=0 retain=0", "Header mtDISCONNECT dup=0 qos=0 retain=0",
        "Disconnect"}},
      {"a PUBLISH one byte over the receive limit breaks the stream at its length",
       Bytes("30 81 80 80 02 00 01 61 D0 00"),
       {kHeaderPublish0, "BrokenStream"}},
      {"a fifth length byte breaks the stream; nothing after it is decoded",
       Bytes("30 FF FF FF FF 01 D0 00 D0 00"),
       {kHeaderPublish0, "BrokenStream"}},
  };
}

Lines Feed(const std::vector<std::string> &aChunks) {
  TMQTTParser parser;
  EventRecorder recorder(parser);
  for (const std::string &chunk : aChunks)
    parser.Parse(chunk);
  return recorder.Lines;
}

TEST(MQTTReceive, EventsDoNotDependOnHowTheBytesAreSplit) {
  for (const StreamRow &row : Rows()) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Feed({row.input}), row.expected) << "whole: " << Hex(row.input);

    std::vector<std::string> single;
    for (char c : row.input)
      single.emplace_back(1, c);
    EXPECT_EQ(Feed(single), row.expected) << "byte by byte";

    for (std::size_t at = 0; at <= row.input.size(); ++at) {
      const Lines lines = Feed({row.input.substr(0, at), row.input.substr(at)});
      EXPECT_EQ(lines, row.expected) << "split at " << at;
      if (lines != row.expected)
        break;
    }
  }
}

TEST(MQTTReceive, StreamFormConsumesFromThePositionToTheEnd) {
  TMQTTParser parser;
  EventRecorder recorder(parser);
  TMemoryStream stream(Bytes("20 D0 00"));
  stream.Seek(1);
  parser.Parse(stream);
  EXPECT_EQ(recorder.Lines, (Lines{kHeaderPingResp, "PingResp"}));
  EXPECT_EQ(stream.Position(), stream.Size());
}

TEST(MQTTReceive, ResetMidBodyDiscardsThePartialPacket) {
  TMQTTParser parser;
  EventRecorder recorder(parser);
  parser.Parse(Bytes("3B 09 00 03 61"));
  EXPECT_EQ(parser.RxQos, TMQTTQOSType::qtAT_LEAST_ONCE);
  parser.Reset();
  EXPECT_EQ(parser.RxMsg, TMQTTMessageType::mtReserved15);
  EXPECT_EQ(parser.RxQos, TMQTTQOSType::qtAT_MOST_ONCE);
  EXPECT_FALSE(parser.RxDup);
  EXPECT_FALSE(parser.RxRetain);
  // The next byte is a first byte again, not the rest of the PUBLISH.
  parser.Parse(Bytes("D0 00"));
  EXPECT_EQ(recorder.Lines,
            (Lines{"Header mtPUBLISH dup=1 qos=1 retain=1", kHeaderPingResp, "PingResp"}));
}

TEST(MQTTReceive, ResetRecoversFromABrokenStream) {
  TMQTTParser parser;
  EventRecorder recorder(parser);
  parser.Parse(Bytes("30 80 80 80 80"));
  parser.Parse(Bytes("D0 00"));
  EXPECT_EQ(recorder.Lines, (Lines{kHeaderPublish0, "BrokenStream"}));
  parser.Reset();
  parser.Parse(Bytes("D0 00"));
  EXPECT_EQ(recorder.Lines, (Lines{kHeaderPublish0, "BrokenStream", kHeaderPingResp, "PingResp"}));
}

TEST(MQTTReceive, ThrowingHandlerLeavesTheParserAtThePacketBoundary) {
  struct Row {
    const char *name;
    std::function<void(TMQTTParser &)> arm; // makes one handler throw
    std::string input;
  };
  const auto thrower = [] { throw std::runtime_error("handler failed"); };
  const Row rows[] = {
      {"OnPublish",
       [&](TMQTTParser &p) {
         p.OnPublish = [&](std::uint16_t, const std::string &, const std::string &) { thrower(); };
       },
       Bytes("30 07 00 03 61 2F 62 68 69")},
      {"OnHeader",
       [&](TMQTTParser &p) {
         p.OnHeader = [&](TMQTTMessageType, bool, TMQTTQOSType, bool) { thrower(); };
       },
       Bytes("30 07 00 03 61 2F 62 68 69")},
      {"OnPingResp", [&](TMQTTParser &p) { p.OnPingResp = thrower; }, Bytes("D0 00")},
      {"OnSetWill",
       [&](TMQTTParser &p) {
         p.OnSetWill = [&](const std::string &, const std::string &, TMQTTQOSType, bool) {
           thrower();
         };
       },
       Bytes("10 13 00 06 4D 51 49 73 64 70 03 04 00 0A 00 00 00 01 77 00 00")},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    TMQTTParser parser;
    row.arm(parser);
    EXPECT_THROW(parser.Parse(row.input), std::runtime_error);
    // Without Reset the packet's own bytes are consumed up to the throw;
    // after Reset the parser decodes as a fresh one does.
    parser.Reset();
    EventRecorder recorder(parser);
    parser.Parse(Bytes("32 09 00 03 61 2F 62 00 0A 68 69"));
    EXPECT_EQ(recorder.Lines, (Lines{"Header mtPUBLISH dup=0 qos=1 retain=0",
                                     "Publish id=10 topic=a/b message=hi rxqos=1 rxretain=0"}));
  }
}

TEST(MQTTReceive, ThrowInPacketEventDoesNotSwallowTheNextPacket) {
  // The body counter must not be left at zero: the next packet would then
  // be read as an endless body.
  TMQTTParser parser;
  EventRecorder recorder(parser);
  parser.OnConnAck = [](std::uint8_t) { throw std::runtime_error("handler failed"); };
  EXPECT_THROW(parser.Parse(Bytes("20 02 00 00")), std::runtime_error);
  parser.Parse(Bytes("D0 00"));
  EXPECT_EQ(recorder.Lines,
            (Lines{"Header mtCONNACK dup=0 qos=0 retain=0", kHeaderPingResp, "PingResp"}));
}

TEST(MQTTReceive, HandlerMayAnswerAndUnassignItselfDuringTheEvent) {
  TMQTTParser parser;
  EventRecorder recorder(parser);
  std::vector<std::string> sent;
  parser.OnSend = [&](std::uint16_t, std::int32_t, TMemoryStream &aStream) {
    sent.push_back(Hex(aStream.Bytes()));
  };
  std::vector<std::string> notes;
  const std::string note = "handled after unassigning, from the handler's own capture";
  parser.OnPublish = [&, note](std::uint16_t anID, const std::string &, const std::string &) {
    parser.SendPubAck(anID);
    parser.OnPublish = nullptr; // would destroy this very handler if it were not a copy
    notes.push_back(note);
  };
  parser.Parse(
      Bytes("32 09 00 03 61 2F 62 00 0A 68 69  50 02 00 0A  32 09 00 03 61 2F 62 00 0B 68 69"));
  EXPECT_EQ(sent, (std::vector<std::string>{"40 02 00 0A"}));
  EXPECT_EQ(notes, (std::vector<std::string>{note}));
  EXPECT_EQ(recorder.Lines,
            (Lines{"Header mtPUBLISH dup=0 qos=1 retain=0", "Header mtPUBREC dup=0 qos=0 retain=0",
                   "PubRec 10", "Header mtPUBLISH dup=0 qos=1 retain=0"}));
}

TEST(MQTTReceive, KeepAliveCountdown) {
  TMQTTParser parser;
  parser.SetKeepAlive(1);
  for (int i = 0; i < 9; ++i)
    EXPECT_TRUE(parser.CheckKeepAlive()) << "call " << i + 1;
  EXPECT_FALSE(parser.CheckKeepAlive()) << "the tenth call brings the countdown to 0";
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(parser.CheckKeepAlive()) << "at 0 it stays true";

  // A complete packet, with or without a body, reloads the countdown.
  for (const char *packet : {"D0 00", "B0 02 00 01"}) {
    SCOPED_TRACE(packet);
    parser.Parse(Bytes(packet));
    int trueCalls = 0;
    while (parser.CheckKeepAlive() && trueCalls < 100)
      ++trueCalls;
    EXPECT_EQ(trueCalls, 9);
  }

  // A completed remaining length reloads it already, before the body.
  parser.Parse(Bytes("B0 02 00"));
  int trueCalls = 0;
  while (parser.CheckKeepAlive() && trueCalls < 100)
    ++trueCalls;
  EXPECT_EQ(trueCalls, 9);
}

} // namespace
} // namespace marquo
