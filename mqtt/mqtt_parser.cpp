#include "mqtt/mqtt_parser.hpp"

#include <algorithm>
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

// Empties aBytes and gives its storage back; clear() and assigning an empty
// string both may keep it.
void Release(std::string &aBytes) { std::string().swap(aBytes); }

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

TMQTTParser::TParseFrame::TParseFrame(TMQTTParser &aParser)
    : Parser(aParser), Outer(aParser.FFrame) {
  aParser.FFrame = this;
}

TMQTTParser::TParseFrame::~TParseFrame() {
  // A destroyed parser is not touched: its memory may already be reused.
  if (!Destroyed)
    Parser.FFrame = Outer;
}

TMQTTParser::~TMQTTParser() {
  for (TParseFrame *frame = FFrame; frame != nullptr; frame = frame->Outer)
    frame->Destroyed = true;
}

void TMQTTParser::Parse(std::string_view aStr) {
  TParseFrame frame(*this);
  // Bytes left over from an earlier call come first; the new ones join them
  // so that they are read in the order they arrived.
  if (HasBacklog()) {
    FBacklog.append(aStr);
    aStr = {};
  }
  ParseInput(aStr, frame);
}

void TMQTTParser::Parse(TMemoryStream &aStream) {
  // The stream is marked as read before anything is parsed: a throwing
  // handler leaves the rest in the backlog, and the caller must not feed it
  // a second time.
  const std::string_view rest = std::string_view(aStream.Bytes()).substr(aStream.Position());
  aStream.Seek(aStream.Size());
  Parse(rest);
}

void TMQTTParser::ParseInput(std::string_view aInput, const TParseFrame &aFrame) {
  std::string body;
  for (;;) {
    // aInput is the caller's buffer and is read only while the backlog is
    // empty; before any event it is copied into the backlog, since the
    // handler may change or free it, or throw and leave it unread.
    const bool fromBacklog = HasBacklog();
    const std::string_view bytes =
        fromBacklog ? std::string_view(FBacklog).substr(FBacklogPos) : aInput;
    if (bytes.empty())
      return;
    TRxEvent event = TRxEvent::kRxNone;
    const std::size_t used = Scan(bytes, event, body);
    if (fromBacklog)
      ConsumeBacklog(used);
    else
      aInput.remove_prefix(used);
    if (event == TRxEvent::kRxNone)
      continue;
    if (!fromBacklog && !aInput.empty()) {
      FBacklog.assign(aInput);
      FBacklogPos = 0;
      aInput = {};
    }

    // Each event below may destroy the parser; nothing of it is touched
    // after the event until the frame says it is still there.
    switch (event) {
    case TRxEvent::kRxHeaderEvent:
      Raise(OnHeader, RxMsg, RxDup, RxQos, RxRetain);
      break;
    case TRxEvent::kRxEmptyPacket:
      if (RxMsg == mtPINGREQ)
        Raise(OnPing);
      else if (RxMsg == mtPINGRESP)
        Raise(OnPingResp);
      else
        Raise(OnDisconnect);
      break;
    case TRxEvent::kRxBrokenEvent:
      Raise(OnBrokenStream);
      break;
    case TRxEvent::kRxBodyEvent: {
      // The body goes with the decoding, so the parser holds no buffer of
      // it afterwards, and a handler that feeds or resets the parser cannot
      // change the bytes still being decoded.
      TMemoryStream stream(std::move(body));
      Release(body);
      DecodeBody(stream, aFrame);
      if (aFrame.Destroyed)
        return;
      ReloadKeepAlive();
      break;
    }
    case TRxEvent::kRxNone:
      break;
    }
    if (aFrame.Destroyed)
      return;
  }
}

