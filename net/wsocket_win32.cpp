// TWSocket's backend on Windows Sockets 2. Each open socket has its own
// hidden message-only window, made by Open and destroyed by Close, to which
// WSAAsyncSelect sends FD_CONNECT, FD_READ, FD_WRITE and FD_CLOSE. Because a
// destroyed window's queued messages are discarded with it, a notification
// for an old socket can never reach a newer one, even when the system hands
// out the same socket handle again.
#include "net/socket_backend.hpp"
#include "net/wsocket.hpp"

// winsock2.h must come before windows.h, which would otherwise bring in
// the old winsock.h.
#include <winsock2.h>

#include <windows.h>

#include <cstring>
#include <stdexcept>
#include <utility>

namespace marquo {

namespace {

constexpr UINT kSocketMessage = WM_APP + 2;
constexpr wchar_t kSocketClass[] = L"MarquoSocketWindow";

std::uint16_t LastError() { return static_cast<std::uint16_t>(WSAGetLastError()); }

void StartWinsock() {
  // Once per process; the library stays loaded until the process ends.
  static const int status = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (status != 0)
    throw ESocketException::FromError(static_cast<std::uint16_t>(status), "WSAStartup");
}

LRESULT CALLBACK SocketProc(HWND aWnd, UINT aMsg, WPARAM aWParam, LPARAM aLParam);

void RegisterSocketClass() {
  static const bool registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = SocketProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kSocketClass;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  if (!registered)
    throw std::runtime_error("RegisterClassExW failed for the socket window class");
}

class WinSocket final : public SocketBackend {
public:
  ~WinSocket() override { Close(); }

  void SetNotify(Notify aNotify) override { FNotify = std::move(aNotify); }

  std::uint16_t Resolve(const std::string &aHost, std::uint32_t &anAddr) override {
    StartWinsock();
    const hostent *host = gethostbyname(aHost.c_str());
    if (!host || host->h_addrtype != AF_INET || !host->h_addr_list || !host->h_addr_list[0]) {
      const std::uint16_t error = LastError();
      return error != 0 ? error : 11001;
    }
    std::memcpy(&anAddr, host->h_addr_list[0], sizeof anAddr);
    return 0;
  }

  void Open(std::uint32_t anAddr, std::uint16_t aPort) override {
    if (FSocket != INVALID_SOCKET)
      throw ESocketException::FromError(WSAEISCONN, "Connect");
    StartWinsock();
    RegisterSocketClass();
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
      throw ESocketException::FromError(LastError(), "Connect (socket)");
    // A close must not wait for unsent data; keep-alive stays off and
    // Nagle's algorithm on (no TCP_NODELAY).
    const linger noLinger{1, 0};
    const BOOL off = FALSE;
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&noLinger),
               sizeof noLinger);
    setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char *>(&off), sizeof off);

    const HWND wnd = CreateWindowExW(0, kSocketClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
    if (!wnd) {
      closesocket(s);
      throw std::runtime_error("CreateWindowExW failed for a socket window");
    }
    SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    // Makes the socket non-blocking, too.
    if (WSAAsyncSelect(s, wnd, kSocketMessage, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE) != 0) {
      const std::uint16_t error = LastError();
      closesocket(s);
      DestroyWindow(wnd);
      throw ESocketException::FromError(error, "Connect (WSAAsyncSelect)");
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = aPort;
    peer.sin_addr.s_addr = anAddr;
    if (connect(s, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) != 0) {
      const std::uint16_t error = LastError();
      if (error != WSAEWOULDBLOCK) {
        closesocket(s);
        DestroyWindow(wnd);
        throw ESocketException::FromError(error, "Connect");
      }
    }
    FSocket = s;
    FWnd = wnd;
  }

  bool IsOpen() const override { return FSocket != INVALID_SOCKET; }

  std::size_t Send(const char *aData, std::size_t aLen) override {
    if (FSocket == INVALID_SOCKET)
      throw ESocketException::FromError(WSAENOTCONN, "Send");
    const int chunk = aLen > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(aLen);
    const int sent = send(FSocket, aData, chunk, 0);
    if (sent != SOCKET_ERROR)
      return static_cast<std::size_t>(sent);
    const std::uint16_t error = LastError();
    if (error == WSAEWOULDBLOCK)
      return 0; // FD_WRITE follows when there is room
    throw ESocketException::FromError(error, "Send");
  }

  std::size_t Pending() override {
    u_long waiting = 0;
    if (FSocket == INVALID_SOCKET || ioctlsocket(FSocket, FIONREAD, &waiting) != 0)
      return 0;
    return waiting;
  }

  std::string Receive(std::size_t aMax) override {
    if (FSocket == INVALID_SOCKET || aMax == 0)
      return {};
    const int chunk = aMax > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(aMax);
    std::string data(static_cast<std::size_t>(chunk), '\0');
    const int got = recv(FSocket, data.data(), chunk, 0);
    if (got <= 0)
      return {};
    data.resize(static_cast<std::size_t>(got));
    return data;
  }

  std::uint16_t LocalPort() override {
    sockaddr_in local{};
    int size = sizeof local;
    if (FSocket == INVALID_SOCKET ||
        getsockname(FSocket, reinterpret_cast<sockaddr *>(&local), &size) != 0)
      return 0;
    return ntohs(local.sin_port);
  }

  void Shutdown() override {
    if (FSocket != INVALID_SOCKET)
      shutdown(FSocket, SD_SEND);
  }

  void Close() override {
    if (FSocket == INVALID_SOCKET)
      return;
    closesocket(FSocket);
    FSocket = INVALID_SOCKET;
    // Its queued notifications go with it.
    SetWindowLongPtrW(FWnd, GWLP_USERDATA, 0);
    DestroyWindow(FWnd);
    FWnd = nullptr;
  }

  void OnMessage(WPARAM aSocket, LPARAM aLParam) {
    if (static_cast<SOCKET>(aSocket) != FSocket || !FNotify)
      return;
    const std::uint16_t error = WSAGETSELECTERROR(aLParam);
    switch (WSAGETSELECTEVENT(aLParam)) {
    case FD_CONNECT:
      FNotify(SocketNotice::Connect, error);
      break;
    case FD_READ:
      FNotify(SocketNotice::Read, error);
      break;
    case FD_WRITE:
      FNotify(SocketNotice::Write, error);
      break;
    case FD_CLOSE:
      FNotify(SocketNotice::Close, error);
      break;
    default:
      break;
    }
  }

private:
  Notify FNotify;
  SOCKET FSocket = INVALID_SOCKET;
  HWND FWnd = nullptr;
};

LRESULT CALLBACK SocketProc(HWND aWnd, UINT aMsg, WPARAM aWParam, LPARAM aLParam) {
  if (aMsg == kSocketMessage) {
    // No exception may unwind into the system. TWSocket guards its own
    // handlers; this is the last line.
    try {
      if (auto *socket = reinterpret_cast<WinSocket *>(GetWindowLongPtrW(aWnd, GWLP_USERDATA)))
        socket->OnMessage(aWParam, aLParam);
    } catch (...) {
    }
    return 0;
  }
  return DefWindowProcW(aWnd, aMsg, aWParam, aLParam);
}

} // namespace

std::unique_ptr<SocketBackend> CreateSystemSocketBackend(EventLoop &) {
  return std::make_unique<WinSocket>();
}

} // namespace marquo
