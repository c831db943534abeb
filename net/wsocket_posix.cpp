// TWSocket's backend on non-blocking BSD sockets, watched by the poll loop.
//
// poll() reports readiness, not events, so the Windows Sockets
// notifications are rebuilt from it: the first writability (or error) of a
// connecting socket is the connect outcome; readability with bytes waiting
// is Read, and it is reported again only after a Receive, as Windows does;
// readability with nothing waiting (end of stream or an error) is Close;
// writability is watched only after a Send found no room. errno values are
// translated to the Windows Sockets numbers, so callers see the same codes
// on every platform.
#include "net/socket_backend.hpp"
#include "net/wsocket.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <utility>

#include "loop/event_loop_posix.hpp"

namespace marquo {

namespace {

std::uint16_t WinsockError(int anErrno) {
  switch (anErrno) {
  case 0:
    return 0;
  case EINTR:
    return 10004;
  case EBADF:
    return 10009;
  case EACCES:
    return 10013;
  case EPERM:
    return 10013;
  case EFAULT:
    return 10014;
  case EINVAL:
    return 10022;
  case EMFILE:
    return 10024;
  case ENFILE:
    return 10024;
  case EAGAIN:
    return 10035;
  case EINPROGRESS:
    return 10036;
  case EALREADY:
    return 10037;
  case ENOTSOCK:
    return 10038;
  case EDESTADDRREQ:
    return 10039;
  case EMSGSIZE:
    return 10040;
  case EPROTOTYPE:
    return 10041;
  case ENOPROTOOPT:
    return 10042;
  case EPROTONOSUPPORT:
    return 10043;
  case EOPNOTSUPP:
    return 10045;
  case EPFNOSUPPORT:
    return 10046;
  case EAFNOSUPPORT:
    return 10047;
  case EADDRINUSE:
    return 10048;
  case EADDRNOTAVAIL:
    return 10049;
  case ENETDOWN:
    return 10050;
  case ENETUNREACH:
    return 10051;
  case ENETRESET:
    return 10052;
  case ECONNABORTED:
    return 10053;
  case ECONNRESET:
    return 10054;
  case EPIPE:
    return 10054; // the peer is gone; Windows reports a reset
  case ENOBUFS:
    return 10055;
  case ENOMEM:
    return 10055;
  case EISCONN:
    return 10056;
  case ENOTCONN:
    return 10057;
  case ESHUTDOWN:
    return 10058;
  case ETIMEDOUT:
    return 10060;
  case ECONNREFUSED:
    return 10061;
  case EHOSTDOWN:
    return 10064;
  case EHOSTUNREACH:
    return 10065;
  default:
    return 10107; // "System call failure"
  }
}

// Connect errors that Windows would report later, as a connect outcome,
// even when a POSIX system knows them at once (loopback refusals do).
bool IsDeferredConnectError(int anErrno) {
  return anErrno == ECONNREFUSED || anErrno == ENETUNREACH || anErrno == EHOSTUNREACH ||
         anErrno == ETIMEDOUT;
}

class PosixSocket final : public SocketBackend {
public:
  explicit PosixSocket(PollEventLoop &aLoop) : FLoop(aLoop) {}
  ~PosixSocket() override { Close(); }

  void SetNotify(Notify aNotify) override { FNotify = std::move(aNotify); }

  std::uint16_t Resolve(const std::string &aHost, std::uint32_t &anAddr) override {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int status = ::getaddrinfo(aHost.c_str(), nullptr, &hints, &found);
    if (status != 0 || found == nullptr) {
      if (found)
        ::freeaddrinfo(found);
      switch (status) {
      case EAI_AGAIN:
        return 11002;
      case EAI_FAIL:
        return 11003;
      case EAI_NODATA:
        return 11004;
      default:
        return 11001;
      }
    }
    anAddr = reinterpret_cast<const sockaddr_in *>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return 0;
  }

