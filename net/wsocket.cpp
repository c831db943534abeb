#include "net/wsocket.hpp"

#include <cstring>
#include <utility>

#include "common/utf.hpp"

namespace marquo {

namespace {

constexpr std::uint16_t kNotConnected = 10057; // WSAENOTCONN
// When the system says nothing is waiting, a read still asks for this much.
constexpr std::size_t kMinimumRead = 255;
// Offering the data that waits at a close stops after this many rounds in
// which a handler did not read, so a handler that never reads cannot keep
// the close from happening.
constexpr int kMaxUnreadOffers = 1;

// A strict dotted quad ("a.b.c.d", each 0-255 in decimal), in network byte
// order; anything else is a host name for the resolver.
bool ParseDottedQuad(const std::u16string &aText, std::uint32_t &anAddr) {
  std::uint32_t parts[4] = {};
  int part = 0;
  int digits = 0;
  for (const char16_t c : aText) {
    if (c == u'.') {
      if (digits == 0 || part == 3)
        return false;
      ++part;
      digits = 0;
    } else if (c >= u'0' && c <= u'9') {
      parts[part] = parts[part] * 10 + static_cast<std::uint32_t>(c - u'0');
      if (++digits > 3 || parts[part] > 255)
        return false;
    } else {
      return false;
    }
  }
  if (part != 3 || digits == 0)
    return false;
  // Network byte order is the order of the bytes in memory.
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(parts[0]), static_cast<unsigned char>(parts[1]),
      static_cast<unsigned char>(parts[2]), static_cast<unsigned char>(parts[3])};
  std::memcpy(&anAddr, bytes, sizeof anAddr);
  return true;
}

bool ParsePort(const std::u16string &aText, std::uint16_t &aPort) {
  if (aText.empty() || aText.size() > 5)
    return false;
  std::uint32_t value = 0;
  for (const char16_t c : aText) {
    if (c < u'0' || c > u'9')
      return false;
    value = value * 10 + static_cast<std::uint32_t>(c - u'0');
  }
  if (value > 65535)
    return false;
  aPort = static_cast<std::uint16_t>(value);
  return true;
}

std::uint16_t ToNetworkOrder(std::uint16_t aValue) {
  const unsigned char bytes[2] = {static_cast<unsigned char>(aValue >> 8),
                                  static_cast<unsigned char>(aValue & 0xFF)};
  std::uint16_t result;
  static_assert(sizeof result == sizeof bytes);
  std::memcpy(&result, bytes, sizeof result);
  return result;
}

bool IsTcp(const std::u16string &aProto) {
  if (aProto.size() != 3)
    return false;
  const char16_t *want = u"tcp";
  for (std::size_t i = 0; i < 3; ++i) {
    const char16_t c =
        aProto[i] >= u'A' && aProto[i] <= u'Z' ? aProto[i] + (u'a' - u'A') : aProto[i];
    if (c != want[i])
      return false;
  }
  return true;
}

} // namespace

std::string SocketErrorDesc(std::uint16_t anErrorCode) {
  switch (anErrorCode) {
  case 0:
    return "No Error";
  case 10004:
    return "Interrupted system call";
  case 10009:
    return "Bad file number";
  case 10013:
    return "Permission denied";
  case 10014:
    return "Bad address";
  case 10022:
    return "Invalid argument";
  case 10024:
    return "Too many open files";
  case 10035:
    return "Operation would block";
  case 10036:
    return "Operation now in progress";
  case 10037:
    return "Operation already in progress";
  case 10038:
    return "Socket operation on non-socket";
  case 10039:
    return "Destination address required";
  case 10040:
    return "Message too long";
  case 10041:
    return "Protocol wrong type for socket";
  case 10042:
    return "Protocol not available";
  case 10043:
    return "Protocol not supported";
  case 10044:
    return "Socket type not supported";
  case 10045:
    return "Operation not supported on socket";
  case 10046:
    return "Protocol family not supported";
  case 10047:
    return "Address family not supported by protocol family";
  case 10048:
    return "Address already in use";
  case 10049:
    return "Address not available";
  case 10050:
    return "Network is down";
  case 10051:
    return "Network is unreachable";
  case 10052:
    return "Network dropped connection on reset";
  case 10053:
    return "Connection aborted";
  case 10054:
    return "Connection reset by peer";
  case 10055:
    return "No buffer space available";
  case 10056:
    return "Socket is already connected";
  case 10057:
    return "Socket is not connected";
  case 10058:
    return "Can't send after socket shutdown";
  case 10060:
    return "Connection timed out";
  case 10061:
    return "Connection refused";
  case 10064:
    return "Host is down";
  case 10065:
    return "No route to host";
  case 10093:
    return "Winsock not initialized";
  case 10107:
    return "System call failure";
  case 11001:
    return "Host not found";
  case 11002:
    return "Non-authoritative host not found";
  case 11003:
    return "Non-recoverable error";
  case 11004:
    return "Valid name, no data record of requested type";
  default:
    return "Unknown Error";
  }
}

