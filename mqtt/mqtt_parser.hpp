// TMQTTParser: the MQTT 3.1 codec. It builds every control packet byte for
// byte and splits a received byte stream into packets, raising one event per
// packet. It does no input or output of its own and is used from one thread.
//
// Sending. Each Send... builder clears the transmit stream, writes exactly
// one complete packet into it and raises OnSend(anID, 0, stream) with the
// stream positioned at its end; the receiver seeks to 0 before reading and
// copies the bytes if it keeps them, because the next builder reuses the
// stream. anID is the builder's message-identifier argument (also for a
// PUBLISH at QoS 0, whose bytes carry none) and 0 for packets without one.
// Unassigned OnSend: the packet is built and dropped. A builder whose packet
// cannot be expressed (a string field over 65535 bytes, a remaining length
// over 268435455) builds nothing, raises nothing and changes nothing. The
// protocol is "MQIsdp" version 3; CONNECT goes out with first byte 0x12 and
// broker connect as the private type 0 (0x02), which the brokers in use
// accept.
//
// Receiving. Parse takes the bytes in pieces of any size; a packet may span
// any number of calls and one call may hold several packets. Events are
// raised synchronously inside Parse, in the order the packets complete:
// OnHeader for every first byte, then at most one packet event once the
// packet's remaining length (and body) is complete. RxMsg, RxQos, RxDup and
// RxRetain describe the current packet's first byte and keep their values
// until the next first byte, so OnPublish handlers read the QoS and retain
// flag there. Lists, arrays and strings handed to events are valid only
// during the call.
//
// Bounded buffering. A peer decides how long a packet claims to be, so the
// parser never stores more than a packet it can use. CONNACK, PUBACK,
// PUBREC, PUBREL, PUBCOMP and UNSUBACK carry a body of exactly 2 bytes,
// PINGREQ, PINGRESP and DISCONNECT none, and type 15 nothing usable; such a
// packet with any other remaining length is counted down without storing a
// byte of it and dropped without an event. The other kinds (CONNECT, broker
// connect, PUBLISH, SUBSCRIBE, SUBACK, UNSUBSCRIBE) are stored until they are
// complete, up to kMaxReceiveLength bytes of remaining length. The parser
// keeps no packet body between packets, and a backlog (see below) that grew
// over 64 KiB is given back once it has been parsed; RxBufferCapacity shows
// what it holds.
//
// Broken streams. A remaining length that announces a fifth length byte can
// never belong to a packet, and one over kMaxReceiveLength for a kind that
// is stored is more than this program ever accepts. In both cases the
// parser raises OnBrokenStream once, as soon as the length is read and
// before any byte of the body is stored, and ignores every further byte
// until Reset, so the owner can drop the connection instead of waiting for
// (or holding) a body it will not use.
//
// Handlers. A handler may call the builders (they touch only the transmit
// stream and, for CONNECT, the keep-alive setting). The receive state is
// brought up to date before each event is raised, and the bytes that follow
// the packet in the same call are first copied into the parser, so a
// handler may change or free the buffer the caller passed in. An exception
// thrown by a handler leaves Parse at once and goes on to the caller; the
// unread rest of that call's input stays in the parser as its backlog
// (HasBacklog). The next Parse call parses the backlog first and then its
// own input, and Parse(std::string_view{}) parses just the backlog, so the
// owner can resume at once. A handler that calls Parse itself adds its bytes
// after the backlog, so the bytes are always parsed in the order they came.
// Reset discards the backlog, also the unread rest of a Parse call that is
// running when a handler resets. A handler may destroy the parser: every
// Parse call under way on it then returns at once, raises nothing more and
// touches nothing of the freed object.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "mqtt/memory_stream.hpp"
#include "mqtt/mqtt_types.hpp"
#include "mqtt/mqtt_wire.hpp"
#include "mqtt/string_list.hpp"

namespace marquo {

// The largest remaining length the parser stores for a packet kind whose size
// varies (CONNECT, broker connect, PUBLISH, SUBSCRIBE, SUBACK, UNSUBSCRIBE).
// A voice command and its answers are well under a kilobyte, and the
// broker-side packets this program needs are far below this limit too, so a
// longer announcement can only come from a broken or hostile peer; 4 MiB
// still leaves plenty of room while keeping what one packet may make the
// parser hold small.
inline constexpr std::uint32_t kMaxReceiveLength = 4194304;

class TMQTTParser {
public:
  TMQTTParser();
  // Tells every Parse call still running on this parser (a handler is
  // destroying it) to return without touching the object again.
  ~TMQTTParser();
  // Parse calls in progress refer to their parser, so it stays where it is.
  TMQTTParser(const TMQTTParser &) = delete;
  TMQTTParser &operator=(const TMQTTParser &) = delete;