  void Open(std::uint32_t anAddr, std::uint16_t aPort) override {
    if (FFd >= 0)
      throw ESocketException::FromError(10056, "Connect");
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
      throw ESocketException::FromError(WinsockError(errno), "Connect (socket)");
    // A close must not wait for unsent data; keep-alive stays off and
    // Nagle's algorithm on (no TCP_NODELAY).
    const linger noLinger{1, 0};
    const int off = 0;
    if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &off, sizeof off) != 0) {
      const int error = errno;
      ::close(fd);
      throw ESocketException::FromError(WinsockError(error), "Connect (setsockopt)");
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = aPort;
    peer.sin_addr.s_addr = anAddr;
    int connectError = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) != 0) {
      const int error = errno;
      if (IsDeferredConnectError(error)) {
        connectError = error;
      } else if (error != EINPROGRESS && error != EINTR) {
        ::close(fd);
        throw ESocketException::FromError(WinsockError(error), "Connect");
      }
    }
    PollEventLoop::WatchId watch = 0;
    try {
      watch = FLoop.Watch(fd, POLLOUT, [this](short aRevents) { OnReady(aRevents); });
    } catch (...) {
      ::close(fd);
      throw;
    }
    FFd = fd;
    FWatch = watch;
    ++FSerial;
    FConnecting = true;
    FConnectError = connectError;
    FReadEnabled = true;
    FWantWrite = false;
    FFatalError = 0;
    FFailed = false;
  }

  bool IsOpen() const override { return FFd >= 0; }

  std::size_t Send(const char *aData, std::size_t aLen) override {
    if (FFd < 0)
      throw ESocketException::FromError(10057, "Send");
    const ssize_t sent = ::send(FFd, aData, aLen, MSG_NOSIGNAL);
    if (sent >= 0)
      return static_cast<std::size_t>(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      FWantWrite = true;
      UpdateWatch();
      return 0;
    }
    throw ESocketException::FromError(WinsockError(errno), "Send");
  }

  std::size_t Pending() override {
    int waiting = 0;
    if (FFd < 0 || ::ioctl(FFd, FIONREAD, &waiting) != 0 || waiting < 0)
      return 0;
    return static_cast<std::size_t>(waiting);
  }

  std::string Receive(std::size_t aMax) override {
    if (FFd < 0 || aMax == 0)
      return {};
    std::string data(aMax, '\0');
    const ssize_t got = ::recv(FFd, data.data(), aMax, 0);
    // As with Windows Sockets, a read lets the next Read notice through.
    FReadEnabled = true;
    UpdateWatch();
    if (got > 0) {
      data.resize(static_cast<std::size_t>(got));
      return data;
    }
    if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      // The socket error is consumed by this read; kept for the Close
      // notice that the next poll round reports.
      FFatalError = errno;
    }
    return {};
  }

  std::uint16_t LocalPort() override {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (FFd < 0 || ::getsockname(FFd, reinterpret_cast<sockaddr *>(&local), &size) != 0)
      return 0;
    return ntohs(local.sin_port);
  }

  void Shutdown() override {
    if (FFd >= 0)
      ::shutdown(FFd, SHUT_WR);
  }

  void Close() override {
    if (FFd < 0)
      return;
    FLoop.Unwatch(FWatch);
    ::close(FFd);
    FFd = -1;
  }

private:
  int SocketError() {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(FFd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
      return errno;
    return error;
  }

  void UpdateWatch() {
    if (FFd < 0)
      return;
    short events = 0;
    if (FFailed) {
      FLoop.Modify(FWatch, events);
      return;
    }
    if (FConnecting || FWantWrite)
      events |= POLLOUT;
    if (!FConnecting && FReadEnabled)
      events |= POLLIN;
    FLoop.Modify(FWatch, events);
  }

  void Raise(SocketNotice aNotice, std::uint16_t anErrCode) {
    if (FNotify)
      FNotify(aNotice, anErrCode);
  }

  // Every notice may close the socket, or close it and open another, so
  // the serial is checked after each one.
  void OnReady(short aRevents) {
    const std::uint64_t serial = FSerial;
    if (FConnecting) {
      if ((aRevents & (POLLOUT | POLLERR | POLLHUP)) == 0)
        return;
      const int error = FConnectError != 0 ? FConnectError : SocketError();
      FConnecting = false;
      // Nothing more comes from a socket whose connect failed.
      FFailed = error != 0;
      UpdateWatch();
      Raise(SocketNotice::Connect, WinsockError(error));
      return;
    }
    if (FFailed)
      return;
    if ((aRevents & POLLOUT) && FWantWrite) {
      FWantWrite = false;
      UpdateWatch();
      Raise(SocketNotice::Write, 0);
      if (serial != FSerial || FFd < 0)
        return;
    }
    const bool readable = (aRevents & POLLIN) && FReadEnabled;
    // Like Windows Sockets, which reports an orderly close only once the
    // data before it has been read, the end of the stream is seen through
    // POLLIN; a reset or an error comes through whatever is watched.
    const bool broken = (aRevents & (POLLERR | POLLHUP)) != 0;
    if (!readable && !broken)
      return;
    if (!broken && Pending() > 0) {
      FReadEnabled = false;
      UpdateWatch();
      Raise(SocketNotice::Read, 0);
      return;
    }
    // End of stream, or an error: the connection is over. TWSocket offers
    // whatever is still waiting before it reports the close.
    const int error = FFatalError != 0 ? FFatalError : SocketError();
    FFailed = true;
    UpdateWatch();
    Raise(SocketNotice::Close, WinsockError(error));
  }

  PollEventLoop &FLoop;
  Notify FNotify;
  int FFd = -1;
  PollEventLoop::WatchId FWatch = 0;
  std::uint64_t FSerial = 0;
  bool FConnecting = false;
  bool FFailed = false; // the connect failed or the stream ended; waiting for Close
  int FConnectError = 0;
  bool FReadEnabled = true;
  bool FWantWrite = false;
  int FFatalError = 0;
};

} // namespace

std::unique_ptr<SocketBackend> CreateSystemSocketBackend(EventLoop &aLoop) {
  auto *pollLoop = dynamic_cast<PollEventLoop *>(&aLoop);
  if (!pollLoop)
    throw std::logic_error("A system socket needs the platform's event loop (CreateEventLoop)");
  return std::make_unique<PosixSocket>(*pollLoop);
}

} // namespace marquo
