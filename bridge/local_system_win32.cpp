#include "bridge/local_system.hpp"

#include <windows.h>

#include <shellapi.h>

#include "bridge/mmdevapi_win32.hpp"
#include "common/file_system.hpp"

namespace marquo {
namespace {

// COM is initialised once on each thread that sets the volume, as a
// single-threaded apartment, and released when the thread ends. A thread
// that already joined an apartment keeps it (CoInitializeEx then reports
// RPC_E_CHANGED_MODE or S_FALSE, and COM is usable either way).
class TComApartment {
public:
  TComApartment() : FInitialised(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~TComApartment() {
    if (FInitialised)
      CoUninitialize();
  }
  TComApartment(const TComApartment &) = delete;
  TComApartment &operator=(const TComApartment &) = delete;

private:
  bool FInitialised;
};

void EnsureComApartment() { thread_local TComApartment apartment; }

const wchar_t *Wide(const std::u16string &aText) {
  return reinterpret_cast<const wchar_t *>(aText.c_str());
}

class TWin32LocalSystem : public TLocalSystem {
public:
  void SetMasterVolume(int aPercent) override { marquo::SetMasterVolume(aPercent); }

  bool FileExists(const std::u16string &aPath) override { return marquo::FileExists(aPath); }

  void StartHidden(const std::u16string &aPath, const std::u16string &aFolder) override {
    // Hidden, so no console window appears on the cabinet's screen; not
    // waited for.
    ShellExecuteW(nullptr, L"open", Wide(aPath), L"", Wide(aFolder), SW_HIDE);
  }
};

} // namespace

void ApplyMasterVolume(IAudioEndpointVolume &anEndpoint, int aPercent) {
  // Levels above 1.0 would be rejected by the endpoint; they are not asked
  // for, so no driver that clamps instead can turn 150 into full volume.
  if (aPercent < 0 || aPercent > 100)
    return;
  anEndpoint.SetMasterVolumeLevelScalar(static_cast<float>(aPercent) / 100.0f, nullptr);
}

void SetMasterVolume(int aPercent) {
  if (aPercent < 0 || aPercent > 100)
    return;
  EnsureComApartment();
  // Each step needs the interface of the one before; a step that yields
  // none ends the attempt, and the volume stays as it was.
  TComRef<IMMDeviceEnumerator> enumerator;
  CoCreateInstance(kCLSID_MMDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                   kIID_IMMDeviceEnumerator, enumerator.out());
  if (!enumerator)
    return;
  TComRef<IMMDevice> device;
  enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.put());
  if (!device)
    return;
  TComRef<IAudioEndpointVolume> volume;
  device->Activate(kIID_IAudioEndpointVolume, CLSCTX_INPROC_SERVER, nullptr, volume.out());
  if (volume)
    ApplyMasterVolume(*volume.get(), aPercent);
}

std::unique_ptr<TLocalSystem> CreateLocalSystem() { return std::make_unique<TWin32LocalSystem>(); }

} // namespace marquo
