#include "settings/ini_file.hpp"

#include "common/utf.hpp"
#include "settings/profile.hpp"

namespace marquo {

namespace {

// The units that the profile functions may strip from either end of a stored
// value: the control characters, the space, and the other characters that
// Windows classes as spaces. Protecting a value needlessly costs nothing, so
// the list errs on the wide side.
bool MayBeStripped(char16_t aUnit) {
  if (aUnit <= 0x20 || aUnit == 0x7F) {
    return true;
  }
  switch (aUnit) {
  case 0x0085:
  case 0x00A0:
  case 0x1680:
  case 0x180E:
  case 0x2028:
  case 0x2029:
  case 0x202F:
  case 0x205F:
  case 0x3000:
  case 0xFEFF:
    return true;
  default:
    return aUnit >= 0x2000 && aUnit <= 0x200B;
  }
}

bool IsQuote(char16_t aUnit) { return aUnit == u'"' || aUnit == u'\''; }

int HexDigit(char16_t aUnit) {
  if (aUnit >= u'0' && aUnit <= u'9') {
    return aUnit - u'0';
  }
  if (aUnit >= u'a' && aUnit <= u'f') {
    return aUnit - u'a' + 10;
  }
  if (aUnit >= u'A' && aUnit <= u'F') {
    return aUnit - u'A' + 10;
  }
  return -1;
}

} // namespace

EIniFileException::EIniFileException(std::u16string aMessage)
    : std::runtime_error(Utf16ToUtf8(aMessage)), FMessage(std::move(aMessage)) {}

std::optional<std::int32_t> StrToInteger(std::u16string_view aText) {
  if (aText.size() > 2 && aText[0] == u'0' && (aText[1] == u'x' || aText[1] == u'X')) {
    // Leading zeros are allowed, as in decimal; the value must fit in 32
    // bits and is then taken as the signed number of the same bits.
    std::uint64_t value = 0;
    for (const char16_t unit : aText.substr(2)) {
      const int digit = HexDigit(unit);
      if (digit < 0) {
        return std::nullopt;
      }
      value = value * 16 + static_cast<std::uint64_t>(digit);
      if (value > 0xFFFFFFFFu) {
        return std::nullopt;
      }
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  }
  std::size_t at = 0;
  bool negative = false;
  if (at < aText.size() && (aText[at] == u'+' || aText[at] == u'-')) {
    negative = aText[at] == u'-';
    ++at;
  }
  if (at == aText.size()) {
    return std::nullopt;
  }
  // Accumulate the magnitude in 64 bits and stop as soon as it leaves the
  // 32-bit range, so long texts cannot overflow.
  std::int64_t magnitude = 0;
  const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
  for (; at < aText.size(); ++at) {
    const char16_t unit = aText[at];
    if (unit < u'0' || unit > u'9') {
      return std::nullopt;
    }
    magnitude = magnitude * 10 + (unit - u'0');
    if (magnitude > limit) {
      return std::nullopt;
    }
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::u16string ProtectProfileValue(std::u16string_view aValue) {
  const bool needsQuotes =
      !aValue.empty() &&
      (MayBeStripped(aValue.front()) || MayBeStripped(aValue.back()) ||
       (aValue.size() >= 2 && IsQuote(aValue.front()) && aValue.back() == aValue.front()));
  if (!needsQuotes) {
    return std::u16string(aValue);
  }
  std::u16string quoted;
  quoted.reserve(aValue.size() + 2);
  quoted += u'"';
  quoted += aValue;
  quoted += u'"';
  return quoted;
}

TIniFile::TIniFile(std::u16string aFileName) : FFileName(std::move(aFileName)) {}

TIniFile::~TIniFile() { UpdateFile(); }

std::u16string TIniFile::ReadString(std::u16string_view Section, std::u16string_view Ident,
                                    std::u16string_view Default) const {
  std::optional<std::u16string> value = ProfileRead(FFileName, Section, Ident);
  return value ? std::move(*value) : std::u16string(Default);
}

void TIniFile::WriteString(std::u16string_view Section, std::u16string_view Ident,
                           std::u16string_view Value) {
  if (!ProfileWrite(FFileName, Section, Ident, ProtectProfileValue(Value))) {
    throw EIniFileException(u"Unable to write to " + FFileName);
  }
}

std::int32_t TIniFile::ReadInteger(std::u16string_view Section, std::u16string_view Ident,
                                   std::int32_t Default) const {
  return StrToInteger(ReadString(Section, Ident, u"")).value_or(Default);
}

void TIniFile::WriteInteger(std::u16string_view Section, std::u16string_view Ident,
                            std::int32_t Value) {
  const std::string digits = std::to_string(Value);
  WriteString(Section, Ident, std::u16string(digits.begin(), digits.end()));
}

bool TIniFile::ReadBool(std::u16string_view Section, std::u16string_view Ident,
                        bool Default) const {
  return ReadInteger(Section, Ident, Default ? 1 : 0) != 0;
}

void TIniFile::WriteBool(std::u16string_view Section, std::u16string_view Ident, bool Value) {
  WriteString(Section, Ident, Value ? u"1" : u"0");
}

void TIniFile::UpdateFile() { ProfileFlush(FFileName); }

} // namespace marquo
