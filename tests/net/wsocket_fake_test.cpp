// TWSocket's own rules (send buffering, the order of events, exceptions
// from handlers, stale notifications) on the scripted backend and the fake
// loop, where every step is deterministic.
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "loop/fake_event_loop.hpp"
#include "net/fake_socket.hpp"
#include "net/wsocket.hpp"

namespace {

using marquo::ESocketException;
using marquo::FakeEventLoop;
using marquo::FakeSocketScript;
using marquo::TSocketState;
using marquo::TWSocket;

class FakeWSocketTest : public ::testing::Test {
protected:
  FakeWSocketTest() {
    socket.OnSessionConnected = [this](TWSocket &, std::uint16_t anErr) {
      log.push_back("connected:" + std::to_string(anErr));
    };
    socket.OnDataAvailable = [this](TWSocket &aSender, std::uint16_t) {
      if (readInHandler)
        received += aSender.ReceiveStrA();
      log.push_back("data");
    };
    socket.OnSessionClosed = [this](TWSocket &, std::uint16_t anErr) {
      log.push_back("closed:" + std::to_string(anErr));
      if (throwWhenClosed)
        throw std::runtime_error("handler failed");
    };
  }

  void Connect(const std::u16string &anAddr = u"10.0.0.1", const std::u16string &aPort = u"1883") {
    socket.SetAddr(anAddr);
    socket.SetPort(aPort);
    socket.Connect();
  }
  void ConnectAndRun() {
    Connect();
    loop.RunPending();
    ASSERT_EQ(socket.State(), TSocketState::wsConnected);
  }

  FakeEventLoop loop;
  std::shared_ptr<FakeSocketScript> script = std::make_shared<FakeSocketScript>();
  TWSocket socket{loop, marquo::MakeFakeSocketBackend(loop, script)};
  std::vector<std::string> log;
  std::string received;
  bool readInHandler = true;
  bool throwWhenClosed = false;
};

TEST_F(FakeWSocketTest, RefusedBytesWaitInTheBufferAndLeaveInOrder) {
  ConnectAndRun();
  script->SendRoom = 3;
  EXPECT_EQ(socket.Send("abcdef", 6), 6);
  EXPECT_EQ(script->Sent, "abc");
  EXPECT_EQ(socket.BufferedBytes(), 3u);
  EXPECT_EQ(socket.Send("gh", 2), 2) << "Send must queue behind the waiting bytes";
  EXPECT_EQ(script->Sent, "abc");
  script->GrantRoom(2);
  loop.RunPending();
  EXPECT_EQ(script->Sent, "abcde");
  script->GrantRoom(100);
  loop.RunPending();
  EXPECT_EQ(script->Sent, "abcdefgh");
  EXPECT_EQ(socket.BufferedBytes(), 0u);
}

TEST_F(FakeWSocketTest, CloseDropsTheUnsentBytes) {
  ConnectAndRun();
  script->SendRoom = 0;
  socket.Send("abc", 3);
  socket.Close();
  EXPECT_EQ(socket.BufferedBytes(), 0u);
  EXPECT_TRUE(script->Shutdowns) << "Close ends the sending direction first";
  ConnectAndRun();
  script->GrantRoom(10);
  loop.RunPending();
  EXPECT_EQ(script->Sent, "") << "bytes of an old connection went out on a new one";
}

TEST_F(FakeWSocketTest, DataWaitingAtAPeerCloseComesFirst) {
  ConnectAndRun();
  script->Deliver("tail");
  script->PeerClose(0);
  loop.RunPending();
  EXPECT_EQ(received, "tail");
  EXPECT_EQ(log, (std::vector<std::string>{"connected:0", "data", "closed:0"}));
}

TEST_F(FakeWSocketTest, FailedSendOfWaitingBytesOffersTheDataBeforeTheClose) {
  ConnectAndRun();
  script->SendRoom = 0;
  socket.Send("abc", 3);
  script->SendError = 10054;
  script->GrantRoom(10);
  script->Deliver("tail");
  loop.RunPending();
  EXPECT_EQ(received, "tail");
  EXPECT_EQ(log, (std::vector<std::string>{"connected:0", "data", "closed:10054"}));
}

TEST_F(FakeWSocketTest, DataNotYetAnnouncedIsOfferedAtTheClose) {
  ConnectAndRun();
  readInHandler = false;
  script->Deliver("a"); // announced, not read: no further Read until a read
  loop.RunPending();
  script->Deliver("b");
  loop.RunPending();
  readInHandler = true;
  script->PeerClose(0);
  loop.RunPending();
  EXPECT_EQ(received, "ab");
  EXPECT_EQ(log, (std::vector<std::string>{"connected:0", "data", "data", "closed:0"}));
}

TEST_F(FakeWSocketTest, HandlerThatNeverReadsCannotHoldOffTheClose) {
  readInHandler = false;
  ConnectAndRun();
  script->Deliver("ignored");
  script->PeerClose(10054);
  loop.RunPending();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "closed:10054");
  EXPECT_EQ(socket.State(), TSocketState::wsClosed);
}

