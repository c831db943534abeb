// The Western Windows code page, for turning single-byte text into UTF-16
// where the platform has no ANSI code page of its own.
#pragma once

#include <string>
#include <string_view>

namespace marquo {

// Every byte becomes one code unit: 0x80-0x9F map to the code page's
// typographic characters (0x80 is the euro sign); the five bytes the code
// page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control
// characters of the same value, as Windows maps them.
std::u16string Windows1252ToUtf16(std::string_view aBytes);

} // namespace marquo