ESocketException ESocketException::FromError(std::uint16_t anErrorCode,
                                             const std::string &anOperation) {
  return ESocketException(SocketErrorDesc(anErrorCode) + " (#" + std::to_string(anErrorCode) +
                              " in " + anOperation + ")",
                          anErrorCode);
}

TWSocket::TWSocket(EventLoop &aLoop) : TWSocket(aLoop, CreateSystemSocketBackend(aLoop)) {}

TWSocket::TWSocket(EventLoop &aLoop, std::unique_ptr<SocketBackend> aBackend)
    : FLoop(aLoop), FBackend(std::move(aBackend)), FTarget(aLoop.CreateTarget(nullptr)) {
  FBackend->SetNotify(
      [this](SocketNotice aNotice, std::uint16_t anErrCode) { HandleNotice(aNotice, anErrCode); });
}

TWSocket::~TWSocket() {
  FDestroying = true;
  if (FBackend->IsOpen())
    FBackend->Close();
}

void TWSocket::SetAddr(const std::u16string &aValue) {
  if (FAddrAssigned && aValue == FAddr)
    return;
  if (FState != TSocketState::wsClosed)
    throw ESocketException("Cannot change Addr if not closed");
  FAddr = aValue;
  FAddrAssigned = true;
}

void TWSocket::SetPort(const std::u16string &aValue) {
  if (FPortAssigned && aValue == FPort)
    return;
  if (FState != TSocketState::wsClosed)
    throw ESocketException("Cannot change Port if not closed");
  FPort = aValue;
  FPortAssigned = true;
}

void TWSocket::SetProto(const std::u16string &aValue) {
  if (aValue == FProto)
    return;
  if (FState != TSocketState::wsClosed)
    throw ESocketException("Cannot change Proto if not closed");
  FProto = aValue;
}

void TWSocket::Connect() {
  if (FState != TSocketState::wsClosed || FBackend->IsOpen())
    throw ESocketException("Connect: Socket already in use");
  if (!FPortAssigned || FPort.empty())
    throw ESocketException("Connect: No Port Specified");
  if (!FAddrAssigned || FAddr.empty())
    throw ESocketException("Connect: No IP Address Specified");
  if (FProto.empty())
    throw ESocketException("Connect: No Protocol Specified");
  if (!IsTcp(FProto))
    throw ESocketException("Connect: Unsupported protocol '" + Utf16ToUtf8(FProto) + "'");
  std::uint16_t port = 0;
  if (!ParsePort(FPort, port))
    throw ESocketException("Connect: Cannot convert port '" + Utf16ToUtf8(FPort) + "'");

  std::uint32_t addr = 0;
  if (!ParseDottedQuad(FAddr, addr)) {
    const std::string host = Utf16ToUtf8(FAddr);
    if (const std::uint16_t error = FBackend->Resolve(host, addr); error != 0) {
      throw ESocketException("connect: Winsock Resolve Host: Cannot convert host address '" + host +
                                 "' - " + SocketErrorDesc(error),
                             error);
    }
  }

  FBackend->Open(addr, ToNetworkOrder(port));
  ++FSerial;
  FClosedRaised = false;
  FSendBuffer.clear();
  FSendOffset = 0;
  FState = TSocketState::wsConnecting;
}

int TWSocket::Send(const void *aData, int aLen) {
  if (FState != TSocketState::wsConnected && FState != TSocketState::wsSocksConnected)
    throw ESocketException::FromError(kNotConnected, "Send");
  if (aLen <= 0 || aData == nullptr)
    return 0;
  FSendBuffer.append(static_cast<const char *>(aData), static_cast<std::size_t>(aLen));
  Flush();
  return aLen;
}

void TWSocket::Flush() {
  while (FSendOffset < FSendBuffer.size() && FBackend->IsOpen()) {
    const std::size_t taken =
        FBackend->Send(FSendBuffer.data() + FSendOffset, FSendBuffer.size() - FSendOffset);
    if (taken == 0)
      break; // the backend raises Write when there is room again
    FSendOffset += taken;
  }
  if (FSendOffset == FSendBuffer.size()) {
    FSendBuffer.clear();
    FSendOffset = 0;
  } else if (FSendOffset > FSendBuffer.size() / 2) {
    // Keeps the buffer from growing without bound while a slow peer reads.
    FSendBuffer.erase(0, FSendOffset);
    FSendOffset = 0;
  }
}

std::string TWSocket::ReceiveStrA() {
  if (!FBackend->IsOpen())
    return {};
  std::size_t waiting = FBackend->Pending();
  if (waiting == 0)
    waiting = kMinimumRead;
  return FBackend->Receive(waiting);
}

