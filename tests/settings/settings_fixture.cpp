#include "tests/settings/settings_fixture.hpp"

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <system_error>

#include "common/utf.hpp"

namespace marquo::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  // Names must not repeat between runs: the Windows profile functions keep a
  // cached copy of recently used files by name.
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    fs::path candidate =
        fs::temp_directory_path() / ("marquo-settings-" + std::to_string(random()) + "-" +
                                     std::to_string(stamp) + "-" + std::to_string(counter++));
    if (fs::create_directory(candidate)) {
      FPath = candidate;
      return;
    }
  }
}

TempFolder::~TempFolder() {
  std::error_code error;
  // A read-only file cannot be removed on Windows until it is writable again.
  for (const auto &entry : fs::recursive_directory_iterator(FPath, error)) {
    fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, error);
  }
  fs::remove_all(FPath, error);
}

std::u16string TempFolder::Folder() const { return (FPath / "").u16string(); }

std::u16string TempFolder::File(std::u16string_view aName) const {
  return (FPath / fs::path(std::u16string(aName))).u16string();
}

std::string ReadBytes(const std::u16string &aFileName) {
  std::error_code error;
  if (!fs::is_regular_file(fs::path(aFileName), error)) {
    return {};
  }
  std::ifstream file(fs::path(aFileName), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::u16string &aFileName, std::string_view aBytes) {
  std::ofstream file(fs::path(aFileName), std::ios::binary | std::ios::trunc);
  file.write(aBytes.data(), static_cast<std::streamsize>(aBytes.size()));
}

std::u16string ReadText(const std::u16string &aFileName) {
  const std::string bytes = ReadBytes(aFileName);
  std::u16string text;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                    (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
  } else {
    text = Utf8ToUtf16(bytes);
  }
  std::u16string result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')) {
      result += text[i];
    }
  }
  return result;
}

bool MakeReadOnly(const std::u16string &aFileName) {
  fs::permissions(fs::path(aFileName),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  std::ofstream probe(fs::path(aFileName), std::ios::binary | std::ios::app);
  return !probe.is_open();
}

TestEdit::TestEdit(TComponent *anOwner, std::u16string aName, std::u16string aText)
    : TComponent(anOwner), Text(std::move(aText)) {
  SetName(std::move(aName));
  PublishText(
      u"Text", [this] { return Text; }, [this](const std::u16string &aValue) { Text = aValue; });
}

TestLabel::TestLabel(TComponent *anOwner, std::u16string aName, std::u16string aCaption)
    : TComponent(anOwner), Caption(std::move(aCaption)) {
  SetName(std::move(aName));
  PublishText(
      u"Caption", [this] { return Caption; },
      [this](const std::u16string &aValue) { Caption = aValue; });
}

TestMenuItem::TestMenuItem(TComponent *anOwner, std::u16string aName, std::u16string aCaption)
    : TComponent(anOwner), Caption(std::move(aCaption)) {
  SetName(std::move(aName));
  PublishText(
      u"Caption", [this] { return Caption; },
      [this](const std::u16string &aValue) { Caption = aValue; });
  PublishBoolean(
      u"Checked", [this] { return Checked; }, [this](bool aValue) { Checked = aValue; });
}

TestCombo::TestCombo(TComponent *anOwner, std::u16string aName) : TComponent(anOwner) {
  SetName(std::move(aName));
  PublishText(
      u"Text", [this] { return Text; }, [this](const std::u16string &aValue) { Text = aValue; });
  PublishInteger(
      u"ItemIndex", [this] { return ItemIndex; },
      [this](std::int32_t aValue) { ItemIndex = aValue; });
}

TestSpin::TestSpin(TComponent *anOwner, std::u16string aName) : TComponent(anOwner) {
  SetName(std::move(aName));
  PublishInteger(
      u"Value", [this] { return Value; }, [this](std::int32_t aValue) { Value = aValue; });
  PublishInteger(
      u"Text", [this] { return Text; }, [this](std::int32_t aValue) { Text = aValue; });
}

TestFlag::TestFlag(TComponent *anOwner, std::u16string aName) : TComponent(anOwner) {
  SetName(std::move(aName));
  PublishInteger(
      u"Checked", [this] { return Checked; }, [this](std::int32_t aValue) { Checked = aValue; });
}

TestTextValue::TestTextValue(TComponent *anOwner, std::u16string aName) : TComponent(anOwner) {
  SetName(std::move(aName));
  PublishText(
      u"Value", [this] { return Value; }, [this](const std::u16string &aValue) { Value = aValue; });
  PublishText(
      u"Checked", [this] { return Checked; },
      [this](const std::u16string &aValue) { Checked = aValue; });
  PublishText(
      u"ItemIndex", [this] { return ItemIndex; },
      [this](const std::u16string &aValue) { ItemIndex = aValue; });
}

TestPlain::TestPlain(TComponent *anOwner, std::u16string aName) : TComponent(anOwner) {
  SetName(std::move(aName));
}

MainWindowFixture::MainWindowFixture(const std::u16string &aProgramFolder) {
  Form.SetName(u"MarquoGoogInt");
  const auto label = [this](std::u16string aName, std::u16string aCaption) {
    CreateComponent<TestLabel>(Form, std::move(aName), std::move(aCaption));
  };
  const auto edit = [this](std::u16string aName, std::u16string aText) {
    return &CreateComponent<TestEdit>(Form, std::move(aName), std::move(aText));
  };
  label(u"Label1", u"Username");
  label(u"Label2", u"MQTT host");
  label(u"Label3", u"Password");
  label(u"Label4", u"Port");
  label(u"Label5", u"Subscribe");
  label(u"Label6", u"Find Game");
  label(u"Label7", u"Find List");
  label(u"Label8", u"Volume");
  label(u"Label9", u"Function");
  label(u"Label10", u"Run Batch");
  label(u"Label11", u"Phrases Matching");
  HostEdit = edit(u"HostEdit", std::u16string(kDesignHost));
  PortEdit = edit(u"PortEdit", u"1883");
  UserEdit = edit(u"UserEdit", u"");
  PassEdit = edit(u"PassEdit", u"");
  label(u"Memo1", u"Flinto Marquo google home/mini bridge.\r\nLog:");
  label(u"Button1", u"Connect");
  SubEdit = edit(u"SubEdit", u"Flinto/ga");
  label(u"Button2", u"OK");
  label(u"Button3", u"Save Settings");
  EditFind = edit(u"EditFind", u"Find,Search,\"Find Game\"");
  EditList = edit(u"EditList", u"Playlist,List,Find Playlist");
  EditVolume = edit(u"EditVolume", u"\"Set Volume\",Volume");
  EditFunction = edit(u"EditFunction", u"Function,Do");
  EditRun = edit(u"EditRun", u"Run,Batch");
  CreateComponent<TestPlain>(Form, u"MQTT");
  MarquoGoogInt = &CreateComponent<TIniVal>(Form);
  MarquoGoogInt->SetName(u"MarquoGoogInt");
  MarquoGoogInt->SetAutomatic(false);
  MarquoGoogInt->SetIniFileName(u"MarquoGoogSettings.ini");
  CreateComponent<TestPlain>(Form, u"TrayIcon1");
  CreateComponent<TestPlain>(Form, u"PopupMenu1");
  sh1 = &CreateComponent<TestMenuItem>(Form, u"sh1", u"show");
  close1 = &CreateComponent<TestMenuItem>(Form, u"close1", u"close");
  MarquoGoogInt->FinishLoad(aProgramFolder);
}

} // namespace marquo::testing
