#include "tests/net/loopback_peer.hpp"

// winsock2.h must come before windows.h, which would otherwise bring in
// the old winsock.h.
#include <winsock2.h>

#include <windows.h>

#include <stdexcept>

namespace marquo::test {

namespace {

constexpr int kWaitMs = 5000;

void StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started)
    throw std::runtime_error("WSAStartup failed");
}

bool WaitFor(SOCKET aSocket, bool aWrite) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(aSocket, &set);
  timeval wait{kWaitMs / 1000, (kWaitMs % 1000) * 1000};
  return select(0, aWrite ? nullptr : &set, aWrite ? &set : nullptr, nullptr, &wait) > 0;
}

sockaddr_in Loopback(std::uint16_t aPort) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(aPort);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

class WinPeer final : public LoopbackPeer {
public:
  explicit WinPeer(SOCKET aSocket) : FSocket(aSocket) {}
  ~WinPeer() override { Close(); }

  bool Write(std::string_view aData) override {
    while (!aData.empty()) {
      if (FSocket == INVALID_SOCKET || !WaitFor(FSocket, true))
        return false;
      const int n = send(FSocket, aData.data(), static_cast<int>(aData.size()), 0);
      if (n <= 0)
        return false;
      aData.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  std::string Read(std::size_t aMax) override {
    if (FSocket == INVALID_SOCKET || !WaitFor(FSocket, false))
      return {};
    std::string data(aMax, '\0');
    const int n = recv(FSocket, data.data(), static_cast<int>(aMax), 0);
    data.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return data;
  }

  std::uint16_t RemotePort() override {
    sockaddr_in a{};
    int size = sizeof a;
    getpeername(FSocket, reinterpret_cast<sockaddr *>(&a), &size);
    return ntohs(a.sin_port);
  }

  void Close() override {
    if (FSocket != INVALID_SOCKET)
      closesocket(FSocket);
    FSocket = INVALID_SOCKET;
  }

  void Reset() override {
    const linger noLinger{1, 0};
    setsockopt(FSocket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&noLinger),
               sizeof noLinger);
    Close();
  }

private:
  SOCKET FSocket;
};

class WinListener final : public LoopbackListener {
public:
  explicit WinListener(int aReceiveBuffer) {
    StartWinsock();
    FSocket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (aReceiveBuffer > 0)
      setsockopt(FSocket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char *>(&aReceiveBuffer),
                 sizeof aReceiveBuffer);
    sockaddr_in a = Loopback(0);
    int size = sizeof a;
    if (FSocket == INVALID_SOCKET ||
        bind(FSocket, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(FSocket, 8) != 0 ||
        getsockname(FSocket, reinterpret_cast<sockaddr *>(&a), &size) != 0)
      throw std::runtime_error("cannot listen on 127.0.0.1");
    FPort = ntohs(a.sin_port);
  }
  ~WinListener() override { closesocket(FSocket); }

  std::uint16_t Port() const override { return FPort; }

  std::unique_ptr<LoopbackPeer> Accept() override {
    if (!WaitFor(FSocket, false))
      return nullptr;
    const SOCKET s = accept(FSocket, nullptr, nullptr);
    if (s == INVALID_SOCKET)
      return nullptr;
    return std::make_unique<WinPeer>(s);
  }

private:
  SOCKET FSocket = INVALID_SOCKET;
  std::uint16_t FPort = 0;
};

} // namespace

std::unique_ptr<LoopbackListener> Listen(int aReceiveBuffer) {
  return std::make_unique<WinListener>(aReceiveBuffer);
}

std::uint16_t UnusedLoopbackPort() { return Listen()->Port(); }

bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

} // namespace marquo::test
