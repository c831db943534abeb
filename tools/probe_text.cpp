#include "tools/probe_text.hpp"

namespace marquo {

std::string EscapeLineBytes(std::string_view aBytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(aBytes.size());
  for (const char c : aBytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte <= 0x7E && byte != '\\') {
      text += c;
      continue;
    }
    text += "\\x";
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

} // namespace marquo
