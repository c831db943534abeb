// TIniFile against the platform's real profile functions: the Windows ones
// under Wine, our own on POSIX. Both must give the behaviour the settings
// rely on, so every case here runs unchanged on both.
#include <gtest/gtest.h>

#include <string>

#include "common/utf.hpp"
#include "settings/ini_file.hpp"
#include "tests/settings/settings_fixture.hpp"

namespace {

using marquo::EIniFileException;
using marquo::TIniFile;
using marquo::testing::MakeReadOnly;
using marquo::testing::ReadBytes;
using marquo::testing::ReadText;
using marquo::testing::TempFolder;
using marquo::testing::WriteBytes;

// A hand-written file, in plain ASCII so that it means the same in every
// encoding the platforms read.
constexpr std::string_view kHandWritten = "[Other]\r\n"
                                          "Key=other section\r\n"
                                          "[Main]\r\n"
                                          "Plain=abc\r\n"
                                          "Padded=   spaced out   \r\n"
                                          "Quoted=\"in quotes\"\r\n"
                                          "Single='in single quotes'\r\n"
                                          "Half=\"only left\r\n"
                                          "Empty=\r\n"
                                          "MixedCase=found\r\n";

// A missing file, section or key gives the default exactly as passed (the
// Windows function would strip the default's trailing blanks); a stored
// empty value is a value, not a missing key; names match without regard to
// case; blanks and one pair of quotes around a stored value are not part of
// it.
TEST(IniFileReadTest, ReadStringGivesStoredTextOrTheExactDefault) {
  TempFolder folder;
  const std::u16string file = folder.File(u"hand.ini");
  WriteBytes(file, kHandWritten);

  struct Row {
    const char *name;
    std::u16string fileName;
    std::u16string section;
    std::u16string key;
    std::u16string expected;
  };
  const Row rows[] = {
      {"missing file", folder.File(u"none.ini"), u"Main", u"Plain", u"default "},
      {"missing section", file, u"Absent", u"Plain", u"default "},
      {"missing key", file, u"Main", u"Absent", u"default "},
      {"key of another section", file, u"Main", u"Key", u"default "},
      {"plain value", file, u"Main", u"Plain", u"abc"},
      {"blanks around the value", file, u"Main", u"Padded", u"spaced out"},
      {"double quotes around the value", file, u"Main", u"Quoted", u"in quotes"},
      {"single quotes around the value", file, u"Main", u"Single", u"in single quotes"},
      {"unmatched quote stays", file, u"Main", u"Half", u"\"only left"},
      {"stored empty value", file, u"Main", u"Empty", u""},
      {"section and key in other case", file, u"mAIN", u"mixedcase", u"found"},
      {"same key in the other section", file, u"OTHER", u"key", u"other section"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    TIniFile ini(row.fileName);
    EXPECT_EQ(ini.ReadString(row.section, row.key, u"default "), row.expected);
  }
  EXPECT_TRUE(ReadBytes(folder.File(u"none.ini")).empty()) << "a read must not create the file";
}

// Passwords and phrase lists are typed freely: whatever is written must come
// back unchanged, including blanks and quotes at the ends (which the profile
// functions strip), characters outside the ANSI code page (which a file in
// that code page loses) and texts longer than the profile functions' usual
// 2047-unit buffer.
TEST(IniFileRoundTripTest, WrittenTextComesBackUnchanged) {
  struct Row {
    const char *name;
    std::u16string value;
  };
  const Row rows[] = {
      {"plain", u"secret"},
      {"empty", u""},
      {"leading blank", u" secret"},
      {"trailing blank", u"secret "},
      {"only blanks", u"   "},
      {"leading tab", u"\tsecret"},
      {"leading no-break space", u"\u00a0secret"},
      {"enclosed in double quotes", u"\"secret\""},
      {"enclosed in single quotes", u"'secret'"},
      {"two double quotes", u"\"\""},
      {"a single double quote", u"\""},
      {"quote at the start only", u"\"Set Volume\",Volume"},
      {"quote at the end only", u"Find,Search,\"Find Game\""},
      {"quote and blank", u"\" x \""},
      {"equals sign and semicolon", u"a=b;c"},
      {"Cyrillic", u"пароль"},
      {"Japanese", u"日本語のパスワード"},
      {"outside the BMP", u"key\U0001F511"},
      {"Latin with accents", u"été über"},
      {"3000 units", std::u16string(2999, u'x') + u"\u00e9"},
      {"exactly 2047 units", std::u16string(2047, u'y')},
      {"exactly 2048 units", std::u16string(2048, u'z')},
      // Long values that are written quoted, around the lengths at which a
      // reading buffer fills.
      {"2047 units, leading blank", u" " + std::u16string(2046, u'y')},
      {"2047 units in quotes", u"\"" + std::u16string(2045, u'y') + u"\""},
      {"2048 units, trailing blank", std::u16string(2047, u'y') + u" "},
      {"8191 units, leading blank", u" " + std::u16string(8190, u'y')},
  };
  // Long texts are compared by length and equality, so that a failure does
  // not print them whole.
  const auto expectSame = [](const std::u16string &aRead, const std::u16string &aWritten) {
    if (aWritten.size() > 64) {
      EXPECT_EQ(aRead.size(), aWritten.size());
      EXPECT_TRUE(aRead == aWritten);
    } else {
      EXPECT_EQ(aRead, aWritten);
    }
  };
  TempFolder folder;
  const std::u16string file = folder.File(u"round.ini");
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    {
      TIniFile ini(file);
      ini.WriteString(u"Main", u"Pass", row.value);
      expectSame(ini.ReadString(u"Main", u"Pass", u"default"), row.value);
    }
    // A new object reads what the first one flushed.
    TIniFile again(file);
    expectSame(again.ReadString(u"Main", u"Pass", u"default"), row.value);
  }
}

// The file keeps the characters themselves and a readable layout, so the
// values can be checked and edited by hand.
TEST(IniFileLayoutTest, NewFileHoldsReadableLinesWithEveryCharacter) {
  TempFolder folder;
  const std::u16string file = folder.File(u"layout.ini");
  {
    TIniFile ini(file);
    ini.WriteString(u"Main", u"Pass", u"пароль 日本");
    ini.WriteString(u"Main", u"Blank", u" x");
    ini.WriteString(u"Main", u"Phrases", u"\"Set Volume\",Volume");
  }
  EXPECT_EQ(ReadText(file), u"[Main]\n"
                            u"Pass=пароль 日本\n"
                            u"Blank=\" x\"\n"
                            u"Phrases=\"Set Volume\",Volume\n");
}

// Writing replaces a value in place (also when the name is spelt in another
// case), adds a key to its existing section and a section to an existing
// file, and leaves everything else as it was.
TEST(IniFileWriteTest, WriteReplacesOrAddsWithoutTouchingOtherKeys) {
  TempFolder folder;
  const std::u16string file = folder.File(u"hand.ini");
  WriteBytes(file, kHandWritten);
  {
    TIniFile ini(file);
    ini.WriteString(u"main", u"PLAIN", u"replaced");
    ini.WriteString(u"Main", u"Added", u"new key");
    ini.WriteString(u"Third", u"Key", u"new section");
  }
  TIniFile ini(file);
  struct Row {
    const char *name;
    std::u16string section;
    std::u16string key;
    std::u16string expected;
  };
  const Row rows[] = {
      {"replaced value", u"Main", u"Plain", u"replaced"},
      {"added key", u"Main", u"Added", u"new key"},
      {"added section", u"Third", u"Key", u"new section"},
      {"other section kept", u"Other", u"Key", u"other section"},
      {"other key kept", u"Main", u"Quoted", u"in quotes"},
      {"empty key kept", u"Main", u"Empty", u""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ini.ReadString(row.section, row.key, u"missing"), row.expected);
  }
  // The replaced key is not also added a second time.
  const std::u16string text = ReadText(file);
  EXPECT_EQ(text.find(u"abc"), std::u16string::npos) << marquo::Utf16ToUtf8(text);
  EXPECT_EQ(text.find(u"replaced"), text.rfind(u"replaced"));
}

// Integers are decimal, or hexadecimal after "0x" when the text is longer
// than two units; anything else, and anything outside 32 bits, gives the
// default rather than a wrong number.
TEST(IniFileIntegerTest, ReadIntegerAcceptsOnlyWholeIntegerTexts) {
  struct Row {
    const char *name;
    std::u16string stored;
    std::int32_t expected;
  };
  constexpr std::int32_t kDefault = 77;
  const Row rows[] = {
      {"decimal", u"1883", 1883},
      {"zero", u"0", 0},
      {"negative", u"-12", -12},
      {"plus sign", u"+12", 12},
      {"leading zeros", u"007", 7},
      {"largest", u"2147483647", 2147483647},
      {"smallest", u"-2147483648", -2147483647 - 1},
      {"one above the largest", u"2147483648", kDefault},
      {"one below the smallest", u"-2147483649", kDefault},
      {"many digits", u"123456789012345678901234567890", kDefault},
      {"hexadecimal", u"0x1F", 31},
      {"hexadecimal capital X", u"0X1f", 31},
      {"hexadecimal all ones", u"0xFFFFFFFF", -1},
      {"hexadecimal nine digits", u"0x100000000", kDefault},
      {"hexadecimal leading zeros", u"0x000000001", 1},
      {"hexadecimal many digits", u"0x123456789012345678901234567890", kDefault},
      {"hexadecimal prefix only", u"0x", kDefault},
      {"hexadecimal bad digit", u"0x1G", kDefault},
      {"empty", u"", kDefault},
      {"letters", u"abc", kDefault},
      {"trailing letter", u"12a", kDefault},
      {"sign only", u"-", kDefault},
      {"inner blank", u"1 2", kDefault},
      {"decimal point", u"1.5", kDefault},
  };
  TempFolder folder;
  TIniFile ini(folder.File(u"numbers.ini"));
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    ini.WriteString(u"Main", u"Number", row.stored);
    EXPECT_EQ(ini.ReadInteger(u"Main", u"Number", kDefault), row.expected);
  }
  EXPECT_EQ(ini.ReadInteger(u"Main", u"Absent", kDefault), kDefault);
}

