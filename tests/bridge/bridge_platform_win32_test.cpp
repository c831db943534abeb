// The Windows frontend channel and local actions against the real system: a
// window titled like the frontend's control window, batch files in a
// temporary program folder, and Core Audio through a stand-in endpoint.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge/bridge_platform.hpp"
#include "bridge/command_handler.hpp"
#include "bridge/fmq_types.hpp"
#include "bridge/frontend_port.hpp"
#include "bridge/local_system.hpp"
#include "bridge/mmdevapi_win32.hpp"
#include "bridge/recording_platform.hpp"
#include "common/utf.hpp"

namespace marquo {
namespace {

namespace fs = std::filesystem;

// The frontend knows these numbers, not our names for them.
static_assert(WM_FMQCONTROL == 1034 && FMQ_REQUEST_SEARCH == 10 && FMQ_REQUEST_FUNCTION == 8);

struct TReceived {
  WPARAM kind;
  LPARAM value;
  std::u16string text; // the atom's name for a search request
};

std::vector<TReceived> gReceived;

LRESULT CALLBACK ControlWindowProc(HWND aWindow, UINT aMessage, WPARAM aWParam, LPARAM aLParam) {
  if (aMessage == WM_FMQCONTROL) {
    TReceived received{aWParam, aLParam, {}};
    if (aWParam == FMQ_REQUEST_SEARCH) {
      // Reading the text and deleting the atom is the frontend's part.
      wchar_t name[256] = {};
      const UINT length = GlobalGetAtomNameW(static_cast<ATOM>(aLParam), name, 256);
      received.text.assign(reinterpret_cast<const char16_t *>(name), length);
      GlobalDeleteAtom(static_cast<ATOM>(aLParam));
    }
    gReceived.push_back(received);
    return 0;
  }
  return DefWindowProcW(aWindow, aMessage, aWParam, aLParam);
}

// A hidden top-level window with the frontend's title, of a class of its own.
class TFakeFrontendWindow {
public:
  TFakeFrontendWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ControlWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"MarquoTestFrontend";
    RegisterClassW(&windowClass);
    handle = CreateWindowExW(0, L"MarquoTestFrontend",
                             reinterpret_cast<const wchar_t *>(kControlWindowTitle),
                             WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    gReceived.clear();
  }
  ~TFakeFrontendWindow() {
    if (handle)
      DestroyWindow(handle);
  }

  // Dispatches posted messages until aCount have arrived or time is up.
  void Pump(std::size_t aCount) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (gReceived.size() < aCount && std::chrono::steady_clock::now() < deadline) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
      Sleep(10);
    }
  }

  HWND handle = nullptr;
};

TEST(Win32FrontendPort, ControlWindowReceivesSearchTextsAndFunctionCodes) {
  const std::unique_ptr<TFrontendPort> port = CreateFrontendPort();
  TFakeFrontendWindow frontend;
  ASSERT_NE(frontend.handle, nullptr);
  ASSERT_EQ(port->FindControlWindow(), reinterpret_cast<TControlWindow>(frontend.handle));

  TRecordingLog log;
  TDefaultPhraseLists lists;
  TRecordingPlatform local;
  TCommandHandler handler(log, lists, *port, local, u"C:\\unused\\");
  handler.MQTTMsg("t", R"({"data":["{\"action\":\"process\",\"what\":\"Find Game Castle Quest\"}"]})",
                  0, false);
  handler.MQTTMsg("t", R"({"data":["{\"action\":\"process\",\"what\":\"Function Launch\"}"]})", 0,
                  false);
  handler.MQTTMsg("t", R"({"data":["{\"action\":\"list\",\"what\":\"\"}"]})", 0, false);
  frontend.Pump(3);

  ASSERT_EQ(gReceived.size(), 3u);
  EXPECT_EQ(gReceived[0].kind, FMQ_REQUEST_SEARCH);
  EXPECT_EQ(Utf16ToUtf8(gReceived[0].text), "{ \"FN\":1, \"SS\":\"game castle quest\" }");
  EXPECT_EQ(gReceived[1].kind, FMQ_REQUEST_FUNCTION);
  EXPECT_EQ(gReceived[1].value, 7);
  EXPECT_EQ(gReceived[2].kind, FMQ_REQUEST_SEARCH);
  EXPECT_EQ(Utf16ToUtf8(gReceived[2].text), "{ \"FN\":2, \"SS\":\"\" }");
}

