// TIniVal over real files in a temporary program folder: which file it
// opens, what it loads and leaves alone, what it writes, and how it hooks a
// form in the automatic mode.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/utf.hpp"
#include "common/file_system.hpp"
#include "settings/ini_file.hpp"
#include "settings/ini_val.hpp"
#include "tests/settings/settings_fixture.hpp"

namespace {

using marquo::CreateComponent;
using marquo::EIniFileException;
using marquo::FileExists;
using marquo::TComponent;
using marquo::TComponentStateItem;
using marquo::TForm;
using marquo::TIniVal;
using marquo::TNotifyEvent;
using namespace marquo::testing;

// The configured name is always relative to the program folder; the ".ini"
// rule looks at the whole path, folder included.
TEST(IniValFileNameTest, NameIsResolvedUnderTheProgramFolder) {
  struct Row {
    const char *name;
    std::u16string iniFileName;
    std::u16string programFolder;
    std::u16string expected;
  };
  const Row rows[] = {
      {"empty name takes the component's", u"", u"/opt/marquo/", u"/opt/marquo/MarquoGoogInt.ini"},
      {"the window's name", u"MarquoGoogSettings.ini", u"C:\\Marquo\\",
       u"C:\\Marquo\\MarquoGoogSettings.ini"},
      {"no extension gets .ini", u"settings", u"/opt/marquo/", u"/opt/marquo/settings.ini"},
      {"other extension is kept", u"settings.cfg", u"/opt/marquo/", u"/opt/marquo/settings.cfg"},
      {"trailing blanks are dropped", u"settings.ini \t ", u"/opt/marquo/",
       u"/opt/marquo/settings.ini"},
      {"dot in the folder name counts", u"settings", u"/opt/marquo.v2/",
       u"/opt/marquo.v2/settings"},
      {"full Windows path stays under the folder", u"C:\\cfg\\settings.ini", u"C:\\Marquo\\",
       u"C:\\Marquo\\C:\\cfg\\settings.ini"},
      {"full POSIX path stays under the folder", u"/etc/settings.ini", u"/opt/marquo/",
       u"/opt/marquo//etc/settings.ini"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    TForm form(nullptr);
    TIniVal &ini = CreateComponent<TIniVal>(form);
    ini.SetName(u"MarquoGoogInt");
    ini.SetIniFileName(row.iniFileName);
    ini.FinishLoad(row.programFolder);
    EXPECT_EQ(ini.EffectiveFileName(), row.expected);
  }
}

TEST(IniValFileNameTest, DesigningAndLaterNamesAreNotResolved) {
  TIniVal designed(nullptr);
  designed.ComponentState().Include(TComponentStateItem::csDesigning);
  designed.SetIniFileName(u"settings");
  designed.FinishLoad(u"/opt/marquo/");
  EXPECT_EQ(designed.EffectiveFileName(), u"settings.ini");

  TIniVal running(nullptr);
  running.SetIniFileName(u"first");
  running.FinishLoad(u"/opt/marquo/");
  running.SetIniFileName(u"later.ini");
  EXPECT_EQ(running.EffectiveFileName(), u"later.ini");
}

// Outside the tests the program folder is the running executable's folder,
// taken when the form finishes loading its components.
TEST(IniValFileNameTest, FormLoadedResolvesAgainstTheProgramFolder) {
  const std::u16string folder = marquo::ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(folder.back() == u'/' || folder.back() == u'\\');
  EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(folder)));

  TForm form(nullptr);
  TIniVal &ini = CreateComponent<TIniVal>(form);
  ini.SetAutomatic(false);
  ini.SetIniFileName(u"MarquoGoogSettings.ini");
  form.Loaded();
  EXPECT_EQ(ini.EffectiveFileName(), folder + u"MarquoGoogSettings.ini");
}

