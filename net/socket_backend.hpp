// What TWSocket needs from the system: one non-blocking IPv4 TCP socket at a
// time, and its notifications in the style of Windows Sockets' window
// messages (connect completed, data waiting, writable again, closed).
//
// The system backend comes from CreateSystemSocketBackend (wsocket_win32.cpp
// on Windows Sockets 2, wsocket_posix.cpp on BSD sockets over the poll loop).
// Tests may hand TWSocket a backend of their own, for example a scripted
// peer on the fake loop.
//
// Contract:
// - Every error is a Windows Sockets error number; 0 means success. Calls
//   that fail throw ESocketException (wsocket.hpp) with that number and the
//   operation's name.
// - Notifications are delivered through the Notify callback from the event
//   loop, never from inside a call to the backend. After Close (or after
//   the backend has been destroyed) none is delivered for that socket.
// - Read is raised when bytes are waiting and is raised again only after a
//   Receive; Write is raised after a Send that was refused for lack of room,
//   once the socket can take more; Connect is raised once per Open with
//   the outcome; Close is raised once when the peer or the network ended
//   the connection, with 0 for an orderly close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace marquo {

class EventLoop;

enum class SocketNotice { Connect, Read, Write, Close };

class SocketBackend {
public:
  using Notify = std::function<void(SocketNotice aNotice, std::uint16_t anErrCode)>;

  virtual ~SocketBackend() = default;

  // Where notifications go; set once, before Open.
  virtual void SetNotify(Notify aNotify) = 0;
  // Looks up a host name; returns 0 and the IPv4 address in network byte
  // order, or the resolver's error number. Blocks until the resolver answers.
  virtual std::uint16_t Resolve(const std::string &aHost, std::uint32_t &anAddr) = 0;
  // Creates the socket (zero linger, keep-alive off, Nagle on), asks for
  // notifications and starts a non-blocking connect to anAddr:aPort (both
  // in network byte order). The outcome arrives as a Connect notice; an
  // error the system reports at once throws, for the socket's creation with
  // the operation "Connect (socket)", for the connect with "Connect".
  virtual void Open(std::uint32_t anAddr, std::uint16_t aPort) = 0;
  virtual bool IsOpen() const = 0;
  // Hands up to aLen bytes to the system; returns how many it took, 0 when
  // it has no room now (a Write notice follows). Throws "Send" otherwise.
  virtual std::size_t Send(const char *aData, std::size_t aLen) = 0;
  // How many bytes can be read now.
  virtual std::size_t Pending() = 0;
  // Reads up to aMax bytes; empty when nothing could be read.
  virtual std::string Receive(std::size_t aMax) = 0;
  // The socket's local port, in host byte order; 0 when unknown.
  virtual std::uint16_t LocalPort() = 0;
  // Ends the sending direction (errors are ignored).
  virtual void Shutdown() = 0;
  // Closes the socket at once; unsent data is discarded.
  virtual void Close() = 0;
};

// The platform's backend; it delivers its notifications through aLoop,
// which must be the platform's real loop (CreateEventLoop()).
std::unique_ptr<SocketBackend> CreateSystemSocketBackend(EventLoop &aLoop);

} // namespace marquo
