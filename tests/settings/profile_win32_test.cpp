// The encoding of settings files under the Windows profile functions: a file
// they create is started as UTF-16LE with a byte order mark, so that every
// character is kept; a file that already exists keeps its own encoding.
#include <gtest/gtest.h>

#include <string>

#include "settings/profile.hpp"
#include "tests/settings/settings_fixture.hpp"

namespace {

using marquo::ProfileFlush;
using marquo::ProfileRead;
using marquo::ProfileWrite;
using marquo::testing::ReadBytes;
using marquo::testing::TempFolder;
using marquo::testing::WriteBytes;

TEST(ProfileWin32Test, NewAndEmptyFilesAreStartedAsUtf16) {
  struct Row {
    const char *name;
    bool createEmpty;
  };
  const Row rows[] = {{"missing file", false}, {"empty file", true}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    const std::u16string file = folder.File(u"p.ini");
    if (row.createEmpty) {
      WriteBytes(file, "");
    }
    ASSERT_TRUE(ProfileWrite(file, u"Main", u"Key", u"\u0416"));
    ProfileFlush(file);
    const std::string bytes = ReadBytes(file);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_NE(bytes.find(std::string("K\0e\0y\0=\0\x16\x04", 10)), std::string::npos);
  }
}

TEST(ProfileWin32Test, ExistingAnsiFileStaysAnsi) {
  TempFolder folder;
  const std::u16string file = folder.File(u"p.ini");
  WriteBytes(file, "[Main]\r\nOld=caf\xE9\r\n");
  EXPECT_EQ(ProfileRead(file, u"Main", u"Old"), std::u16string(u"caf\u00e9"));
  ASSERT_TRUE(ProfileWrite(file, u"Main", u"New", u"x"));
  ProfileFlush(file);
  EXPECT_EQ(ReadBytes(file).substr(0, 8), "[Main]\r\n");
}

} // namespace
