// The platform's profile functions: reading and writing one "key=value" line
// of one "[section]" of a settings file. Windows uses
// GetPrivateProfileStringW and WritePrivateProfileStringW (profile_win32.cpp);
// the POSIX build has its own file code with the same behaviour
// (profile_posix.cpp).
//
// Behaviour both implementations give:
// - Section and key names are compared without regard to the case of ASCII
//   letters.
// - ProfileRead returns the stored value with the blanks around it and one
//   pair of enclosing quotation marks (two equal ' or " at both ends of a
//   value of at least two units) removed, whole, however long it is. It
//   returns none, and creates nothing, when the file, the section or the key
//   is missing, or the key's line has no "=".
// - ProfileWrite stores aValue exactly as given: it replaces the value of an
//   existing key, or adds the key at the end of its section, or adds the
//   section at the end of the file, or creates the file. A value that must
//   keep its blanks or quotes is protected by the caller (TIniFile). It
//   returns false, and leaves the file as it was, when the file cannot be
//   written (a read-only file, a folder that does not exist, a disk that
//   fills up half way).
// - ProfileFlush writes out whatever copy of aFileName the platform keeps
//   cached. It has no result: the Windows function reports failure even when
//   the flush succeeds, so a failure can only be seen at the writes.
//
// File format. Windows: a file the profile functions create is started as
// UTF-16LE with a byte order mark, so that every character is kept (the
// functions would otherwise write the ANSI code page); an existing file is
// read and written in the encoding it has. POSIX: UTF-8, lines ending in a
// line feed; a file with CR LF line ends keeps them, and a UTF-16LE file
// with a byte order mark (one written by the Windows build) is read and
// written as UTF-16LE. Both: one "[section]"
// line followed by one "key=value" line per key.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace marquo {

std::optional<std::u16string> ProfileRead(const std::u16string &aFileName,
                                          std::u16string_view aSection, std::u16string_view aKey);
bool ProfileWrite(const std::u16string &aFileName, std::u16string_view aSection,
                  std::u16string_view aKey, std::u16string_view aValue);
void ProfileFlush(const std::u16string &aFileName);

} // namespace marquo
