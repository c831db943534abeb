// libFuzzer target for the MQTT receive parser, which reads bytes straight
// from the network.
//
// Input: the first byte picks a chunk size (1 to 256), the rest is the byte
// stream. The stream is parsed once whole and once in chunks of that size;
// both runs must raise the same events, since a connection may deliver the
// bytes in any pieces. Handlers answer from inside their events, as the
// client does. After each run, Reset must give a parser that decodes the
// next packet as a fresh one does. Any difference aborts the run.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf.hpp"
#include "mqtt/mqtt_parser.hpp"

namespace {

using namespace marquo;

void Check(bool aCondition) {
  if (!aCondition)
    __builtin_trap();
}

std::string Num(std::uint64_t aValue) { return std::to_string(aValue); }

void Record(TMQTTParser &aParser, std::vector<std::string> &aLog) {
  aParser.OnSend = [&aLog](std::uint16_t anID, std::int32_t aRetry, TMemoryStream &aStream) {
    Check(aRetry == 0 && aStream.Position() == aStream.Size());
    aLog.push_back("Send " + Num(anID) + " " + aStream.Bytes());
  };
  aParser.OnHeader = [&aLog](TMQTTMessageType t, bool dup, TMQTTQOSType qos, bool retain) {
    aLog.push_back("Header " + Num(static_cast<unsigned>(t)) + Num(dup) +
                   Num(static_cast<unsigned>(qos)) + Num(retain));
  };
  aParser.OnPing = [&aLog] { aLog.push_back("Ping"); };
  aParser.OnPingResp = [&aLog] { aLog.push_back("PingResp"); };
  aParser.OnDisconnect = [&aLog] { aLog.push_back("Disconnect"); };
  aParser.OnBrokenStream = [&aLog] { aLog.push_back("BrokenStream"); };
  aParser.OnConnAck = [&aLog](std::uint8_t code) { aLog.push_back("ConnAck " + Num(code)); };
  aParser.OnPublish = [&aLog, &aParser](std::uint16_t id, const std::string &topic,
                                        const std::string &message) {
    const TMQTTQOSType qos = aParser.RxQos;
    Check(id == 0 || qos == TMQTTQOSType::qtAT_LEAST_ONCE || qos == TMQTTQOSType::qtEXACTLY_ONCE);
    aLog.push_back("Publish " + Num(id) + " " + Num(topic.size()) + topic + message);
    if (qos == TMQTTQOSType::qtAT_LEAST_ONCE)
      aParser.SendPubAck(id);
    else if (qos == TMQTTQOSType::qtEXACTLY_ONCE)
      aParser.SendPubRec(id);
  };
  const auto idEvent = [&aLog](const char *aName) -> TMQTTIDEvent {
    return [&aLog, aName](std::uint16_t id) { aLog.push_back(aName + Num(id)); };
  };
  aParser.OnPubAck = idEvent("PubAck ");
  aParser.OnPubRec = idEvent("PubRec ");
  aParser.OnPubComp = idEvent("PubComp ");
  aParser.OnUnsubAck = idEvent("UnsubAck ");
  aParser.OnPubRel = [&aLog, &aParser](std::uint16_t id) {
    aLog.push_back("PubRel " + Num(id));
    aParser.SendPubComp(id);
  };
  aParser.OnSubAck = [&aLog](std::uint16_t id, std::span<const TMQTTQOSType> qoss) {
    std::string line = "SubAck " + Num(id);
    for (TMQTTQOSType qos : qoss) {
      Check(static_cast<unsigned>(qos) <= 3);
      line += Num(static_cast<unsigned>(qos));
    }
    aLog.push_back(line);
  };
  aParser.OnSubscribe = [&aLog, &aParser](std::uint16_t id, const TStringList &topics) {
    std::string line = "Subscribe " + Num(id);
    std::vector<TMQTTQOSType> granted;
    for (const TStringListItem &item : topics) {
      Check(item.Value >= 0 && item.Value <= 3);
      line += " " + Utf16ToUtf8(item.Text) + Num(static_cast<std::uint64_t>(item.Value));
      granted.push_back(static_cast<TMQTTQOSType>(item.Value));
    }
    aLog.push_back(line);
    aParser.SendSubAck(id, granted);
  };
  aParser.OnUnsubscribe = [&aLog, &aParser](std::uint16_t id, const TStringList &topics) {
    std::string line = "Unsubscribe " + Num(id);
    for (const TStringListItem &item : topics)
      line += " " + Utf16ToUtf8(item.Text);
    aLog.push_back(line);
    aParser.SendUnsubAck(id);
  };
  aParser.OnSetWill = [&aLog](const std::string &topic, const std::string &message,
                              TMQTTQOSType qos, bool retain) {
    aLog.push_back("SetWill " + Num(topic.size()) + topic + message +
                   Num(static_cast<unsigned>(qos)) + Num(retain));
  };
  const auto connect = [&aLog, &aParser](const char *aName) -> TMQTTConnectEvent {
    return
        [&aLog, &aParser, aName](const std::string &protocol, std::uint8_t version,
                                 const std::string &clientID, const std::string &userName,
                                 const std::string &password, std::uint16_t keepAlive, bool clean) {
          aLog.push_back(aName + Num(protocol.size()) + protocol + Num(version) + " " +
                         Num(clientID.size()) + clientID + " " + Num(userName.size()) + userName +
                         " " + Num(password.size()) + password + Num(keepAlive) + Num(clean));
          aParser.SendConnAck(0);
        };
  };
  aParser.OnConnect = connect("Connect ");
  aParser.OnBrokerConnect = connect("BrokerConnect ");
}

std::vector<std::string> Run(std::string_view aInput, std::size_t aChunk) {
  std::vector<std::string> log;
  TMQTTParser parser;
  Record(parser, log);
  for (std::size_t at = 0; at < aInput.size(); at += aChunk)
    parser.Parse(aInput.substr(at, aChunk));

  // Whatever state the stream left behind, Reset starts over cleanly.
  parser.Reset();
  std::vector<std::string> after;
  Record(parser, after);
  parser.Parse(std::string_view("\xD0\x00", 2));
  Check(after.size() == 2 && after[1] == "PingResp");
  return log;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *aData, std::size_t aSize) {
  if (aSize == 0)
    return 0;
  const std::size_t chunk = static_cast<std::size_t>(aData[0]) + 1;
  const std::string_view input(reinterpret_cast<const char *>(aData + 1), aSize - 1);
  Check(Run(input, input.size() + 1) == Run(input, chunk));
  return 0;
}
