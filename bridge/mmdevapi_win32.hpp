// The Core Audio interfaces the bridge uses to set the master volume, with
// the identifiers it asks for them by.
#pragma once

#include <windows.h>

#include <endpointvolume.h>
#include <mmdeviceapi.h>

namespace marquo {

// class MMDeviceEnumerator
inline constexpr CLSID kCLSID_MMDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
// IMMDeviceEnumerator (GetDefaultAudioEndpoint)
inline constexpr IID kIID_IMMDeviceEnumerator = {
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
// IAudioEndpointVolume (SetMasterVolumeLevelScalar)
inline constexpr IID kIID_IAudioEndpointVolume = {
    0x5CDF2C82, 0x841E, 0x4546, {0x97, 0x22, 0x0C, 0xF7, 0x40, 0x78, 0x22, 0x9A}};

// Holds one reference to a COM interface and releases it.
template <typename T> class TComRef {
public:
  TComRef() = default;
  ~TComRef() {
    if (FPointer)
      FPointer->Release();
  }
  TComRef(const TComRef &) = delete;
  TComRef &operator=(const TComRef &) = delete;

  T *get() const { return FPointer; }
  T *operator->() const { return FPointer; }
  explicit operator bool() const { return FPointer != nullptr; }
  // For the out-parameter of the call that fills it; the holder must be empty.
  void **out() { return reinterpret_cast<void **>(&FPointer); }
  T **put() { return &FPointer; }

private:
  T *FPointer = nullptr;
};

// Applies aPercent to an endpoint's master volume as the level aPercent/100.
// Below 0 and above 100 nothing is asked of the endpoint.
void ApplyMasterVolume(IAudioEndpointVolume &anEndpoint, int aPercent);

} // namespace marquo
