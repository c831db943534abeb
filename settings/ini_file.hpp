// TIniFile: typed reads and writes of one settings file through the
// platform's profile functions (profile.hpp).
//
// A TIniFile holds no copy of the file and no open handle; each call goes to
// the profile functions. Destroying it flushes the platform's cached copy of
// the file (UpdateFile). Texts are UTF-16; the file keeps every character
// (see profile.hpp for the encodings).
//
// Values come back as they were written: a value that starts or ends with a
// blank, or that starts and ends with the same quotation mark, is stored
// inside one extra pair of double quotes, because the profile functions
// strip blanks and one pair of quotes when they read. Every other value is
// stored exactly as it stands.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace marquo {

// Raised when a write to the settings file fails. Message() is the UTF-16
// text "Unable to write to " followed by the file name; what() is the same
// text in UTF-8.
class EIniFileException : public std::runtime_error {
public:
  explicit EIniFileException(std::u16string aMessage);
  const std::u16string &Message() const { return FMessage; }

private:
  std::u16string FMessage;
};

class TIniFile {
public:
  explicit TIniFile(std::u16string aFileName);
  ~TIniFile();

  TIniFile(const TIniFile &) = delete;
  TIniFile &operator=(const TIniFile &) = delete;

  const std::u16string &FileName() const { return FFileName; }

  // The stored text, whole, or Default when the file, the section or the key
  // is missing.
  std::u16string ReadString(std::u16string_view Section, std::u16string_view Ident,
                            std::u16string_view Default) const;
  // Stores Value under Ident, creating the file, the section and the key as
  // needed. Raises EIniFileException when the file cannot be written.
  void WriteString(std::u16string_view Section, std::u16string_view Ident,
                   std::u16string_view Value);

  // The stored text as an integer (StrToInteger), or Default when it is
  // missing, empty or not an integer.
  std::int32_t ReadInteger(std::u16string_view Section, std::u16string_view Ident,
                           std::int32_t Default) const;
  void WriteInteger(std::u16string_view Section, std::u16string_view Ident, std::int32_t Value);

  // ReadInteger with the default 1 or 0; true when the integer is not 0.
  bool ReadBool(std::u16string_view Section, std::u16string_view Ident, bool Default) const;
  // Stores "1" or "0".
  void WriteBool(std::u16string_view Section, std::u16string_view Ident, bool Value);

  // Flushes the platform's cached copy of the file.
  void UpdateFile();

private:
  std::u16string FFileName;
};

// The integer a settings text stands for: decimal digits with an optional
// sign, or, for a text longer than two units that starts with "0x" or "0X",
// up to eight hexadecimal digits (read as the 32-bit pattern, so "0xFFFFFFFF"
// is -1). None for anything else, including values outside the 32-bit range.
std::optional<std::int32_t> StrToInteger(std::u16string_view aText);

// The text written for aValue: aValue itself, or aValue inside one extra
// pair of double quotes when the profile functions would otherwise change it
// on reading (see above).
std::u16string ProtectProfileValue(std::u16string_view aValue);

} // namespace marquo