// Booleans are "1" and "0" when written and any integer when read.
TEST(IniFileBoolTest, BooleansAreWrittenAsDigitsAndReadAsIntegers) {
  TempFolder folder;
  const std::u16string file = folder.File(u"bool.ini");
  {
    TIniFile ini(file);
    ini.WriteBool(u"Main", u"On", true);
    ini.WriteBool(u"Main", u"Off", false);
    ini.WriteInteger(u"Main", u"Number", -5);
  }
  EXPECT_EQ(ReadText(file), u"[Main]\nOn=1\nOff=0\nNumber=-5\n");
  TIniFile ini(file);
  EXPECT_TRUE(ini.ReadBool(u"Main", u"On", false));
  EXPECT_FALSE(ini.ReadBool(u"Main", u"Off", true));
  EXPECT_TRUE(ini.ReadBool(u"Main", u"Number", false));
  EXPECT_TRUE(ini.ReadBool(u"Main", u"Absent", true));
  EXPECT_FALSE(ini.ReadBool(u"Main", u"Absent", false));
}

// A write that cannot be done must be reported, with the full file name,
// and must not damage what the file already holds.
TEST(IniFileFailureTest, FailedWriteRaisesWithFileNameAndKeepsTheFile) {
  TempFolder folder;
  struct Row {
    const char *name;
    std::u16string fileName;
    bool readOnly;
  };
  const Row rows[] = {
      {"missing folder", (folder.Path() / "absent" / "settings.ini").u16string(), false},
      {"folder in the file's place", folder.File(u"taken.ini"), false},
      {"read-only file", folder.File(u"locked.ini"), true},
  };
  std::filesystem::create_directory(folder.Path() / "taken.ini");
  WriteBytes(folder.File(u"locked.ini"), "[Main]\r\nKept=old\r\n");
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string before = ReadBytes(row.fileName);
    if (row.readOnly && !MakeReadOnly(row.fileName)) {
      GTEST_LOG_(INFO) << "skipped: this user may write to read-only files";
      continue;
    }
    TIniFile ini(row.fileName);
    try {
      ini.WriteString(u"Main", u"Key", u"value");
      ADD_FAILURE() << "the write was reported as done";
    } catch (const EIniFileException &error) {
      EXPECT_EQ(error.Message(), u"Unable to write to " + row.fileName);
      EXPECT_EQ(std::string(error.what()),
                "Unable to write to " + marquo::Utf16ToUtf8(row.fileName));
    }
    EXPECT_EQ(ReadBytes(row.fileName), before);
  }
}

} // namespace