std::size_t TMQTTParser::Scan(std::string_view aBytes, TRxEvent &anEvent, std::string &aBody) {
  // Each state change happens before the event it leads to, so whatever a
  // handler does (throw, Reset, build a packet) the next byte finds a
  // consistent state.
  std::size_t at = 0;
  while (at < aBytes.size()) {
    switch (FRxState) {
    case kRxHeader: {
      const TMQTTHeader header = SplitHeader(static_cast<std::uint8_t>(aBytes[at++]));
      RxMsg = header.MsgType;
      RxDup = header.Dup;
      RxQos = header.Qos;
      RxRetain = header.Retain;
      FRxState = kRxLength;
      FRxMult = 1;
      FRxVal = 0;
      if (OnHeader) {
        anEvent = TRxEvent::kRxHeaderEvent;
        return at;
      }
      break;
    }
    case kRxLength: {
      const std::uint8_t byte = static_cast<std::uint8_t>(aBytes[at++]);
      FRxVal += (byte & 0x7F) * FRxMult;
      if ((byte & 0x80) != 0) {
        if (FRxMult == kLastLengthMult) {
          anEvent = EnterBroken();
          if (anEvent != TRxEvent::kRxNone)
            return at;
          break;
        }
        FRxMult *= 128;
        break;
      }
      anEvent = StartBody();
      if (anEvent != TRxEvent::kRxNone)
        return at;
      break;
    }
    case kRxBody: {
      const std::size_t count = std::min(aBytes.size() - at, static_cast<std::size_t>(FRxVal));
      AppendBody(aBytes.substr(at, count));
      at += count;
      FRxVal -= static_cast<std::int32_t>(count);
      if (FRxVal == 0) {
        FRxState = kRxHeader;
        aBody = std::move(FRxBody);
        Release(FRxBody);
        anEvent = TRxEvent::kRxBodyEvent;
        return at;
      }
      break;
    }
    case kRxSkip: {
      const std::size_t count = std::min(aBytes.size() - at, static_cast<std::size_t>(FRxVal));
      at += count;
      FRxVal -= static_cast<std::int32_t>(count);
      if (FRxVal == 0) {
        FRxState = kRxHeader;
        ReloadKeepAlive();
      }
      break;
    }
    default: // kRxBroken
      at = aBytes.size();
      break;
    }
  }
  return at;
}

TMQTTParser::TRxEvent TMQTTParser::EnterBroken() {
  // Nothing after this can be found to start at a packet boundary, so every
  // further byte is ignored until the owner resets the parser.
  FRxState = kRxBroken;
  Release(FRxBody);
  return OnBrokenStream ? TRxEvent::kRxBrokenEvent : TRxEvent::kRxNone;
}

namespace {

// The body size a packet kind must have, or -1 when its size varies. Type 15
// has no body this program can use, so any size of it is skipped.
std::int32_t FixedBodySize(TMQTTMessageType aType) {
  switch (aType) {
  case mtCONNACK:
  case mtPUBACK:
  case mtPUBREC:
  case mtPUBREL:
  case mtPUBCOMP:
  case mtUNSUBACK:
    return 2;
  case mtPINGREQ:
  case mtPINGRESP:
  case mtDISCONNECT:
    return 0;
  case mtReserved15:
    return -2; // matches no announced length
  default:
    return -1;
  }
}

} // namespace

TMQTTParser::TRxEvent TMQTTParser::StartBody() {
  const std::int32_t fixedSize = FixedBodySize(RxMsg);
  const bool fixed = fixedSize != -1;
  // A stored kind over the limit is refused before the keep-alive sees any
  // sign of life, like a length that never ends.
  if (!fixed && FRxVal > static_cast<std::int32_t>(kMaxReceiveLength))
    return EnterBroken();
  ReloadKeepAlive();
  if (FRxVal == 0) {
    FRxState = kRxHeader;
    const bool empty = RxMsg == mtPINGREQ || RxMsg == mtPINGRESP || RxMsg == mtDISCONNECT;
    const bool wanted = RxMsg == mtPINGREQ    ? static_cast<bool>(OnPing)
                        : RxMsg == mtPINGRESP ? static_cast<bool>(OnPingResp)
                                              : static_cast<bool>(OnDisconnect);
    return empty && wanted ? TRxEvent::kRxEmptyPacket : TRxEvent::kRxNone;
  }
  // A packet whose kind allows no such size would be dropped once complete;
  // its bytes are counted instead of stored, whatever length it announces.
  FRxState = fixed && FRxVal != fixedSize ? kRxSkip : kRxBody;
  FRxLength = FRxVal;
  return TRxEvent::kRxNone;
}

