// TMQTTClient: one MQTT 3.1 session with one broker over one TCP connection,
// on the event loop of the thread that created it.
//
// Lifecycle. Activate(true) arms timer 1 for 100 ms; when it fires the
// client says "Connecting to HOST on Port PORT" and opens the connection.
// Once it is established the client sends CONNECT (client identifier "CID"
// + the local port unless ClientID is set, offered to OnClientID first);
// CONNACK 0 makes it online (OnOnline, then the automatic re-subscription
// when AutoSubscribe is set). Every closed connection while activated arms
// timer 1 for 6000 ms, without limit and without back-off; OnOffline is
// raised only for a connection that was online. Activate(false) sends
// DISCONNECT when connected and closes the connection once control returns
// to the loop; the close then raises OnOffline(Sender, true).
//
// Timers, all one-shot on the client's own EventTarget; arming an armed
// timer restarts it and a timer is disarmed before it is handled:
//   1 connect attempt     100 ms after activation, 6000 ms after a close or
//                         a failed attempt
//   2 keep-alive ping     KeepAlive x 750 ms after the last packet sent
//   3 delivery tick       every 100 ms while online
//   4 silence watch       2 x KeepAlive s after the last byte received;
//                         a broker silent that long is taken as gone and
//                         the connection is closed
//
// Acknowledged delivery. Every PUBLISH at QoS 1 or 2, SUBSCRIBE and
// UNSUBSCRIBE that goes out is kept in InFlight until its acknowledgement;
// the delivery tick counts each one down from RetryTime ticks and sends it
// again with DUP set (a PUBREL again once its PUBREC has come), up to
// MaxRetries times, then raises OnFailure (by default the connection is
// closed and the reconnection follows). Inbound, QoS 1 is acknowledged and
// delivered at once; QoS 2 is acknowledged, kept once per identifier in
// Releasables and delivered once, at its PUBREL. Releasables holds at most
// kMaxReleasableBytes: a message past that is refused before its PUBREC and
// the connection closed, so the broker sends it again later.
//
// Failures of the connection become monitor texts (OnMon) and the usual
// reconnection. The one exception is a send the system refuses: its
// ESocketException goes to whoever caused the send (an application's call,
// or the loop's reporter for the client's own timers and events), and the
// broken connection then closes as any other. A failed connect that
// the system reports at once (an unresolvable host, an empty host, no
// socket) is one failed attempt: its message as a monitor text, and the next
// attempt 6 s later. CONNACK 3 (server unavailable) is retried the same way;
// the other refusals deactivate the client. An exception from an
// application handler raised while received data is being handled is
// reported as a monitor text ("Error while handling received data: ...",
// or to the loop's OnUnhandledException when OnMon itself fails), and the
// rest of the data is still handled.
//
// Destruction raises no event and sends nothing; an owner that wants a
// DISCONNECT calls Activate(false) first. The client may be destroyed from
// inside one of its own events: it then raises nothing more, its connection
// is closed at once, and its codec and connection are freed only when the
// call that raised the event has returned. The codec and the connection are
// the client's own (Parser, Link): nobody else frees them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "loop/event_loop.hpp"
#include "mqtt/mqtt_parser.hpp"
#include "mqtt/mqtt_stores.hpp"
#include "mqtt/mqtt_types.hpp"
#include "mqtt/string_list.hpp"
#include "net/socket_backend.hpp"
#include "net/wsocket.hpp"
#include "settings/component.hpp"

namespace marquo {

// The most topic and payload bytes that inbound QoS 2 messages waiting for
// their release may hold together: two of the largest packets the codec
// accepts. A voice command is well under a kilobyte; a broker that never
// releases, or a hostile one sending thousands of identifiers, must not
// make the bridge grow without bound.
inline constexpr std::size_t kMaxReleasableBytes = 8 * 1024 * 1024;

class TMQTTClient : public TComponent {
public:
  // The timers' numbers.
  enum : unsigned { kConnectTimer = 1, kPingTimer = 2, kDeliveryTimer = 3, kSilenceTimer = 4 };

  // On the system's sockets; aLoop must be the platform's real loop.
  TMQTTClient(TComponent *anOwner, EventLoop &aLoop);
  // On a socket backend of the caller's (tests); aLoop may be any loop.
  TMQTTClient(TComponent *anOwner, EventLoop &aLoop, std::unique_ptr<SocketBackend> aBackend);
  ~TMQTTClient() override;

