// The POSIX profile functions on files written by hand or by other tools:
// lines they do not change stay byte for byte, and a file's own conventions
// (CR LF line ends, a UTF-8 byte order mark) are kept.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <string>

#include "common/utf.hpp"
#include "settings/profile.hpp"
#include "tests/settings/settings_fixture.hpp"

namespace {

using marquo::ProfileRead;
using marquo::ProfileWrite;
using marquo::testing::ReadBytes;
using marquo::testing::TempFolder;
using marquo::testing::WriteBytes;

// ASCII text as UTF-16LE bytes after a byte order mark.
std::string Utf16Le(std::string_view anAscii) {
  std::string bytes = "\xFF\xFE";
  for (const char unit : anAscii) {
    bytes += unit;
    bytes += '\0';
  }
  return bytes;
}

TEST(ProfilePosixTest, WriteKeepsOtherLinesAndTheFilesConventions) {
  struct Row {
    const char *name;
    std::string before;
    std::string section;
    std::string key;
    std::string after;
  };
  const Row rows[] = {
      {"new file", "", "Main", "Key", "[Main]\nKey=v\n"},
      {"CR LF kept", "[Main]\r\nKey=old\r\n", "Main", "Key", "[Main]\r\nKey=v\r\n"},
      {"byte order mark kept", "\xEF\xBB\xBF[Main]\nKey=old\n", "Main", "Key",
       "\xEF\xBB\xBF[Main]\nKey=v\n"},
      {"comments and blank lines kept", "; note\n[Main]\n; about Key\nKey=old\n\n[Next]\nA=1\n",
       "Main", "Key", "; note\n[Main]\n; about Key\nKey=v\n\n[Next]\nA=1\n"},
      {"key keeps its spelling", "[Main]\n  kEY = old  \n", "MAIN", "Key", "[Main]\nkEY=v\n"},
      {"new key after the section's last line", "[Main]\nA=1\n\n[Next]\nB=2\n", "main", "Key",
       "[Main]\nA=1\nKey=v\n\n[Next]\nB=2\n"},
      {"new key in the first of two sections", "[Main]\nA=1\n[Main]\nB=2\n", "Main", "Key",
       "[Main]\nA=1\nKey=v\n[Main]\nB=2\n"},
      {"key found in a repeated section", "[Main]\nA=1\n[Main]\nKey=old\n", "Main", "Key",
       "[Main]\nA=1\n[Main]\nKey=v\n"},
      {"new section at the end", "[Other]\nA=1", "Main", "Key", "[Other]\nA=1\n[Main]\nKey=v\n"},
      {"line without equals sign is a key", "[Main]\nKey\n", "Main", "Key", "[Main]\nKey=v\n"},
      {"file of the Windows build stays UTF-16", Utf16Le("[Main]\r\nKey=old\r\n"), "Main", "Key",
       Utf16Le("[Main]\r\nKey=v\r\n")},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    const std::u16string file = folder.File(u"p.ini");
    if (!row.before.empty()) {
      WriteBytes(file, row.before);
    }
    ASSERT_TRUE(ProfileWrite(file, std::u16string(row.section.begin(), row.section.end()),
                             std::u16string(row.key.begin(), row.key.end()), u"v"));
    EXPECT_EQ(ReadBytes(file), row.after);
    EXPECT_EQ(ProfileRead(file, u"Main", u"Key"), std::u16string(u"v"));
  }
}

// Stored UTF-8 comes back as the same characters; bytes that are not UTF-8
// (an ANSI file from elsewhere) give replacement characters, not a failure.
TEST(ProfilePosixTest, ValuesAreUtf8) {
  TempFolder folder;
  const std::u16string file = folder.File(u"p.ini");
  ASSERT_TRUE(ProfileWrite(file, u"Main", u"Key", u"Прага \U0001F600"));
  EXPECT_EQ(ReadBytes(file),
            "[Main]\nKey=\xD0\x9F\xD1\x80\xD0\xB0\xD0\xB3\xD0\xB0 \xF0\x9F\x98\x80\n");
  WriteBytes(file, "[Main]\nKey=caf\xE9\n");
  EXPECT_EQ(ProfileRead(file, u"Main", u"Key"), std::u16string(u"caf\uFFFD"));
}

TEST(ProfilePosixTest, KeyWithoutEqualsSignReadsAsMissing) {
  TempFolder folder;
  const std::u16string file = folder.File(u"p.ini");
  WriteBytes(file, "[Main]\nKey\nEmpty=\n");
  EXPECT_EQ(ProfileRead(file, u"Main", u"Key"), std::nullopt);
  EXPECT_EQ(ProfileRead(file, u"Main", u"Empty"), std::u16string());
}

// Lowers the file size limit for the life of the object, so that a write
// fails half way as on a full disk (this holds for every user, root too).
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t aBytes) {
    getrlimit(RLIMIT_FSIZE, &FSaved);
    FSavedHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = FSaved;
    lowered.rlim_cur = aBytes;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &FSaved);
    signal(SIGXFSZ, FSavedHandler);
  }

private:
  rlimit FSaved{};
  void (*FSavedHandler)(int) = nullptr;
};

TEST(ProfilePosixTest, WriteThatFailsHalfWayLeavesTheFileAsItWas) {
  TempFolder folder;
  const std::u16string file = folder.File(u"p.ini");
  const std::string before = "[Main]\nHost=kept.example.org\n\n[Other]\nA=1\n";
  WriteBytes(file, before);
  chmod(marquo::Utf16ToUtf8(file).c_str(), 0640);
  {
    const FileSizeLimit limit(before.size() + 16);
    EXPECT_FALSE(ProfileWrite(file, u"Main", u"Phrases", std::u16string(200, u'x')));
    EXPECT_TRUE(ProfileWrite(file, u"Main", u"Port", u"1883"));
  }
  EXPECT_EQ(ReadBytes(file), "[Main]\nHost=kept.example.org\nPort=1883\n\n[Other]\nA=1\n");
  struct stat info {};
  ASSERT_EQ(stat(marquo::Utf16ToUtf8(file).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u) << "the file keeps its permissions";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()),
                          std::filesystem::directory_iterator()),
            1)
      << "no temporary file is left behind";
}

} // namespace
