// Conversions between UTF-8 byte strings and UTF-16 text.
//
// Both directions are total: a malformed sequence (a stray continuation
// byte, a truncated or overlong sequence, an encoded surrogate, a value above
// U+10FFFF, an unpaired surrogate unit) becomes U+FFFD instead of failing,
// because the texts converted here come from command lines and the network.
#pragma once

#include <string>
#include <string_view>

namespace marquo {

std::u16string Utf8ToUtf16(std::string_view aText);
std::string Utf16ToUtf8(std::u16string_view aText);

} // namespace marquo
