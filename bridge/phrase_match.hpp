// Resolving a spoken phrase against a phrase list, and the small text rules
// the command handling relies on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace marquo {

// Splits a comma list into items: items are separated by commas or blanks
// (any unit up to U+0020), a double-quoted item may hold blanks and commas
// and a doubled quote stands for one quote. Empty items can occur.
std::vector<std::u16string> SplitCommaText(std::u16string_view aText);

// The rest of the lower-cased aPhrase after the first non-empty item of the
// lower-cased aListText that it begins with, or empty text when none does.
// The first item that matches wins, not the longest; a phrase equal to an
// item leaves nothing over, which the caller takes as no match.
std::u16string MatchPhrase(std::u16string_view aListText, std::u16string_view aPhrase);

// Removes leading and trailing units up to U+0020.
std::u16string TrimBlanks(std::u16string_view aText);

// Reads aText as a signed 32-bit integer: optional leading blanks, an
// optional sign, then decimal digits, or hexadecimal digits after "$", "x",
// "X", "0x" or "0X". Anything else, or a value out of range, gives -1.
std::int32_t ReadVolumeNumber(std::u16string_view aText);

} // namespace marquo
