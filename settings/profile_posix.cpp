// The profile functions for POSIX, over UTF-8 files. They follow the
// behaviour of the Windows functions that the settings rely on (see
// profile.hpp); lines the functions do not change (comments, blank lines,
// other sections) are kept as they are.
#include "settings/profile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf.hpp"

namespace marquo {

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16ByteOrderMark = "\xFF\xFE";

bool IsBlank(char aByte) { return static_cast<unsigned char>(aByte) <= 0x20; }

std::string_view Trim(std::string_view aText) {
  while (!aText.empty() && IsBlank(aText.front())) {
    aText.remove_prefix(1);
  }
  while (!aText.empty() && IsBlank(aText.back())) {
    aText.remove_suffix(1);
  }
  return aText;
}

char AsciiLower(char aByte) {
  return aByte >= 'A' && aByte <= 'Z' ? static_cast<char>(aByte + ('a' - 'A')) : aByte;
}

bool AsciiSameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

// A settings file as UTF-8 lines without their line ends.
struct TProfileLines {
  std::string Prefix; // a UTF-8 byte order mark, kept when the file has one
  std::vector<std::string> Lines;
  bool CrLf = false;
  // The file is UTF-16LE with a byte order mark, as the Windows build
  // writes it; it is read in that encoding and written back in it.
  bool Utf16 = false;
};

std::string DecodeUtf16Le(std::string_view aBytes) {
  std::u16string text;
  text.reserve(aBytes.size() / 2);
  for (std::size_t i = 0; i + 1 < aBytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(aBytes[i]) |
                                  (static_cast<unsigned char>(aBytes[i + 1]) << 8));
  }
  return Utf16ToUtf8(text);
}

std::string EncodeUtf16Le(std::string_view aUtf8) {
  std::string bytes(kUtf16ByteOrderMark);
  for (const char16_t unit : Utf8ToUtf16(aUtf8)) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

enum class TLoadResult { lrLoaded, lrMissing, lrFailed };

TLoadResult LoadLines(const std::string &aPath, TProfileLines &aText) {
  const int file = open(aPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) {
    return errno == ENOENT ? TLoadResult::lrMissing : TLoadResult::lrFailed;
  }
  std::string content;
  char chunk[4096];
  for (;;) {
    const ssize_t count = read(file, chunk, sizeof chunk);
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      close(file);
      return TLoadResult::lrFailed;
    }
    if (count == 0) {
      break;
    }
    content.append(chunk, static_cast<std::size_t>(count));
  }
  close(file);

  if (std::string_view(content).substr(0, kUtf16ByteOrderMark.size()) == kUtf16ByteOrderMark) {
    aText.Utf16 = true;
    content = DecodeUtf16Le(std::string_view(content).substr(kUtf16ByteOrderMark.size()));
  }
  std::string_view rest(content);
  if (rest.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark) {
    aText.Prefix = kUtf8ByteOrderMark;
    rest.remove_prefix(kUtf8ByteOrderMark.size());
  }
  bool first = true;
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    const bool crLf = !line.empty() && line.back() == '\r';
    if (crLf) {
      line.remove_suffix(1);
    }
    if (first) {
      aText.CrLf = crLf && end != std::string_view::npos;
      first = false;
    }
    aText.Lines.emplace_back(line);
  }
  return TLoadResult::lrLoaded;
}

bool WriteAll(int aFile, std::string_view aBytes) {
  while (!aBytes.empty()) {
    const ssize_t count = write(aFile, aBytes.data(), aBytes.size());
    if (count <= 0) {
      if (count < 0 && errno == EINTR) {
        continue;
      }
      return false;
    }
    aBytes.remove_prefix(static_cast<std::size_t>(count));
  }
  return true;
}

