#include "tests/net/loopback_peer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace marquo::test {

namespace {

constexpr int kWaitMs = 5000;

bool WaitFor(int aFd, short anEvents) {
  pollfd p{aFd, anEvents, 0};
  return ::poll(&p, 1, kWaitMs) > 0;
}

sockaddr_in Loopback(std::uint16_t aPort) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(aPort);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

class PosixPeer final : public LoopbackPeer {
public:
  explicit PosixPeer(int aFd) : FFd(aFd) {}
  ~PosixPeer() override { Close(); }

  bool Write(std::string_view aData) override {
    while (!aData.empty()) {
      if (FFd < 0 || !WaitFor(FFd, POLLOUT))
        return false;
      const ssize_t n = ::send(FFd, aData.data(), aData.size(), MSG_NOSIGNAL);
      if (n <= 0)
        return false;
      aData.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  std::string Read(std::size_t aMax) override {
    if (FFd < 0 || !WaitFor(FFd, POLLIN))
      return {};
    std::string data(aMax, '\0');
    const ssize_t n = ::recv(FFd, data.data(), aMax, 0);
    data.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return data;
  }

  std::uint16_t RemotePort() override {
    sockaddr_in a{};
    socklen_t size = sizeof a;
    ::getpeername(FFd, reinterpret_cast<sockaddr *>(&a), &size);
    return ntohs(a.sin_port);
  }

  void Close() override {
    if (FFd >= 0)
      ::close(FFd);
    FFd = -1;
  }

  void Reset() override {
    const linger noLinger{1, 0};
    ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
    Close();
  }

private:
  int FFd;
};

class PosixListener final : public LoopbackListener {
public:
  explicit PosixListener(int aReceiveBuffer) {
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (aReceiveBuffer > 0)
      ::setsockopt(FFd, SOL_SOCKET, SO_RCVBUF, &aReceiveBuffer, sizeof aReceiveBuffer);
    sockaddr_in a = Loopback(0);
    socklen_t size = sizeof a;
    if (FFd < 0 || ::bind(FFd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        ::listen(FFd, 8) != 0 || ::getsockname(FFd, reinterpret_cast<sockaddr *>(&a), &size) != 0)
      throw std::runtime_error("cannot listen on 127.0.0.1");
    FPort = ntohs(a.sin_port);
  }
  ~PosixListener() override { ::close(FFd); }

  std::uint16_t Port() const override { return FPort; }

  std::unique_ptr<LoopbackPeer> Accept() override {
    if (!WaitFor(FFd, POLLIN))
      return nullptr;
    const int fd = ::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
      return nullptr;
    return std::make_unique<PosixPeer>(fd);
  }

private:
  int FFd = -1;
  std::uint16_t FPort = 0;
};

} // namespace

std::unique_ptr<LoopbackListener> Listen(int aReceiveBuffer) {
  return std::make_unique<PosixListener>(aReceiveBuffer);
}

std::uint16_t UnusedLoopbackPort() { return Listen()->Port(); }

bool RunningUnderWine() { return false; }

} // namespace marquo::test