TEST(Win32FrontendPort, TextTooLongForAnAtomIsNotPosted) {
  const std::unique_ptr<TFrontendPort> port = CreateFrontendPort();
  TFakeFrontendWindow frontend;
  const TControlWindow window = port->FindControlWindow();
  ASSERT_NE(window, kNoControlWindow);
  EXPECT_FALSE(port->PostSearchText(window, 1, std::u16string(300, u'x')));
  EXPECT_TRUE(port->PostSearchText(window, 1, std::u16string(255, u'y')));
  frontend.Pump(1);
  ASSERT_EQ(gReceived.size(), 1u);
  EXPECT_EQ(gReceived[0].text, std::u16string(255, u'y'));
}

TEST(Win32FrontendPort, NoWindowWithTheTitleIsNoFrontend) {
  EXPECT_EQ(CreateFrontendPort()->FindControlWindow(), kNoControlWindow);
}

// Removes a folder and what it holds, as far as it can now. Returns whether
// the folder is gone. A file that is open cannot be deleted on Windows, and
// the library's remove_all then retries the same entry for ever; here a file
// that stays is left for the next attempt.
bool RemoveTree(const fs::path &aFolder) {
  std::error_code ignored;
  for (fs::directory_iterator entry(aFolder, ignored), end; entry != end;
       entry.increment(ignored)) {
    if (entry->is_directory(ignored) && !entry->is_symlink(ignored))
      RemoveTree(entry->path());
    else
      fs::remove(entry->path(), ignored);
  }
  fs::remove(aFolder, ignored);
  return !fs::exists(aFolder, ignored);
}

// A fresh folder under the temporary folder, removed at the end.
class TTempFolder {
public:
  TTempFolder() {
    FPath = fs::temp_directory_path() /
            ("marquo-test-" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(GetTickCount64()));
    fs::create_directories(FPath);
  }
  ~TTempFolder() {
    // A batch file the test started may still hold itself open for a moment
    // after writing its marker.
    for (int attempt = 0; attempt < 100 && !RemoveTree(FPath); ++attempt)
      Sleep(50);
  }
  const fs::path &path() const { return FPath; }
  std::u16string ProgramFolder() const { return FPath.u16string() + u"\\"; }

private:
  fs::path FPath;
};

bool WaitForFile(const fs::path &aPath) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (fs::exists(aPath))
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

class Win32LaunchBatch : public testing::Test {
protected:
  TTempFolder folder;
  TRecordingLog log;
  TDefaultPhraseLists lists;
  TRecordingPlatform frontend;
  std::unique_ptr<TLocalSystem> system = CreateLocalSystem();
  TCommandHandler handler{log, lists, frontend, *system, folder.ProgramFolder()};

  void WriteBatch(const fs::path &aPath, const std::string &aBody) {
    fs::create_directories(aPath.parent_path());
    std::ofstream(aPath, std::ios::binary) << "@echo off\r\n" << aBody << "\r\n";
  }
};

TEST_F(Win32LaunchBatch, RunsInTheProgramFolder) {
  // The marker is written relative to the working folder, so it lands in
  // the program folder only if the batch runs there.
  WriteBatch(folder.path() / "launch" / "mark.bat", "echo done> marker.txt");
  handler.MQTTMsg("t", R"({"data":["{\"action\":\"process\",\"what\":\"Run Mark\"}"]})", 0, false);
  EXPECT_EQ(log.lines.back(), u"running: " + folder.ProgramFolder() + u"launch\\mark.bat");
  EXPECT_TRUE(WaitForFile(folder.path() / "marker.txt"));
}

