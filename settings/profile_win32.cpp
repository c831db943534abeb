#include "settings/profile.hpp"

#include <windows.h>

#include <string>
#include <vector>

namespace marquo {

namespace {

LPCWSTR Wide(const std::u16string &aText) { return reinterpret_cast<LPCWSTR>(aText.c_str()); }

// GetPrivateProfileStringW with aDefault, read whole: the function cuts the
// value to the buffer and then returns the buffer size less one. A quoted
// value cut that way also loses its last unit to the quote stripping and
// comes back one shorter still, so a result of either length is read again
// with a larger buffer.
std::u16string GetWhole(const std::u16string &aFileName, const std::u16string &aSection,
                        const std::u16string &aKey, const wchar_t *aDefault) {
  std::vector<wchar_t> buffer(2048);
  for (;;) {
    const DWORD length =
        GetPrivateProfileStringW(Wide(aSection), Wide(aKey), aDefault, buffer.data(),
                                 static_cast<DWORD>(buffer.size()), Wide(aFileName));
    if (length + 2 < buffer.size() || buffer.size() >= (1u << 26)) {
      return std::u16string(reinterpret_cast<const char16_t *>(buffer.data()), length);
    }
    buffer.resize(buffer.size() * 4);
  }
}

// The profile functions write a file they create in the ANSI code page,
// which loses every character outside it. A file that starts with the
// UTF-16LE byte order mark is kept in UTF-16, so a missing (or empty) file
// is started with one before the first write. When the file cannot be
// opened for writing nothing is done here; the write that follows fails and
// reports it.
void StartAsUtf16(const std::u16string &aFileName) {
  HANDLE file = CreateFileW(Wide(aFileName), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return;
  }
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file, &size) && size.QuadPart == 0) {
    static const unsigned char kByteOrderMark[] = {0xFF, 0xFE};
    DWORD written = 0;
    WriteFile(file, kByteOrderMark, sizeof kByteOrderMark, &written, nullptr);
  }
  CloseHandle(file);
}

} // namespace

std::optional<std::u16string> ProfileRead(const std::u16string &aFileName,
                                          std::u16string_view aSection, std::u16string_view aKey) {
  const std::u16string section(aSection);
  const std::u16string key(aKey);
  // The function cannot say "missing": it returns the default instead, and
  // strips trailing blanks from the default on the way. So the value is read
  // with an empty default, and only an empty result is asked again with a
  // default that a stored empty value cannot produce.
  std::u16string value = GetWhole(aFileName, section, key, L"");
  if (!value.empty()) {
    return value;
  }
  if (GetWhole(aFileName, section, key, L"-").empty()) {
    return value;
  }
  return std::nullopt;
}

bool ProfileWrite(const std::u16string &aFileName, std::u16string_view aSection,
                  std::u16string_view aKey, std::u16string_view aValue) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  const bool exists = GetFileAttributesExW(Wide(aFileName), GetFileExInfoStandard, &data) != 0;
  if (!exists || ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                  data.nFileSizeHigh == 0 && data.nFileSizeLow == 0)) {
    StartAsUtf16(aFileName);
  }
  const std::u16string section(aSection);
  const std::u16string key(aKey);
  const std::u16string value(aValue);
  return WritePrivateProfileStringW(Wide(section), Wide(key), Wide(value), Wide(aFileName)) != 0;
}

void ProfileFlush(const std::u16string &aFileName) {
  // Documented to return FALSE after a flush whatever its outcome.
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, Wide(aFileName));
}

} // namespace marquo
