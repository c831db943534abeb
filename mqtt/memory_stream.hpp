// TMemoryStream: a growable byte buffer with one read/write position, the
// container the MQTT codec builds packets in and reads packet bodies from.
//
// Reads never fail: they stop at the end of the buffer and report how much
// they took. Writes go to the position, overwriting what is there and growing
// the buffer when they run past its end. The position always lies between 0
// and Size().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace marquo {

class TMemoryStream {
public:
  TMemoryStream() = default;
  // A stream holding aBytes, positioned at its start.
  explicit TMemoryStream(std::string aBytes) : FBytes(std::move(aBytes)) {}

  // Every byte of the stream, independent of the position.
  const std::string &Bytes() const { return FBytes; }
  std::size_t Size() const { return FBytes.size(); }
  std::size_t Position() const { return FPosition; }
  // Bytes between the position and the end.
  std::size_t Remaining() const { return FBytes.size() - FPosition; }

  // Moves the position; a position beyond the end is taken as the end.
  void Seek(std::size_t aPosition);
  // Empties the stream; the position becomes 0.
  void Clear();

  void Write(std::string_view aBytes);
  void WriteByte(std::uint8_t aByte);

  // Takes up to aCount bytes from the position on and advances past them.
  std::string Read(std::size_t aCount);
  // Takes the next byte into aByte; false, with aByte unchanged, at the end.
  bool ReadByte(std::uint8_t &aByte);

private:
  std::string FBytes;
  std::size_t FPosition = 0;
};

} // namespace marquo
