#include "mqtt/mqtt_wire.hpp"

namespace marquo {

void StreamWriteByte(TMemoryStream &aStream, std::uint8_t aByte) { aStream.WriteByte(aByte); }

void StreamWriteHeader(TMemoryStream &aStream, TMQTTMessageType aType, bool aDup, TMQTTQOSType aQos,
                       bool aRetain) {
  const unsigned type = static_cast<unsigned>(aType) & 0x0F;
  const unsigned qos = static_cast<unsigned>(aQos) & 0x03;
  StreamWriteByte(aStream, static_cast<std::uint8_t>(type << 4 | (aDup ? 0x08 : 0) | qos << 1 |
                                                     (aRetain ? 0x01 : 0)));
}

void StreamWriteLength(TMemoryStream &aStream, std::uint32_t aValue) {
  do {
    std::uint8_t digit = aValue % 128;
    aValue /= 128;
    if (aValue > 0)
      digit |= 0x80;
    StreamWriteByte(aStream, digit);
  } while (aValue > 0);
}

bool StreamWriteString(TMemoryStream &aStream, std::string_view aText) {
  if (aText.size() > kMaxStringLength)
    return false;
  StreamWriteByte(aStream, static_cast<std::uint8_t>(aText.size() >> 8));
  StreamWriteByte(aStream, static_cast<std::uint8_t>(aText.size() & 0xFF));
  aStream.Write(aText);
  return true;
}

std::uint8_t StreamReadByte(TMemoryStream &aStream) {
  std::uint8_t byte = 0;
  aStream.ReadByte(byte);
  return byte;
}

TMQTTHeader StreamReadHeader(TMemoryStream &aStream) {
  return SplitHeader(StreamReadByte(aStream));
}

TMQTTHeader SplitHeader(std::uint8_t aByte) {
  TMQTTHeader header;
  header.MsgType = static_cast<TMQTTMessageType>(aByte >> 4);
  header.Dup = (aByte & 0x08) != 0;
  header.Qos = static_cast<TMQTTQOSType>((aByte >> 1) & 0x03);
  header.Retain = (aByte & 0x01) != 0;
  return header;
}

std::string StreamReadString(TMemoryStream &aStream) {
  const std::size_t high = StreamReadByte(aStream);
  const std::size_t length = high << 8 | StreamReadByte(aStream);
  if (aStream.Remaining() < length)
    return std::string();
  return aStream.Read(length);
}

} // namespace marquo