// The new text goes to a file beside the old one, which then takes the old
// one's place in a single step: a write that fails half way (a full disk, a
// size limit) leaves the file as it was instead of cut short.
bool StoreLines(const std::string &aPath, const TProfileLines &aText) {
  const std::string_view lineEnd = aText.CrLf ? "\r\n" : "\n";
  std::string content = aText.Prefix;
  for (const auto &line : aText.Lines) {
    content += line;
    content += lineEnd;
  }
  if (aText.Utf16) {
    content = EncodeUtf16Le(content);
  }
  // A link is followed, so it keeps pointing at the file it names.
  std::string target = aPath;
  if (char *resolved = realpath(aPath.c_str(), nullptr)) {
    target = resolved;
    std::free(resolved);
  }
  struct stat existing {};
  const bool exists = stat(target.c_str(), &existing) == 0;
  // Replacing a file needs only the folder's permission; a file its owner
  // made read-only must stay as it is.
  if (exists && access(target.c_str(), W_OK) != 0) {
    return false;
  }
  const std::string temporary = target + "." + std::to_string(getpid()) + ".tmp";
  unlink(temporary.c_str());
  const int file = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (file < 0) {
    return false;
  }
  bool written = WriteAll(file, content);
  if (written && exists) {
    written = fchmod(file, existing.st_mode & 07777) == 0;
  }
  written = fsync(file) == 0 && written;
  written = close(file) == 0 && written;
  if (!written || rename(temporary.c_str(), target.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

// The section name of a "[name]" line, or false when the line is not one.
bool SectionName(std::string_view aLine, std::string_view &aName) {
  aLine = Trim(aLine);
  if (aLine.empty() || aLine.front() != '[') {
    return false;
  }
  aLine.remove_prefix(1);
  const auto bracket = aLine.rfind(']');
  aName = Trim(bracket == std::string_view::npos ? aLine : aLine.substr(0, bracket));
  return true;
}

// Splits a "key=value" line; a line without "=" is a key with no value.
void SplitEntry(std::string_view aLine, std::string_view &aKey, std::string_view &aValue) {
  const auto equals = aLine.find('=');
  aKey = Trim(aLine.substr(0, equals));
  aValue = equals == std::string_view::npos ? std::string_view() : Trim(aLine.substr(equals + 1));
}

bool IsEntry(std::string_view aLine) {
  const std::string_view trimmed = Trim(aLine);
  return !trimmed.empty();
}

// Where a key lives: the line of the key itself, or none; and the line after
// which a new key of the section goes, or none when the section is missing.
struct TPlace {
  std::size_t KeyLine = std::string::npos;
  std::size_t InsertAfter = std::string::npos;
};

TPlace Find(const TProfileLines &aText, std::string_view aSection, std::string_view aKey) {
  TPlace place;
  bool inSection = false;
  bool firstSection = false;
  for (std::size_t i = 0; i < aText.Lines.size(); ++i) {
    const std::string &line = aText.Lines[i];
    std::string_view name;
    if (SectionName(line, name)) {
      inSection = AsciiSameText(name, aSection);
      // New keys go to the first section of the name, as the Windows
      // functions do when a file repeats a section.
      firstSection = inSection && place.InsertAfter == std::string::npos;
      if (firstSection) {
        place.InsertAfter = i;
      }
      continue;
    }
    if (!inSection || !IsEntry(line)) {
      continue;
    }
    if (firstSection) {
      place.InsertAfter = i;
    }
    std::string_view key;
    std::string_view value;
    SplitEntry(line, key, value);
    if (AsciiSameText(key, aKey)) {
      place.KeyLine = i;
      return place;
    }
  }
  return place;
}

// One pair of equal quotation marks around a value is not part of it.
std::string_view Unquote(std::string_view aValue) {
  if (aValue.size() >= 2 && (aValue.front() == '"' || aValue.front() == '\'') &&
      aValue.back() == aValue.front()) {
    return aValue.substr(1, aValue.size() - 2);
  }
  return aValue;
}

} // namespace

std::optional<std::u16string> ProfileRead(const std::u16string &aFileName,
                                          std::u16string_view aSection, std::u16string_view aKey) {
  TProfileLines text;
  if (LoadLines(Utf16ToUtf8(aFileName), text) != TLoadResult::lrLoaded) {
    return std::nullopt;
  }
  const TPlace place = Find(text, Utf16ToUtf8(aSection), Utf16ToUtf8(aKey));
  if (place.KeyLine == std::string::npos) {
    return std::nullopt;
  }
  // A key without "=" has no value: the default applies, as on Windows.
  if (text.Lines[place.KeyLine].find('=') == std::string::npos) {
    return std::nullopt;
  }
  std::string_view key;
  std::string_view value;
  SplitEntry(text.Lines[place.KeyLine], key, value);
  return Utf8ToUtf16(Unquote(value));
}

bool ProfileWrite(const std::u16string &aFileName, std::u16string_view aSection,
                  std::u16string_view aKey, std::u16string_view aValue) {
  const std::string path = Utf16ToUtf8(aFileName);
  TProfileLines text;
  if (LoadLines(path, text) == TLoadResult::lrFailed) {
    return false;
  }
  const std::string section = Utf16ToUtf8(aSection);
  const std::string key = Utf16ToUtf8(aKey);
  const std::string value = Utf16ToUtf8(aValue);
  const TPlace place = Find(text, section, key);
  if (place.KeyLine != std::string::npos) {
    // The key keeps the spelling it has in the file.
    std::string_view storedKey;
    std::string_view storedValue;
    SplitEntry(text.Lines[place.KeyLine], storedKey, storedValue);
    text.Lines[place.KeyLine] = std::string(storedKey) + "=" + value;
  } else if (place.InsertAfter != std::string::npos) {
    text.Lines.insert(text.Lines.begin() + static_cast<std::ptrdiff_t>(place.InsertAfter + 1),
                      key + "=" + value);
  } else {
    text.Lines.push_back("[" + section + "]");
    text.Lines.push_back(key + "=" + value);
  }
  return StoreLines(path, text);
}

void ProfileFlush(const std::u16string & /*aFileName*/) {
  // Every write above goes straight to the file; nothing is cached.
}

} // namespace marquo
