#include "common/file_system.hpp"

#include <windows.h>

#include <vector>

namespace marquo {

std::u16string ProgramFolder() {
  // GetModuleFileNameW cuts the path to the buffer and says so only by
  // filling it; grow until the path fits (long paths exceed MAX_PATH).
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0)
      return {};
    if (length < buffer.size()) {
      std::u16string path(reinterpret_cast<const char16_t *>(buffer.data()), length);
      // Cut after the last "\" or ":", so the folder keeps its separator.
      const auto separator = path.find_last_of(u"\\:");
      return separator == std::u16string::npos ? std::u16string() : path.substr(0, separator + 1);
    }
    if (buffer.size() >= 32768)
      return {};
    buffer.resize(buffer.size() * 2);
  }
}

bool FileExists(const std::u16string &aFileName) {
  const auto name = reinterpret_cast<const wchar_t *>(aFileName.c_str());
  const DWORD attributes = GetFileAttributesW(name);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return true;
  // The attributes of a link are its own; it counts when its target can be
  // opened as a file (opening a folder this way fails).
  const HANDLE file = CreateFileW(name, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  CloseHandle(file);
  return true;
}

} // namespace marquo