std::u16string TWSocket::GetXPort() {
  if ((FState == TSocketState::wsBound || FState == TSocketState::wsConnected ||
       FState == TSocketState::wsListening) &&
      FBackend->IsOpen()) {
    const std::string digits = std::to_string(FBackend->LocalPort());
    return std::u16string(digits.begin(), digits.end());
  }
  return u"error";
}

void TWSocket::Close() { CloseSocket(0, true); }

void TWSocket::CloseDelayed() {
  FTarget->Post([this] {
    const std::uint64_t serial = FSerial;
    AbortOnException(serial, [this] { Close(); });
  });
}

void TWSocket::ForgetPeer() {
  FAddr.clear();
  FAddrAssigned = false;
  FPort.clear();
  FPortAssigned = false;
  FProto = u"tcp";
}

void TWSocket::RaiseClosed(std::uint16_t anErrCode) {
  if (FClosedRaised || FDestroying)
    return;
  FClosedRaised = true;
  if (const TSessionClosed handler = OnSessionClosed)
    handler(*this, anErrCode);
}

void TWSocket::CloseSocket(std::uint16_t anErrCode, bool aShutdown) {
  if (!FBackend->IsOpen()) {
    FState = TSocketState::wsClosed;
    return;
  }
  FSendBuffer.clear();
  FSendOffset = 0;
  if (aShutdown)
    FBackend->Shutdown();
  FBackend->Close();
  FState = TSocketState::wsClosed;
  ForgetPeer();
  RaiseClosed(anErrCode);
}

void TWSocket::Abort() {
  FSendBuffer.clear();
  FSendOffset = 0;
  if (FBackend->IsOpen()) {
    FBackend->Close();
    ForgetPeer();
  }
  FState = TSocketState::wsClosed;
  try {
    RaiseClosed(0);
  } catch (...) {
    // The connection is gone already; a second failure changes nothing
    // here, but it is still told.
    FLoop.Report(std::current_exception());
  }
}

void TWSocket::AbortOnException(std::uint64_t aSerial, const std::function<void()> &aStep) {
  try {
    aStep();
  } catch (...) {
    FLoop.Report(std::current_exception());
    if (aSerial == FSerial)
      Abort();
  }
}

void TWSocket::HandleNotice(SocketNotice aNotice, std::uint16_t anErrCode) {
  // This is called from the loop; nothing may escape into it.
  try {
    switch (aNotice) {
    case SocketNotice::Connect:
      ConnectCompleted(anErrCode);
      break;
    case SocketNotice::Read:
      DataWaiting(anErrCode);
      break;
    case SocketNotice::Write:
      if (FState == TSocketState::wsConnected) {
        try {
          Flush();
        } catch (const ESocketException &e) {
          // Nobody called for this send, so the failure ends the connection,
          // as a close by the peer does: what arrived before it is offered
          // first.
          PeerClosed(e.ErrorCode());
        }
      }
      break;
    case SocketNotice::Close:
      PeerClosed(anErrCode);
      break;
    }
  } catch (...) {
    // Only bookkeeping can get here (every handler call is guarded above);
    // the connection is left as it is.
    FLoop.Report(std::current_exception());
  }
}

void TWSocket::ConnectCompleted(std::uint16_t anErrCode) {
  if (FState != TSocketState::wsConnecting)
    return;
  const std::uint64_t serial = FSerial;
  FState = TSocketState::wsConnected;
  AbortOnException(serial, [&] {
    if (const TSessionConnected handler = OnSessionConnected)
      handler(*this, anErrCode);
  });
  if (!IsCurrent(serial))
    return;
  if (anErrCode != 0) {
    AbortOnException(serial, [&] { CloseSocket(0, false); });
    return;
  }
  try {
    Flush();
  } catch (const ESocketException &e) {
    PeerClosed(e.ErrorCode());
  }
}

void TWSocket::DataWaiting(std::uint16_t anErrCode) {
  if (!FBackend->IsOpen() || FState != TSocketState::wsConnected)
    return;
  try {
    if (const TDataAvailable handler = OnDataAvailable)
      handler(*this, anErrCode);
  } catch (...) {
    // The connection stays open; the failure goes to the loop's reporter.
    FLoop.Report(std::current_exception());
  }
}

void TWSocket::PeerClosed(std::uint16_t anErrCode) {
  if (!FBackend->IsOpen())
    return;
  const std::uint64_t serial = FSerial;
  // What is still waiting is offered before the close, for as long as the
  // handler keeps reading.
  int unreadOffers = 0;
  while (IsCurrent(serial) && FState == TSocketState::wsConnected && OnDataAvailable) {
    const std::size_t waiting = FBackend->Pending();
    if (waiting == 0)
      break;
    DataWaiting(0);
    if (IsCurrent(serial) && FBackend->Pending() >= waiting && ++unreadOffers >= kMaxUnreadOffers)
      break;
  }
  if (!IsCurrent(serial))
    return;
  AbortOnException(serial, [&] { CloseSocket(anErrCode, false); });
}

} // namespace marquo
