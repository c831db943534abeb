// The receive side against hostile and unlucky input: lengths that announce
// far more than a packet can need, handlers that throw in the middle of a
// read, and handlers that destroy the parser they are called from.

#include <functional>
#include <memory>
#include <stdexcept>
#include <utility>

#include <gtest/gtest.h>

#include "mqtt/mqtt_parser.hpp"
#include "mqtt/mqtt_wire.hpp"
#include "tests/mqtt/mqtt_test_util.hpp"

namespace marquo {
namespace {

using test::Bytes;
using test::EventRecorder;
using Lines = std::vector<std::string>;

// A read size a socket typically delivers.
constexpr std::size_t kChunk = 64 * 1024;
// What a parser may hold while it stores nothing worth mentioning: a few
// small strings.
constexpr std::size_t kSmall = 1024;

const std::string kHeaderPublish0 = "Header mtPUBLISH dup=0 qos=0 retain=0";
const std::string kHeaderPingResp = "Header mtPINGRESP dup=0 qos=0 retain=0";

// A first byte and a remaining length, as a peer sends them.
std::string FixedHeader(std::uint8_t aFirstByte, std::uint32_t aLength) {
  TMemoryStream stream;
  StreamWriteByte(stream, aFirstByte);
  StreamWriteLength(stream, aLength);
  return stream.Bytes();
}

// A QoS 0 PUBLISH of topic "a/b" whose remaining length is aLength.
std::string PublishOfLength(std::uint32_t aLength) {
  return FixedHeader(0x30, aLength) + Bytes("00 03 61 2F 62") + std::string(aLength - 5, 'm');
}

// Feeds aBytes in socket-sized chunks and calls aAfterChunk after each one.
void FeedInChunks(TMQTTParser &aParser, std::string_view aBytes,
                  const std::function<void()> &aAfterChunk) {
  for (std::size_t at = 0; at < aBytes.size(); at += kChunk) {
    aParser.Parse(aBytes.substr(at, kChunk));
    aAfterChunk();
  }
}

TEST(MQTTReceiveBounds, OverlongFixedSizePacketIsSkippedWithoutBeingStored) {
  // The largest length four bytes can announce, for kinds that can never be
  // that long. The bytes must be counted, not stored: storing them held
  // hundreds of megabytes for a packet that is then dropped.
  struct Row {
    const char *name;
    std::uint8_t firstByte;
    std::string header; // the OnHeader line
  };
  const Row rows[] = {
      {"PUBACK", 0x40, "Header mtPUBACK dup=0 qos=0 retain=0"},
      {"CONNACK", 0x20, "Header mtCONNACK dup=0 qos=0 retain=0"},
      {"PUBREL", 0x62, "Header mtPUBREL dup=0 qos=1 retain=0"},
      {"UNSUBACK", 0xB0, "Header mtUNSUBACK dup=0 qos=0 retain=0"},
      {"PINGRESP", 0xD0, kHeaderPingResp},
      {"DISCONNECT", 0xE0, "Header mtDISCONNECT dup=0 qos=0 retain=0"},
      {"type 15", 0xF0, "Header mtReserved15 dup=0 qos=0 retain=0"},
  };
  const std::string zeros(kChunk, '\0');
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    TMQTTParser parser;
    EventRecorder recorder(parser);
    parser.Parse(FixedHeader(row.firstByte, kMaxRemainingLength));

    std::size_t left = kMaxRemainingLength;
    std::size_t largest = parser.RxBufferCapacity();
    while (left > zeros.size()) {
      parser.Parse(zeros);
      left -= zeros.size();
      largest = std::max(largest, parser.RxBufferCapacity());
    }
    EXPECT_LE(largest, kSmall) << "the flood was stored";
    EXPECT_EQ(recorder.Lines, (Lines{row.header}));

    // The last body bytes and a valid packet in one read: the packet after
    // the flood starts exactly where the announced length ends.
    parser.Parse(zeros.substr(0, left) + Bytes("40 02 00 07"));
    EXPECT_EQ(recorder.Lines,
              (Lines{row.header, "Header mtPUBACK dup=0 qos=0 retain=0", "PubAck 7"}));
    EXPECT_LE(parser.RxBufferCapacity(), kSmall);
  }
}

TEST(MQTTReceiveBounds, OverlongStoredPacketBreaksTheStreamBeforeItsBody) {
  // Kinds whose size varies are stored, so a length over the limit must be
  // refused as soon as it is read, not after a body that may never come.
  struct Row {
    const char *name;
    std::uint8_t firstByte;
    std::string header;
    std::uint32_t length;
  };
  const Row rows[] = {
      {"PUBLISH of 256 MiB", 0x30, kHeaderPublish0, kMaxRemainingLength},
      {"PUBLISH one byte over the limit", 0x30, kHeaderPublish0, kMaxReceiveLength + 1},
      {"SUBACK", 0x90, "Header mtSUBACK dup=0 qos=0 retain=0", kMaxRemainingLength},
      {"CONNECT", 0x10, "Header mtCONNECT dup=0 qos=0 retain=0", kMaxReceiveLength + 1},
      {"broker connect", 0x02, "Header mtBROKERCONNECT dup=0 qos=1 retain=0",
       kMaxReceiveLength + 1},
      {"SUBSCRIBE", 0x82, "Header mtSUBSCRIBE dup=0 qos=1 retain=0", kMaxRemainingLength},
      {"UNSUBSCRIBE", 0xA2, "Header mtUNSUBSCRIBE dup=0 qos=1 retain=0", kMaxReceiveLength + 1},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    TMQTTParser parser;
    EventRecorder recorder(parser);
    parser.Parse(FixedHeader(row.firstByte, row.length));
    EXPECT_EQ(recorder.Lines, (Lines{row.header, "BrokenStream"}));

    // The body that follows, and packets after it, are ignored and not kept.
    parser.Parse(std::string(kChunk, 'b') + Bytes("D0 00"));
    EXPECT_EQ(recorder.Lines, (Lines{row.header, "BrokenStream"}));
    EXPECT_LE(parser.RxBufferCapacity(), kSmall);
    EXPECT_FALSE(parser.HasBacklog());

    parser.Reset();
    parser.Parse(Bytes("D0 00"));
    EXPECT_EQ(recorder.Lines, (Lines{row.header, "BrokenStream", kHeaderPingResp, "PingResp"}));
  }
}

TEST(MQTTReceiveBounds, PublishAtTheLimitIsDecodedAndItsBufferGivenBack) {
  struct Row {
    const char *name;
    std::uint32_t length;
  };
  const Row rows[] = {
      {"1 MiB", 1024 * 1024},
      {"exactly the limit", kMaxReceiveLength},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    TMQTTParser parser;
    std::vector<std::size_t> messageSizes;
    bool intact = true;
    parser.OnPublish = [&](std::uint16_t, const std::string &topic, const std::string &message) {
      messageSizes.push_back(message.size());
      intact = topic == "a/b" && message.find_first_not_of('m') == std::string::npos;
    };
    const std::string packet = PublishOfLength(row.length);
    std::size_t largest = 0;
    FeedInChunks(parser, packet, [&] { largest = std::max(largest, parser.RxBufferCapacity()); });

    EXPECT_EQ(messageSizes, (std::vector<std::size_t>{row.length - 5}));
    EXPECT_TRUE(intact);
    // Growing by doubling would overshoot the packet by up to its own size.
    EXPECT_LE(largest, row.length + kSmall);
    EXPECT_LE(parser.RxBufferCapacity(), kSmall) << "the packet's buffer was kept";
  }
}

TEST(MQTTReceiveBounds, AnnouncedLengthAloneDoesNotMakeTheParserHoldIt) {
  // A peer that announces the limit and sends a little must not make the
  // parser reserve the whole announced body.
  TMQTTParser parser;
  parser.Parse(FixedHeader(0x30, kMaxReceiveLength) + Bytes("00 03 61 2F 62") +
               std::string(1000, 'm'));
  EXPECT_LE(parser.RxBufferCapacity(), 4 * kSmall);
}

// ---- a handler that throws ----------------------------------------------------

// Makes the assigned OnPublish throw on its first call and run as before
// after that.
void ThrowOnFirstPublish(TMQTTParser &aParser) {
  TMQTTPublishEvent record = aParser.OnPublish;
  auto thrown = std::make_shared<bool>(false);
  aParser.OnPublish = [record, thrown](std::uint16_t id, const std::string &topic,
                                       const std::string &message) {
    if (!*thrown) {
      *thrown = true;
      throw std::runtime_error("handler failed");
    }
    record(id, topic, message);
  };
}

TEST(MQTTReceiveBacklog, ThrowingHandlerDoesNotLoseTheRestOfTheRead) {
  // The first PUBLISH's handler throws while the start of the second one is
  // still unread in the same chunk. Losing those four bytes made the next
  // read start in the second topic and take "a/" for a PUBREL of length 47.
  const std::string chunk1 = Bytes("30 07 00 03 61 2F 62 68 69  30 07 00 03");
  const std::string chunk2 = Bytes("61 2F 63 79 6F  D0 00 D0 00");
  const Lines expected = {
      kHeaderPublish0, kHeaderPublish0, "Publish id=0 topic=a/c message=yo rxqos=0 rxretain=0",
      kHeaderPingResp, "PingResp",      kHeaderPingResp,
      "PingResp"};
  struct Row {
    const char *name;
    bool streamForm;   // chunk 1 goes in as a TMemoryStream
    bool resumeAtOnce; // Parse({}) right after the throw
  };
  const Row rows[] = {
      {"next read", false, false},
      {"resumed at once", false, true},
      {"stream form, next read", true, false},
      {"stream form, resumed at once", true, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    TMQTTParser parser;
    EventRecorder recorder(parser);
    ThrowOnFirstPublish(parser);
    if (row.streamForm) {
      TMemoryStream stream(chunk1);
      EXPECT_THROW(parser.Parse(stream), std::runtime_error);
      EXPECT_EQ(stream.Position(), stream.Size()) << "the rest would be fed twice";
    } else {
      EXPECT_THROW(parser.Parse(chunk1), std::runtime_error);
    }
    EXPECT_TRUE(parser.HasBacklog());
    if (row.resumeAtOnce) {
      parser.Parse(std::string_view{});
      EXPECT_FALSE(parser.HasBacklog());
      EXPECT_EQ(recorder.Lines, (Lines{kHeaderPublish0, kHeaderPublish0}));
    }
    parser.Parse(chunk2);
    EXPECT_EQ(recorder.Lines, expected);
    EXPECT_FALSE(parser.HasBacklog());
  }
}

TEST(MQTTReceiveBacklog, EveryThrowingEventKeepsThePacketsAfterIt) {
  const auto thrower = [] { throw std::runtime_error("handler failed"); };
  struct Row {
    const char *name;
    std::function<void(TMQTTParser &)> arm; // makes one handler throw
    std::string packet;
    Lines afterResume; // what Parse({}) raises for the rest of the read
  };
  const Row rows[] = {
      {"OnHeader",
       [&](TMQTTParser &p) {
         p.OnHeader = [&](TMQTTMessageType, bool, TMQTTQOSType, bool) {
           p.OnHeader = nullptr;
           thrower();
         };
       },
       Bytes("30 07 00 03 61 2F 62 68 69"),
       {"Publish id=0 topic=a/b message=hi rxqos=0 rxretain=0", "PingResp"}},
      {"OnPublish",
       [&](TMQTTParser &p) {
         p.OnPublish = [&](std::uint16_t, const std::string &, const std::string &) { thrower(); };
       },
       Bytes("30 07 00 03 61 2F 62 68 69"),
       {kHeaderPingResp, "PingResp"}},
      {"OnConnAck",
       [&](TMQTTParser &p) { p.OnConnAck = [&](std::uint8_t) { thrower(); }; },
       Bytes("20 02 00 00"),
       {kHeaderPingResp, "PingResp"}},
      {"OnPing",
       [&](TMQTTParser &p) { p.OnPing = thrower; },
       Bytes("C0 00"),
       {kHeaderPingResp, "PingResp"}},
      {"OnSetWill, inside CONNECT decoding",
       [&](TMQTTParser &p) {
         p.OnSetWill = [&](const std::string &, const std::string &, TMQTTQOSType, bool) {
           thrower();
         };
       },
       Bytes("10 13 00 06 4D 51 49 73 64 70 03 04 00 0A 00 00 00 01 77 00 00"),
       {kHeaderPingResp, "PingResp"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    TMQTTParser parser;
    EventRecorder recorder(parser);
    row.arm(parser);
    EXPECT_THROW(parser.Parse(row.packet + Bytes("D0 00")), std::runtime_error);
    ASSERT_TRUE(parser.HasBacklog());
    recorder.Lines.clear();
    parser.Parse(std::string_view{});
    EXPECT_EQ(recorder.Lines, row.afterResume);
    EXPECT_FALSE(parser.HasBacklog());
  }
}

TEST(MQTTReceiveBacklog, ResetDiscardsTheBacklogOfTheOldConnection) {
  TMQTTParser parser;
  EventRecorder recorder(parser);
  ThrowOnFirstPublish(parser);
  EXPECT_THROW(parser.Parse(Bytes("30 07 00 03 61 2F 62 68 69  40 02 00 09")), std::runtime_error);
  parser.Reset();
  EXPECT_FALSE(parser.HasBacklog());
  recorder.Lines.clear();
  parser.Parse(Bytes("D0 00"));
  EXPECT_EQ(recorder.Lines, (Lines{kHeaderPingResp, "PingResp"}));
}

TEST(MQTTReceiveBacklog, LargeBacklogIsGivenBackOnceParsed) {
  TMQTTParser parser;
  std::size_t publishes = 0;
  parser.OnPublish = [&](std::uint16_t, const std::string &, const std::string &) { ++publishes; };
  ThrowOnFirstPublish(parser);
  // One read of many small packets; the first handler call throws, so
  // nearly the whole read waits in the backlog.
  std::string read;
  while (read.size() < 4 * kChunk)
    read += Bytes("30 07 00 03 61 2F 62 68 69");
  EXPECT_THROW(parser.Parse(read), std::runtime_error);
  EXPECT_GT(parser.RxBufferCapacity(), 3 * kChunk);
  parser.Parse(std::string_view{});
  EXPECT_EQ(publishes, read.size() / 9 - 1);
  EXPECT_LE(parser.RxBufferCapacity(), kSmall);
}

TEST(MQTTReceiveBacklog, HandlerFeedingTheParserKeepsTheByteOrder) {
  // Bytes a handler feeds arrived after the rest of the read being parsed,
  // so they are parsed after it.
  TMQTTParser parser;
  EventRecorder recorder(parser);
  parser.OnPubAck = [&](std::uint16_t id) {
    recorder.Lines.push_back("PubAck " + test::Num(id));
    parser.Parse(Bytes("D0 00"));
  };
  parser.Parse(Bytes("40 02 00 01  C0 00"));
  EXPECT_EQ(recorder.Lines,
            (Lines{"Header mtPUBACK dup=0 qos=0 retain=0", "PubAck 1",
                   "Header mtPINGREQ dup=0 qos=0 retain=0", "Ping", kHeaderPingResp, "PingResp"}));
}

// ---- a handler that destroys the parser ---------------------------------------

TEST(MQTTReceiveDestroyed, ParserFreedByItsHandlerIsNotTouchedAgain) {
  // Under AddressSanitizer any access to the freed parser after the event
  // (state, backlog, the next event) is reported.
  using Destroy = std::function<void()>;
  struct Row {
    const char *name;
    std::function<void(TMQTTParser &, Destroy)> arm;
    std::string input; // followed by more packets in the same read
    Lines expected;
  };
  const Row rows[] = {
      {"OnHeader",
       [](TMQTTParser &p, Destroy destroy) {
         p.OnHeader = [destroy](TMQTTMessageType, bool, TMQTTQOSType, bool) { destroy(); };
       },
       Bytes("30 07 00 03 61 2F 62 68 69"),
       {}},
      {"OnPublish",
       [](TMQTTParser &p, Destroy destroy) {
         p.OnPublish = [destroy](std::uint16_t, const std::string &, const std::string &) {
           destroy();
         };
       },
       Bytes("30 07 00 03 61 2F 62 68 69"),
       {kHeaderPublish0}},
      {"OnPingResp",
       [](TMQTTParser &p, Destroy destroy) { p.OnPingResp = destroy; },
       Bytes("D0 00"),
       {kHeaderPingResp}},
      {"OnSetWill, before the connect event",
       [](TMQTTParser &p, Destroy destroy) {
         p.OnSetWill = [destroy](const std::string &, const std::string &, TMQTTQOSType, bool) {
           destroy();
         };
       },
       Bytes("10 13 00 06 4D 51 49 73 64 70 03 04 00 0A 00 00 00 01 77 00 00"),
       {"Header mtCONNECT dup=0 qos=0 retain=0"}},
      {"OnBrokenStream",
       [](TMQTTParser &p, Destroy destroy) { p.OnBrokenStream = destroy; },
       Bytes("30 FF FF FF FF 01"),
       {kHeaderPublish0}},
      {"inside a Parse called from a handler",
       [](TMQTTParser &p, Destroy destroy) {
         // The fed PUBLISH comes after the rest of the outer read, and both
         // Parse calls must stop when it destroys the parser.
         p.OnPubAck = [&p, fed = std::make_shared<bool>(false)](std::uint16_t) {
           if (!std::exchange(*fed, true))
             p.Parse(Bytes("30 07 00 03 61 2F 62 68 69 D0 00"));
         };
         p.OnPublish = [destroy](std::uint16_t, const std::string &, const std::string &) {
           destroy();
         };
       },
       Bytes("40 02 00 01"),
       {"Header mtPUBACK dup=0 qos=0 retain=0", kHeaderPingResp, "PingResp",
        "Header mtPUBACK dup=0 qos=0 retain=0", kHeaderPingResp, "PingResp", kHeaderPublish0}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    auto parser = std::make_unique<TMQTTParser>();
    EventRecorder recorder(*parser);
    Lines &lines = recorder.Lines;
    row.arm(*parser, [&parser] { parser.reset(); });
    TMQTTParser *raw = parser.get();
    raw->Parse(row.input + Bytes("D0 00 40 02 00 01 D0 00"));
    EXPECT_EQ(parser, nullptr);
    EXPECT_EQ(lines, row.expected);
  }
}

} // namespace
} // namespace marquo
