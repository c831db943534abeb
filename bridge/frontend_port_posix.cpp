#include "bridge/frontend_port.hpp"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "bridge/fmq_types.hpp"
#include "common/utf.hpp"

namespace marquo {
namespace {

// The control endpoint's path, looked up afresh each time, so a frontend
// started (or a runtime folder set) after the bridge is still found.
std::string ControlEndpointPath() {
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string path = runtime && *runtime ? runtime : "/tmp";
  path += '/';
  path += Utf16ToUtf8(kControlWindowTitle);
  return path;
}

class TDatagramFrontendPort : public TFrontendPort {
public:
  ~TDatagramFrontendPort() override {
    if (FSocket >= 0)
      close(FSocket);
  }

  TControlWindow FindControlWindow() override {
    struct stat info {};
    FPath = ControlEndpointPath();
    // A path too long for a socket address could never be sent to; taking
    // it as found would make every post vanish without a trace.
    if (FPath.size() >= sizeof(sockaddr_un{}.sun_path))
      return kNoControlWindow;
    return stat(FPath.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) ? 1 : kNoControlWindow;
  }

  bool PostSearchText(TControlWindow, int, const std::u16string &aText) override {
    Send(std::to_string(WM_FMQCONTROL) + ' ' + std::to_string(FMQ_REQUEST_SEARCH) + ' ' +
         Utf16ToUtf8(aText));
    return true;
  }

  void PostFunctionCode(TControlWindow, std::int32_t aCode) override {
    Send(std::to_string(WM_FMQCONTROL) + ' ' + std::to_string(FMQ_REQUEST_FUNCTION) + ' ' +
         std::to_string(aCode));
  }

private:
  // Like a posted window message: never blocks, and the outcome is not
  // examined (a frontend that is gone simply misses the datagram).
  void Send(const std::string &aDatagram) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (FPath.empty() || FPath.size() >= sizeof address.sun_path)
      return;
    std::memcpy(address.sun_path, FPath.c_str(), FPath.size() + 1);
    if (FSocket < 0)
      FSocket = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (FSocket < 0)
      return;
    (void)sendto(FSocket, aDatagram.data(), aDatagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr *>(&address), sizeof address);
  }

  int FSocket = -1;
  std::string FPath; // of the last lookup, which the posts that follow it use
};

} // namespace

std::unique_ptr<TFrontendPort> CreateFrontendPort() {
  return std::make_unique<TDatagramFrontendPort>();
}

} // namespace marquo
