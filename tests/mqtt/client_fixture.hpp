// The fixture of the client's tests on the fake loop: the test plays the
// broker behind a scripted connection, so every time is exact and nothing
// sleeps; what the client sends is read back with a separate codec.
#pragma once
#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "loop/fake_event_loop.hpp"
#include "mqtt/mqtt_client.hpp"
#include "net/fake_socket.hpp"
#include "tests/mqtt/mqtt_test_util.hpp"

namespace marquo::test::client {

using namespace std::chrono_literals;
using marquo::FakeEventLoop;
using marquo::FakeSocketScript;
using marquo::TComponent;
using marquo::TMQTTClient;
using marquo::TMQTTParser;
using marquo::TMQTTQOSType;
using marquo::TSocketState;
using marquo::TStringList;
using marquo::Utf16ToUtf8;
using marquo::test::Bytes;
using marquo::test::EventRecorder;

constexpr const char *kConnAckAccepted = "20 02 00 00";

class ClientTest : public ::testing::Test {
protected:
  ClientTest() {
    client.SetHost(u"10.0.0.1");
    client.OnMon = [this](TComponent &, const std::u16string &aStr) {
      Log("mon " + Utf16ToUtf8(aStr));
    };
    client.OnOnline = [this](TComponent &) { Log("online"); };
    client.OnOffline = [this](TComponent &, bool aGraceful) {
      Log(aGraceful ? "offline graceful" : "offline dropped");
    };
    client.OnEnableChange = [this](TComponent &) {
      Log(client.Enabled() ? "enabled" : "disabled");
    };
    client.OnMsg = [this](TComponent &, const std::string &aTopic, const std::string &aMessage,
                          TMQTTQOSType aQos, bool aRetained) {
      Log("msg " + std::to_string(static_cast<int>(aQos)) + " " + std::to_string(aRetained) + " " +
          aTopic + " " + aMessage);
    };
    client.OnFailure = [this](TComponent &, std::int32_t aReason, bool &CloseClient) {
      Log("failure " + std::to_string(aReason));
      CloseClient = closeOnFailure;
    };
    // The broker's view: only the packets, not their header lines.
    broker.OnHeader = nullptr;
  }

  void Log(const std::string &aLine) {
    events.push_back(std::to_string(loop.Now().count()) + " " + aLine);
  }

  // The packets the client has sent since the last call, one line each.
  std::vector<std::string> Sent() {
    recorder.Lines.clear();
    broker.Parse(script->Sent.substr(seen));
    seen = script->Sent.size();
    std::vector<std::string> packets;
    for (const std::string &line : recorder.Lines)
      if (line.rfind("Header", 0) != 0)
        packets.push_back(line);
    return packets;
  }

  // The bytes the client has sent since the last look, as "32 06 00 01".
  std::string SentHex() {
    const std::string bytes = script->Sent.substr(seen);
    seen = script->Sent.size();
    return marquo::test::Hex(bytes);
  }

  // Activates and runs until the CONNECT has gone out (at 100 ms).
  void Connect() {
    client.Activate(true);
    loop.Advance(100ms);
    ASSERT_EQ(script->Opens, 1);
  }
  // Connects and accepts, so the client is online; the events so far and
  // the CONNECT are put aside.
  void GoOnline() {
    Connect();
    script->Deliver(Bytes(kConnAckAccepted));
    loop.RunPending();
    ASSERT_TRUE(client.Online());
    Sent();
    events.clear();
  }

  FakeEventLoop loop;
  std::shared_ptr<FakeSocketScript> script = std::make_shared<FakeSocketScript>();
  TComponent owner{nullptr};
  TMQTTClient &client = marquo::CreateComponent<TMQTTClient>(
      owner, loop, marquo::MakeFakeSocketBackend(loop, script));
  std::vector<std::string> events;
  TMQTTParser broker;
  EventRecorder recorder{broker};
  std::size_t seen = 0;
  bool closeOnFailure = true; // what the failure handler leaves in CloseClient
};

using Lines = std::vector<std::string>;

// A client on a loop and a connection of its own, for the rows of a table.
struct Rig {
  Rig() { client.SetHost(u"10.0.0.1"); }
  FakeEventLoop loop;
  std::shared_ptr<FakeSocketScript> script = std::make_shared<FakeSocketScript>();
  TMQTTClient client{nullptr, loop, marquo::MakeFakeSocketBackend(loop, script)};
};

} // namespace marquo::test::client
