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

std::u16string ProgramFolder() {
  std::u16string path(MAX_PATH, u'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t *>(path.data()),
                                            static_cast<DWORD>(path.size()));
    if (length == 0)
      return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  // Cut after the last "\" or ":", so the folder keeps its separator.
  const std::size_t cut = path.find_last_of(u"\\:");
  path.erase(cut == std::u16string::npos ? 0 : cut + 1);
  return path;
}

} // namespace marquo
