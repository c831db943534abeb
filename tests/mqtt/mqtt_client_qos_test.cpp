// Acknowledged delivery on the fake loop: the in-flight store, the delivery
// tick's re-issues and failures, the acknowledgements in both directions,
// the bounded store of inbound QoS 2 messages and local delivery.
#include <algorithm>
#include <string>
#include <vector>

#include "mqtt/mqtt_client.hpp"
#include "tests/mqtt/client_fixture.hpp"

namespace {

using namespace marquo::test::client;

// PUBLISH, QoS 1, identifier 1, topic "t", payload "m"; with DUP: 3A.
constexpr const char *kPublishQos1 = "32 06 00 01 74 00 01 6D";
constexpr const char *kPublishQos1Dup = "3A 06 00 01 74 00 01 6D";

class QosTest : public ClientTest {
protected:
  QosTest() { client.SetKeepAlive(0); } // no pings and no silence watch in the way

  // The events at one time stamp.
  Lines At(long long aTime) const {
    Lines lines;
    const std::string prefix = std::to_string(aTime) + " ";
    for (const std::string &line : events)
      if (line.rfind(prefix, 0) == 0)
        lines.push_back(line.substr(prefix.size()));
    return lines;
  }
  long Count(const std::string &anEvent) const {
    return std::count_if(events.begin(), events.end(), [&](const std::string &line) {
      return line.substr(line.find(' ') + 1) == anEvent;
    });
  }
};

TEST_F(QosTest, UnansweredPacketIsReissuedEightTimesThenFails) {
  GoOnline(); // online at 100 ms
  client.Publish("t", "m", TMQTTQOSType::qtAT_LEAST_ONCE, false);
  EXPECT_EQ(SentHex(), kPublishQos1);
  EXPECT_EQ(events, Lines{"100 mon Message 1 created."});
  for (int retry = 1; retry <= 8; ++retry) {
    SCOPED_TRACE(retry);
    loop.Advance(5999ms);
    EXPECT_EQ(SentHex(), "");
    loop.Advance(1ms);
    const long long now = loop.Now().count();
    EXPECT_EQ(now, 100 + 6000 * retry);
    EXPECT_EQ(At(now), (Lines{"mon Message 1 disposed of..",
                              "mon Re-issuing Message 1 Retry " + std::to_string(retry),
                              "mon Message 1 created."}));
    EXPECT_EQ(SentHex(), kPublishQos1Dup);
  }
  // The ninth expiry, about 54 s after the first send, is the failure; the
  // connection is closed and the usual reconnection follows.
  loop.Advance(6000ms);
  EXPECT_EQ(At(54100), (Lines{"failure 1", "offline dropped"}));
  EXPECT_EQ(SentHex(), "");
  loop.Advance(6000ms);
  EXPECT_EQ(At(60100), Lines{"mon Connecting to 10.0.0.1 on Port 1883"});
}

TEST_F(QosTest, FailureThatKeepsTheConnectionRetriesNoMore) {
  closeOnFailure = false;
  client.SetMaxRetries(0); // the first expiry fails, without a re-issue
  GoOnline();
  client.Publish("t", "m", TMQTTQOSType::qtAT_LEAST_ONCE, false);
  SentHex();
  loop.Advance(6000ms);
  EXPECT_EQ(At(6100), Lines{"failure 1"});
  loop.Advance(120s);
  EXPECT_EQ(Count("failure 1"), 1);
  EXPECT_EQ(SentHex(), "");
  EXPECT_TRUE(client.Online());
  // The exhausted packet stays, no longer counting, until its answer.
  ASSERT_EQ(client.InFlight.Count(), 1u);
  EXPECT_EQ(client.InFlight.GetItem(0)->Counter, 0u);
  script->Deliver(Bytes("40 02 00 01"));
  loop.RunPending();
  EXPECT_EQ(client.InFlight.Count(), 0u);
  EXPECT_EQ(events.back(), "126100 mon ACK Message 1 disposed of.");
}

TEST_F(QosTest, RetryTimeZeroNeverReissues) {
  client.SetRetryTime(0);
  GoOnline();
  client.Publish("t", "m", TMQTTQOSType::qtAT_LEAST_ONCE, false);
  SentHex();
  loop.Advance(10min);
  EXPECT_EQ(SentHex(), "");
  EXPECT_EQ(client.InFlight.Count(), 1u);
  EXPECT_EQ(Count("failure 1"), 0);
}

TEST_F(QosTest, SubscribeWaitsForItsSubAckAndIsReissuedWhenLate) {
  GoOnline();
  client.Subscribe("a", TMQTTQOSType::qtAT_MOST_ONCE); // a SUBSCRIBE's header says QoS 1
  EXPECT_EQ(SentHex(), "82 06 00 01 00 01 61 00");
  loop.Advance(6000ms);
  EXPECT_EQ(SentHex(), "8A 06 00 01 00 01 61 00");
  script->Deliver(Bytes("90 03 00 01 00"));
  loop.RunPending();
  EXPECT_EQ(client.InFlight.Count(), 0u);
  EXPECT_EQ(events.back(), "6100 mon Message 1 disposed of.");
  EXPECT_EQ(client.Subscriptions, (TStringList{{u"a", 0xFF00}}));
  loop.Advance(60s);
  EXPECT_EQ(SentHex(), "");
}

TEST_F(QosTest, OutboundQos2CompletesThroughRecAndComp) {
  GoOnline();
  client.Publish("t", "m", TMQTTQOSType::qtEXACTLY_ONCE, false);
  EXPECT_EQ(SentHex(), "34 06 00 01 74 00 01 6D");
  script->Deliver(Bytes("50 02 00 01"));
  loop.RunPending();
  script->Deliver(Bytes("50 02 00 01"));
  loop.RunPending();
  // Two PUBRELs, neither with DUP.
  EXPECT_EQ(SentHex(), "62 02 00 01 62 02 00 01");
  // The countdown restarted at the PUBREC; the PUBREL goes again, with DUP.
  loop.Advance(6000ms);
  EXPECT_EQ(SentHex(), "6A 02 00 01");
  script->Deliver(Bytes("70 02 00 01"));
  loop.RunPending();
  EXPECT_EQ(client.InFlight.Count(), 0u);
  EXPECT_EQ(events, (Lines{"100 mon Message 1 created.", "100 mon REC Message 1 recorded.",
                           "100 mon REC Message 1 already recorded.",
                           "6100 mon Re-issuing PUBREL Message 1 Retry 1",
                           "6100 mon COMP Message 1 disposed of."}));
  // Answers for nothing stored still get their texts and their replies.
  script->Deliver(Bytes("50 02 00 09"));
  loop.RunPending();
  EXPECT_EQ(events.back(), "6100 mon REC Message 9 not found.");
  EXPECT_EQ(SentHex(), "62 02 00 09");
}

TEST_F(QosTest, InboundQos1IsAcknowledgedThenDelivered) {
  GoOnline();
  // QoS 1, identifier 5, topic "t", payload "hi", twice (a repeat is
  // delivered again).
  script->Deliver(Bytes("32 07 00 01 74 00 05 68 69 3A 07 00 01 74 00 05 68 69"));
  loop.RunPending();
  EXPECT_EQ(SentHex(), "40 02 00 05 40 02 00 05");
  EXPECT_EQ(events, (Lines{"100 msg 1 0 t hi", "100 msg 1 0 t hi"}));
}

TEST_F(QosTest, InboundQos2IsDeliveredOnceAtItsRelease) {
  GoOnline();
  const std::string publish = Bytes("34 07 00 01 74 00 0C 68 69"); // QoS 2, id 12
  script->Deliver(publish);
  loop.RunPending();
  script->Deliver(publish); // the broker repeats it before its PUBREL
  loop.RunPending();
  EXPECT_EQ(SentHex(), "50 02 00 0C 50 02 00 0C");
  EXPECT_EQ(client.Releasables.Count(), 1u);
  script->Deliver(Bytes("62 02 00 0C"));
  loop.RunPending();
  script->Deliver(Bytes("62 02 00 0C"));
  loop.RunPending();
  EXPECT_EQ(SentHex(), "70 02 00 0C 70 02 00 0C");
  EXPECT_EQ(events,
            (Lines{"100 mon Message 12 stored and idle.", "100 mon Message 12 already stored.",
                   "100 mon REL Message 12 publishing @ EXACTLY_ONCE", "100 msg 2 0 t hi",
                   "100 mon REL Message 12 removed from storage.",
                   "100 mon REL Message 12 has been already removed from storage."}));
  EXPECT_EQ(client.Releasables.Count(), 0u);
}

// A broker that never releases, or sends thousands of identifiers, must not
// make the waiting messages grow without bound; a refused message gets no
// PUBREC, so the broker still owes it.
TEST_F(QosTest, WaitingQos2MessagesAreBoundedInBytes) {
  GoOnline();
  const std::string payload(3 * 1024 * 1024, 'x');
  const auto publish = [&](std::uint16_t anID) {
    marquo::TMQTTParser builder;
    std::string bytes;
    builder.OnSend = [&](std::uint16_t, std::int32_t, marquo::TMemoryStream &aStream) {
      bytes = aStream.Bytes();
    };
    builder.SendPublish(anID, "t", payload, TMQTTQOSType::qtEXACTLY_ONCE, false, false);
    return bytes;
  };
  script->Deliver(publish(1) + publish(2) + publish(3));
  loop.RunPending();
  EXPECT_EQ(SentHex(), "50 02 00 01 50 02 00 02");
  EXPECT_EQ(client.Releasables.Count(), 2u);
  EXPECT_LE(client.Releasables.Bytes(), marquo::kMaxReleasableBytes);
  EXPECT_EQ(At(100), (Lines{"mon Message 1 stored and idle.", "mon Message 2 stored and idle.",
                            "mon Message 3 refused: the messages waiting for their release hold "
                            "too much; closing the connection",
                            "offline dropped"}));
  // Released messages make room again.
  script->PeerClose();
  loop.Advance(6000ms);
  script->Deliver(Bytes(kConnAckAccepted) + Bytes("62 02 00 01"));
  loop.RunPending();
  EXPECT_EQ(client.Releasables.Count(), 1u);
  EXPECT_EQ(Count("msg 2 0 t " + payload), 1);
}

TEST_F(QosTest, SubAckGrantsEachFilterItsOwnQos) {
  GoOnline();
  client.Subscribe("other", TMQTTQOSType::qtAT_LEAST_ONCE);       // id 1
  client.Subscribe(TStringList{{u"a", 0}, {u"b", 1}, {u"c", 2}}); // id 2
  script->Deliver(Bytes("90 05 00 02 02 00 01"));
  loop.RunPending();
  EXPECT_EQ(client.Subscriptions,
            (TStringList{{u"other", 65536 + 1}, {u"a", 0xFF02}, {u"b", 0xFF00}, {u"c", 0xFF01}}));
}

TEST_F(QosTest, CountdownsPauseWhileOffline) {
  GoOnline();
  client.Publish("t", "m", TMQTTQOSType::qtAT_LEAST_ONCE, false);
  SentHex();
  loop.Advance(3000ms); // half the countdown gone
  script->PeerClose();
  loop.Advance(6000ms); // offline; reconnected at 9100
  SentHex();
  script->Deliver(Bytes(kConnAckAccepted));
  loop.RunPending();
  // The other half runs once online again.
  loop.Advance(2900ms);
  EXPECT_EQ(SentHex(), "");
  loop.Advance(200ms);
  EXPECT_EQ(SentHex(), kPublishQos1Dup);
}

TEST_F(QosTest, LocalBounceDeliversOnceToTheFirstMatchingFilter) {
  struct Case {
    const char *name;
    bool bounce;
    std::string topic;
    Lines delivered;
  };
  const Case cases[] = {
      {"two filters match", true, "x/y", {"msg 1 0 x/y m"}},
      {"only x/# matches", true, "x", {"msg 1 0 x m"}},
      {"no filter matches", true, "z", {}},
      {"bounce off", false, "x/y", {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    Lines delivered;
    rig.client.SetLocalBounce(c.bounce);
    rig.client.OnMsg = [&](TComponent &, const std::string &aTopic, const std::string &aMessage,
                           TMQTTQOSType aQos, bool aRetained) {
      delivered.push_back("msg " + std::to_string(static_cast<int>(aQos)) + " " +
                          std::to_string(aRetained) + " " + aTopic + " " + aMessage);
    };
    rig.client.Subscribe("x/+", TMQTTQOSType::qtAT_MOST_ONCE);
    rig.client.Subscribe("x/#", TMQTTQOSType::qtAT_MOST_ONCE);
    // Retained or not, a local delivery is never a retained message; it
    // happens while disconnected too, and the PUBLISH itself is lost then.
    rig.client.Publish(c.topic, "m", TMQTTQOSType::qtAT_LEAST_ONCE, true);
    EXPECT_EQ(delivered, c.delivered);
    EXPECT_TRUE(rig.script->Sent.empty());
    EXPECT_EQ(rig.client.InFlight.Count(), 0u);
  }
}

} // namespace
