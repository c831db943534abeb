#include "common/utf.hpp"

#include <cstdint>

namespace marquo {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf16(std::u16string &aOut, char32_t aCode) {
  if (aCode < 0x10000) {
    aOut.push_back(static_cast<char16_t>(aCode));
  } else {
    aCode -= 0x10000;
    aOut.push_back(static_cast<char16_t>(0xD800 + (aCode >> 10)));
    aOut.push_back(static_cast<char16_t>(0xDC00 + (aCode & 0x3FF)));
  }
}

void AppendUtf8(std::string &aOut, char32_t aCode) {
  if (aCode < 0x80) {
    aOut.push_back(static_cast<char>(aCode));
  } else if (aCode < 0x800) {
    aOut.push_back(static_cast<char>(0xC0 | (aCode >> 6)));
    aOut.push_back(static_cast<char>(0x80 | (aCode & 0x3F)));
  } else if (aCode < 0x10000) {
    aOut.push_back(static_cast<char>(0xE0 | (aCode >> 12)));
    aOut.push_back(static_cast<char>(0x80 | ((aCode >> 6) & 0x3F)));
    aOut.push_back(static_cast<char>(0x80 | (aCode & 0x3F)));
  } else {
    aOut.push_back(static_cast<char>(0xF0 | (aCode >> 18)));
    aOut.push_back(static_cast<char>(0x80 | ((aCode >> 12) & 0x3F)));
    aOut.push_back(static_cast<char>(0x80 | ((aCode >> 6) & 0x3F)));
    aOut.push_back(static_cast<char>(0x80 | (aCode & 0x3F)));
  }
}

} // namespace

std::u16string Utf8ToUtf16(std::string_view aText) {
  std::u16string out;
  out.reserve(aText.size());
  std::size_t i = 0;
  while (i < aText.size()) {
    const auto lead = static_cast<std::uint8_t>(aText[i]);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    int length = 0;
    char32_t code = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
      length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    // A sequence cut short by a byte that is not a continuation byte is
    // replaced as a whole, and that byte starts the next sequence.
    int taken = 1;
    while (taken < length && i + taken < aText.size() &&
           (static_cast<std::uint8_t>(aText[i + taken]) & 0xC0) == 0x80) {
      code = (code << 6) | (static_cast<std::uint8_t>(aText[i + taken]) & 0x3F);
      ++taken;
    }
    i += taken;
    if (taken < length || code < minimum || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF)) {
      out.push_back(kReplacement);
    } else {
      AppendUtf16(out, code);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view aText) {
  std::string out;
  out.reserve(aText.size());
  for (std::size_t i = 0; i < aText.size(); ++i) {
    char32_t code = aText[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < aText.size() &&
        aText[i + 1] >= 0xDC00 && aText[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (aText[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = kReplacement;
    }
    AppendUtf8(out, code);
  }
  return out;
}

} // namespace marquo
