#include "bridge/local_system.hpp"

#include <fcntl.h>
#include <pulse/pulseaudio.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "common/file_system.hpp"
#include "common/utf.hpp"

namespace marquo {
namespace {

// How long the volume change may hold up the (only) thread when the sound
// server is slow or gone.
constexpr auto kSoundServerTimeout = std::chrono::seconds(2);

// A short-lived connection to the user's sound server, run on its own main
// loop until each step is done or the time is up.
class TSoundServer {
public:
  TSoundServer() : FDeadline(std::chrono::steady_clock::now() + kSoundServerTimeout) {
    FLoop = pa_mainloop_new();
    if (!FLoop)
      return;
    FContext = pa_context_new(pa_mainloop_get_api(FLoop), "marquo bridge");
    if (!FContext || pa_context_connect(FContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
      return;
    while (Iterate()) {
      const pa_context_state_t state = pa_context_get_state(FContext);
      if (state == PA_CONTEXT_READY) {
        FReady = true;
        break;
      }
      if (!PA_CONTEXT_IS_GOOD(state))
        break;
    }
  }

  ~TSoundServer() {
    if (FContext) {
      pa_context_disconnect(FContext);
      pa_context_unref(FContext);
    }
    if (FLoop)
      pa_mainloop_free(FLoop);
  }

  TSoundServer(const TSoundServer &) = delete;
  TSoundServer &operator=(const TSoundServer &) = delete;

  pa_context *Context() const { return FReady ? FContext : nullptr; }

  // Runs the loop until anOperation has finished; false when it did not in
  // time.
  bool Wait(pa_operation *anOperation) {
    if (!anOperation)
      return false;
    bool done = false;
    while (Iterate()) {
      if (pa_operation_get_state(anOperation) != PA_OPERATION_RUNNING) {
        done = true;
        break;
      }
    }
    if (!done)
      pa_operation_cancel(anOperation);
    pa_operation_unref(anOperation);
    return done;
  }

private:
  // One round of the loop, waiting at most until the deadline.
  bool Iterate() {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        FDeadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      return false;
    if (pa_mainloop_prepare(FLoop, static_cast<int>(left.count())) < 0)
      return false;
    if (pa_mainloop_poll(FLoop) < 0)
      return false;
    return pa_mainloop_dispatch(FLoop) >= 0;
  }

  std::chrono::steady_clock::time_point FDeadline;
  pa_mainloop *FLoop = nullptr;
  pa_context *FContext = nullptr;
  bool FReady = false;
};

constexpr const char *kDefaultSink = "@DEFAULT_SINK@";

void NoteChannels(pa_context *, const pa_sink_info *anInfo, int anEnd, void *aChannels) {
  if (!anEnd && anInfo)
    *static_cast<std::uint8_t *>(aChannels) = anInfo->channel_map.channels;
}

class TPosixLocalSystem : public TLocalSystem {
public:
  void SetMasterVolume(int aPercent) override { marquo::SetMasterVolume(aPercent); }

  bool FileExists(const std::u16string &aPath) override { return marquo::FileExists(aPath); }

  void StartHidden(const std::u16string &aPath, const std::u16string &aFolder) override {
    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls are made.
    const std::string path = Utf16ToUtf8(aPath);
    const std::string folder = Utf16ToUtf8(aFolder);
    // Two forks: the middle process exits at once and is reaped here, so
    // the batch runs as an orphan that init reaps and no zombie is left
    // behind, without waiting for the batch itself.
    const pid_t middle = fork();
    if (middle < 0)
      return;
    if (middle == 0) {
      if (fork() == 0) {
        setsid();
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
          dup2(null, STDIN_FILENO);
          dup2(null, STDOUT_FILENO);
        }
        // The bridge's own descriptors (sockets, files) are none of the
        // batch file's business.
        syscall(SYS_close_range, 3U, ~0U, 0U);
        if (chdir(folder.c_str()) == 0)
          execl("/bin/sh", "sh", path.c_str(), static_cast<char *>(nullptr));
        _exit(127);
      }
      _exit(0);
    }
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
  }
};

} // namespace

void SetMasterVolume(int aPercent) {
  // Above the normal level the sound server would amplify; that is not
  // what a percentage of the volume means, so nothing changes.
  if (aPercent < 0 || aPercent > 100)
    return;
  TSoundServer server;
  pa_context *context = server.Context();
  if (!context)
    return;
  std::uint8_t channels = 0;
  if (!server.Wait(pa_context_get_sink_info_by_name(context, kDefaultSink, NoteChannels, &channels)) ||
      channels == 0)
    return;
  pa_cvolume volume;
  pa_cvolume_set(&volume, channels,
                 static_cast<pa_volume_t>(static_cast<std::uint64_t>(PA_VOLUME_NORM) *
                                          static_cast<std::uint64_t>(aPercent) / 100));
  server.Wait(pa_context_set_sink_volume_by_name(context, kDefaultSink, &volume, nullptr, nullptr));
}

std::unique_ptr<TLocalSystem> CreateLocalSystem() { return std::make_unique<TPosixLocalSystem>(); }

} // namespace marquo
