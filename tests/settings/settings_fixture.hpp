// Helpers of the settings tests: a temporary program folder, raw file access,
// small components with the published properties the settings component
// looks for, and the main window's components with their design-time values.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "settings/component.hpp"
#include "settings/ini_val.hpp"

namespace marquo::testing {

// A new, empty folder under the system's temporary folder, removed with all
// its contents when the object goes. Paths are UTF-16 text, as the settings
// use them.
class TempFolder {
public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder &) = delete;
  TempFolder &operator=(const TempFolder &) = delete;

  const std::filesystem::path &Path() const { return FPath; }
  // The folder with its trailing separator, as the program folder is given.
  std::u16string Folder() const;
  // The full name of aName inside the folder.
  std::u16string File(std::u16string_view aName) const;

private:
  std::filesystem::path FPath;
};

// The file's bytes; empty when it cannot be read.
std::string ReadBytes(const std::u16string &aFileName);
void WriteBytes(const std::u16string &aFileName, std::string_view aBytes);
// The file's text: UTF-16LE after a byte order mark, otherwise UTF-8; CR LF
// line ends are given as LF, since each platform writes its own.
std::u16string ReadText(const std::u16string &aFileName);
// Makes the file read-only. False when the process can write to it anyway
// (a privileged user), so that a test which needs the failure can skip.
bool MakeReadOnly(const std::u16string &aFileName);

// Components with the properties the settings look for.
class TestEdit : public TComponent {
public:
  TestEdit(TComponent *anOwner, std::u16string aName, std::u16string aText = {});
  std::u16string Text;
};

class TestLabel : public TComponent {
public:
  TestLabel(TComponent *anOwner, std::u16string aName, std::u16string aCaption);
  std::u16string Caption;
};

class TestMenuItem : public TComponent {
public:
  TestMenuItem(TComponent *anOwner, std::u16string aName, std::u16string aCaption);
  std::u16string Caption;
  bool Checked = false;
};

// A list box kind of control: a text and an item index.
class TestCombo : public TComponent {
public:
  TestCombo(TComponent *anOwner, std::u16string aName);
  std::u16string Text;
  std::int32_t ItemIndex = -1;
};

// "Value" as an integer, and "Text" of a kind the settings do not handle.
class TestSpin : public TComponent {
public:
  TestSpin(TComponent *anOwner, std::u16string aName);
  std::int32_t Value = 0;
  std::int32_t Text = 0;
};

// "Checked" as an integer, which the settings treat as an ordinal.
class TestFlag : public TComponent {
public:
  TestFlag(TComponent *anOwner, std::u16string aName);
  std::int32_t Checked = 0;
};

// "Value" as text, and "Checked" and "ItemIndex" as text, which the settings
// leave alone.
class TestTextValue : public TComponent {
public:
  TestTextValue(TComponent *anOwner, std::u16string aName);
  std::u16string Value;
  std::u16string Checked;
  std::u16string ItemIndex;
};

// A component with none of the four properties (the client, the icon...).
class TestPlain : public TComponent {
public:
  TestPlain(TComponent *anOwner, std::u16string aName);
};

// The design-time host of the fixture's host field.
inline constexpr std::u16string_view kDesignHost = u"broker.hivemq.com";

// The main window's components in the order of its resource, with their
// design-time values, and its settings component configured as the window
// configures it (not automatic, "MarquoGoogSettings.ini"), resolved against
// aProgramFolder.
struct MainWindowFixture {
  explicit MainWindowFixture(const std::u16string &aProgramFolder);

  TForm Form{nullptr};
  TestEdit *HostEdit = nullptr;
  TestEdit *PortEdit = nullptr;
  TestEdit *UserEdit = nullptr;
  TestEdit *PassEdit = nullptr;
  TestEdit *SubEdit = nullptr;
  TestEdit *EditFind = nullptr;
  TestEdit *EditList = nullptr;
  TestEdit *EditVolume = nullptr;
  TestEdit *EditFunction = nullptr;
  TestEdit *EditRun = nullptr;
  TestMenuItem *sh1 = nullptr;
  TestMenuItem *close1 = nullptr;
  TIniVal *MarquoGoogInt = nullptr;
};

} // namespace marquo::testing
