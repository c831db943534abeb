// The platform's local actions: the master volume and starting batch files.
#pragma once

#include <memory>
#include <string>

namespace marquo {

// Sets the master volume of the default playback device to aPercent of its
// normal level. Below 0 and above 100 nothing changes; a missing device or
// sound service changes nothing either. Nothing is reported.
// Windows: Core Audio (IAudioEndpointVolume::SetMasterVolumeLevelScalar with
// aPercent / 100), with COM initialised once on the calling thread as a
// single-threaded apartment unless the thread has joined one already.
// POSIX: the default sink of the user's PulseAudio-compatible sound server.
void SetMasterVolume(int aPercent);

class TLocalSystem {
public:
  virtual ~TLocalSystem() = default;

  virtual void SetMasterVolume(int aPercent) = 0;
  // True when a file exists at aPath (a folder does not count; a link counts
  // when its target is a file).
  virtual bool FileExists(const std::u16string &aPath) = 0;
  // Starts the batch file aPath hidden, with aFolder as its working folder,
  // and returns at once: the bridge never waits for a batch file or learns
  // how it ended. Windows: ShellExecuteW "open" with SW_HIDE. POSIX: /bin/sh
  // in a new session, standard input and output on /dev/null, reaped so that
  // no zombie remains.
  virtual void StartHidden(const std::u16string &aPath, const std::u16string &aFolder) = 0;
};

// The platform's real actions.
std::unique_ptr<TLocalSystem> CreateLocalSystem();

} // namespace marquo
