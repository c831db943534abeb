#include "mqtt/mqtt_client.hpp"

#include <algorithm>
#include <exception>
#include <utility>

#include "common/utf.hpp"
#include "mqtt/mqtt_topics.hpp"

namespace marquo {
namespace {

using enum TMQTTQOSType;

constexpr LoopDuration kFirstAttempt{100};
constexpr LoopDuration kReconnectDelay{6000};
constexpr LoopDuration kDeliveryTick{100};

std::u16string Decimal(long long aValue) {
  const std::string digits = std::to_string(aValue);
  return std::u16string(digits.begin(), digits.end());
}

std::u16string WhatOf(const std::exception_ptr &anError) {
  try {
    std::rethrow_exception(anError);
  } catch (const std::exception &e) {
    return Utf8ToUtf16(e.what());
  } catch (...) {
    return u"unknown exception";
  }
}

} // namespace

// What the client owns besides its plain fields. It lives in a shared
// block so that a client destroyed from inside one of its own events can
// leave these parts to the frames still running in them: every entry into
// the client holds a reference until it returns.
struct TMQTTClient::TParts {
  TParts(EventLoop &aLoop, std::unique_ptr<SocketBackend> aBackend)
      : Link(aLoop, aBackend ? std::move(aBackend) : CreateSystemSocketBackend(aLoop)) {}

