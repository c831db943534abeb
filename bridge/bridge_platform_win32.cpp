#include "bridge/bridge_platform.hpp"

#include <windows.h>

#include <string>

namespace marquo {

const std::u16string_view kPathSeparator = u"\\";
const std::u16string_view kBatchExtension = u".bat";

namespace {

const wchar_t *Wide(std::u16string_view aText) {
  return reinterpret_cast<const wchar_t *>(aText.data());
}

} // namespace

std::u16string LinguisticLowerCase(std::u16string_view aText) {
  if (aText.empty())
    return {};
  const int length = static_cast<int>(aText.size());
  std::u16string lower(aText.size(), u'\0');
  const int written =
      LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_LOWERCASE | LCMAP_LINGUISTIC_CASING, Wide(aText),
                   length, reinterpret_cast<wchar_t *>(lower.data()), length);
  // Lower-casing keeps the length; should the system ever disagree, the text
  // is matched as it came rather than cut or padded.
  if (written != length)
    return std::u16string(aText);
  return lower;
}

std::u16string PayloadToText(std::string_view aPayload) {
  if (aPayload.empty())
    return {};
  const int length = static_cast<int>(aPayload.size());
  const int needed = MultiByteToWideChar(CP_ACP, 0, aPayload.data(), length, nullptr, 0);
  if (needed <= 0)
    return {};
  std::u16string text(static_cast<std::size_t>(needed), u'\0');
  MultiByteToWideChar(CP_ACP, 0, aPayload.data(), length,
                      reinterpret_cast<wchar_t *>(text.data()), needed);
  return text;
}

} // namespace marquo
