#include "net/fake_socket.hpp"

#include <algorithm>
#include <utility>

#include "net/wsocket.hpp"

namespace marquo {

class FakeSocketBackend final : public SocketBackend {
public:
  FakeSocketBackend(EventLoop &aLoop, std::shared_ptr<FakeSocketScript> aScript)
      : FScript(std::move(aScript)), FTarget(aLoop.CreateTarget(nullptr)) {
    FScript->FBackend = this;
  }
  ~FakeSocketBackend() override {
    if (FScript->FBackend == this)
      FScript->FBackend = nullptr;
  }

  void SetNotify(Notify aNotify) override { FNotify = std::move(aNotify); }

  std::uint16_t Resolve(const std::string &aHost, std::uint32_t &anAddr) override {
    const auto it = FScript->Hosts.find(aHost);
    if (it == FScript->Hosts.end())
      return 11001;
    anAddr = it->second;
    return 0;
  }

  void Open(std::uint32_t anAddr, std::uint16_t aPort) override {
    if (FOpen)
      throw ESocketException::FromError(10056, "Connect");
    if (FScript->OpenError != 0) {
      const std::uint16_t error = FScript->OpenError;
      FScript->OpenError = 0;
      throw ESocketException::FromError(error, "Connect");
    }
    FOpen = true;
    ++FSerial;
    FConnecting = true;
    FInbox.clear();
    FReadEnabled = true;
    FReadPosted = false;
    FWantWrite = false;
    FScript->Shutdowns = false;
    ++FScript->Opens;
    FScript->LastAddr = anAddr;
    FScript->LastPort = static_cast<std::uint16_t>((aPort & 0xFF) << 8 | (aPort >> 8));
    if (FScript->AutoConnect)
      CompleteConnect(FScript->ConnectResult);
  }

  bool IsOpen() const override { return FOpen; }

  std::size_t Send(const char *aData, std::size_t aLen) override {
    if (!FOpen || FConnecting)
      throw ESocketException::FromError(10057, "Send");
    if (const std::uint16_t error = std::exchange(FScript->SendError, 0))
      throw ESocketException::FromError(error, "Send");
    const std::size_t taken = std::min(aLen, FScript->SendRoom);
    FScript->SendRoom -= taken;
    FScript->Sent.append(aData, taken);
    if (taken == 0)
      FWantWrite = true;
    return taken;
  }

  std::size_t Pending() override { return FInbox.size(); }

  std::string Receive(std::size_t aMax) override {
    const std::size_t n = std::min(aMax, FInbox.size());
    std::string data = FInbox.substr(0, n);
    FInbox.erase(0, n);
    FReadEnabled = true;
    PostReadIfWaiting();
    return data;
  }

  std::uint16_t LocalPort() override { return FOpen ? FScript->LocalPort : 0; }
  void Shutdown() override { FScript->Shutdowns = true; }
  void Close() override {
    FOpen = false;
    FInbox.clear();
  }

  void CompleteConnect(std::uint16_t anErrCode) {
    if (!FOpen || !FConnecting)
      return;
    FConnecting = false;
    PostNotice(SocketNotice::Connect, anErrCode);
  }

  void Deliver(const std::string &aBytes) {
    if (!FOpen)
      return;
    FInbox += aBytes;
    PostReadIfWaiting();
  }

  void PeerClose(std::uint16_t anErrCode) {
    if (FOpen)
      PostNotice(SocketNotice::Close, anErrCode);
  }

  void GrantRoom(std::size_t aBytes) {
    FScript->SendRoom += aBytes;
    if (FOpen && FWantWrite) {
      FWantWrite = false;
      PostNotice(SocketNotice::Write, 0);
    }
  }

private:
  void PostReadIfWaiting() {
    if (FInbox.empty() || !FReadEnabled || FReadPosted || FConnecting)
      return;
    FReadPosted = true;
    const std::uint64_t serial = FSerial;
    FTarget->Post([this, serial] {
      if (serial != FSerial || !FOpen)
        return;
      FReadPosted = false;
      if (FInbox.empty())
        return;
      // As with Windows Sockets, the next Read waits for a Receive.
      FReadEnabled = false;
      if (FNotify)
        FNotify(SocketNotice::Read, 0);
    });
  }

  void PostNotice(SocketNotice aNotice, std::uint16_t anErrCode) {
    const std::uint64_t serial = FSerial;
    FTarget->Post([this, serial, aNotice, anErrCode] {
      if (serial != FSerial || !FOpen)
        return;
      if (FNotify)
        FNotify(aNotice, anErrCode);
      if (aNotice == SocketNotice::Connect && anErrCode == 0 && serial == FSerial)
        PostReadIfWaiting();
    });
  }

  std::shared_ptr<FakeSocketScript> FScript;
  std::unique_ptr<EventTarget> FTarget;
  Notify FNotify;
  bool FOpen = false;
  bool FConnecting = false;
  std::uint64_t FSerial = 0;
  std::string FInbox;
  bool FReadEnabled = true;
  bool FReadPosted = false;
  bool FWantWrite = false;
};

bool FakeSocketScript::IsOpen() const { return FBackend && FBackend->IsOpen(); }

void FakeSocketScript::CompleteConnect(std::uint16_t anErrCode) {
  if (FBackend)
    FBackend->CompleteConnect(anErrCode);
}

void FakeSocketScript::Deliver(const std::string &aBytes) {
  if (FBackend)
    FBackend->Deliver(aBytes);
}

void FakeSocketScript::PeerClose(std::uint16_t anErrCode) {
  if (FBackend)
    FBackend->PeerClose(anErrCode);
}

void FakeSocketScript::GrantRoom(std::size_t aBytes) {
  if (FBackend)
    FBackend->GrantRoom(aBytes);
}

std::unique_ptr<SocketBackend> MakeFakeSocketBackend(EventLoop &aLoop,
                                                     std::shared_ptr<FakeSocketScript> aScript) {
  return std::make_unique<FakeSocketBackend>(aLoop, std::move(aScript));
}

} // namespace marquo
