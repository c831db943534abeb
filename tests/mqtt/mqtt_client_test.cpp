// The client's connection lifecycle on the fake loop, with the test playing
// the broker behind a scripted connection.
#include <algorithm>
#include <stdexcept>
#include <utility>

#include "tests/mqtt/client_fixture.hpp"

namespace {

using namespace marquo::test::client;

TEST_F(ClientTest, FirstAttemptComesAHundredMillisecondsAfterActivation) {
  client.Activate(true);
  EXPECT_EQ(events, Lines{"0 enabled"});
  loop.Advance(99ms);
  EXPECT_EQ(script->Opens, 0);
  loop.Advance(1ms);
  EXPECT_EQ(events, (Lines{"0 enabled", "100 mon Connecting to 10.0.0.1 on Port 1883"}));
  EXPECT_EQ(script->Opens, 1);
  EXPECT_EQ(script->LastPort, 1883);

  // Activating again changes nothing and raises nothing.
  client.Activate(true);
  EXPECT_EQ(events.size(), 2u);
}

TEST_F(ClientTest, DeactivatingAnInactiveClientRaisesNothing) {
  client.Activate(false);
  loop.Advance(10s);
  EXPECT_TRUE(events.empty());
}

TEST_F(ClientTest, RefusedConnectionIsRetriedEverySixSeconds) {
  script->ConnectResult = 10061;
  client.Activate(true);
  loop.Advance(18100ms);
  EXPECT_EQ(events, (Lines{"0 enabled", "100 mon Connecting to 10.0.0.1 on Port 1883",
                           "6100 mon Connecting to 10.0.0.1 on Port 1883",
                           "12100 mon Connecting to 10.0.0.1 on Port 1883",
                           "18100 mon Connecting to 10.0.0.1 on Port 1883"}));
  EXPECT_EQ(script->Opens, 4);
}

// A network that is not up yet when the cabinet starts must not stop the
// bridge for good: a connect that fails at once is one failed attempt.
TEST_F(ClientTest, ConnectThatFailsAtOnceIsRetriedEverySixSeconds) {
  struct Case {
    const char *name;
    std::u16string host;
    std::uint16_t openError;
    std::string failure;
  };
  const Case cases[] = {
      {"unresolvable host", u"no.such.host", 0,
       "mon Connection failed: connect: Winsock Resolve Host: Cannot convert host address "
       "'no.such.host' - Host not found"},
      {"empty host", u"", 0, "mon Connection failed: Connect: No IP Address Specified"},
      {"no socket", u"10.0.0.1", 10024,
       "mon Connection failed: Too many open files (#10024 in Connect)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    FakeEventLoop &caseLoop = rig.loop;
    FakeSocketScript *caseScript = rig.script.get();
    TMQTTClient &caseClient = rig.client;
    Lines texts;
    caseClient.OnMon = [&](TComponent &, const std::u16string &aStr) {
      texts.push_back(std::to_string(caseLoop.Now().count()) + " mon " + Utf16ToUtf8(aStr));
    };
    caseClient.SetHost(c.host);
    caseScript->OpenError = c.openError;
    caseClient.Activate(true);
    caseLoop.Advance(6100ms);
    const std::string host = Utf16ToUtf8(c.host);
    // The script refuses a socket once only, so the second attempt of that
    // case gets further; the first three texts are the same for all.
    texts.resize(3);
    EXPECT_EQ(texts, (Lines{"100 mon Connecting to " + host + " on Port 1883", "100 " + c.failure,
                            "6100 mon Connecting to " + host + " on Port 1883"}));
    EXPECT_TRUE(caseClient.Enabled());
  }
}

TEST_F(ClientTest, ConnectCarriesTheGeneratedIdentifierWhichIsKept) {
  std::vector<std::string> offered;
  client.OnClientID = [&](TComponent &, std::string &anID) { offered.push_back(anID); };
  Connect();
  // CONNECT, "MQIsdp" version 3, clean flag off, keep-alive 10, "CID50731".
  EXPECT_EQ(marquo::test::Hex(script->Sent),
            "12 16 00 06 4D 51 49 73 64 70 03 00 00 0A 00 08 43 49 44 35 30 37 33 31");
  EXPECT_EQ(client.ClientID(), "CID50731");

  // The next connection keeps it, whatever its local port.
  script->LocalPort = 40000;
  script->PeerClose();
  loop.Advance(6000ms);
  EXPECT_EQ(offered, (std::vector<std::string>{"CID50731", "CID50731"}));
  Lines sent = Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_NE(sent[1].find("client=CID50731"), std::string::npos) << sent[1];
}

TEST_F(ClientTest, ClientIDHandlerReplacesTheIdentifier) {
  client.SetUsername("user");
  client.SetPassword("secret");
  client.SetClean(true);
  client.OnClientID = [](TComponent &, std::string &anID) { anID = "cabinet-" + anID; };
  Connect();
  EXPECT_EQ(Sent(), (Lines{"Connect MQIsdp 3 client=cabinet-CID50731 user=user password=secret "
                           "keepalive=10 clean=1"}));
  EXPECT_EQ(client.ClientID(), "cabinet-CID50731");
}

TEST_F(ClientTest, ConnAckCodesAndTheirOutcomes) {
  struct Case {
    const char *name;
    std::uint8_t code;
    Lines events; // after the CONNACK
    bool online;
    bool enabled;
    bool disconnectSent;
    bool retried; // a new attempt 6 s later
  };
  const Case cases[] = {
      {"accepted", 0, {"mon Connection ACCEPTED", "online"}, true, true, false, false},
      // "Server unavailable" means later: closed and tried again.
      {"server unavailable", 3, {"mon Connection SERVER UNAVILABLE"}, false, true, false, true},
      {"not authorised",
       5,
       {"mon Connection NOT AUTHORISED", "disabled"},
       false,
       false,
       true,
       false},
      {"reserved", 9, {"mon Connection RESERVED 9", "disabled"}, false, false, true, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    FakeEventLoop &caseLoop = rig.loop;
    FakeSocketScript *caseScript = rig.script.get();
    TMQTTClient &caseClient = rig.client;
    Lines seenEvents;
    caseClient.OnMon = [&](TComponent &, const std::u16string &aStr) {
      seenEvents.push_back("mon " + Utf16ToUtf8(aStr));
    };
    caseClient.OnOnline = [&](TComponent &) { seenEvents.push_back("online"); };
    caseClient.OnOffline = [&](TComponent &, bool) { seenEvents.push_back("offline"); };
    caseClient.OnEnableChange = [&](TComponent &) {
      seenEvents.push_back(caseClient.Enabled() ? "enabled" : "disabled");
    };
    caseClient.Activate(true);
    caseLoop.Advance(100ms);
    seenEvents.clear();
    const std::size_t connectBytes = caseScript->Sent.size();
    std::string connAck = Bytes("20 02 00");
    connAck.push_back(static_cast<char>(c.code));
    caseScript->Deliver(connAck);
    caseLoop.RunPending();
    EXPECT_EQ(seenEvents, c.events);
    EXPECT_EQ(caseClient.Online(), c.online);
    EXPECT_EQ(caseClient.Enabled(), c.enabled);
    EXPECT_EQ(caseScript->Sent.substr(connectBytes) == Bytes("E0 00"), c.disconnectSent);
    EXPECT_EQ(caseScript->IsOpen(), c.online);
    seenEvents.clear();
    caseLoop.Advance(6000ms);
    EXPECT_EQ(caseScript->Opens, c.retried ? 2 : 1);
    EXPECT_EQ(std::count(seenEvents.begin(), seenEvents.end(), "offline"), 0);
  }
}

TEST_F(ClientTest, PingFollowsSevenAndAHalfSecondsAfterTheLastPacketSent) {
  Connect(); // CONNECT at 100 ms
  script->Deliver(Bytes(kConnAckAccepted));
  loop.Advance(7499ms);
  EXPECT_EQ(Sent(), Lines{"Connect MQIsdp 3 client=CID50731 user= password= keepalive=10 clean=0"});
  loop.Advance(1ms); // 7600 ms
  EXPECT_EQ(Sent(), Lines{"Ping"});

  // Any packet postpones it: a SUBSCRIBE at 10000 ms moves it to 17500 ms.
  loop.Advance(2400ms);
  client.Subscribe("a/b", TMQTTQOSType::qtAT_MOST_ONCE);
  script->Deliver(Bytes("90 03 00 01 00")); // its SUBACK, so it is not sent again
  Sent();
  loop.Advance(7499ms);
  EXPECT_TRUE(Sent().empty());
  loop.Advance(1ms);
  EXPECT_EQ(Sent(), Lines{"Ping"});
}

TEST_F(ClientTest, NoPingAndNoSilenceWatchWithKeepAliveZero) {
  client.SetKeepAlive(0);
  GoOnline();
  loop.Advance(120s);
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(client.Online());
  EXPECT_TRUE(events.empty());
}

// A broker gone silent behind an open TCP connection (a dead router, a
// sleeping laptop) must be noticed, or commands are lost without a trace.
TEST_F(ClientTest, SilentBrokerIsClosedAfterTwiceTheKeepAlive) {
  GoOnline(); // the CONNACK arrived at 100 ms
  loop.Advance(19999ms);
  EXPECT_EQ(Sent(), (Lines{"Ping", "Ping"}));
  EXPECT_TRUE(client.Online());
  loop.Advance(1ms);
  EXPECT_EQ(events, (Lines{"20100 mon Nothing received from the broker for 20 seconds; closing "
                           "the connection",
                           "20100 offline dropped"}));
  EXPECT_FALSE(script->IsOpen());
  loop.Advance(6000ms);
  EXPECT_EQ(events.back(), "26100 mon Connecting to 10.0.0.1 on Port 1883");
}

TEST_F(ClientTest, BrokerThatAnswersPingsStaysConnected) {
  GoOnline();
  for (int round = 0; round < 10; ++round) {
    loop.Advance(7500ms);
    if (!Sent().empty())
      script->Deliver(Bytes("D0 00"));
  }
  EXPECT_TRUE(client.Online());
  EXPECT_TRUE(events.empty());
}

TEST_F(ClientTest, CleanSessionEmptiesTheStoresAtEveryConnection) {
  for (const bool clean : {true, false}) {
    SCOPED_TRACE(clean ? "clean" : "persistent");
    Rig rig;
    FakeEventLoop &caseLoop = rig.loop;
    TMQTTClient &caseClient = rig.client;
    caseClient.SetClean(clean);
    marquo::TMemoryStream packet(Bytes("82 06 00 07 00 01 61 00"));
    caseClient.InFlight.AddPacket(7, packet, 0, 60);
    caseClient.Releasables.AddMsg(12, "a", "b", TMQTTQOSType::qtEXACTLY_ONCE, 0, 0, false);
    caseClient.Activate(true);
    caseLoop.Advance(100ms);
    EXPECT_EQ(caseClient.InFlight.Count(), clean ? 0u : 1u);
    EXPECT_EQ(caseClient.Releasables.Count(), clean ? 0u : 1u);
  }
}

TEST_F(ClientTest, SubscriptionBookkeeping) {
  // Requests while disconnected are recorded and take an identifier, but
  // nothing is sent; an empty topic does nothing at all.
  client.Subscribe("", TMQTTQOSType::qtAT_LEAST_ONCE);
  client.Subscribe("a/b", TMQTTQOSType::qtAT_LEAST_ONCE); // id 1
  client.Subscribe("c", TMQTTQOSType::qtAT_MOST_ONCE);    // id 2
  client.Subscribe("a/b", TMQTTQOSType::qtEXACTLY_ONCE);  // id 3, same entry
  EXPECT_EQ(client.Subscriptions, (TStringList{{u"a/b", 3 * 65536 + 2}, {u"c", 2 * 65536 + 0}}));
  EXPECT_TRUE(script->Sent.empty());

  // A list takes one identifier and records each position.
  TStringList list{{u"x", 1}, {u"c", 2}};
  client.Subscribe(list);          // id 4
  client.Subscribe(TStringList{}); // nothing, no identifier
  EXPECT_EQ(client.Subscriptions, (TStringList{{u"a/b", 3 * 65536 + 2},
                                               {u"c", 4 * 65536 + 1 * 256 + 2},
                                               {u"x", 4 * 65536 + 0 * 256 + 1}}));
  EXPECT_EQ(client.NextMessageID(), 5);

  // Online, the requests go out; UNSUBSCRIBE is sent even for a filter
  // that was never recorded.
  GoOnline();
  client.Subscribe("d", TMQTTQOSType::qtAT_MOST_ONCE);     // id 6
  client.Unsubscribe("never");                             // id 7
  client.Unsubscribe("c");                                 // id 8
  client.Unsubscribe(TStringList{{u"x", 0}, {u"a/b", 0}}); // id 9
  client.Unsubscribe("");
  EXPECT_EQ(Sent(), (Lines{"Subscribe id=6 d:0", "Unsubscribe id=7 never:0", "Unsubscribe id=8 c:0",
                           "Unsubscribe id=9 x:0 a/b:0"}));
  EXPECT_EQ(client.Subscriptions, (TStringList{{u"d", 6 * 65536}}));
}

TEST_F(ClientTest, AutoSubscribeRenewsEveryFilterAfterTheOnlineEvent) {
  client.SetAutoSubscribe(true);
  client.Subscribe("a", TMQTTQOSType::qtAT_LEAST_ONCE); // id 1, not sent
  client.Subscribe("b", TMQTTQOSType::qtAT_MOST_ONCE);  // id 2, not sent
  client.OnOnline = [this](TComponent &) { client.Subscribe("c", TMQTTQOSType::qtAT_MOST_ONCE); };
  Connect();
  Sent();
  script->Deliver(Bytes(kConnAckAccepted));
  loop.RunPending();
  // The handler's request goes first; the renewals leave the slots alone.
  EXPECT_EQ(Sent(), (Lines{"Subscribe id=3 c:0", "Subscribe id=4 a:1", "Subscribe id=5 b:0",
                           "Subscribe id=6 c:0"}));
  EXPECT_EQ(client.Subscriptions,
            (TStringList{{u"a", 65536 + 1}, {u"b", 2 * 65536}, {u"c", 3 * 65536}}));
}

TEST_F(ClientTest, NoFreeIdentifierRefusesTheRequest) {
  GoOnline();
  marquo::TMemoryStream packet(Bytes("A2 03 00 01 61"));
  for (unsigned id = 1; id <= 65535; ++id)
    client.InFlight.AddPacket(static_cast<std::uint16_t>(id), packet, 0, 60);
  client.Subscribe("a", TMQTTQOSType::qtAT_MOST_ONCE);
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(client.Subscriptions.empty());
  EXPECT_EQ(events, Lines{"100 mon No packet identifier is free: all 65535 wait for an "
                          "acknowledgement; nothing is sent"});

  // One freed identifier is found, wherever it is.
  client.InFlight.DelPacket(40000);
  EXPECT_EQ(client.NextMessageID(), 40000);
}

TEST_F(ClientTest, DeactivatingWhileOnlineSendsDisconnectAndDoesNotReconnect) {
  GoOnline();
  client.Activate(false);
  EXPECT_EQ(Sent(), Lines{"Disconnect"});
  EXPECT_EQ(events, Lines{"100 disabled"});
  EXPECT_TRUE(client.Online()) << "online until the connection has really closed";
  loop.RunPending();
  EXPECT_EQ(events, (Lines{"100 disabled", "100 offline graceful"}));
  EXPECT_FALSE(client.Online());
  loop.Advance(60s);
  EXPECT_EQ(script->Opens, 1);
  EXPECT_EQ(events.size(), 2u);
}

TEST_F(ClientTest, BrokerClosingWhileOnlineIsRetriedSixSecondsLater) {
  GoOnline();
  loop.Advance(900ms);
  script->PeerClose(10054);
  loop.RunPending();
  EXPECT_EQ(events, Lines{"1000 offline dropped"});
  loop.Advance(6000ms);
  EXPECT_EQ(events,
            (Lines{"1000 offline dropped", "7000 mon Connecting to 10.0.0.1 on Port 1883"}));
  EXPECT_EQ(script->Opens, 2);
}

TEST_F(ClientTest, QosZeroMessagesAreDeliveredWithTheirRetainFlag) {
  GoOnline();
  // Topic "a/b" payload "hi", then the same retained, in one read.
  script->Deliver(Bytes("30 07 00 03 61 2F 62 68 69 31 07 00 03 61 2F 62 68 69"));
  loop.RunPending();
  EXPECT_EQ(events, (Lines{"100 msg 0 0 a/b hi", "100 msg 0 1 a/b hi"}));
}

// A handler that throws in the middle of a read must not leave the codec
// out of step with the stream: the rest of the read is still handled, and
// the failure is reported.
TEST_F(ClientTest, HandlerThatThrowsMidReadLosesNothingAfterIt) {
  GoOnline();
  bool fail = true;
  auto record = client.OnMsg;
  client.OnMsg = [&](TComponent &aSender, const std::string &aTopic, const std::string &aMessage,
                     TMQTTQOSType aQos, bool aRetained) {
    record(aSender, aTopic, aMessage, aQos, aRetained);
    if (std::exchange(fail, false))
      throw std::runtime_error("handler failed");
  };
  // A PUBLISH and the first four bytes of the next one; then the rest of it
  // (whose topic begins "a/", which read out of step is a PUBREL of length
  // 47) and two PINGRESPs.
  const std::string second = Bytes("30 07 00 03 61 2F 63 68 6F");
  script->Deliver(Bytes("30 07 00 03 61 2F 62 68 69") + second.substr(0, 4));
  loop.RunPending();
  script->Deliver(second.substr(4) + Bytes("D0 00 D0 00"));
  loop.RunPending();
  script->Deliver(Bytes("30 07 00 03 61 2F 64 79 6F"));
  loop.RunPending();
  EXPECT_EQ(events, (Lines{"100 msg 0 0 a/b hi",
                           "100 mon Error while handling received data: handler failed",
                           "100 msg 0 0 a/c ho", "100 msg 0 0 a/d yo"}));
}

TEST_F(ClientTest, ThrowingHandlerInTheMiddleOfOneReadStillSeesTheRest) {
  GoOnline();
  int calls = 0;
  client.OnMsg = [&](TComponent &, const std::string &aTopic, const std::string &, TMQTTQOSType,
                     bool) {
    Log("msg " + aTopic);
    if (++calls == 1)
      throw std::runtime_error("first failed");
  };
  script->Deliver(Bytes("30 05 00 01 61 68 69 30 05 00 01 62 68 69"));
  loop.RunPending();
  EXPECT_EQ(events, (Lines{"100 msg a", "100 mon Error while handling received data: first failed",
                           "100 msg b"}));
}

TEST_F(ClientTest, BrokenStreamClosesTheConnection) {
  GoOnline();
  // A remaining length with a fifth byte can belong to no packet.
  script->Deliver(Bytes("30 FF FF FF FF 01"));
  loop.RunPending();
  EXPECT_EQ(events, (Lines{"100 mon The broker sent data that is not MQTT; closing the connection",
                           "100 offline dropped"}));
  loop.Advance(6000ms);
  EXPECT_EQ(script->Opens, 2);
}

TEST_F(ClientTest, DestructionRaisesNoEvent) {
  bool raised = false;
  {
    FakeEventLoop caseLoop;
    auto caseScript = std::make_shared<FakeSocketScript>();
    auto caseClient = std::make_unique<TMQTTClient>(
        nullptr, caseLoop, marquo::MakeFakeSocketBackend(caseLoop, caseScript));
    caseClient->SetHost(u"10.0.0.1");
    caseClient->Activate(true);
    caseLoop.Advance(100ms);
    caseScript->Deliver(Bytes(kConnAckAccepted));
    caseLoop.RunPending();
    ASSERT_TRUE(caseClient->Online());
    caseClient->OnOffline = [&](TComponent &, bool) { raised = true; };
    caseClient->OnMon = [&](TComponent &, const std::u16string &) { raised = true; };
    caseClient->OnEnableChange = [&](TComponent &) { raised = true; };
    const std::size_t before = caseScript->Sent.size();
    caseClient.reset();
    EXPECT_FALSE(caseScript->IsOpen());
    EXPECT_EQ(caseScript->Sent.size(), before) << "no DISCONNECT without Activate(false)";
    caseLoop.Advance(60s);
  }
  EXPECT_FALSE(raised);
}

// The owner may free the client from inside one of its events; nothing
// further is raised and nothing touches the freed object (ASan checks).
TEST_F(ClientTest, ClientFreedFromItsOwnMessageEventIsHarmless) {
  auto owned =
      std::make_unique<TMQTTClient>(nullptr, loop, marquo::MakeFakeSocketBackend(loop, script));
  owned->SetHost(u"10.0.0.1");
  int messages = 0;
  owned->OnMsg = [&](TComponent &, const std::string &, const std::string &, TMQTTQOSType, bool) {
    ++messages;
    owned.reset();
  };
  owned->Activate(true);
  loop.Advance(100ms);
  script->Deliver(Bytes(kConnAckAccepted));
  loop.RunPending();
  script->Deliver(Bytes("30 05 00 01 61 68 69 30 05 00 01 62 68 69"));
  loop.RunPending();
  EXPECT_EQ(messages, 1);
  EXPECT_FALSE(owned);
  EXPECT_FALSE(script->IsOpen());
  loop.Advance(60s);
}

TEST_F(ClientTest, ClientFreedFromItsMonitorEventWhileConnectingIsHarmless) {
  auto owned =
      std::make_unique<TMQTTClient>(nullptr, loop, marquo::MakeFakeSocketBackend(loop, script));
  owned->OnMon = [&](TComponent &, const std::u16string &) { owned.reset(); };
  owned->Activate(true);
  loop.Advance(100ms);
  EXPECT_FALSE(owned);
  EXPECT_EQ(script->Opens, 0);
  loop.Advance(60s);
}

TEST_F(ClientTest, PublishedPropertiesReachTheSettings) {
  const auto *port = client.FindProperty(u"port");
  ASSERT_NE(port, nullptr);
  port->SetOrdinal(8883);
  EXPECT_EQ(client.Port(), 8883);
  const auto *host = client.FindProperty(u"Host");
  ASSERT_NE(host, nullptr);
  host->SetText(u"broker.example");
  EXPECT_EQ(client.Host(), u"broker.example");
  // Only the low 16 bits of the retry settings are kept.
  client.SetMaxRetries(65536 + 3);
  EXPECT_EQ(client.MaxRetries(), 3);
}

} // namespace
