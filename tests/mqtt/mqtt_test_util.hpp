// Helpers shared by the codec tests: hexadecimal byte strings and a recorder
// that turns every event a parser raises into one line of text.
#pragma once

#include <cctype>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf.hpp"
#include "mqtt/mqtt_parser.hpp"

namespace marquo::test {

// "90 03 00 01" -> the four bytes; blanks between bytes are ignored.
inline std::string Bytes(std::string_view aHex) {
  std::string bytes;
  int high = -1;
  for (char c : aHex) {
    if (c == ' ')
      continue;
    if (!std::isxdigit(static_cast<unsigned char>(c)))
      throw std::invalid_argument("not hexadecimal");
    const int digit = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<char>(high * 16 + digit));
      high = -1;
    }
  }
  if (high >= 0)
    throw std::invalid_argument("odd number of digits");
  return bytes;
}

// The bytes as "90 03 00 01", for readable failure messages.
inline std::string Hex(std::string_view aBytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char c : aBytes) {
    if (!text.empty())
      text += ' ';
    text += kDigits[c >> 4];
    text += kDigits[c & 0x0F];
  }
  return text;
}

inline std::string Num(unsigned aValue) { return std::to_string(aValue); }

// Assigns every receive event of aParser and appends one line per event to
// Lines. Publish lines also show RxQos and RxRetain as they are during the
// event, because the client reads them there.
class EventRecorder {
public:
  explicit EventRecorder(TMQTTParser &aParser) {
    aParser.OnHeader = [this](TMQTTMessageType t, bool dup, TMQTTQOSType qos, bool retain) {
      Lines.push_back("Header " + std::string(MessageTypeName(t)) + " dup=" + Num(dup) +
                      " qos=" + Num(static_cast<unsigned>(qos)) + " retain=" + Num(retain));
    };
    aParser.OnPing = [this] { Lines.push_back("Ping"); };
    aParser.OnPingResp = [this] { Lines.push_back("PingResp"); };
    aParser.OnDisconnect = [this] { Lines.push_back("Disconnect"); };
    aParser.OnBrokenStream = [this] { Lines.push_back("BrokenStream"); };
    aParser.OnConnAck = [this](std::uint8_t code) { Lines.push_back("ConnAck " + Num(code)); };
    aParser.OnPubAck = [this](std::uint16_t id) { Lines.push_back("PubAck " + Num(id)); };
    aParser.OnPubRec = [this](std::uint16_t id) { Lines.push_back("PubRec " + Num(id)); };
    aParser.OnPubRel = [this](std::uint16_t id) { Lines.push_back("PubRel " + Num(id)); };
    aParser.OnPubComp = [this](std::uint16_t id) { Lines.push_back("PubComp " + Num(id)); };
    aParser.OnUnsubAck = [this](std::uint16_t id) { Lines.push_back("UnsubAck " + Num(id)); };
    aParser.OnPublish = [this, &aParser](std::uint16_t id, const std::string &topic,
                                         const std::string &message) {
      Lines.push_back("Publish id=" + Num(id) + " topic=" + topic + " message=" + message +
                      " rxqos=" + Num(static_cast<unsigned>(aParser.RxQos)) +
                      " rxretain=" + Num(aParser.RxRetain));
    };
    aParser.OnSubAck = [this](std::uint16_t id, std::span<const TMQTTQOSType> qoss) {
      std::string line = "SubAck id=" + Num(id) + " qoss=";
      for (std::size_t i = 0; i < qoss.size(); ++i)
        line += (i ? "," : "") + Num(static_cast<unsigned>(qoss[i]));
      Lines.push_back(line);
    };
    aParser.OnSubscribe = [this](std::uint16_t id, const TStringList &topics) {
      std::string line = "Subscribe id=" + Num(id);
      for (const TStringListItem &item : topics)
        line += " " + Utf16ToUtf8(item.Text) + ":" + std::to_string(item.Value);
      Lines.push_back(line);
    };
    aParser.OnUnsubscribe = [this](std::uint16_t id, const TStringList &topics) {
      std::string line = "Unsubscribe id=" + Num(id);
      for (const TStringListItem &item : topics)
        line += " " + Utf16ToUtf8(item.Text) + ":" + std::to_string(item.Value);
      Lines.push_back(line);
    };
    aParser.OnSetWill = [this](const std::string &topic, const std::string &message,
                               TMQTTQOSType qos, bool retain) {
      Lines.push_back("SetWill topic=" + topic + " message=" + message +
                      " qos=" + Num(static_cast<unsigned>(qos)) + " retain=" + Num(retain));
    };
    aParser.OnConnect = Connect("Connect");
    aParser.OnBrokerConnect = Connect("BrokerConnect");
  }

  std::vector<std::string> Lines;

private:
  TMQTTConnectEvent Connect(std::string aName) {
    return [this, aName](const std::string &protocol, std::uint8_t version,
                         const std::string &clientID, const std::string &userName,
                         const std::string &password, std::uint16_t keepAlive, bool clean) {
      Lines.push_back(aName + " " + protocol + " " + Num(version) + " client=" + clientID +
                      " user=" + userName + " password=" + password +
                      " keepalive=" + Num(keepAlive) + " clean=" + Num(clean));
    };
  }
};

} // namespace marquo::test