  // Keep-alive interval in seconds, as CONNECT sends it. SetKeepAlive also
  // reloads the keep-alive countdown with Value * 10.
  std::uint16_t KeepAlive() const { return FKeepAlive; }
  void SetKeepAlive(std::uint16_t Value);
  // Retry settings, stored for the owner; the parser never reads them.
  std::uint16_t RetryTime() const { return FRetryTime; }
  void SetRetryTime(std::uint16_t Value) { FRetryTime = Value; }
  std::uint16_t MaxRetries() const { return FMaxRetries; }
  void SetMaxRetries(std::uint16_t Value) { FMaxRetries = Value; }

  // Stores the will; it is sent with every later CONNECT only when both
  // aTopic and aMessage are non-empty.
  void SetWill(std::string_view aTopic, std::string_view aMessage, TMQTTQOSType aQos, bool aRetain);
  bool WillFlag() const { return FWillFlag; }

  // Builders. Strings named aTopic, aClientID, aUsername and aPassword are
  // UTF-8; aMessage is raw bytes; list items are UTF-16 and sent as UTF-8.
  // The connect flag "clean" comes from the Clean field, not from aClean.
  void SendConnect(std::string_view aClientID, std::string_view aUsername,
                   std::string_view aPassword, std::uint16_t aKeepAlive, bool aClean);
  void SendBrokerConnect(std::string_view aClientID, std::string_view aUsername,
                         std::string_view aPassword, std::uint16_t aKeepAlive, bool aClean);
  void SendConnAck(std::uint8_t aCode);
  void SendPublish(std::uint16_t anID, std::string_view aTopic, std::string_view aMessage,
                   TMQTTQOSType aQOS, bool aDup, bool aRetain);
  void SendPubAck(std::uint16_t anID);
  void SendPubRec(std::uint16_t anID);
  void SendPubRel(std::uint16_t anID, bool aDup);
  void SendPubComp(std::uint16_t anID);
  void SendSubscribe(std::uint16_t anID, std::string_view aTopic, TMQTTQOSType aQOS);
  // Each item's attached value AND 3 is its requested QoS.
  void SendSubscribe(std::uint16_t anID, const TStringList &Topics);
  void SendUnsubscribe(std::uint16_t anID, std::string_view aTopic);
  void SendUnsubscribe(std::uint16_t anID, const TStringList &Topics);
  void SendSubAck(std::uint16_t anID, std::span<const TMQTTQOSType> Qoss);
  void SendUnsubAck(std::uint16_t anID);
  void SendPing();
  void SendPingResp();
  void SendDisconnect();

  // Feeds received bytes: the backlog first, then aStr. The stream form
  // consumes aStream from its position to its end; the stream stands at its
  // end also when a handler throws, with the unread rest in the backlog.
  void Parse(std::string_view aStr);
  void Parse(TMemoryStream &aStream);
  // True while input left unread by a throwing handler waits for the next
  // Parse call.
  bool HasBacklog() const { return FBacklogPos < FBacklog.size(); }
  // The bytes of storage the receive side holds at the moment: the body of
  // the packet being received and the backlog.
  std::size_t RxBufferCapacity() const { return FRxBody.capacity() + FBacklog.capacity(); }
  // Discards a partly received packet and the backlog, leaves the
  // broken-stream state, clears both streams and sets RxMsg, RxQos, RxDup
  // and RxRetain to their initial values. The keep-alive settings are kept.
  void Reset();
  // Counts the keep-alive countdown down: true while it stays above 0, false
  // on the call that brings it to 0, and true without change once it is 0.
  bool CheckKeepAlive();
  // Raises OnMon with "P " + aStr. Parsing itself produces no monitor text.
  void Mon(std::u16string_view aStr);

  // Events; all start unassigned.
  TMQTTStreamEvent OnSend;
  TMQTTMonEvent OnMon;
  TMQTTHeaderEvent OnHeader;
  TMQTTNotifyEvent OnPing;
  TMQTTNotifyEvent OnPingResp;
  TMQTTNotifyEvent OnDisconnect;
  TMQTTWillEvent OnSetWill; // inside CONNECT decoding, before OnConnect / OnBrokerConnect
  TMQTTConnectEvent OnConnect;
  TMQTTConnectEvent OnBrokerConnect;
  TMQTTAckEvent OnConnAck;
  TMQTTPublishEvent OnPublish;
  TMQTTIDEvent OnPubAck;
  TMQTTIDEvent OnPubRec;
  TMQTTIDEvent OnPubRel;
  TMQTTIDEvent OnPubComp;
  TMQTTSubscribeEvent OnSubscribe;
  TMQTTSubAckEvent OnSubAck;
  TMQTTUnsubscribeEvent OnUnsubscribe;
  TMQTTIDEvent OnUnsubAck;
  // The received bytes cannot be split into packets any more (see above).
  TMQTTNotifyEvent OnBrokenStream;

