#include <optional>

#include "common/utf.hpp"
#include "mqtt/mqtt_parser.hpp"
#include "tools/probe_commands.hpp"
#include "tools/probe_text.hpp"

namespace marquo {
namespace {

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9')
    return c - u'0';
  if (c >= u'A' && c <= u'F')
    return c - u'A' + 10;
  if (c >= u'a' && c <= u'f')
    return c - u'a' + 10;
  return -1;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// Pairs of hexadecimal digits, with blanks allowed between pairs (not inside
// one); nothing when the text is anything else. Line breaks count as blanks,
// so hex kept in a file, one packet a line, reads as it was written.
std::optional<std::string> ParseHex(const std::u16string &aText) {
  std::string bytes;
  for (std::size_t i = 0; i < aText.size();) {
    if (IsBlank(aText[i])) {
      ++i;
      continue;
    }
    if (i + 1 >= aText.size())
      return std::nullopt;
    const int high = HexDigit(aText[i]);
    const int low = HexDigit(aText[i + 1]);
    if (high < 0 || low < 0)
      return std::nullopt;
    bytes.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return bytes;
}

// A packet as a whole, for the Send event: hex, as it would be typed back in.
std::string HexOf(std::string_view aBytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char c : aBytes) {
    text += kDigits[c >> 4];
    text += kDigits[c & 0x0F];
  }
  return text;
}

std::string Field(std::string_view aName, std::string_view aValue) {
  std::string text = " ";
  text += aName;
  text += '=';
  text += aValue;
  return text;
}

std::string Field(std::string_view aName, unsigned aValue) {
  return Field(aName, std::to_string(aValue));
}

// Byte text from the packet (topics, messages, ids, ...) written so that it
// stays on its event's line, readably.
std::string TextField(std::string_view aName, std::string_view aBytes) {
  return Field(aName, EscapeLineBytes(aBytes));
}

std::string TopicsField(const TStringList &aTopics) {
  std::string value;
  for (const TStringListItem &item : aTopics) {
    if (!value.empty())
      value += ',';
    value += EscapeLineBytes(Utf16ToUtf8(item.Text));
    value += ':';
    value += std::to_string(item.Value);
  }
  return Field("Topics", value);
}

// Assigns every event of aParser so that each appends one line to anOut.
void PrintEvents(TMQTTParser &aParser, std::string &anOut) {
  const auto line = [&anOut](std::string_view aName, const std::string &aFields = {}) {
    anOut += aName;
    anOut += aFields;
    anOut += '\n';
  };
  const auto idEvent = [line](std::string_view aName) -> TMQTTIDEvent {
    return [line, aName](std::uint16_t anID) { line(aName, Field("ID", anID)); };
  };
  const auto connectEvent = [line](std::string_view aName) -> TMQTTConnectEvent {
    return [line, aName](const std::string &Protocol, std::uint8_t Version,
                         const std::string &ClientID, const std::string &UserName,
                         const std::string &Password, std::uint16_t KeepAlive, bool Clean) {
      line(aName, TextField("Protocol", Protocol) + Field("Version", Version) +
                      TextField("ClientID", ClientID) + TextField("UserName", UserName) +
                      TextField("Password", Password) + Field("KeepAlive", KeepAlive) +
                      Field("Clean", Clean));
    };
  };

  aParser.OnSend = [line](std::uint16_t anID, std::int32_t Retry, TMemoryStream &aStream) {
    line("Send", Field("ID", anID) + Field("Retry", std::to_string(Retry)) +
                     Field("Stream", HexOf(aStream.Bytes())));
  };
  aParser.OnMon = [line](const std::u16string &aStr) {
    line("Mon", TextField("Str", Utf16ToUtf8(aStr)));
  };
  aParser.OnHeader = [line](TMQTTMessageType MsgType, bool Dup, TMQTTQOSType Qos, bool Retain) {
    line("Header", Field("MsgType", MessageTypeName(MsgType)) + Field("Dup", Dup) +
                       Field("Qos", QosName(Qos)) + Field("Retain", Retain));
  };
  aParser.OnPing = [line] { line("Ping"); };
  aParser.OnPingResp = [line] { line("PingResp"); };
  aParser.OnDisconnect = [line] { line("Disconnect"); };
  aParser.OnBrokenStream = [line] { line("BrokenStream"); };
  aParser.OnSetWill = [line](const std::string &aTopic, const std::string &aMessage,
                             TMQTTQOSType aQos, bool aRetain) {
    line("SetWill", TextField("Topic", aTopic) + TextField("Message", aMessage) +
                        Field("Qos", QosName(aQos)) + Field("Retain", aRetain));
  };
  aParser.OnConnect = connectEvent("Connect");
  aParser.OnBrokerConnect = connectEvent("BrokerConnect");
  aParser.OnConnAck = [line](std::uint8_t aCode) { line("ConnAck", Field("Code", aCode)); };
  aParser.OnPublish = [line](std::uint16_t anID, const std::string &aTopic,
                             const std::string &aMessage) {
    line("Publish",
         Field("ID", anID) + TextField("Topic", aTopic) + TextField("Message", aMessage));
  };
  aParser.OnPubAck = idEvent("PubAck");
  aParser.OnPubRec = idEvent("PubRec");
  aParser.OnPubRel = idEvent("PubRel");
  aParser.OnPubComp = idEvent("PubComp");
  aParser.OnUnsubAck = idEvent("UnsubAck");
  aParser.OnSubscribe = [line](std::uint16_t anID, const TStringList &Topics) {
    line("Subscribe", Field("ID", anID) + TopicsField(Topics));
  };
  aParser.OnUnsubscribe = [line](std::uint16_t anID, const TStringList &Topics) {
    line("Unsubscribe", Field("ID", anID) + TopicsField(Topics));
  };
  aParser.OnSubAck = [line](std::uint16_t anID, std::span<const TMQTTQOSType> Qoss) {
    std::string value;
    for (TMQTTQOSType qos : Qoss) {
      if (!value.empty())
        value += ',';
      value += QosName(qos);
    }
    line("SubAck", Field("ID", anID) + Field("Qoss", value));
  };
}

} // namespace

// parse HEX|-...: each argument is one chunk of received bytes, handed to one
// parser in one Parse call; every event it raises prints as a line. "-" is
// the hex text of standard input, as one chunk; standard input holds only
// one, so a second "-" is refused rather than read as an empty chunk.
int ProbeParse(const ProbeArgs &anArgs, ProbeOutput &anOutput) {
  if (anArgs.empty())
    return kProbeBadArguments;
  std::vector<std::string> chunks;
  bool inputRead = false;
  for (const std::u16string &arg : anArgs) {
    std::optional<std::string> bytes;
    if (arg == u"-") {
      if (inputRead)
        return kProbeBadArguments;
      inputRead = true;
      bytes = ParseHex(Utf8ToUtf16(ReadProbeInput(anOutput)));
    } else {
      bytes = ParseHex(arg);
    }
    if (!bytes)
      return kProbeBadArguments;
    chunks.push_back(std::move(*bytes));
  }
  TMQTTParser parser;
  PrintEvents(parser, anOutput.out);
  for (const std::string &chunk : chunks)
    parser.Parse(chunk);
  return 0;
}

} // namespace marquo