TEST_F(FakeWSocketTest, ExceptionInTheDeferredCloseLeavesOneEvent) {
  throwWhenClosed = true;
  ConnectAndRun();
  socket.CloseDelayed();
  socket.CloseDelayed();
  loop.RunPending();
  EXPECT_EQ(log, (std::vector<std::string>{"connected:0", "closed:0"}));
  EXPECT_FALSE(script->IsOpen());
}

// An exception that escapes a handler changes what happens to the
// connection, but is never dropped without a trace: the loop's reporter
// hears of it, from the data event as from the close.
TEST_F(FakeWSocketTest, ExceptionsFromHandlersReachTheLoopsReporter) {
  std::vector<std::string> reported;
  loop.OnUnhandledException = [&](const std::string &aWhat) { reported.push_back(aWhat); };
  ConnectAndRun();
  socket.OnDataAvailable = [](TWSocket &aSender, std::uint16_t) {
    aSender.ReceiveStrA();
    throw std::runtime_error("data handler failed");
  };
  script->Deliver("x");
  loop.RunPending();
  EXPECT_EQ(reported, std::vector<std::string>{"data handler failed"});
  EXPECT_EQ(socket.State(), TSocketState::wsConnected) << "the connection stays open";

  throwWhenClosed = true;
  socket.CloseDelayed();
  loop.RunPending();
  EXPECT_EQ(reported, (std::vector<std::string>{"data handler failed", "handler failed"}));
}

TEST_F(FakeWSocketTest, NoticesOfAnEarlierConnectionDoNotReachALaterOne) {
  ConnectAndRun();
  script->PeerClose(10054); // posted, not yet delivered
  socket.Close();
  Connect();
  loop.RunPending();
  EXPECT_EQ(log, (std::vector<std::string>{"connected:0", "closed:0", "connected:0"}));
  EXPECT_EQ(socket.State(), TSocketState::wsConnected);
}

TEST_F(FakeWSocketTest, SystemErrorAtOpenThrowsAndRaisesNothing) {
  script->OpenError = 10055;
  try {
    Connect();
    ADD_FAILURE() << "Connect did not throw";
  } catch (const ESocketException &e) {
    EXPECT_EQ(e.ErrorCode(), 10055);
    EXPECT_NE(std::string(e.what()).find(" (#10055 in Connect)"), std::string::npos) << e.what();
  }
  loop.RunPending();
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(socket.State(), TSocketState::wsClosed);
}

TEST_F(FakeWSocketTest, AddressAndPortAreReadAsTheSystemNeedsThem) {
  struct Row {
    const char *name;
    std::u16string addr;
    std::u16string port;
    const char *expectedAddr; // dotted bytes reached, or nullptr: Connect throws
    std::uint16_t expectedPort;
  };
  const Row rows[] = {
      {"dotted quad", u"192.168.1.20", u"1883", "192.168.1.20", 1883},
      {"host name from the resolver", u"broker.example", u"8883", "10.9.8.7", 8883},
      {"highest port", u"127.0.0.1", u"65535", "127.0.0.1", 65535},
      {"too few parts is a name, unknown", u"1.2.3", u"1883", nullptr, 0},
      {"part above 255 is a name, unknown", u"256.1.1.1", u"1883", nullptr, 0},
      {"port above 65535", u"127.0.0.1", u"65536", nullptr, 0},
      {"port with a sign", u"127.0.0.1", u"-1", nullptr, 0},
  };
  script->Hosts["broker.example"] = [] {
    const unsigned char bytes[4] = {10, 9, 8, 7};
    std::uint32_t addr;
    std::memcpy(&addr, bytes, 4);
    return addr;
  }();
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    if (!row.expectedAddr) {
      EXPECT_THROW(Connect(row.addr, row.port), ESocketException);
      EXPECT_FALSE(script->IsOpen());
      continue;
    }
    Connect(row.addr, row.port);
    unsigned char bytes[4];
    std::memcpy(bytes, &script->LastAddr, 4);
    const std::string dotted = std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
                               std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
    EXPECT_EQ(dotted, row.expectedAddr);
    EXPECT_EQ(script->LastPort, row.expectedPort);
    socket.Close();
  }
}

TEST_F(FakeWSocketTest, UnknownHostNamesTheResolverError) {
  try {
    Connect(u"nowhere.example");
    ADD_FAILURE() << "Connect did not throw";
  } catch (const ESocketException &e) {
    EXPECT_STREQ(e.what(), "connect: Winsock Resolve Host: Cannot convert host address "
                           "'nowhere.example' - Host not found");
    EXPECT_EQ(e.ErrorCode(), 11001);
  }
}

} // namespace