  // The current packet's first byte (see above).
  TMQTTMessageType RxMsg = TMQTTMessageType::mtReserved15;
  TMQTTQOSType RxQos = TMQTTQOSType::qtAT_MOST_ONCE;
  bool RxDup = false;
  bool RxRetain = false;

  // Connection settings, stored for the owner. Only Clean is read by the
  // parser itself (the clean flag of CONNECT).
  std::string UserName;
  std::string Password;
  std::string WillTopic;
  std::string WillMessage;
  bool WillRetain = false;
  TMQTTQOSType WillQos = TMQTTQOSType::qtAT_LEAST_ONCE;
  std::string ClientID;
  bool Clean = false;

private:
  // Receive states; kRxBroken is entered only by a broken stream, kRxSkip
  // counts down the body of a packet whose size its kind does not allow.
  enum : std::int32_t { kRxHeader = 0, kRxLength = 1, kRxBody = 2, kRxBroken = 3, kRxSkip = 4 };

  // One running Parse call. It lives on that call's stack and is linked in
  // front of the calls it is nested in; the destructor marks them all, so
  // each one learns after an event that its parser is gone.
  struct TParseFrame {
    explicit TParseFrame(TMQTTParser &aParser);
    ~TParseFrame();
    TParseFrame(const TParseFrame &) = delete;
    TParseFrame &operator=(const TParseFrame &) = delete;
    TMQTTParser &Parser;
    TParseFrame *Outer;
    bool Destroyed = false;
  };

  // What the bytes scanned so far ask to be raised; kRxNone when they ask for
  // nothing (or for an event nobody listens to).
  enum class TRxEvent { kRxNone, kRxHeaderEvent, kRxEmptyPacket, kRxBrokenEvent, kRxBodyEvent };

  void BuildConnect(TMQTTMessageType aType, std::string_view aClientID, std::string_view aUsername,
                    std::string_view aPassword, std::uint16_t aKeepAlive);
  void BuildIdPacket(const TMQTTHeader &aHeader, std::uint16_t anID);
  // Writes the first byte, the remaining length and aVariable into the
  // transmit stream and raises OnSend; false (nothing built) when the length
  // cannot be expressed.
  bool FinishPacket(const TMQTTHeader &aHeader, std::string_view aVariable, std::uint16_t anID);
  void RaiseSend(std::uint16_t anID);

  // Parses the backlog and aInput until both are used up, or until an event
  // finds the parser destroyed.
  void ParseInput(std::string_view aInput, const TParseFrame &aFrame);
  // Advances the receive state over aBytes without raising anything. Stops
  // after the byte that completes an event (set in anEvent; a completed body
  // is moved into aBody) and returns the number of bytes used.
  std::size_t Scan(std::string_view aBytes, TRxEvent &anEvent, std::string &aBody);
  // Called when a remaining length is complete: chooses how its body is read.
  TRxEvent StartBody();
  TRxEvent EnterBroken();
  void AppendBody(std::string_view aBytes);
  // Marks the consumed start of the backlog; a backlog used up is emptied.
  void ConsumeBacklog(std::size_t aCount);
  void ReloadKeepAlive() { FKeepAliveCount = static_cast<std::uint32_t>(FKeepAlive) * 10; }
  void DecodeBody(TMemoryStream &aBody, const TParseFrame &aFrame);
  void DecodeConnect(TMemoryStream &aBody, const TParseFrame &aFrame);
  static void DecodeIdPacket(TMemoryStream &aBody, const TMQTTIDEvent &anEvent);

  TMemoryStream FTxStream;
  // The body received so far of the packet being received.
  std::string FRxBody;
  // Input not parsed yet, from FBacklogPos on (see the header comment).
  std::string FBacklog;
  std::size_t FBacklogPos = 0;
  // The innermost running Parse call, or nullptr.
  TParseFrame *FFrame = nullptr;
  std::uint32_t FKeepAliveCount = 0;
  std::uint16_t FKeepAlive = 0;
  bool FWillFlag = false;
  std::int32_t FRxState = kRxHeader;
  std::int32_t FRxMult = 0;
  // The remaining length while it is read, then the body bytes still to come.
  std::int32_t FRxVal = 0;
  // The remaining length of the packet whose body is being stored.
  std::int32_t FRxLength = 0;
  std::uint16_t FMaxRetries = 8;
  std::uint16_t FRetryTime = 60;
};

} // namespace marquo