// The values the fixture's editable components hold, in key order.
std::vector<std::u16string> Texts(const MainWindowFixture &aWindow) {
  return {aWindow.HostEdit->Text,
          aWindow.PortEdit->Text,
          aWindow.UserEdit->Text,
          aWindow.PassEdit->Text,
          aWindow.SubEdit->Text,
          aWindow.EditFind->Text,
          aWindow.EditList->Text,
          aWindow.EditVolume->Text,
          aWindow.EditFunction->Text,
          aWindow.EditRun->Text,
          aWindow.sh1->Checked ? u"1" : u"0",
          aWindow.close1->Checked ? u"1" : u"0"};
}

TEST(IniValLoadTest, MissingFileChangesNothingAndCreatesNoFile) {
  TempFolder folder;
  MainWindowFixture window(folder.Folder());
  const auto before = Texts(window);
  window.MarquoGoogInt->Load();
  EXPECT_EQ(Texts(window), before);
  EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
}

// Keys the file lacks leave their controls as they are; names match in any
// case, as on Windows.
TEST(IniValLoadTest, MissingKeysKeepTheCurrentValues) {
  TempFolder folder;
  WriteBytes(folder.File(u"MarquoGoogSettings.ini"), "[marquogoogint]\r\n"
                                                     "HostEdit=broker.example.org\r\n"
                                                     "passedit=hunter2\r\n"
                                                     "close1=1\r\n");
  MainWindowFixture window(folder.Folder());
  window.UserEdit->Text = u"typed before loading";
  auto expected = Texts(window);
  expected[0] = u"broker.example.org";
  expected[3] = u"hunter2";
  expected[11] = u"1";
  window.MarquoGoogInt->Load();
  EXPECT_EQ(Texts(window), expected);
}

