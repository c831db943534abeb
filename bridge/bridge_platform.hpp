// The platform's part of the command handling: text conversions and path
// rules. Implemented in bridge_platform_win32.cpp and
// bridge_platform_posix.cpp.
#pragma once

#include <string>
#include <string_view>

namespace marquo {

// Lower-cases aText with the user's locale, as read when the program
// started, keeping its length: the result has one code unit for each unit
// of aText. Windows: LCMapStringW with linguistic casing. POSIX: each unit
// mapped on its own in the user's character-type locale (a UTF-8 locale
// when the user's has no Unicode case mapping).
std::u16string LinguisticLowerCase(std::u16string_view aText);

// The text of an MQTT payload: each byte is a character of the system's
// ANSI code page on Windows, and of Windows-1252 on POSIX. The bytes are not
// decoded as UTF-8.
std::u16string PayloadToText(std::string_view aPayload);

// The platform's path separator, and the extension of the batch files the
// bridge runs (".bat" on Windows, ".sh" on POSIX).
extern const std::u16string_view kPathSeparator;
extern const std::u16string_view kBatchExtension;

} // namespace marquo
