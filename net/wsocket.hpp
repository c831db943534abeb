// TWSocket: a non-blocking IPv4 TCP client connection whose events arrive
// through the event loop of the thread that created it.
//
// Use. Set Addr (host name or dotted IPv4 address) and Port (decimal), call
// Connect, and wait for OnSessionConnected. Write with Send, read with
// ReceiveStrA when OnDataAvailable is raised, end with Close or
// CloseDelayed. The same instance is reused for every later attempt.
//
// Peer settings. A new connection is in wsClosed with Proto "tcp". Addr,
// Port and Proto can be changed only in wsClosed ("Cannot change Addr if
// not closed", and the same for Port and Proto); assigning the value they
// already hold is accepted in any state. Every close of an open socket
// returns Addr and Port to unassigned and Proto to "tcp", so the peer is set
// again before each Connect.
//
// Events, all raised from the loop and never from inside the call that
// caused them, except OnSessionClosed raised by Close itself:
// - OnSessionConnected(Sender, ErrCode): the outcome of Connect. State is
//   wsConnected during the call. With a non-zero code the connection then
//   closes itself and OnSessionClosed(Sender, 0) follows.
// - OnDataAvailable(Sender, ErrCode): bytes are waiting; read them with
//   ReceiveStrA. Raised again while bytes remain after a read.
// - OnSessionClosed(Sender, ErrCode): the connection has ended. Raised once
//   per connection, never while the TWSocket is being destroyed; when the
//   peer or the network ends the connection, the data still waiting is
//   offered through OnDataAvailable first.
// An exception that escapes OnDataAvailable ends that handler's call (the
// connection stays open). One that escapes OnSessionConnected,
// OnSessionClosed or the deferred close aborts the connection: unsent data
// is dropped, the socket closed at once, and OnSessionClosed(Sender, 0)
// raised if it has not been raised for this connection yet. Either way the
// exception is reported to the loop's OnUnhandledException, never dropped
// without a trace. Handlers are called through copies, so a handler may
// reassign the event it runs from.
//
// Errors are Windows Sockets error numbers on every platform (10061
// connection refused, 10060 timed out, 10051 network unreachable, 10065
// host unreachable, 10054 reset by the peer, 10057 not connected); 0 means
// success. Synchronous failures throw ESocketException and raise no event.
//
// A TWSocket must not be destroyed from inside one of its own event
// handlers; CloseDelayed closes it from there, and its owner frees it later.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "loop/event_loop.hpp"
#include "net/socket_backend.hpp"

namespace marquo {

enum class TSocketState {
  wsInvalidState,
  wsOpened,
  wsBound,
  wsConnecting,
  wsSocksConnected,
  wsConnected,
  wsAccepting,
  wsListening,
  wsClosed,
  wsDnsLookup,
};

// Host names resolve to IPv4 addresses; no other family is offered.
enum class TSocketFamily { sfIPv4 };

// A failure of a TWSocket operation. What() is UTF-8 text; ErrorCode() the
// Windows Sockets error number, or 0 for refusals that are not socket
// errors ("Connect: No Port Specified" and the like).
class ESocketException : public std::runtime_error {
public:
  explicit ESocketException(const std::string &aMessage, std::uint16_t anErrorCode = 0)
      : std::runtime_error(aMessage), FErrorCode(anErrorCode) {}
  // The form used for socket errors: description + " (#" + number + " in " +
  // operation + ")".
  static ESocketException FromError(std::uint16_t anErrorCode, const std::string &anOperation);
  std::uint16_t ErrorCode() const { return FErrorCode; }

private:
  std::uint16_t FErrorCode;
};

// A short English description of a Windows Sockets error number.
std::string SocketErrorDesc(std::uint16_t anErrorCode);

class TWSocket {
public:
  using TSessionConnected = std::function<void(TWSocket &Sender, std::uint16_t ErrCode)>;
  using TDataAvailable = std::function<void(TWSocket &Sender, std::uint16_t ErrCode)>;
  using TSessionClosed = std::function<void(TWSocket &Sender, std::uint16_t ErrCode)>;