  // ---- properties ----
  const std::string &ClientID() const { return Parser.ClientID; } // UTF-8
  void SetClientID(std::string aValue) { Parser.ClientID = std::move(aValue); }
  std::uint16_t KeepAlive() const { return Parser.KeepAlive(); } // seconds
  void SetKeepAlive(std::uint16_t aValue) { Parser.SetKeepAlive(aValue); }
  // Only the low 16 bits are kept.
  std::int32_t MaxRetries() const { return Parser.MaxRetries(); }
  void SetMaxRetries(std::int32_t aValue) {
    Parser.SetMaxRetries(static_cast<std::uint16_t>(aValue));
  }
  // In delivery ticks of 100 ms; only the low 16 bits are kept.
  std::uint32_t RetryTime() const { return Parser.RetryTime(); }
  void SetRetryTime(std::uint32_t aValue) {
    Parser.SetRetryTime(static_cast<std::uint16_t>(aValue));
  }
  bool Clean() const { return Parser.Clean; }
  void SetClean(bool aValue) { Parser.Clean = aValue; }
  bool Broker() const { return FBroker; }
  void SetBroker(bool aValue) { FBroker = aValue; }
  bool AutoSubscribe() const { return FAutoSubscribe; }
  void SetAutoSubscribe(bool aValue) { FAutoSubscribe = aValue; }
  const std::string &Username() const { return Parser.UserName; } // UTF-8
  void SetUsername(std::string aValue) { Parser.UserName = std::move(aValue); }
  const std::string &Password() const { return Parser.Password; } // UTF-8
  void SetPassword(std::string aValue) { Parser.Password = std::move(aValue); }
  const std::u16string &Host() const { return FHost; }
  void SetHost(std::u16string aValue) { FHost = std::move(aValue); }
  std::int32_t Port() const { return FPort; }
  void SetPort(std::int32_t aValue) { FPort = aValue; }
  bool LocalBounce() const { return FLocalBounce; }
  void SetLocalBounce(bool aValue) { FLocalBounce = aValue; }

  // ---- events ----
  TMQTTClientIDEvent OnClientID;
  TMQTTClientMonEvent OnMon;
  TMQTTClientNotifyEvent OnOnline;
  TMQTTDisconnectEvent OnOffline;
  TMQTTClientNotifyEvent OnEnableChange;
  TMQTTFailureEvent OnFailure;
  TMQTTMsgEvent OnMsg;

  // ---- operations ----
  void Activate(bool Enable);
  bool Enabled() const { return FEnable; }
  bool Online() const { return FOnline; }
  // The next packet identifier (1 ... 65535, wrapping, skipping those held
  // in InFlight), or 0 with a monitor text when every one is held.
  std::uint16_t NextMessageID();
  // Records the filter and sends one SUBSCRIBE (when connected). An empty
  // topic does nothing.
  void Subscribe(const std::string &aTopic, TMQTTQOSType aQos);
  // Each item's value holds the requested QoS in its low two bits. An empty
  // list does nothing.
  void Subscribe(const TStringList &Topics);
  void Unsubscribe(const std::string &aTopic);
  void Unsubscribe(const TStringList &Topics);
  void Ping();
  // Sends a PUBLISH when connected; lost without notice otherwise.
  void Publish(const std::string &aTopic, const std::string &aMessage, TMQTTQOSType aQos,
               bool aRetain);
  void SetWill(const std::string &aTopic, const std::string &aMessage, TMQTTQOSType aQos,
               bool aRetain);
  // Raises OnMon(Sender, aStr).
  void Mon(const std::u16string &aStr);

  // ---- parts ----
  // Declared before the references below, which point into it.
  struct TParts;

private:
  std::shared_ptr<TParts> FParts;

public:
  TMQTTParser &Parser;
  TWSocket &Link;
  TMQTTPacketStore &InFlight;
  TMQTTMessageStore &Releasables;
  // Recorded filters (UTF-16, compared exactly); each value is a slot:
  // bits 16-31 the identifier of the SUBSCRIBE that last asked for it (0
  // once acknowledged), bits 8-15 its position in that request, bits 0-7
  // the QoS.
  TStringList Subscriptions;

private:
  void TimerFired(unsigned aNumber);
  void ConnectAttempt();
  void DeliveryTick();
  void SilenceExpired();
  void LinkConnected(std::uint16_t anErrCode);
  void LinkDataAvailable(std::uint16_t anErrCode);
  void LinkClosed();
  void Transmit(std::uint16_t anID, std::int32_t aRetry, TMemoryStream &aStream);
  void RecordInFlight(std::uint16_t anID, std::int32_t aRetry, TMemoryStream &aStream);
  void ConnAck(std::uint8_t aCode);
  void InboundPublish(std::uint16_t anID, const std::string &aTopic, const std::string &aMessage);
  void PubAck(std::uint16_t anID);
  void PubRec(std::uint16_t anID);
  void PubRel(std::uint16_t anID);
  void PubComp(std::uint16_t anID);
  void SubAck(std::uint16_t anID, std::span<const TMQTTQOSType> Qoss);
  void UnsubAck(std::uint16_t anID);
  void BrokenStream();
  void ArmSilenceWatch();
  // Asks for the connection to close once control is back in the loop;
  // a failure to do so is a monitor text.
  void CloseLater();
  void ReportHandlerError(std::exception_ptr anError);
  void BindParts();

  // Raise an application event through a copy (the handler may reassign
  // it). The result is false when the handler destroyed the client: the
  // caller then returns at once, touching nothing.
  template <class TEvent, class... TArgs> bool Raise(const TEvent &anEvent, TArgs &&...anArgs);
  bool Say(const std::u16string &aStr);

  EventLoop &FLoop;
  std::uint16_t FMessageID = 0;
  std::u16string FHost;
  std::int32_t FPort = 1883;
  bool FEnable = false;
  bool FOnline = false;
  bool FGraceful = false;
  bool FLocalBounce = false;
  bool FAutoSubscribe = false;
  bool FBroker = false;
};

} // namespace marquo