// Every kept field comes back as saved, in a fresh window; the password is
// kept exactly as typed and readable in the file.
TEST(IniValRoundTripTest, SavedFieldsComeBackExactly) {
  struct Row {
    const char *name;
    std::u16string password;
  };
  const Row rows[] = {
      {"plain", u"hunter2"},
      {"blanks at both ends", u"  two blanks each side  "},
      {"enclosed in quotes", u"\"quoted\""},
      {"enclosed in single quotes", u"'quoted'"},
      {"quotes and blanks", u" \"a b\" "},
      {"outside the ANSI code page", u"Ζεύς Прага 東京 \U0001F600"},
      {"empty", u""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    std::vector<std::u16string> saved;
    {
      MainWindowFixture window(folder.Folder());
      window.HostEdit->Text = u"192.168.1.20";
      window.PortEdit->Text = u"8883";
      window.UserEdit->Text = u"cabinet";
      window.PassEdit->Text = row.password;
      window.SubEdit->Text = u"home/pinball/#";
      window.EditFind->Text = u"Find,\"Look for\"";
      window.EditList->Text = u"Liste,Wiedergabeliste";
      window.EditVolume->Text = u"\"Set Volume\",Lautstärke";
      window.EditFunction->Text = u"Funktion";
      window.EditRun->Text = u"Starte,Run";
      window.sh1->Checked = true;
      window.MarquoGoogInt->Save();
      saved = Texts(window);
    }
    MainWindowFixture restarted(folder.Folder());
    restarted.MarquoGoogInt->Load();
    EXPECT_EQ(Texts(restarted), saved);
  }
}

// The password is stored in plain form, readable in the file.
TEST(IniValRoundTripTest, PasswordIsStoredReadable) {
  TempFolder folder;
  MainWindowFixture window(folder.Folder());
  window.PassEdit->Text = u"hunter2";
  window.MarquoGoogInt->Save();
  const std::u16string text = ReadText(window.MarquoGoogInt->EffectiveFileName());
  EXPECT_NE(text.find(u"\nPassEdit=hunter2\n"), std::u16string::npos) << marquo::Utf16ToUtf8(text);
}

// A text and an item index share one key: the file keeps the index, and on
// loading the text first becomes the index's digits.
TEST(IniValPropertyTest, TextAndItemIndexShareOneKey) {
  TempFolder folder;
  const std::u16string programFolder = folder.Folder();
  {
    TForm form(nullptr);
    form.SetName(u"Form1");
    auto &combo = CreateComponent<TestCombo>(form, u"Combo1");
    combo.Text = u"third item";
    combo.ItemIndex = 2;
    auto &ini = CreateComponent<TIniVal>(form);
    ini.SetName(u"Settings");
    ini.SetAutomatic(false);
    ini.FinishLoad(programFolder);
    ini.Save();
    EXPECT_EQ(ReadText(ini.EffectiveFileName()), u"[Form1]\nCombo1=2\n");
  }
  TForm form(nullptr);
  form.SetName(u"Form1");
  auto &combo = CreateComponent<TestCombo>(form, u"Combo1");
  auto &ini = CreateComponent<TIniVal>(form);
  ini.SetName(u"Settings");
  ini.SetAutomatic(false);
  ini.FinishLoad(programFolder);
  ini.Load();
  EXPECT_EQ(combo.Text, u"2");
  EXPECT_EQ(combo.ItemIndex, 2);
}

// "Checked" takes any integer text, decimal or hexadecimal, and ignores text
// that is not an integer.
TEST(IniValPropertyTest, CheckedReadsIntegersAndIgnoresOtherText) {
  struct Row {
    const char *name;
    const char *stored;
    bool before;
    bool expected;
  };
  const Row rows[] = {
      {"2 is true", "2", false, true},         {"0x1 is true", "0x1", false, true},
      {"0 is false", "0", true, false},        {"0x0 is false", "0x0", true, false},
      {"negative is true", "-1", false, true}, {"abc leaves false", "abc", false, false},
      {"abc leaves true", "abc", true, true},  {"empty leaves true", "", true, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    WriteBytes(folder.File(u"MarquoGoogSettings.ini"),
               std::string("[MarquoGoogInt]\r\nsh1=") + row.stored + "\r\n");
    MainWindowFixture window(folder.Folder());
    window.sh1->Checked = row.before;
    window.MarquoGoogInt->Load();
    EXPECT_EQ(window.sh1->Checked, row.expected);
  }
}

// "Value" is text or an integer, an integer "Checked" is an ordinal, and a
// property of one of the four names but another kind is neither written nor
// read.
TEST(IniValPropertyTest, PropertiesOfOtherKindsAreSkipped) {
  TempFolder folder;
  TForm form(nullptr);
  form.SetName(u"Form1");
  auto &spin = CreateComponent<TestSpin>(form, u"Spin");
  auto &words = CreateComponent<TestTextValue>(form, u"Words");
  auto &flag = CreateComponent<TestFlag>(form, u"Flag");
  CreateComponent<TestLabel>(form, u"Label1", u"caption");
  auto &ini = CreateComponent<TIniVal>(form);
  ini.SetName(u"Settings");
  ini.SetAutomatic(false);
  ini.FinishLoad(folder.Folder());

  spin.Value = 5;
  spin.Text = 9;
  words.Value = u"some words";
  words.Checked = u"yes";
  words.ItemIndex = u"first";
  flag.Checked = 7;
  ini.Save();
  EXPECT_EQ(ReadText(ini.EffectiveFileName()), u"[Form1]\nSpin=5\nWords=some words\nFlag=1\n");

  WriteBytes(ini.EffectiveFileName(), "[Form1]\r\nSpin=0x10\r\nWords=loaded\r\nFlag=0\r\n"
                                      "Label1=not a caption\r\n");
  ini.Load();
  EXPECT_EQ(spin.Value, 16);
  EXPECT_EQ(spin.Text, 9);
  EXPECT_EQ(words.Value, u"loaded");
  EXPECT_EQ(words.Checked, u"yes");
  EXPECT_EQ(words.ItemIndex, u"first");
  EXPECT_EQ(flag.Checked, 0);
}

// A save that cannot write says so, naming the full path.
TEST(IniValSaveTest, FailedSaveRaisesWithTheFullPath) {
  TempFolder folder;
  const std::u16string missing = (folder.Path() / "absent" / "").u16string();
  MainWindowFixture window(missing);
  try {
    window.MarquoGoogInt->Save();
    ADD_FAILURE() << "the save was reported as done";
  } catch (const EIniFileException &error) {
    EXPECT_EQ(error.Message(), u"Unable to write to " + missing + u"MarquoGoogSettings.ini");
  }
}

// The keys already in a file that cannot be written stay as they were.
TEST(IniValSaveTest, FailedSaveKeepsTheKeysAlreadyStored) {
  TempFolder folder;
  const std::u16string file = folder.File(u"MarquoGoogSettings.ini");
  const std::string earlier = "[MarquoGoogInt]\r\nHostEdit=kept.example.org\r\n";
  WriteBytes(file, earlier);
  if (!MakeReadOnly(file)) {
    GTEST_SKIP() << "this user may write to read-only files";
  }
  MainWindowFixture window(folder.Folder());
  window.HostEdit->Text = u"changed.example.org";
  EXPECT_THROW(window.MarquoGoogInt->Save(), EIniFileException);
  EXPECT_EQ(ReadBytes(file), earlier);
}

// Records what a form's own handlers see, to check where the automatic
// mode's load and save fall.
struct FormHandlers {
  TestEdit *Edit = nullptr;
  std::u16string FileName;
  std::vector<std::u16string> Log;

  void FormCreate(TComponent &) { Log.push_back(u"create sees " + Edit->Text); }
  void FormDestroy(TComponent &) {
    Log.push_back(FileExists(FileName) ? u"destroy after save" : u"destroy before save");
  }
};

TEST(IniValAutomaticTest, LoadFollowsTheFormsCreateAndSavePrecedesItsDestroy) {
  TempFolder folder;
  TForm form(nullptr);
  form.SetName(u"Form1");
  auto &edit = CreateComponent<TestEdit>(form, u"Edit1", u"design");
  auto &ini = CreateComponent<TIniVal>(form);
  ini.SetName(u"Settings");
  FormHandlers handlers{&edit, folder.File(u"Settings.ini"), {}};
  form.OnCreate = TNotifyEvent::Bind<&FormHandlers::FormCreate>(handlers);
  form.OnDestroy = TNotifyEvent::Bind<&FormHandlers::FormDestroy>(handlers);
  WriteBytes(handlers.FileName, "[Form1]\r\nEdit1=stored\r\n");

  // A second run must not chain the handler to itself. (It resolves the
  // name again, so it is given an empty folder to keep the path.)
  ini.FinishLoad(folder.Folder());
  ini.FinishLoad(u"");
  form.DoCreate();
  EXPECT_EQ(edit.Text, u"stored");

  std::filesystem::remove(std::filesystem::path(handlers.FileName));
  edit.Text = u"edited";
  form.DoDestroy();
  EXPECT_EQ(handlers.Log,
            (std::vector<std::u16string>{u"create sees design", u"destroy after save"}));
  EXPECT_EQ(ReadText(handlers.FileName), u"[Form1]\nEdit1=edited\n");
}

TEST(IniValAutomaticTest, NotAutomaticLeavesTheFormsEventsAlone) {
  TempFolder folder;
  TForm form(nullptr);
  form.SetName(u"Form1");
  auto &edit = CreateComponent<TestEdit>(form, u"Edit1", u"design");
  auto &ini = CreateComponent<TIniVal>(form);
  ini.SetAutomatic(false);
  FormHandlers handlers{&edit, folder.File(u"Settings.ini"), {}};
  const TNotifyEvent create = TNotifyEvent::Bind<&FormHandlers::FormCreate>(handlers);
  form.OnCreate = create;
  ini.FinishLoad(folder.Folder());
  EXPECT_TRUE(SameMethod(form.OnCreate, create));
  EXPECT_FALSE(form.OnDestroy);
}

} // namespace
