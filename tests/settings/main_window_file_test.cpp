// The settings file of the main window, saved with the design-time values:
// one section line and the twelve keys in the order of the window's
// components. Other installations read this file, so its text is fixed.
#include <gtest/gtest.h>

#include "common/utf.hpp"
#include "tests/settings/settings_fixture.hpp"

namespace {

using namespace marquo::testing;

TEST(MainWindowSettingsFileTest, DesignTimeValuesGiveTheKnownFile) {
  TempFolder folder;
  MainWindowFixture window(folder.Folder());
  window.MarquoGoogInt->Save();
  const std::u16string expected = u"[MarquoGoogInt]\n"
                                  u"HostEdit=broker.hivemq.com\n"
                                  u"PortEdit=1883\n"
                                  u"UserEdit=\n"
                                  u"PassEdit=\n"
                                  u"SubEdit=Flinto/ga\n"
                                  u"EditFind=Find,Search,\"Find Game\"\n"
                                  u"EditList=Playlist,List,Find Playlist\n"
                                  u"EditVolume=\"Set Volume\",Volume\n"
                                  u"EditFunction=Function,Do\n"
                                  u"EditRun=Run,Batch\n"
                                  u"sh1=0\n"
                                  u"close1=0\n";
  const std::u16string file = folder.File(u"MarquoGoogSettings.ini");
  EXPECT_EQ(window.MarquoGoogInt->EffectiveFileName(), file);
  EXPECT_EQ(marquo::Utf16ToUtf8(ReadText(file)), marquo::Utf16ToUtf8(expected));
}

// The same file, loaded into a window whose fields were changed, brings the
// design-time values back: the two quoted phrase lists are read as written.
TEST(MainWindowSettingsFileTest, KnownFileLoadsBackIntoEveryField) {
  TempFolder folder;
  std::vector<std::u16string> design;
  {
    MainWindowFixture window(folder.Folder());
    window.MarquoGoogInt->Save();
  }
  MainWindowFixture window(folder.Folder());
  TestEdit *edits[] = {window.HostEdit,     window.PortEdit, window.UserEdit, window.PassEdit,
                       window.SubEdit,      window.EditFind, window.EditList, window.EditVolume,
                       window.EditFunction, window.EditRun};
  for (TestEdit *edit : edits) {
    design.push_back(edit->Text);
    edit->Text = u"changed";
  }
  window.sh1->Checked = true;
  window.MarquoGoogInt->Load();
  for (std::size_t i = 0; i < std::size(edits); ++i) {
    SCOPED_TRACE(marquo::Utf16ToUtf8(edits[i]->Name()));
    EXPECT_EQ(edits[i]->Text, design[i]);
  }
  EXPECT_FALSE(window.sh1->Checked);
}

} // namespace