  // On the system's sockets; aLoop must be the platform's real loop.
  explicit TWSocket(EventLoop &aLoop);
  // On a backend of the caller's (tests); aLoop may then be any loop.
  TWSocket(EventLoop &aLoop, std::unique_ptr<SocketBackend> aBackend);
  ~TWSocket();
  TWSocket(const TWSocket &) = delete;
  TWSocket &operator=(const TWSocket &) = delete;

  const std::u16string &Addr() const { return FAddr; }
  void SetAddr(const std::u16string &aValue);
  const std::u16string &Port() const { return FPort; }
  void SetPort(const std::u16string &aValue);
  const std::u16string &Proto() const { return FProto; }
  void SetProto(const std::u16string &aValue);
  TSocketState State() const { return FState; }
  TSocketFamily SocketFamily() const { return FSocketFamily; }
  void SetSocketFamily(TSocketFamily aValue) { FSocketFamily = aValue; }

  TSessionConnected OnSessionConnected;
  TDataAvailable OnDataAvailable;
  TSessionClosed OnSessionClosed;

  // Starts a connection attempt and returns at once; the outcome arrives as
  // OnSessionConnected. Throws ESocketException when a socket is in use
  // ("Connect: Socket already in use"), when Port, Addr or Proto is not set
  // ("Connect: No Port Specified", "Connect: No IP Address Specified",
  // "Connect: No Protocol Specified"), when the host name cannot be
  // resolved ("connect: Winsock Resolve Host: Cannot convert host address '"
  // + host + "' - " + description), and when the system refuses the socket
  // or the connect at once. A host name lookup blocks the thread.
  void Connect();
  // Queues aLen bytes, hands the system what it takes now and the rest when
  // the socket is writable, in order; returns aLen (0 for aLen <= 0).
  // Outside wsConnected and wsSocksConnected it throws error 10057 in
  // "Send"; a system error throws too.
  int Send(const void *aData, int aLen);
  // The bytes waiting now, or an empty string.
  std::string ReceiveStrA();
  // The local port in decimal in wsBound, wsConnected or wsListening;
  // otherwise "error".
  std::u16string GetXPort();
  // Closes now: with an open socket, ends sending, closes, sets wsClosed
  // and raises OnSessionClosed(Sender, 0) (once per connection); without
  // one only sets wsClosed. Exceptions from the handler reach the caller.
  void Close();
  // Posts a close to the loop; Close runs when the loop dispatches it.
  void CloseDelayed();

  // Bytes queued by Send that the system has not taken yet.
  std::size_t BufferedBytes() const { return FSendBuffer.size() - FSendOffset; }

private:
  void HandleNotice(SocketNotice aNotice, std::uint16_t anErrCode);
  void ConnectCompleted(std::uint16_t anErrCode);
  void DataWaiting(std::uint16_t anErrCode);
  void PeerClosed(std::uint16_t anErrCode);
  void Flush();
  void CloseSocket(std::uint16_t anErrCode, bool aShutdown);
  // Runs aStep; if it throws while connection aSerial is still the current
  // one, the connection is aborted.
  void AbortOnException(std::uint64_t aSerial, const std::function<void()> &aStep);
  void Abort();
  void RaiseClosed(std::uint16_t anErrCode);
  void ForgetPeer();
  bool IsCurrent(std::uint64_t aSerial) const { return aSerial == FSerial && FBackend->IsOpen(); }

  EventLoop &FLoop; // where exceptions from handlers are reported
  std::unique_ptr<SocketBackend> FBackend;
  std::unique_ptr<EventTarget> FTarget; // receives the deferred close

  std::u16string FAddr;
  std::u16string FPort;
  std::u16string FProto = u"tcp";
  bool FAddrAssigned = false;
  bool FPortAssigned = false;
  TSocketState FState = TSocketState::wsClosed;
  TSocketFamily FSocketFamily = TSocketFamily::sfIPv4;

  std::string FSendBuffer;
  std::size_t FSendOffset = 0;
  std::uint64_t FSerial = 0; // counts connections, so late work can tell them apart
  bool FClosedRaised = true; // OnSessionClosed was raised for the current connection
  bool FDestroying = false;
};

} // namespace marquo