TEST_F(Win32LaunchBatch, RefusedAndMissingNamesRunNothing) {
  // A batch right beside the launch folder that a crafted name would reach.
  WriteBatch(folder.path() / "evil.bat", "echo ran> ran.txt");
  handler.RunLaunchBatch(u"..\\evil");
  handler.RunLaunchBatch(u"../evil");
  handler.RunLaunchBatch(u"missing");
  // The custom batch is started last; once it has run, anything started
  // before it would have had its chance too.
  WriteBatch(folder.path() / "customvoice.bat", "echo custom> custom.txt");
  handler.RunCustomBatch();
  ASSERT_TRUE(WaitForFile(folder.path() / "custom.txt"));
  Sleep(500);
  EXPECT_FALSE(fs::exists(folder.path() / "ran.txt"));
  ASSERT_EQ(log.lines.size(), 3u);
  EXPECT_EQ(log.lines[0], u"refused launch name: ..\\evil");
  EXPECT_EQ(log.lines[1], u"refused launch name: ../evil");
  EXPECT_EQ(log.lines[2], u"running: " + folder.ProgramFolder() + u"launch\\missing.bat");
}

// An endpoint that records the levels it is asked for.
class TRecordingEndpoint : public IAudioEndpointVolume {
public:
  std::vector<float> levels;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **anObject) override {
    *anObject = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE RegisterControlChangeNotify(IAudioEndpointVolumeCallback *) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnregisterControlChangeNotify(IAudioEndpointVolumeCallback *) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetChannelCount(UINT *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMasterVolumeLevel(float, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMasterVolumeLevelScalar(float aLevel, LPCGUID) override {
    levels.push_back(aLevel);
    return aLevel >= 0.0f && aLevel <= 1.0f ? S_OK : E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE GetMasterVolumeLevel(float *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMasterVolumeLevelScalar(float *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetChannelVolumeLevel(UINT, float, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetChannelVolumeLevelScalar(UINT, float, LPCGUID) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetChannelVolumeLevel(UINT, float *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetChannelVolumeLevelScalar(UINT, float *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMute(BOOL, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMute(BOOL *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetVolumeStepInfo(UINT *, UINT *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE VolumeStepUp(LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE VolumeStepDown(LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryHardwareSupport(DWORD *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetVolumeRange(float *, float *, float *) override { return E_NOTIMPL; }
};

TEST(Win32MasterVolume, PercentBecomesTheScalarLevel) {
  TRecordingEndpoint endpoint;
  for (int percent : {0, 100, 33, 40, 150, -1})
    ApplyMasterVolume(endpoint, percent);
  // 150 and -1 are not asked for at all.
  EXPECT_EQ(endpoint.levels, (std::vector<float>{0.0f, 1.0f, 0.33f, 0.4f}));
}

TEST(Win32MasterVolume, RunsThroughCoreAudioWithOrWithoutADevice) {
  // Under Wine without a sound server there is no default endpoint and
  // nothing happens. Where there is one, the test sets the level it already
  // has, so the machine's volume is left as it was.
  // The volume change initialises COM itself; the test needs it only for
  // reading the current level first.
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  int percent = 40;
  {
    TComRef<IMMDeviceEnumerator> enumerator;
    TComRef<IMMDevice> device;
    TComRef<IAudioEndpointVolume> volume;
    float level = 0;
    if (SUCCEEDED(CoCreateInstance(kCLSID_MMDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                                   kIID_IMMDeviceEnumerator, enumerator.out())) &&
        SUCCEEDED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.put())) &&
        SUCCEEDED(device->Activate(kIID_IAudioEndpointVolume, CLSCTX_INPROC_SERVER, nullptr,
                                   volume.out())) &&
        SUCCEEDED(volume->GetMasterVolumeLevelScalar(&level)))
      percent = static_cast<int>(level * 100.0f + 0.5f);
  }
  CoUninitialize();
  SetMasterVolume(percent);
}

TEST(Win32MasterVolume, InterfaceIdentifiersAreCoreAudios) {
  // The identifiers the bridge asks for must be the platform's own.
  EXPECT_TRUE(IsEqualGUID(kIID_IMMDeviceEnumerator, __uuidof(IMMDeviceEnumerator)));
  EXPECT_TRUE(IsEqualGUID(kIID_IAudioEndpointVolume, __uuidof(IAudioEndpointVolume)));
  EXPECT_TRUE(IsEqualGUID(kCLSID_MMDeviceEnumerator, __uuidof(MMDeviceEnumerator)));
}

} // namespace
} // namespace marquo
