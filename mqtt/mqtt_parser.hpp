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
// packet's remaining length (and body) is complete. Packets of a size their
// type does not allow are dropped without an event. RxMsg, RxQos, RxDup and
// RxRetain describe the current packet's first byte and keep their values
// until the next first byte, so OnPublish handlers read the QoS and retain
// flag there. Lists, arrays and strings handed to events are valid only
// during the call.
//
// Broken streams. A remaining length that announces a fifth length byte can
// never belong to a packet. The parser then raises OnBrokenStream once and
// ignores every further byte until Reset, so the owner can drop the
// connection instead of waiting for a body that never comes.
//
// Handlers. A handler may call the builders (they touch only the transmit
// stream and, for CONNECT, the keep-alive setting). The receive state is
// brought up to date before each event is raised. An exception thrown by a
// handler leaves Parse at once, and the rest of that call's input is not
// consumed; the parser itself stays consistent (a later Parse reads its
// first byte in the state the throwing packet left behind), and Reset
// restores a fresh parser's receive side.
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

class TMQTTParser {
public:
  TMQTTParser();

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

  // Feeds received bytes. The stream form consumes aStream from its position
  // to its end.
  void Parse(std::string_view aStr);
  void Parse(TMemoryStream &aStream);
  // Discards a partly received packet, leaves the broken-stream state, clears
  // both streams and sets RxMsg, RxQos, RxDup and RxRetain to their initial
  // values. The keep-alive settings are kept.
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
  // Receive states; kRxBroken is entered only by a broken stream.
  enum : std::int32_t { kRxHeader = 0, kRxLength = 1, kRxBody = 2, kRxBroken = 3 };

  void BuildConnect(TMQTTMessageType aType, std::string_view aClientID, std::string_view aUsername,
                    std::string_view aPassword, std::uint16_t aKeepAlive);
  void BuildIdPacket(const TMQTTHeader &aHeader, std::uint16_t anID);
  // Writes the first byte, the remaining length and aVariable into the
  // transmit stream and raises OnSend; false (nothing built) when the length
  // cannot be expressed.
  bool FinishPacket(const TMQTTHeader &aHeader, std::string_view aVariable, std::uint16_t anID);
  void RaiseSend(std::uint16_t anID);

  void ParseByte(std::uint8_t aByte);
  void ReloadKeepAlive() { FKeepAliveCount = static_cast<std::uint32_t>(FKeepAlive) * 10; }
  void DecodeBody();
  void DecodeConnect();
  void DecodeIdPacket(const TMQTTIDEvent &anEvent);

  TMemoryStream FTxStream;
  TMemoryStream FRxStream;
  std::uint32_t FKeepAliveCount = 0;
  std::uint16_t FKeepAlive = 0;
  bool FWillFlag = false;
  std::int32_t FRxState = kRxHeader;
  std::int32_t FRxMult = 0;
  std::int32_t FRxVal = 0;
  std::uint16_t FMaxRetries = 8;
  std::uint16_t FRetryTime = 60;
};

} // namespace marquo
