// A scripted stand-in for the system's sockets, so code built on TWSocket
// (the MQTT client) can be tested on the fake loop without a network and
// without sleeping.
//
// The test keeps a FakeSocketScript and hands TWSocket a backend made from
// it (MakeFakeSocketBackend). The script says how the next Open goes and
// what the "system" accepts; its actions play the peer. Like the real
// backends, the fake raises its notices from the loop (posted through an
// EventTarget), never from inside the call that caused them, and drops the
// notices of a socket that has been closed since.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>

#include "loop/event_loop.hpp"
#include "net/socket_backend.hpp"

namespace marquo {

class FakeSocketBackend;

class FakeSocketScript {
public:
  // ---- how the system behaves ----
  // Names Resolve knows (IPv4 in network byte order); others give 11001.
  std::map<std::string, std::uint32_t> Hosts;
  // A non-zero error that the next Open throws at once, in "Connect".
  std::uint16_t OpenError = 0;
  // The outcome of each Open, raised as its Connect notice when the loop
  // runs; with AutoConnect false nothing is raised until CompleteConnect.
  std::uint16_t ConnectResult = 0;
  bool AutoConnect = true;
  // How many more bytes the system takes from Send before it has no room.
  std::size_t SendRoom = std::numeric_limits<std::size_t>::max();
  // A non-zero error that the next Send throws, in "Send", as a system
  // whose connection broke under it does.
  std::uint16_t SendError = 0;
  std::uint16_t LocalPort = 50731;

  // ---- what happened ----
  std::string Sent;           // every byte the system took, in order
  int Opens = 0;              // sockets opened
  std::uint32_t LastAddr = 0; // network byte order
  std::uint16_t LastPort = 0; // host byte order
  bool Shutdowns = false;     // Shutdown was called on the last socket
  bool IsOpen() const;

  // ---- the peer ----
  // Raises the pending connect's notice with anErrCode.
  void CompleteConnect(std::uint16_t anErrCode);
  // Bytes arrive; a Read notice follows.
  void Deliver(const std::string &aBytes);
  // The peer or the network ends the connection; a Close notice follows.
  void PeerClose(std::uint16_t anErrCode = 0);
  // The system has room for aBytes more; a Write notice follows when a
  // Send was refused for lack of room.
  void GrantRoom(std::size_t aBytes);

private:
  friend class FakeSocketBackend;
  FakeSocketBackend *FBackend = nullptr;
};

// A backend that follows aScript and raises its notices through aLoop.
std::unique_ptr<SocketBackend> MakeFakeSocketBackend(EventLoop &aLoop,
                                                     std::shared_ptr<FakeSocketScript> aScript);

} // namespace marquo
