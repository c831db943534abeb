// TWSocket against real loopback peers made by the test, on the platform's
// own loop. Each test records the events in the order they arrive and runs
// the loop until the event it waits for (or a bounded wait runs out).
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net/wsocket.hpp"
#include "tests/net/loopback_peer.hpp"

namespace {

using marquo::ESocketException;
using marquo::TSocketState;
using marquo::TWSocket;
using std::chrono::milliseconds;

constexpr milliseconds kPatience(10000);

std::u16string Decimal(unsigned aValue) {
  const std::string digits = std::to_string(aValue);
  return std::u16string(digits.begin(), digits.end());
}

class WSocketTest : public ::testing::Test {
protected:
  WSocketTest() {
    socket.OnSessionConnected = [this](TWSocket &aSender, std::uint16_t anErr) {
      log.push_back("connected:" + std::to_string(anErr));
      xportWhenConnected = aSender.GetXPort();
      stateWhenConnected = aSender.State();
      if (whenConnected)
        whenConnected();
    };
    socket.OnDataAvailable = [this](TWSocket &aSender, std::uint16_t anErr) {
      const std::string data = aSender.ReceiveStrA();
      received += data;
      log.push_back("data:" + std::to_string(anErr));
      if (whenData)
        whenData();
    };
    socket.OnSessionClosed = [this](TWSocket &, std::uint16_t anErr) {
      log.push_back("closed:" + std::to_string(anErr));
      if (whenClosed)
        whenClosed();
    };
  }

  void ConnectTo(std::uint16_t aPort) {
    socket.SetAddr(u"127.0.0.1");
    socket.SetPort(Decimal(aPort));
    socket.SetProto(u"tcp");
    socket.Connect();
  }

  // Connects to a fresh listener and returns the accepted peer.
  std::unique_ptr<marquo::test::LoopbackPeer> ConnectToPeer(int aReceiveBuffer = 0) {
    listener = marquo::test::Listen(aReceiveBuffer);
    ConnectTo(listener->Port());
    EXPECT_TRUE(RunUntil([&] { return Count("connected:") > 0; }));
    auto peer = listener->Accept();
    EXPECT_NE(peer, nullptr);
    return peer;
  }

  bool RunUntil(const std::function<bool()> &aDone) { return loop->RunUntil(aDone, kPatience); }
  // Lets the loop dispatch whatever is already due, for checks that
  // nothing (more) happens.
  void Settle() {
    loop->RunUntil([] { return false; }, milliseconds(200));
  }

  int Count(const std::string &aPrefix) const {
    int n = 0;
    for (const auto &entry : log)
      n += entry.rfind(aPrefix, 0) == 0 ? 1 : 0;
    return n;
  }

