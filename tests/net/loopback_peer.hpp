// The other end of the connection in the socket tests: a plain blocking
// listener and its accepted connections on 127.0.0.1, made by the test
// itself. Every wait is bounded (5 s), so a fault ends a test instead of
// hanging it. The calls are safe from one helper thread per peer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace marquo::test {

class LoopbackPeer {
public:
  virtual ~LoopbackPeer() = default; // closes
  // Writes all of aData; false on an error.
  virtual bool Write(std::string_view aData) = 0;
  // Up to aMax bytes, waiting for the first; empty at the end of the stream,
  // on an error or on a timeout.
  virtual std::string Read(std::size_t aMax) = 0;
  // The port of the connection's other end (the TWSocket's local port).
  virtual std::uint16_t RemotePort() = 0;
  // Closes in order (FIN).
  virtual void Close() = 0;
  // Closes with a reset (RST), by lingering for zero seconds.
  virtual void Reset() = 0;
};

class LoopbackListener {
public:
  virtual ~LoopbackListener() = default;
  virtual std::uint16_t Port() const = 0;
  // The next connection, or none after 5 s.
  virtual std::unique_ptr<LoopbackPeer> Accept() = 0;
};

// Listens on 127.0.0.1 on a port of the system's choice. A non-zero
// aReceiveBuffer makes the accepted connections' receive buffer that small.
std::unique_ptr<LoopbackListener> Listen(int aReceiveBuffer = 0);

// A loopback port on which nothing listens (it was bound a moment ago and
// has been released).
std::uint16_t UnusedLoopbackPort();

// True when the Windows build runs under Wine, whose sockets differ from
// Windows in a few reported details; always false on POSIX.
bool RunningUnderWine();

} // namespace marquo::test
