#include "common/file_system.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "common/utf.hpp"

namespace marquo {

std::u16string ProgramFolder() {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0)
      return {};
    // readlink cuts the path to the buffer without saying so; a path that
    // fills it exactly may have been cut, so grow and ask again.
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      break;
    }
    if (buffer.size() >= 65536)
      return {};
    buffer.resize(buffer.size() * 2);
  }
  const auto separator = buffer.rfind('/');
  return separator == std::string::npos
             ? std::u16string()
             : Utf8ToUtf16(std::string_view(buffer).substr(0, separator + 1));
}

bool FileExists(const std::u16string &aFileName) {
  // stat follows links, so a link counts when its target is a file.
  struct stat status {};
  return stat(Utf16ToUtf8(aFileName).c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

} // namespace marquo
