// The MQTT 3.1 wire primitives: the fixed header's first byte, the remaining
// length and the length-prefixed string field, written to and read from a
// TMemoryStream at its position.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mqtt/memory_stream.hpp"
#include "mqtt/mqtt_types.hpp"

namespace marquo {

// The largest remaining length four length bytes can carry, and the largest
// string field a two-byte length can announce.
inline constexpr std::uint32_t kMaxRemainingLength = 268435455;
inline constexpr std::size_t kMaxStringLength = 65535;

// The fields of a fixed header's first byte.
struct TMQTTHeader {
  TMQTTMessageType MsgType = TMQTTMessageType::mtReserved15;
  bool Dup = false;
  TMQTTQOSType Qos = TMQTTQOSType::qtAT_MOST_ONCE;
  bool Retain = false;
};

void StreamWriteByte(TMemoryStream &aStream, std::uint8_t aByte);
// Type in bits 7-4, DUP in bit 3, QoS in bits 2-1, RETAIN in bit 0.
void StreamWriteHeader(TMemoryStream &aStream, TMQTTMessageType aType, bool aDup, TMQTTQOSType aQos,
                       bool aRetain);
// Seven bits per byte, least significant first, bit 7 set on every byte but
// the last. Writes as many bytes as aValue needs, also beyond the four that
// MQTT allows; callers keep to kMaxRemainingLength.
void StreamWriteLength(TMemoryStream &aStream, std::uint32_t aValue);
// Two length bytes, high byte first, then the bytes unchanged. A string over
// kMaxStringLength bytes cannot be expressed: nothing is written and the
// result is false.
bool StreamWriteString(TMemoryStream &aStream, std::string_view aText);

// Splits a first byte into its fields.
TMQTTHeader SplitHeader(std::uint8_t aByte);

// The next byte, or 0 (reading nothing) at the end of the stream.
std::uint8_t StreamReadByte(TMemoryStream &aStream);
// Reads one byte (0 at the end) and splits it into the header fields.
TMQTTHeader StreamReadHeader(TMemoryStream &aStream);
// Reads the two length bytes, then that many bytes when they are all there.
// When fewer remain, the result is empty and the position stays just after
// the length bytes.
std::string StreamReadString(TMemoryStream &aStream);

} // namespace marquo
