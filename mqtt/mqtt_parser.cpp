#include "mqtt/mqtt_parser.hpp"

#include <utility>
#include <vector>

#include "common/utf.hpp"
#include "mqtt/mqtt_wire.hpp"

namespace marquo {
namespace {

using enum TMQTTMessageType;
using enum TMQTTQOSType;

constexpr std::string_view kProtocolName = "MQIsdp";
constexpr std::uint8_t kProtocolVersion = 3;
// Protocol name field (8 bytes), version, flags and keep-alive.
constexpr std::size_t kConnectHeaderSize = 12;
// The weight of the fourth remaining-length byte; a fourth byte that still
// announces another one makes the length unreadable.
constexpr std::int32_t kLastLengthMult = 128 * 128 * 128;

// Events are called through a copy, so a handler that reassigns or clears
// the event it is running from does not destroy the function being run.
template <typename Event, typename... Args> void Raise(const Event &anEvent, Args &&...anArgs) {
  if (anEvent) {
    Event handler = anEvent;
    handler(std::forward<Args>(anArgs)...);
  }
}

bool HasIdentifier(TMQTTQOSType aQos) { return aQos == qtAT_LEAST_ONCE || aQos == qtEXACTLY_ONCE; }

void WriteIdentifier(TMemoryStream &aStream, std::uint16_t anID) {
  StreamWriteByte(aStream, static_cast<std::uint8_t>(anID >> 8));
  StreamWriteByte(aStream, static_cast<std::uint8_t>(anID & 0xFF));
}

std::uint16_t ReadIdentifier(TMemoryStream &aStream) {
  const std::uint16_t high = StreamReadByte(aStream);
  return static_cast<std::uint16_t>(high << 8 | StreamReadByte(aStream));
}

} // namespace

TMQTTParser::TMQTTParser() {
  SetKeepAlive(10);
  // A fresh parser has received nothing yet, so its countdown starts at 0.
  FKeepAliveCount = 0;
}

void TMQTTParser::SetKeepAlive(std::uint16_t Value) {
  FKeepAlive = Value;
  ReloadKeepAlive();
}

void TMQTTParser::SetWill(std::string_view aTopic, std::string_view aMessage, TMQTTQOSType aQos,
                          bool aRetain) {
  WillTopic = aTopic;
  WillMessage = aMessage;
  WillQos = aQos;
  WillRetain = aRetain;
  FWillFlag = !aTopic.empty() && !aMessage.empty();
}

// ---- builders ---------------------------------------------------------------

void TMQTTParser::RaiseSend(std::uint16_t anID) { Raise(OnSend, anID, std::int32_t{0}, FTxStream); }

bool TMQTTParser::FinishPacket(const TMQTTHeader &aHeader, std::string_view aVariable,
                               std::uint16_t anID) {
  if (aVariable.size() > kMaxRemainingLength)
    return false;
  FTxStream.Clear();
  StreamWriteHeader(FTxStream, aHeader.MsgType, aHeader.Dup, aHeader.Qos, aHeader.Retain);
  StreamWriteLength(FTxStream, static_cast<std::uint32_t>(aVariable.size()));
  FTxStream.Write(aVariable);
  RaiseSend(anID);
  return true;
}

void TMQTTParser::BuildConnect(TMQTTMessageType aType, std::string_view aClientID,
                               std::string_view aUsername, std::string_view aPassword,
                               std::uint16_t aKeepAlive) {
  TMemoryStream payload;
  bool fits = StreamWriteString(payload, aClientID);
  if (FWillFlag)
    fits = fits && StreamWriteString(payload, WillTopic) && StreamWriteString(payload, WillMessage);
  if (!aUsername.empty())
    fits = fits && StreamWriteString(payload, aUsername);
  if (!aPassword.empty())
    fits = fits && StreamWriteString(payload, aPassword);
  if (!fits || payload.Size() > kMaxRemainingLength - kConnectHeaderSize)
    return;

  SetKeepAlive(aKeepAlive);
  std::uint8_t flags = 0;
  if (!aUsername.empty())
    flags |= 0x80;
  if (!aPassword.empty())
    flags |= 0x40;
  if (FWillFlag) {
    if (WillRetain)
      flags |= 0x20;
    flags |= static_cast<std::uint8_t>((static_cast<unsigned>(WillQos) & 0x03) << 3);
    flags |= 0x04;
  }
  if (Clean)
    flags |= 0x02;

  FTxStream.Clear();
  // CONNECT carries QoS 1 in its first byte (0x12, broker connect 0x02): that
  // is what the brokers this client talks to have always been sent.
  StreamWriteHeader(FTxStream, aType, false, qtAT_LEAST_ONCE, false);
  StreamWriteLength(FTxStream, static_cast<std::uint32_t>(payload.Size() + kConnectHeaderSize));
  StreamWriteString(FTxStream, kProtocolName);
  StreamWriteByte(FTxStream, kProtocolVersion);
  StreamWriteByte(FTxStream, flags);
  WriteIdentifier(FTxStream, aKeepAlive);
  FTxStream.Write(payload.Bytes());
  RaiseSend(0);
}

void TMQTTParser::SendConnect(std::string_view aClientID, std::string_view aUsername,
                              std::string_view aPassword, std::uint16_t aKeepAlive, bool) {
  BuildConnect(mtCONNECT, aClientID, aUsername, aPassword, aKeepAlive);
}

void TMQTTParser::SendBrokerConnect(std::string_view aClientID, std::string_view aUsername,
                                    std::string_view aPassword, std::uint16_t aKeepAlive, bool) {
  BuildConnect(mtBROKERCONNECT, aClientID, aUsername, aPassword, aKeepAlive);
}

void TMQTTParser::SendConnAck(std::uint8_t aCode) {
  const char body[] = {0, static_cast<char>(aCode)};
  FinishPacket({mtCONNACK, false, qtAT_MOST_ONCE, false}, std::string_view(body, 2), 0);
}

void TMQTTParser::SendPublish(std::uint16_t anID, std::string_view aTopic,
                              std::string_view aMessage, TMQTTQOSType aQOS, bool aDup,
                              bool aRetain) {
  TMemoryStream variable;
  if (!StreamWriteString(variable, aTopic))
    return;
  if (HasIdentifier(aQOS))
    WriteIdentifier(variable, anID);
  variable.Write(aMessage);
  FinishPacket({mtPUBLISH, aDup, aQOS, aRetain}, variable.Bytes(), anID);
}

void TMQTTParser::BuildIdPacket(const TMQTTHeader &aHeader, std::uint16_t anID) {
  TMemoryStream variable;
  WriteIdentifier(variable, anID);
  FinishPacket(aHeader, variable.Bytes(), anID);
}

void TMQTTParser::SendPubAck(std::uint16_t anID) {
  BuildIdPacket({mtPUBACK, false, qtAT_MOST_ONCE, false}, anID);
}

void TMQTTParser::SendPubRec(std::uint16_t anID) {
  BuildIdPacket({mtPUBREC, false, qtAT_MOST_ONCE, false}, anID);
}

void TMQTTParser::SendPubRel(std::uint16_t anID, bool aDup) {
  BuildIdPacket({mtPUBREL, aDup, qtAT_LEAST_ONCE, false}, anID);
}

void TMQTTParser::SendPubComp(std::uint16_t anID) {
  BuildIdPacket({mtPUBCOMP, false, qtAT_MOST_ONCE, false}, anID);
}

void TMQTTParser::SendUnsubAck(std::uint16_t anID) {
  BuildIdPacket({mtUNSUBACK, false, qtAT_MOST_ONCE, false}, anID);
}

void TMQTTParser::SendSubscribe(std::uint16_t anID, std::string_view aTopic, TMQTTQOSType aQOS) {
  TMemoryStream variable;
  WriteIdentifier(variable, anID);
  if (!StreamWriteString(variable, aTopic))
    return;
  StreamWriteByte(variable, static_cast<std::uint8_t>(aQOS));
  FinishPacket({mtSUBSCRIBE, false, qtAT_LEAST_ONCE, false}, variable.Bytes(), anID);
}

void TMQTTParser::SendSubscribe(std::uint16_t anID, const TStringList &Topics) {
  TMemoryStream variable;
  WriteIdentifier(variable, anID);
  for (const TStringListItem &item : Topics) {
    if (!StreamWriteString(variable, Utf16ToUtf8(item.Text)))
      return;
    StreamWriteByte(variable, static_cast<std::uint8_t>(item.Value & 0x03));
  }
  FinishPacket({mtSUBSCRIBE, false, qtAT_LEAST_ONCE, false}, variable.Bytes(), anID);
}

void TMQTTParser::SendUnsubscribe(std::uint16_t anID, std::string_view aTopic) {
  TMemoryStream variable;
  WriteIdentifier(variable, anID);
  if (!StreamWriteString(variable, aTopic))
    return;
  FinishPacket({mtUNSUBSCRIBE, false, qtAT_LEAST_ONCE, false}, variable.Bytes(), anID);
}

void TMQTTParser::SendUnsubscribe(std::uint16_t anID, const TStringList &Topics) {
  TMemoryStream variable;
  WriteIdentifier(variable, anID);
  for (const TStringListItem &item : Topics) {
    if (!StreamWriteString(variable, Utf16ToUtf8(item.Text)))
      return;
  }
  FinishPacket({mtUNSUBSCRIBE, false, qtAT_LEAST_ONCE, false}, variable.Bytes(), anID);
}

void TMQTTParser::SendSubAck(std::uint16_t anID, std::span<const TMQTTQOSType> Qoss) {
  if (Qoss.size() > kMaxRemainingLength - 2)
    return;
  TMemoryStream variable;
  WriteIdentifier(variable, anID);
  for (TMQTTQOSType qos : Qoss)
    StreamWriteByte(variable, static_cast<std::uint8_t>(qos));
  FinishPacket({mtSUBACK, false, qtAT_MOST_ONCE, false}, variable.Bytes(), anID);
}

void TMQTTParser::SendPing() { FinishPacket({mtPINGREQ, false, qtAT_MOST_ONCE, false}, {}, 0); }

void TMQTTParser::SendPingResp() {
  FinishPacket({mtPINGRESP, false, qtAT_MOST_ONCE, false}, {}, 0);
}

void TMQTTParser::SendDisconnect() {
  FinishPacket({mtDISCONNECT, false, qtAT_MOST_ONCE, false}, {}, 0);
}

// ---- receiving --------------------------------------------------------------

void TMQTTParser::Parse(std::string_view aStr) {
  // The bytes are copied first, so a handler that changes or frees the
  // caller's buffer cannot pull the input away from under the loop.
  TMemoryStream stream{std::string(aStr)};
  Parse(stream);
}

void TMQTTParser::Parse(TMemoryStream &aStream) {
  while (aStream.Remaining() > 0)
    ParseByte(StreamReadByte(aStream));
}

void TMQTTParser::Reset() {
  FRxState = kRxHeader;
  FRxMult = 0;
  FRxVal = 0;
  FRxStream.Clear();
  FTxStream.Clear();
  RxMsg = mtReserved15;
  RxDup = false;
  RxQos = qtAT_MOST_ONCE;
  RxRetain = false;
}

bool TMQTTParser::CheckKeepAlive() {
  if (FKeepAliveCount == 0)
    return true;
  --FKeepAliveCount;
  return FKeepAliveCount > 0;
}

void TMQTTParser::Mon(std::u16string_view aStr) {
  if (OnMon) {
    std::u16string text = u"P ";
    text += aStr;
    Raise(OnMon, text);
  }
}

void TMQTTParser::ParseByte(std::uint8_t aByte) {
  // Each state change happens before the event it leads to, so whatever a
  // handler does (throw, Reset, build a packet) the next byte finds a
  // consistent state.
  switch (FRxState) {
  case kRxHeader: {
    const TMQTTHeader header = SplitHeader(aByte);
    RxMsg = header.MsgType;
    RxDup = header.Dup;
    RxQos = header.Qos;
    RxRetain = header.Retain;
    FRxState = kRxLength;
    FRxMult = 1;
    FRxVal = 0;
    Raise(OnHeader, RxMsg, RxDup, RxQos, RxRetain);
    break;
  }
  case kRxLength:
    FRxVal += (aByte & 0x7F) * FRxMult;
    if ((aByte & 0x80) != 0) {
      if (FRxMult == kLastLengthMult) {
        // Nothing after this can be found to start at a packet boundary, so
        // every further byte is ignored until the owner resets the parser.
        FRxState = kRxBroken;
        FRxStream.Clear();
        Raise(OnBrokenStream);
        break;
      }
      FRxMult *= 128;
      break;
    }
    ReloadKeepAlive();
    FRxStream.Clear();
    if (FRxVal != 0) {
      FRxState = kRxBody;
      break;
    }
    FRxState = kRxHeader;
    if (RxMsg == mtPINGREQ)
      Raise(OnPing);
    else if (RxMsg == mtPINGRESP)
      Raise(OnPingResp);
    else if (RxMsg == mtDISCONNECT)
      Raise(OnDisconnect);
    break;
  case kRxBody:
    FRxStream.WriteByte(aByte);
    if (--FRxVal == 0) {
      FRxStream.Seek(0);
      FRxState = kRxHeader;
      DecodeBody();
      ReloadKeepAlive();
    }
    break;
  default: // kRxBroken
    break;
  }
}

void TMQTTParser::DecodeIdPacket(const TMQTTIDEvent &anEvent) {
  if (FRxStream.Size() == 2)
    Raise(anEvent, ReadIdentifier(FRxStream));
}

void TMQTTParser::DecodeBody() {
  TMemoryStream &body = FRxStream;
  const std::size_t size = body.Size();
  switch (RxMsg) {
  case mtBROKERCONNECT:
  case mtCONNECT:
    DecodeConnect();
    break;
  case mtCONNACK:
    if (size == 2) {
      StreamReadByte(body); // reserved
      Raise(OnConnAck, StreamReadByte(body));
    }
    break;
  case mtPUBLISH:
    if (size >= 4) {
      const TMQTTQOSType qos = RxQos;
      const std::string topic = StreamReadString(body);
      const std::uint16_t id = HasIdentifier(qos) ? ReadIdentifier(body) : 0;
      const std::string message = body.Read(body.Remaining());
      Raise(OnPublish, id, topic, message);
    }
    break;
  case mtPUBACK:
    DecodeIdPacket(OnPubAck);
    break;
  case mtPUBREC:
    DecodeIdPacket(OnPubRec);
    break;
  case mtPUBREL:
    DecodeIdPacket(OnPubRel);
    break;
  case mtPUBCOMP:
    DecodeIdPacket(OnPubComp);
    break;
  case mtSUBSCRIBE:
    if (size >= 2) {
      const std::uint16_t id = ReadIdentifier(body);
      TStringList topics;
      while (body.Remaining() >= 3) {
        std::u16string topic = Utf8ToUtf16(StreamReadString(body));
        const std::intptr_t qos = StreamReadByte(body) & 0x03;
        topics.push_back({std::move(topic), qos});
      }
      Raise(OnSubscribe, id, topics);
    }
    break;
  case mtSUBACK:
    if (size >= 2) {
      const std::uint16_t id = ReadIdentifier(body);
      std::vector<TMQTTQOSType> qoss;
      qoss.reserve(body.Remaining());
      while (body.Remaining() > 0)
        qoss.push_back(static_cast<TMQTTQOSType>(StreamReadByte(body) & 0x03));
      Raise(OnSubAck, id, std::span<const TMQTTQOSType>(qoss));
    }
    break;
  case mtUNSUBSCRIBE:
    if (size >= 2) {
      const std::uint16_t id = ReadIdentifier(body);
      TStringList topics;
      while (body.Remaining() >= 2)
        topics.push_back({Utf8ToUtf16(StreamReadString(body)), 0});
      Raise(OnUnsubscribe, id, topics);
    }
    break;
  case mtUNSUBACK:
    DecodeIdPacket(OnUnsubAck);
    break;
  default: // PINGREQ, PINGRESP, DISCONNECT and type 15 carry no body worth reading.
    break;
  }
}

void TMQTTParser::DecodeConnect() {
  // The type is taken now: a will handler may reset the parser, which would
  // change RxMsg before the connect event is chosen.
  const bool broker = RxMsg == mtBROKERCONNECT;
  TMemoryStream &body = FRxStream;
  const std::string protocol = StreamReadString(body);
  const std::uint8_t version = StreamReadByte(body);
  const std::uint8_t flags = StreamReadByte(body);
  const std::uint16_t keepAlive = ReadIdentifier(body);
  const std::string clientID = StreamReadString(body);
  if ((flags & 0x04) != 0) {
    const std::string willTopic = StreamReadString(body);
    const std::string willMessage = StreamReadString(body);
    Raise(OnSetWill, willTopic, willMessage, static_cast<TMQTTQOSType>((flags >> 3) & 0x03),
          (flags & 0x20) != 0);
  }
  const std::string userName = (flags & 0x80) != 0 ? StreamReadString(body) : std::string();
  const std::string password = (flags & 0x40) != 0 ? StreamReadString(body) : std::string();
  Raise(broker ? OnBrokerConnect : OnConnect, protocol, version, clientID, userName, password,
        keepAlive, (flags & 0x02) != 0);
}

} // namespace marquo
