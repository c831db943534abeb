#include "bridge/bridge_platform.hpp"

#include <langinfo.h>
#include <locale.h>
#include <wctype.h>

#include <cstring>
#include <string>

#include "common/windows1252.hpp"

namespace marquo {

const std::u16string_view kPathSeparator = u"/";
const std::u16string_view kBatchExtension = u".sh";

namespace {

// The user's character-type locale, read once. Without a UTF-8 locale
// (LANG unset, or a legacy code set) wide-character case mapping covers
// ASCII only, so the Unicode one of C.UTF-8 is taken instead.
locale_t CaseLocale() {
  static const locale_t locale = [] {
    locale_t user = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (user && std::strcmp(nl_langinfo_l(CODESET, user), "UTF-8") == 0)
      return user;
    if (user)
      freelocale(user);
    locale_t fallback = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return fallback ? fallback : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
  }();
  return locale;
}

} // namespace

std::u16string LinguisticLowerCase(std::u16string_view aText) {
  const locale_t locale = CaseLocale();
  std::u16string lower(aText);
  for (char16_t &unit : lower) {
    // Surrogates are halves of characters outside the BMP and stay as they
    // are; so does any unit whose lower case would not fit one unit.
    if (unit >= 0xD800 && unit <= 0xDFFF)
      continue;
    const wint_t mapped = locale ? towlower_l(unit, locale) : towlower(unit);
    if (mapped < 0x10000 && !(mapped >= 0xD800 && mapped <= 0xDFFF))
      unit = static_cast<char16_t>(mapped);
  }
  return lower;
}

std::u16string PayloadToText(std::string_view aPayload) { return Windows1252ToUtf16(aPayload); }

} // namespace marquo
