// The vocabulary of the MQTT 3.1 codec and client: packet types, QoS levels,
// their display texts and the event types both raise.
//
// Events are std::function values; an empty one is simply not called. They
// carry no sender argument: a handler that needs to know who raised the event
// captures it when it is assigned.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "mqtt/string_list.hpp"

namespace marquo {

class TMemoryStream;
class TComponent;

// The ordinal is the packet type in the upper four bits of a fixed header's
// first byte. Type 0 is this system's private "broker connect", a CONNECT
// variant that standard brokers treat as reserved.
enum class TMQTTMessageType : std::uint8_t {
  mtBROKERCONNECT = 0,
  mtCONNECT = 1,
  mtCONNACK = 2,
  mtPUBLISH = 3,
  mtPUBACK = 4,
  mtPUBREC = 5,
  mtPUBREL = 6,
  mtPUBCOMP = 7,
  mtSUBSCRIBE = 8,
  mtSUBACK = 9,
  mtUNSUBSCRIBE = 10,
  mtUNSUBACK = 11,
  mtPINGREQ = 12,
  mtPINGRESP = 13,
  mtDISCONNECT = 14,
  mtReserved15 = 15,
};

// The ordinal is the two-bit QoS field of a fixed header.
enum class TMQTTQOSType : std::uint8_t {
  qtAT_MOST_ONCE = 0,
  qtAT_LEAST_ONCE = 1,
  qtEXACTLY_ONCE = 2,
  qtReserved3 = 3,
};

// Display texts of the QoS levels, indexed by ordinal.
inline constexpr std::u16string_view QosLevelTexts[4] = {u"AT_MOST_ONCE", u"AT_LEAST_ONCE",
                                                         u"EXACTLY_ONCE", u"RESERVED"};

// The name of a CONNACK return code: "ACCEPTED" ... "NOT AUTHORISED" for 0 to
// 5, "RESERVED " and the code in decimal above that.
std::u16string ConnAckCodeText(std::uint8_t aCode);

// The enumeration names ("mtCONNECT", "qtAT_MOST_ONCE"), for diagnostics.
std::string_view MessageTypeName(TMQTTMessageType aType);
std::string_view QosName(TMQTTQOSType aQos);

// Plain notification: OnPing, OnPingResp, OnDisconnect. The codec raises
// these without a Sender, so the type has a name of its own beside the
// components' TNotifyEvent, which carries one.
using TMQTTNotifyEvent = std::function<void()>;
// OnSend: one complete packet in aStream, positioned at its end. The stream
// is the parser's own and valid only during the call.
using TMQTTStreamEvent =
    std::function<void(std::uint16_t anID, std::int32_t Retry, TMemoryStream &aStream)>;
using TMQTTMonEvent = std::function<void(const std::u16string &aStr)>;
using TMQTTIDEvent = std::function<void(std::uint16_t anID)>;
using TMQTTAckEvent = std::function<void(std::uint8_t aCode)>;
// Topics are valid only during the call; the requested QoS of each item is
// its attached value.
using TMQTTSubscribeEvent = std::function<void(std::uint16_t anID, const TStringList &Topics)>;
using TMQTTUnsubscribeEvent = std::function<void(std::uint16_t anID, const TStringList &Topics)>;
// Qoss is valid only during the call.
using TMQTTSubAckEvent =
    std::function<void(std::uint16_t anID, std::span<const TMQTTQOSType> Qoss)>;
using TMQTTPublishEvent =
    std::function<void(std::uint16_t anID, const std::string &aTopic, const std::string &aMessage)>;
using TMQTTConnectEvent = std::function<void(
    const std::string &Protocol, std::uint8_t Version, const std::string &ClientID,
    const std::string &UserName, const std::string &Password, std::uint16_t KeepAlive, bool Clean)>;
using TMQTTWillEvent = std::function<void(const std::string &aTopic, const std::string &aMessage,
                                          TMQTTQOSType aQos, bool aRetain)>;
using TMQTTHeaderEvent =
    std::function<void(TMQTTMessageType MsgType, bool Dup, TMQTTQOSType Qos, bool Retain)>;

// The client's events. Unlike the codec's, they carry the client that
// raises them as Sender, the way the window's handlers expect. They are
// std::function values, so the window binds its member handlers and a test
// or the probe binds lambdas alike; an empty one is not called.
using TMQTTClientNotifyEvent = std::function<void(TComponent &Sender)>;
using TMQTTClientMonEvent = std::function<void(TComponent &Sender, const std::u16string &aStr)>;
using TMQTTDisconnectEvent = std::function<void(TComponent &Sender, bool Graceful)>;
using TMQTTFailureEvent =
    std::function<void(TComponent &Sender, std::int32_t aReason, bool &CloseClient)>;
using TMQTTMsgEvent =
    std::function<void(TComponent &Sender, const std::string &aTopic, const std::string &aMessage,
                       TMQTTQOSType aQos, bool aRetained)>;
using TMQTTClientIDEvent = std::function<void(TComponent &Sender, std::string &aClientID)>;

} // namespace marquo
