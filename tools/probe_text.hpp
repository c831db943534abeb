// How the diagnostic tool writes bytes that arrived from outside (MQTT
// topics, messages, client ids, ...) into its line-per-event output.
#pragma once

#include <string>
#include <string_view>

namespace marquo {

// aBytes with every byte outside printable ASCII (0x20-0x7E), and the
// backslash itself, written as \xHH with two upper-case hexadecimal digits.
// A line feed or carriage return inside a topic therefore cannot split one
// event over two lines, and the result reads back to exactly the bytes
// given. The bytes are not decoded: each byte of a UTF-8 sequence is
// written on its own.
std::string EscapeLineBytes(std::string_view aBytes);

} // namespace marquo