void TMQTTParser::AppendBody(std::string_view aBytes) {
  // The buffer grows geometrically as the bytes arrive, but never past the
  // announced length, so a peer that announces a long packet and sends
  // little of it makes the parser hold only what it sent.
  const std::size_t needed = FRxBody.size() + aBytes.size();
  if (needed > FRxBody.capacity()) {
    // reserve on the buffer itself may round up to twice its old capacity;
    // a fresh string takes exactly what is asked for.
    std::string grown;
    grown.reserve(
        std::min(static_cast<std::size_t>(FRxLength), std::max(needed, 2 * FRxBody.capacity())));
    grown.append(FRxBody);
    FRxBody.swap(grown);
  }
  FRxBody.append(aBytes);
}

void TMQTTParser::ConsumeBacklog(std::size_t aCount) {
  FBacklogPos += aCount;
  if (FBacklogPos < FBacklog.size())
    return;
  // A small backlog keeps its storage for the next throw; one that held a
  // large read is given back, so no idle parser holds it.
  constexpr std::size_t kKeptBacklogCapacity = 64 * 1024;
  if (FBacklog.capacity() > kKeptBacklogCapacity)
    Release(FBacklog);
  else
    FBacklog.clear();
  FBacklogPos = 0;
}

void TMQTTParser::Reset() {
  FRxState = kRxHeader;
  FRxMult = 0;
  FRxVal = 0;
  FRxLength = 0;
  Release(FRxBody);
  Release(FBacklog);
  FBacklogPos = 0;
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

void TMQTTParser::DecodeIdPacket(TMemoryStream &aBody, const TMQTTIDEvent &anEvent) {
  if (aBody.Size() == 2)
    Raise(anEvent, ReadIdentifier(aBody));
}

void TMQTTParser::DecodeBody(TMemoryStream &aBody, const TParseFrame &aFrame) {
  // Every case raises at most one event, as its last step, except CONNECT,
  // whose will event comes first.
  TMemoryStream &body = aBody;
  const std::size_t size = body.Size();
  switch (RxMsg) {
  case mtBROKERCONNECT:
  case mtCONNECT:
    DecodeConnect(body, aFrame);
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
    DecodeIdPacket(body, OnPubAck);
    break;
  case mtPUBREC:
    DecodeIdPacket(body, OnPubRec);
    break;
  case mtPUBREL:
    DecodeIdPacket(body, OnPubRel);
    break;
  case mtPUBCOMP:
    DecodeIdPacket(body, OnPubComp);
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
    DecodeIdPacket(body, OnUnsubAck);
    break;
  default: // PINGREQ, PINGRESP, DISCONNECT and type 15 carry no body worth reading.
    break;
  }
}

void TMQTTParser::DecodeConnect(TMemoryStream &aBody, const TParseFrame &aFrame) {
  // The type is taken now: a will handler may reset the parser, which would
  // change RxMsg before the connect event is chosen.
  const bool broker = RxMsg == mtBROKERCONNECT;
  TMemoryStream &body = aBody;
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
    // The will handler may have destroyed the parser, and the connect event
    // below belongs to it.
    if (aFrame.Destroyed)
      return;
  }
  const std::string userName = (flags & 0x80) != 0 ? StreamReadString(body) : std::string();
  const std::string password = (flags & 0x40) != 0 ? StreamReadString(body) : std::string();
  Raise(broker ? OnBrokerConnect : OnConnect, protocol, version, clientID, userName, password,
        keepAlive, (flags & 0x02) != 0);
}

} // namespace marquo
