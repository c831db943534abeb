#include "mqtt/memory_stream.hpp"

#include <algorithm>

namespace marquo {

void TMemoryStream::Seek(std::size_t aPosition) { FPosition = std::min(aPosition, FBytes.size()); }

void TMemoryStream::Clear() {
  FBytes.clear();
  FPosition = 0;
}

void TMemoryStream::Write(std::string_view aBytes) {
  // Appending is the common case (every builder writes at the end), so it
  // takes the plain path; a write inside the buffer overwrites in place.
  if (FPosition == FBytes.size()) {
    FBytes.append(aBytes);
  } else {
    const std::size_t overlap = std::min(aBytes.size(), FBytes.size() - FPosition);
    FBytes.replace(FPosition, overlap, aBytes);
  }
  FPosition += aBytes.size();
}

void TMemoryStream::WriteByte(std::uint8_t aByte) {
  const char byte = static_cast<char>(aByte);
  Write(std::string_view(&byte, 1));
}

std::string TMemoryStream::Read(std::size_t aCount) {
  const std::size_t count = std::min(aCount, Remaining());
  std::string result = FBytes.substr(FPosition, count);
  FPosition += count;
  return result;
}

bool TMemoryStream::ReadByte(std::uint8_t &aByte) {
  if (FPosition >= FBytes.size())
    return false;
  aByte = static_cast<std::uint8_t>(FBytes[FPosition++]);
  return true;
}

} // namespace marquo