  std::unique_ptr<EventTarget> Timers;
  TMQTTMessageStore Releasables;
  TMQTTPacketStore InFlight;
  TMQTTParser Parser;
  TWSocket Link;
  // Set by the client's destructor; a frame that finds it set returns at
  // once.
  bool Destroyed = false;
};

TMQTTClient::TMQTTClient(TComponent *anOwner, EventLoop &aLoop)
    : TMQTTClient(anOwner, aLoop, nullptr) {}

TMQTTClient::TMQTTClient(TComponent *anOwner, EventLoop &aLoop,
                         std::unique_ptr<SocketBackend> aBackend)
    : TComponent(anOwner), FParts(std::make_shared<TParts>(aLoop, std::move(aBackend))),
      Parser(FParts->Parser), Link(FParts->Link), InFlight(FParts->InFlight),
      Releasables(FParts->Releasables), FLoop(aLoop) {
  Parser.SetKeepAlive(10);
  FParts->Timers = aLoop.CreateTarget([this](unsigned aNumber) { TimerFired(aNumber); });
  BindParts();

  PublishText(
      u"ClientID", [this] { return Utf8ToUtf16(ClientID()); },
      [this](const std::u16string &v) { SetClientID(Utf16ToUtf8(v)); });
  PublishInteger(
      u"KeepAlive", [this] { return static_cast<std::int32_t>(KeepAlive()); },
      [this](std::int32_t v) { SetKeepAlive(static_cast<std::uint16_t>(v)); });
  PublishInteger(
      u"MaxRetries", [this] { return MaxRetries(); }, [this](std::int32_t v) { SetMaxRetries(v); });
  PublishInteger(
      u"RetryTime", [this] { return static_cast<std::int32_t>(RetryTime()); },
      [this](std::int32_t v) { SetRetryTime(static_cast<std::uint32_t>(v)); });
  PublishBoolean(
      u"Clean", [this] { return Clean(); }, [this](bool v) { SetClean(v); });
  PublishBoolean(
      u"Broker", [this] { return Broker(); }, [this](bool v) { SetBroker(v); });
  PublishBoolean(
      u"AutoSubscribe", [this] { return AutoSubscribe(); },
      [this](bool v) { SetAutoSubscribe(v); });
  PublishText(
      u"Username", [this] { return Utf8ToUtf16(Username()); },
      [this](const std::u16string &v) { SetUsername(Utf16ToUtf8(v)); });
  PublishText(
      u"Password", [this] { return Utf8ToUtf16(Password()); },
      [this](const std::u16string &v) { SetPassword(Utf16ToUtf8(v)); });
  PublishText(
      u"Host", [this] { return Host(); }, [this](const std::u16string &v) { SetHost(v); });
  PublishInteger(
      u"Port", [this] { return Port(); }, [this](std::int32_t v) { SetPort(v); });
  PublishBoolean(
      u"LocalBounce", [this] { return LocalBounce(); }, [this](bool v) { SetLocalBounce(v); });
}

void TMQTTClient::BindParts() {
  Parser.OnSend = [this](std::uint16_t anID, std::int32_t aRetry, TMemoryStream &aStream) {
    Transmit(anID, aRetry, aStream);
  };
  Parser.OnConnAck = [this](std::uint8_t aCode) { ConnAck(aCode); };
  Parser.OnPublish = [this](std::uint16_t anID, const std::string &aTopic,
                            const std::string &aMessage) {
    InboundPublish(anID, aTopic, aMessage);
  };
  Parser.OnBrokenStream = [this] { BrokenStream(); };
  Parser.OnPubAck = [this](std::uint16_t anID) { PubAck(anID); };
  Parser.OnPubRec = [this](std::uint16_t anID) { PubRec(anID); };
  Parser.OnPubRel = [this](std::uint16_t anID) { PubRel(anID); };
  Parser.OnPubComp = [this](std::uint16_t anID) { PubComp(anID); };
  Parser.OnSubAck = [this](std::uint16_t anID, std::span<const TMQTTQOSType> Qoss) {
    SubAck(anID, Qoss);
  };
  Parser.OnUnsubAck = [this](std::uint16_t anID) { UnsubAck(anID); };
  // PINGRESP needs no handler: any byte received counts for the silence
  // watch.

  Link.OnSessionConnected = [this](TWSocket &, std::uint16_t anErrCode) {
    LinkConnected(anErrCode);
  };
  Link.OnDataAvailable = [this](TWSocket &, std::uint16_t anErrCode) {
    LinkDataAvailable(anErrCode);
  };
  Link.OnSessionClosed = [this](TWSocket &, std::uint16_t) { LinkClosed(); };
}

TMQTTClient::~TMQTTClient() {
  TParts &parts = *FParts;
  parts.Destroyed = true;
  ComponentState().Include(TComponentStateItem::csDestroying);
  // Nothing the parts do from now on may reach this object: their events
  // are cut before the connection is closed, so the close raises nothing.
  Parser.OnSend = nullptr;
  Parser.OnConnAck = nullptr;
  Parser.OnPublish = nullptr;
  Parser.OnBrokenStream = nullptr;
  Parser.OnPubAck = nullptr;
  Parser.OnPubRec = nullptr;
  Parser.OnPubRel = nullptr;
  Parser.OnPubComp = nullptr;
  Parser.OnSubAck = nullptr;
  Parser.OnUnsubAck = nullptr;
  Link.OnSessionConnected = nullptr;
  Link.OnDataAvailable = nullptr;
  Link.OnSessionClosed = nullptr;
  Releasables.Clear();
  InFlight.Clear();
  for (unsigned timer : {kConnectTimer, kPingTimer, kDeliveryTimer, kSilenceTimer})
    parts.Timers->Disarm(timer);
  try {
    Link.Close();
  } catch (...) {
    // Closing raises no event any more; a failing system call leaves a
    // socket the connection's own destructor closes again.
  }
  // When no event of this client is running, the parts go with this
  // object. Otherwise frames of the connection and the codec are still on
  // the stack below the handler that destroyed the client, and they go on
  // for a moment after it returns; the parts are then freed by the loop,
  // once that dispatch has ended.
  if (FParts.use_count() > 1) {
    try {
      std::shared_ptr<EventTarget> reaper = FLoop.CreateTarget(nullptr);
      EventTarget &target = *reaper;
      target.Post([parts = FParts, reaper]() mutable {
        parts.reset();
        reaper.reset(); // the target that ran this goes last
      });
    } catch (...) {
      // Without a target the parts are left to whoever still holds them.
    }
  }
}

template <class TEvent, class... TArgs>
bool TMQTTClient::Raise(const TEvent &anEvent, TArgs &&...anArgs) {
  const std::shared_ptr<TParts> keep = FParts;
  if (anEvent) {
    const TEvent handler = anEvent;
    handler(*this, std::forward<TArgs>(anArgs)...);
  }
  return !keep->Destroyed;
}

bool TMQTTClient::Say(const std::u16string &aStr) { return Raise(OnMon, aStr); }

void TMQTTClient::Mon(const std::u16string &aStr) { Say(aStr); }

// ---- activation and timers --------------------------------------------------

void TMQTTClient::Activate(bool Enable) {
  if (Enable == FEnable)
    return;
  const std::shared_ptr<TParts> keep = FParts;
  FEnable = Enable;
  // The close step: a failure here must not keep the timers and the event
  // below from following, but it is told.
  try {
    if (Link.State() == TSocketState::wsConnected) {
      FGraceful = true;
      Parser.SendDisconnect();
    }
  } catch (...) {
    if (!Say(u"Sending DISCONNECT failed: " + WhatOf(std::current_exception())))
      return;
  }
  CloseLater();
  if (keep->Destroyed)
    return;
  if (Enable) {
    keep->Timers->Arm(kConnectTimer, kFirstAttempt);
  } else {
    for (unsigned timer : {kConnectTimer, kPingTimer, kDeliveryTimer, kSilenceTimer})
      keep->Timers->Disarm(timer);
  }
  Raise(OnEnableChange);
}

void TMQTTClient::CloseLater() {
  try {
    Link.CloseDelayed();
  } catch (...) {
    Say(u"Closing the connection failed: " + WhatOf(std::current_exception()));
  }
}

void TMQTTClient::TimerFired(unsigned aNumber) {
  const std::shared_ptr<TParts> keep = FParts;
  switch (aNumber) {
  case kConnectTimer:
    ConnectAttempt();
    break;
  case kPingTimer:
    Ping();
    break;
  case kDeliveryTimer:
    DeliveryTick();
    break;
  case kSilenceTimer:
    SilenceExpired();
    break;
  default:
    break;
  }
}

void TMQTTClient::ConnectAttempt() {
  const std::shared_ptr<TParts> keep = FParts;
  if (!Say(u"Connecting to " + FHost + u" on Port " + Decimal(FPort)))
    return;
  try {
    Link.SetAddr(FHost);
    Link.SetPort(Decimal(FPort));
    Link.SetProto(u"tcp");
    Link.Connect();
  } catch (...) {
    // A failure the system reports at once (no such host, no host at all,
    // no socket) is one failed attempt like a refused connection: a network
    // that is not up yet when the cabinet starts must not stop the bridge
    // for good.
    if (!Say(u"Connection failed: " + WhatOf(std::current_exception())))
      return;
    if (FEnable && Link.State() == TSocketState::wsClosed)
      keep->Timers->Arm(kConnectTimer, kReconnectDelay);
  }
}

void TMQTTClient::DeliveryTick() {
  const std::shared_ptr<TParts> keep = FParts;
  // The next tick is armed first, so a send that fails in the walk (its
  // exception goes on to the loop's reporter) cannot stop the countdowns
  // for the rest of the connection.
  if (FOnline)
    keep->Timers->Arm(kDeliveryTimer, kDeliveryTick);
  // From the last packet to the first: a re-issue takes the current packet
  // out and appends its successor, which this walk then does not visit.
  // Every handler below may change the store, so the position is checked
  // against its size at each step, and a packet is never used after an
  // event without being looked up again.
  for (std::size_t index = InFlight.Count(); index-- > 0;) {
    if (index >= InFlight.Count())
      continue;
    TMQTTPacket *packet = InFlight.GetItem(index);
    if (packet->Counter == 0)
      continue;
    if (--packet->Counter > 0)
      continue;
    ++packet->Retries;
    const std::uint16_t id = packet->ID;
    const std::int32_t retries = packet->Retries;
    if (retries > MaxRetries()) {
      // Exhausted: the packet stays, no longer counting, until an
      // acknowledgement or a clean session removes it.
      bool closeClient = true;
      if (!Raise(OnFailure, std::int32_t{1}, closeClient))
        return;
      if (closeClient) {
        CloseLater();
        if (keep->Destroyed)
          return;
      }
    } else if (packet->Publishing) {
      std::unique_ptr<TMQTTPacket> old = InFlight.Remove(packet);
      SetDupFlag(old->Msg, true);
      if (!Say(u"Message " + Decimal(id) + u" disposed of..") ||
          !Say(u"Re-issuing Message " + Decimal(id) + u" Retry " + Decimal(retries)))
        return;
      // Recorded afresh by the transmit path while connected; dropped with
      // the old entry otherwise.
      Transmit(id, retries, old->Msg);
      if (keep->Destroyed)
        return;
    } else {
      packet->Counter = RetryTime();
      if (!Say(u"Re-issuing PUBREL Message " + Decimal(id) + u" Retry " + Decimal(retries)))
        return;
      Parser.SendPubRel(id, true);
      if (keep->Destroyed)
        return;
    }
  }
}

void TMQTTClient::ArmSilenceWatch() {
  if (KeepAlive() > 0)
    FParts->Timers->Arm(kSilenceTimer, std::chrono::seconds(2 * KeepAlive()));
  else
    FParts->Timers->Disarm(kSilenceTimer);
}

void TMQTTClient::SilenceExpired() {
  if (Link.State() != TSocketState::wsConnected)
    return;
  // A live broker answers every PINGREQ, and two have gone out in this
  // time; a broker that says nothing at all is gone even though the TCP
  // connection still looks open, as behind a dead router.
  if (!Say(u"Nothing received from the broker for " + Decimal(2 * KeepAlive()) +
           u" seconds; closing the connection"))
    return;
  CloseLater();
}

// ---- the connection ---------------------------------------------------------

void TMQTTClient::LinkConnected(std::uint16_t anErrCode) {
  if (anErrCode != 0)
    return;
  const std::shared_ptr<TParts> keep = FParts;
  FGraceful = false;
  Parser.Reset();
  ArmSilenceWatch();
  std::string id = ClientID();
  if (id.empty())
    id = "CID" + Utf16ToUtf8(Link.GetXPort());
  if (!Raise(OnClientID, id))
    return;
  SetClientID(id);
  if (Clean()) {
    InFlight.Clear();
    Releasables.Clear();
  }
  if (FBroker)
    Parser.SendBrokerConnect(id, Username(), Password(), KeepAlive(), Clean());
  else
    Parser.SendConnect(id, Username(), Password(), KeepAlive(), Clean());
}

void TMQTTClient::LinkDataAvailable(std::uint16_t anErrCode) {
  if (anErrCode != 0)
    return;
  const std::shared_ptr<TParts> keep = FParts;
  const std::string data = Link.ReceiveStrA();
  if (data.empty())
    return;
  ArmSilenceWatch();
  std::string_view input = data;
  for (;;) {
    try {
      Parser.Parse(input);
      return;
    } catch (...) {
      if (keep->Destroyed)
        return;
      ReportHandlerError(std::current_exception());
      if (keep->Destroyed)
        return;
    }
    // The codec kept what the failed call had not consumed; the next
    // packets of this read are handled now, not when more bytes arrive.
    if (!Parser.HasBacklog())
      return;
    input = {};
  }
}

void TMQTTClient::ReportHandlerError(std::exception_ptr anError) {
  try {
    Say(u"Error while handling received data: " + WhatOf(anError));
  } catch (...) {
    // The monitor handler failed too; the loop's reporter still hears of
    // both.
    FLoop.Report(anError);
    FLoop.Report(std::current_exception());
  }
}

void TMQTTClient::LinkClosed() {
  const std::shared_ptr<TParts> keep = FParts;
  for (unsigned timer : {kPingTimer, kDeliveryTimer, kSilenceTimer})
    keep->Timers->Disarm(timer);
  const bool wasOnline = FOnline;
  FOnline = false;
  // Armed before the event, so a handler that deactivates the client
  // disarms it again.
  if (FEnable)
    keep->Timers->Arm(kConnectTimer, kReconnectDelay);
  if (wasOnline)
    Raise(OnOffline, FGraceful);
}

void TMQTTClient::BrokenStream() {
  // Nothing after this can be split into packets, so staying connected
  // would only keep a connection that delivers nothing alive.
  if (!Say(u"The broker sent data that is not MQTT; closing the connection"))
    return;
  CloseLater();
}

// ---- sending ----------------------------------------------------------------

void TMQTTClient::Transmit(std::uint16_t anID, std::int32_t aRetry, TMemoryStream &aStream) {
  if (Link.State() != TSocketState::wsConnected)
    return;
  const std::shared_ptr<TParts> keep = FParts;
  keep->Timers->Disarm(kPingTimer);
  if (KeepAlive() > 0)
    keep->Timers->Arm(kPingTimer, LoopDuration(static_cast<LoopDuration::rep>(KeepAlive()) * 750));
  RecordInFlight(anID, aRetry, aStream);
  if (keep->Destroyed)
    return;
  const std::string &bytes = aStream.Bytes();
  Link.Send(bytes.data(), static_cast<int>(bytes.size()));
}

void TMQTTClient::RecordInFlight(std::uint16_t anID, std::int32_t aRetry, TMemoryStream &aStream) {
  if (anID == 0 || aStream.Size() == 0)
    return;
  const std::uint8_t first = static_cast<std::uint8_t>(aStream.Bytes()[0]);
  const unsigned qos = (first >> 1) & 3;
  const unsigned type = first >> 4;
  // PUBLISH at QoS 1 and 2, SUBSCRIBE and UNSUBSCRIBE wait for an answer;
  // CONNECT carries QoS 1 in its header too, but its answer is the CONNACK.
  if ((qos != 1 && qos != 2) || (type != 3 && type != 8 && type != 10))
    return;
  InFlight.AddPacket(anID, aStream, static_cast<std::uint32_t>(aRetry), RetryTime());
  Say(u"Message " + Decimal(anID) + u" created.");
}

void TMQTTClient::Ping() {
  const std::shared_ptr<TParts> keep = FParts;
  Parser.SendPing();
}

std::uint16_t TMQTTClient::NextMessageID() {
  const std::shared_ptr<TParts> keep = FParts;
  // At most one round of the 65535 identifiers: when every one waits for an
  // acknowledgement there is none to give, and the request is refused
  // instead of searching for ever.
  for (unsigned tries = 0; tries < 65535; ++tries) {
    ++FMessageID;
    if (FMessageID == 0)
      FMessageID = 1;
    if (!InFlight.HoldsID(FMessageID))
      return FMessageID;
  }
  Say(u"No packet identifier is free: all 65535 wait for an acknowledgement; nothing is sent");
  return 0;
}

void TMQTTClient::ConnAck(std::uint8_t aCode) {
  const std::shared_ptr<TParts> keep = FParts;
  if (!Say(u"Connection " + ConnAckCodeText(aCode)))
    return;
  if (aCode == 3) {
    // "Server unavailable" means try again later: a broker that is
    // restarting must not stop the bridge until the program restarts.
    CloseLater();
    return;
  }
  if (aCode != 0) {
    Activate(false);
    return;
  }
  FOnline = true;
  FGraceful = false;
  keep->Timers->Arm(kDeliveryTimer, kDeliveryTick);
  if (!Raise(OnOnline))
    return;
  if (!FAutoSubscribe || !FOnline)
    return;
  // A copy: the requests below raise events whose handlers may change the
  // list.
  const TStringList recorded = Subscriptions;
  for (const TStringListItem &item : recorded) {
    const std::uint16_t id = NextMessageID();
    if (keep->Destroyed || id == 0)
      return;
    Parser.SendSubscribe(id, Utf16ToUtf8(item.Text), static_cast<TMQTTQOSType>(item.Value & 3));
    if (keep->Destroyed)
      return;
  }
}

void TMQTTClient::InboundPublish(std::uint16_t anID, const std::string &aTopic,
                                 const std::string &aMessage) {
  const std::shared_ptr<TParts> keep = FParts;
  const TMQTTQOSType qos = Parser.RxQos;
  const bool retained = Parser.RxRetain;
  switch (qos) {
  case qtAT_MOST_ONCE:
    Raise(OnMsg, aTopic, aMessage, qos, retained);
    break;
  case qtAT_LEAST_ONCE:
    Parser.SendPubAck(anID);
    if (!keep->Destroyed)
      Raise(OnMsg, aTopic, aMessage, qos, retained);
    break;
  case qtEXACTLY_ONCE:
    if (Releasables.GetMsg(anID) == nullptr &&
        Releasables.Bytes() + aTopic.size() + aMessage.size() > kMaxReleasableBytes) {
      // Refused before its PUBREC, so the broker still owes it and sends it
      // again after the reconnection: nothing accepted is lost.
      if (!Say(u"Message " + Decimal(anID) +
               u" refused: the messages waiting for their release hold too much; closing the "
               u"connection"))
        return;
      CloseLater();
      return;
    }
    Parser.SendPubRec(anID);
    if (keep->Destroyed)
      return;
    if (Releasables.GetMsg(anID) != nullptr) {
      Say(u"Message " + Decimal(anID) + u" already stored.");
      return;
    }
    Releasables.AddMsg(anID, aTopic, aMessage, qos, 0, 0, retained);
    Say(u"Message " + Decimal(anID) + u" stored and idle.");
    break;
  case qtReserved3:
    break;
  }
}

// ---- acknowledgements -------------------------------------------------------

void TMQTTClient::PubAck(std::uint16_t anID) {
  InFlight.DelPacket(anID);
  Say(u"ACK Message " + Decimal(anID) + u" disposed of.");
}

void TMQTTClient::PubComp(std::uint16_t anID) {
  InFlight.DelPacket(anID);
  Say(u"COMP Message " + Decimal(anID) + u" disposed of.");
}

void TMQTTClient::UnsubAck(std::uint16_t anID) {
  InFlight.DelPacket(anID);
  Say(u"Message " + Decimal(anID) + u" disposed of.");
}

void TMQTTClient::SubAck(std::uint16_t anID, std::span<const TMQTTQOSType> Qoss) {
  InFlight.DelPacket(anID);
  // Each granted QoS goes to the filters that the acknowledged request
  // asked for at that position; filters asked for by other requests keep
  // their slots.
  const std::size_t positions = std::min<std::size_t>(Qoss.size(), 255);
  for (std::size_t i = 0; i < positions; ++i) {
    for (TStringListItem &item : Subscriptions) {
      const std::uint32_t slot = static_cast<std::uint32_t>(item.Value);
      if ((slot >> 16) == anID && ((slot >> 8) & 0xFF) == i)
        item.Value = 0xFF00 + static_cast<std::intptr_t>(Qoss[i]);
    }
  }
  Say(u"Message " + Decimal(anID) + u" disposed of.");
}

void TMQTTClient::PubRec(std::uint16_t anID) {
  const std::shared_ptr<TParts> keep = FParts;
  std::u16string text;
  if (TMQTTPacket *packet = InFlight.GetPacket(anID)) {
    packet->Counter = RetryTime();
    text = std::exchange(packet->Publishing, false) ? u" recorded." : u" already recorded.";
  } else {
    text = u" not found.";
  }
  if (!Say(u"REC Message " + Decimal(anID) + text))
    return;
  // Answered in every case, so the broker can complete its side.
  Parser.SendPubRel(anID, false);
}

void TMQTTClient::PubRel(std::uint16_t anID) {
  const std::shared_ptr<TParts> keep = FParts;
  // Taken out before it is delivered, so it is delivered once whatever the
  // handler does, a repeated PUBREL included.
  if (std::unique_ptr<TMQTTMessage> message = Releasables.Remove(Releasables.GetMsg(anID))) {
    const unsigned qos = static_cast<unsigned>(message->Qos) & 3;
    if (!Say(u"REL Message " + Decimal(anID) + u" publishing @ " +
             std::u16string(QosLevelTexts[qos])) ||
        !Raise(OnMsg, message->Topic, message->Message, message->Qos, message->Retained) ||
        !Say(u"REL Message " + Decimal(anID) + u" removed from storage."))
      return;
  } else if (!Say(u"REL Message " + Decimal(anID) + u" has been already removed from storage.")) {
    return;
  }
  Parser.SendPubComp(anID);
}

// ---- subscriptions ----------------------------------------------------------

namespace {

// The first entry from the front with exactly aTopic, or Subscriptions.end().
TStringList::iterator FindFirst(TStringList &aList, const std::u16string &aTopic) {
  for (auto it = aList.begin(); it != aList.end(); ++it)
    if (it->Text == aTopic)
      return it;
  return aList.end();
}

void RecordSlot(TStringList &aList, const std::u16string &aTopic, std::intptr_t aSlot) {
  const auto it = FindFirst(aList, aTopic);
  if (it != aList.end())
    it->Value = aSlot;
  else
    aList.push_back({aTopic, aSlot});
}

void ForgetLast(TStringList &aList, const std::u16string &aTopic) {
  for (auto it = aList.rbegin(); it != aList.rend(); ++it) {
    if (it->Text == aTopic) {
      aList.erase(std::next(it).base());
      return;
    }
  }
}

} // namespace

void TMQTTClient::Subscribe(const std::string &aTopic, TMQTTQOSType aQos) {
  if (aTopic.empty())
    return;
  const std::shared_ptr<TParts> keep = FParts;
  const std::uint16_t id = NextMessageID();
  if (keep->Destroyed || id == 0)
    return;
  const std::intptr_t slot =
      static_cast<std::intptr_t>(id) * 65536 + (static_cast<std::intptr_t>(aQos) & 3);
  RecordSlot(Subscriptions, Utf8ToUtf16(aTopic), slot);
  Parser.SendSubscribe(id, aTopic, aQos);
}

void TMQTTClient::Subscribe(const TStringList &Topics) {
  if (Topics.empty())
    return;
  const std::shared_ptr<TParts> keep = FParts;
  const TStringList topics = Topics; // the caller's list may be ours
  const std::uint16_t id = NextMessageID();
  if (keep->Destroyed || id == 0)
    return;
  for (std::size_t k = 0; k < topics.size(); ++k) {
    const std::intptr_t qos = topics[k].Value & 3;
    const std::intptr_t slot = k <= 254 ? static_cast<std::intptr_t>(id) * 65536 +
                                              static_cast<std::intptr_t>(k) * 256 + qos
                                        : qos;
    RecordSlot(Subscriptions, topics[k].Text, slot);
  }
  Parser.SendSubscribe(id, topics);
}

void TMQTTClient::Unsubscribe(const std::string &aTopic) {
  if (aTopic.empty())
    return;
  const std::shared_ptr<TParts> keep = FParts;
  ForgetLast(Subscriptions, Utf8ToUtf16(aTopic));
  const std::uint16_t id = NextMessageID();
  if (keep->Destroyed || id == 0)
    return;
  Parser.SendUnsubscribe(id, aTopic);
}

void TMQTTClient::Unsubscribe(const TStringList &Topics) {
  if (Topics.empty())
    return;
  const std::shared_ptr<TParts> keep = FParts;
  const TStringList topics = Topics;
  for (const TStringListItem &item : topics)
    ForgetLast(Subscriptions, item.Text);
  const std::uint16_t id = NextMessageID();
  if (keep->Destroyed || id == 0)
    return;
  Parser.SendUnsubscribe(id, topics);
}

// ---- publishing -------------------------------------------------------------

void TMQTTClient::Publish(const std::string &aTopic, const std::string &aMessage, TMQTTQOSType aQos,
                          bool aRetain) {
  const std::shared_ptr<TParts> keep = FParts;
  if (FLocalBounce && OnMsg) {
    // Once, for the first recorded filter that matches, and never as a
    // retained message.
    for (const TStringListItem &item : Subscriptions) {
      if (TopicMatches(Utf16ToUtf8(item.Text), aTopic)) {
        Parser.RxQos = aQos;
        if (!Raise(OnMsg, aTopic, aMessage, aQos, false))
          return;
        break;
      }
    }
  }
  const std::uint16_t id = NextMessageID();
  if (keep->Destroyed || id == 0)
    return;
  Parser.SendPublish(id, aTopic, aMessage, aQos, false, aRetain);
}

void TMQTTClient::SetWill(const std::string &aTopic, const std::string &aMessage, TMQTTQOSType aQos,
                          bool aRetain) {
  Parser.SetWill(aTopic, aMessage, aQos, aRetain);
}

} // namespace marquo