  std::unique_ptr<marquo::EventLoop> loop = marquo::CreateEventLoop();
  std::unique_ptr<marquo::test::LoopbackListener> listener;
  TWSocket socket{*loop};
  std::vector<std::string> log;
  std::string received;
  std::u16string xportWhenConnected;
  TSocketState stateWhenConnected = TSocketState::wsInvalidState;
  std::function<void()> whenConnected, whenData, whenClosed;
};

TEST_F(WSocketTest, ConnectsExchangesBytesAndCloses) {
  EXPECT_EQ(socket.State(), TSocketState::wsClosed);
  auto peer = ConnectToPeer();
  ASSERT_NE(peer, nullptr);
  EXPECT_EQ(log, std::vector<std::string>{"connected:0"});
  EXPECT_EQ(stateWhenConnected, TSocketState::wsConnected);
  EXPECT_EQ(xportWhenConnected, Decimal(peer->RemotePort()));
  EXPECT_EQ(socket.GetXPort(), Decimal(peer->RemotePort()));

  // Binary-safe: an embedded zero and a byte above 127.
  const std::string packet("hello\0broker\xff", 13);
  EXPECT_EQ(socket.Send(packet.data(), static_cast<int>(packet.size())), 13);
  std::string atPeer;
  while (atPeer.size() < packet.size()) {
    const std::string part = peer->Read(64);
    if (part.empty())
      break;
    atPeer += part;
  }
  EXPECT_EQ(atPeer, packet);

  ASSERT_TRUE(peer->Write("from the peer"));
  EXPECT_TRUE(RunUntil([&] { return received == "from the peer"; }));

  socket.Close();
  EXPECT_EQ(log.back(), "closed:0") << "Close raises its event itself";
  EXPECT_EQ(socket.State(), TSocketState::wsClosed);
  EXPECT_EQ(socket.GetXPort(), u"error");
  EXPECT_TRUE(socket.Addr().empty()) << "a close forgets the peer";
  EXPECT_TRUE(socket.Port().empty());
  EXPECT_EQ(socket.Proto(), u"tcp");
  EXPECT_EQ(peer->Read(16), "") << "the peer sees the end of the stream";
}

TEST_F(WSocketTest, RefusedConnectReportsCodeThenCloses) {
  ConnectTo(marquo::test::UnusedLoopbackPort());
  EXPECT_TRUE(log.empty()) << "an event was raised from inside Connect";
  EXPECT_EQ(socket.State(), TSocketState::wsConnecting);
  ASSERT_TRUE(RunUntil([&] { return Count("closed:") > 0; }));
  EXPECT_EQ(log, (std::vector<std::string>{"connected:10061", "closed:0"}));
  EXPECT_EQ(stateWhenConnected, TSocketState::wsConnected);
  EXPECT_EQ(socket.State(), TSocketState::wsClosed);
  Settle();
  EXPECT_EQ(log.size(), 2u);
}

TEST_F(WSocketTest, SynchronousConnectFailuresThrowAndRaiseNoEvent) {
  struct Row {
    const char *name;
    std::u16string addr;
    std::u16string port;
    std::u16string proto;
    std::string message; // exact, or a prefix when it ends in " - "
  };
  const Row rows[] = {
      {"empty address", u"", u"1883", u"tcp", "Connect: No IP Address Specified"},
      {"no port", u"127.0.0.1", u"", u"tcp", "Connect: No Port Specified"},
      {"no protocol", u"127.0.0.1", u"1883", u"", "Connect: No Protocol Specified"},
      {"unresolvable name", u"nosuchhost.invalid", u"1883", u"tcp",
       "connect: Winsock Resolve Host: Cannot convert host address 'nosuchhost.invalid' - "},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    socket.SetAddr(row.addr);
    socket.SetPort(row.port);
    socket.SetProto(row.proto);
    try {
      socket.Connect();
      ADD_FAILURE() << "Connect did not throw";
    } catch (const ESocketException &e) {
      const std::string what = e.what();
      if (row.message.size() > 3 && row.message.compare(row.message.size() - 3, 3, " - ") == 0)
        EXPECT_EQ(what.substr(0, row.message.size()), row.message);
      else
        EXPECT_EQ(what, row.message);
    }
    EXPECT_EQ(socket.State(), TSocketState::wsClosed);
  }
  Settle();
  EXPECT_TRUE(log.empty());
}

TEST_F(WSocketTest, ConnectWhileASocketIsInUseIsRefused) {
  ConnectTo(marquo::test::UnusedLoopbackPort());
  try {
    socket.Connect();
    ADD_FAILURE() << "Connect did not throw";
  } catch (const ESocketException &e) {
    EXPECT_STREQ(e.what(), "Connect: Socket already in use");
  }
  ASSERT_TRUE(RunUntil([&] { return Count("closed:") > 0; }));
  EXPECT_EQ(Count("connected:"), 1);
}

TEST_F(WSocketTest, PeerSettingsChangeOnlyWhenClosed) {
  ConnectTo(marquo::test::UnusedLoopbackPort());
  struct Row {
    const char *name;
    std::function<void()> change;
    const char *message;
  };
  const Row rows[] = {
      {"address", [&] { socket.SetAddr(u"127.0.0.2"); }, "Cannot change Addr if not closed"},
      {"port", [&] { socket.SetPort(u"1"); }, "Cannot change Port if not closed"},
      {"protocol", [&] { socket.SetProto(u"udp"); }, "Cannot change Proto if not closed"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    try {
      row.change();
      ADD_FAILURE() << "no exception";
    } catch (const ESocketException &e) {
      EXPECT_STREQ(e.what(), row.message);
    }
  }
  // The values already held are accepted in any state.
  EXPECT_NO_THROW(socket.SetAddr(u"127.0.0.1"));
  EXPECT_NO_THROW(socket.SetProto(u"tcp"));
  ASSERT_TRUE(RunUntil([&] { return Count("closed:") > 0; }));
  EXPECT_NO_THROW(socket.SetAddr(u"127.0.0.2"));
}

TEST_F(WSocketTest, SendWhenNotConnectedThrows10057) {
  const char byte = 'x';
  for (const bool connecting : {false, true}) {
    SCOPED_TRACE(connecting ? "while connecting" : "before connecting");
    if (connecting)
      ConnectTo(marquo::test::UnusedLoopbackPort());
    try {
      socket.Send(&byte, 1);
      ADD_FAILURE() << "Send did not throw";
    } catch (const ESocketException &e) {
      EXPECT_EQ(e.ErrorCode(), 10057);
      const std::string what = e.what();
      EXPECT_NE(what.find(" (#10057 in Send)"), std::string::npos) << what;
    }
  }
}

TEST_F(WSocketTest, CloseRaisesOneEventPerConnection) {
  auto peer = ConnectToPeer();
  socket.Close();
  socket.Close();
  socket.CloseDelayed();
  Settle();
  EXPECT_EQ(log, (std::vector<std::string>{"connected:0", "closed:0"}));
  EXPECT_EQ(socket.State(), TSocketState::wsClosed);
}

TEST_F(WSocketTest, CloseDelayedClosesFromTheLoop) {
  auto peer = ConnectToPeer();
  socket.CloseDelayed();
  EXPECT_EQ(Count("closed:"), 0) << "CloseDelayed closed inside the call";
  EXPECT_EQ(socket.State(), TSocketState::wsConnected);
  ASSERT_TRUE(RunUntil([&] { return Count("closed:") > 0; }));
  EXPECT_EQ(socket.State(), TSocketState::wsClosed);
}

TEST_F(WSocketTest, CloseDelayedOnAClosedConnectionRaisesNothing) {
  socket.CloseDelayed();
  Settle();
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(socket.State(), TSocketState::wsClosed);
  EXPECT_EQ(socket.GetXPort(), u"error");
}

TEST_F(WSocketTest, PeerCloseOffersUnreadDataBeforeTheClose) {
  struct Row {
    const char *name;
    bool reset;
    std::string expectedClose;
  };
  const Row rows[] = {
      {"orderly close", false, "closed:0"},
      {"reset", true, "closed:10054"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    log.clear();
    received.clear();
    auto peer = ConnectToPeer();
    ASSERT_NE(peer, nullptr);
    // Written and closed before the loop runs again, so the data and the
    // close are both waiting when it does.
    ASSERT_TRUE(peer->Write("last words"));
    if (!row.reset) {
      peer->Close();
    } else {
      // A reset can overtake data the peer has not taken yet; give the
      // bytes time to arrive before the reset is sent.
      ASSERT_TRUE(RunUntil([&] { return received.size() == 10; }));
      peer->Reset();
    }
    ASSERT_TRUE(RunUntil([&] { return Count("closed:") > 0; }));
    EXPECT_EQ(received, "last words");
    // Wine reports a reset's FD_CLOSE without its error code; Windows and
    // POSIX give 10054, so the code is checked everywhere but there.
    if (row.reset && marquo::test::RunningUnderWine())
      EXPECT_EQ(log.back().rfind("closed:", 0), 0u) << log.back();
    else
      EXPECT_EQ(log.back(), row.expectedClose);
    EXPECT_EQ(Count("closed:"), 1);
    EXPECT_EQ(socket.State(), TSocketState::wsClosed);
  }
}

TEST_F(WSocketTest, SameInstanceConnectsAgainAfterAClose) {
  auto first = ConnectToPeer();
  socket.Close();
  log.clear();
  auto second = ConnectToPeer();
  ASSERT_NE(second, nullptr);
  ASSERT_TRUE(second->Write("again"));
  EXPECT_TRUE(RunUntil([&] { return received == "again"; }));
  EXPECT_EQ(log.front(), "connected:0");
}

TEST_F(WSocketTest, ExceptionFromConnectedHandlerAbortsTheConnection) {
  whenConnected = [] { throw std::runtime_error("handler failed"); };
  auto peer = ConnectToPeer();
  ASSERT_TRUE(RunUntil([&] { return Count("closed:") > 0; }));
  EXPECT_EQ(log, (std::vector<std::string>{"connected:0", "closed:0"}));
  EXPECT_EQ(socket.State(), TSocketState::wsClosed);
  ASSERT_NE(peer, nullptr);
  EXPECT_EQ(peer->Read(16), "");
}

TEST_F(WSocketTest, ExceptionFromDataHandlerIsDiscardedAndTheConnectionStays) {
  auto peer = ConnectToPeer();
  whenData = [] { throw std::runtime_error("handler failed"); };
  ASSERT_TRUE(peer->Write("one"));
  ASSERT_TRUE(RunUntil([&] { return received == "one"; }));
  EXPECT_EQ(socket.State(), TSocketState::wsConnected);
  whenData = nullptr;
  ASSERT_TRUE(peer->Write("two"));
  EXPECT_TRUE(RunUntil([&] { return received == "onetwo"; }));
  EXPECT_EQ(Count("closed:"), 0);
}

TEST_F(WSocketTest, ExceptionFromClosedHandlerLeavesOneEvent) {
  whenClosed = [] { throw std::runtime_error("handler failed"); };
  auto peer = ConnectToPeer();
  ASSERT_NE(peer, nullptr);
  peer->Close();
  ASSERT_TRUE(RunUntil([&] { return Count("closed:") > 0; }));
  Settle();
  EXPECT_EQ(Count("closed:"), 1);
  EXPECT_EQ(socket.State(), TSocketState::wsClosed);
}

TEST_F(WSocketTest, DestroyingAnOpenConnectionRaisesNoEvent) {
  auto target = std::make_unique<TWSocket>(*loop);
  int events = 0;
  target->OnSessionClosed = [&](TWSocket &, std::uint16_t) { ++events; };
  target->OnSessionConnected = [&](TWSocket &, std::uint16_t) { ++events; };
  auto local = marquo::test::Listen();
  target->SetAddr(u"127.0.0.1");
  target->SetPort(Decimal(local->Port()));
  target->Connect();
  target->CloseDelayed();
  target.reset();
  Settle();
  EXPECT_EQ(events, 0);
}

// Several megabytes sent at once to a peer that reads slowly, through a
// small receive buffer: most of it waits in the connection's own buffer and
// must still arrive complete and in order.
TEST_F(WSocketTest, MegabytesThroughASlowReaderArriveCompleteAndInOrder) {
  auto peer = ConnectToPeer(16 * 1024);
  ASSERT_NE(peer, nullptr);
  std::string data(6 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>((i * 7 + i / 251) & 0xFF); // no short period
  EXPECT_EQ(socket.Send(data.data(), static_cast<int>(data.size())), static_cast<int>(data.size()));
  EXPECT_GT(socket.BufferedBytes(), 0u) << "the system took everything; nothing was buffered";

  // The reader runs beside the loop; the loop's part is done when the
  // connection's buffer is empty, and the reader ends with the last byte.
  std::string atPeer;
  std::thread reader([&] {
    while (atPeer.size() < data.size()) {
      const std::string part = peer->Read(4096);
      if (part.empty())
        break;
      atPeer += part;
    }
  });
  const bool drained =
      loop->RunUntil([&] { return socket.BufferedBytes() == 0; }, milliseconds(60000));
  reader.join();
  EXPECT_TRUE(drained);
  ASSERT_EQ(atPeer.size(), data.size());
  EXPECT_TRUE(atPeer == data) << "bytes arrived out of order or changed";
}

} // namespace
