// marquo-probe mqtt: the program's own MQTT client on the command line, the
// way one tries a broker with the broker's own tools. It prints one line per
// event as it happens and ends after a number of messages, a number of
// seconds or a stop signal, saying goodbye to the broker first.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/utf.hpp"
#include "loop/event_loop.hpp"
#include "mqtt/mqtt_client.hpp"
#include "tools/probe_commands.hpp"
#include "tools/probe_stop.hpp"
#include "tools/probe_text.hpp"

namespace marquo {
namespace {

using namespace std::chrono_literals;

struct TPublication {
  std::string Topic;
  std::string Message;
  TMQTTQOSType Qos = TMQTTQOSType::qtAT_MOST_ONCE;
  bool Retain = false;
};

struct TMqttOptions {
  std::u16string Host = u"127.0.0.1";
  std::int32_t Port = 1883;
  std::string User;
  std::string Password;
  std::string ClientID;
  std::uint16_t KeepAlive = 10;
  bool Clean = true;
  std::optional<TPublication> Will;
  std::vector<std::pair<std::string, TMQTTQOSType>> Subscriptions;
  std::vector<TPublication> Publications;
  std::optional<std::uint64_t> Count;
  std::optional<std::uint64_t> Seconds;
};

// A decimal number from aMin to aMax, nothing else.
std::optional<std::uint64_t> Number(const std::u16string &aText, std::uint64_t aMin,
                                    std::uint64_t aMax) {
  if (aText.empty() || aText.size() > 19)
    return std::nullopt;
  std::uint64_t value = 0;
  for (const char16_t c : aText) {
    if (c < u'0' || c > u'9')
      return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - u'0');
  }
  if (value < aMin || value > aMax)
    return std::nullopt;
  return value;
}

constexpr std::uint64_t kHighestQos = 2;

std::optional<TMqttOptions> ParseOptions(const ProbeArgs &anArgs) {
  TMqttOptions options;
  std::size_t i = 0;
  // The next n arguments of the current option, or false when they are
  // missing.
  const auto take = [&](std::size_t n) { return i + n < anArgs.size(); };
  for (; i < anArgs.size(); ++i) {
    const std::u16string &option = anArgs[i];
    if (option == u"--host" && take(1)) {
      options.Host = anArgs[++i];
    } else if (option == u"--port" && take(1)) {
      const auto port = Number(anArgs[++i], 1, 65535);
      if (!port)
        return std::nullopt;
      options.Port = static_cast<std::int32_t>(*port);
    } else if (option == u"--user" && take(1)) {
      options.User = Utf16ToUtf8(anArgs[++i]);
    } else if (option == u"--password" && take(1)) {
      options.Password = Utf16ToUtf8(anArgs[++i]);
    } else if (option == u"--id" && take(1)) {
      options.ClientID = Utf16ToUtf8(anArgs[++i]);
    } else if (option == u"--keepalive" && take(1)) {
      const auto seconds = Number(anArgs[++i], 0, 65535);
      if (!seconds)
        return std::nullopt;
      options.KeepAlive = static_cast<std::uint16_t>(*seconds);
    } else if (option == u"--no-clean") {
      options.Clean = false;
    } else if ((option == u"--will" || option == u"--pub") && take(4)) {
      const auto qos = Number(anArgs[i + 3], 0, kHighestQos);
      const auto retain = Number(anArgs[i + 4], 0, 1);
      if (!qos || !retain)
        return std::nullopt;
      TPublication publication{Utf16ToUtf8(anArgs[i + 1]), Utf16ToUtf8(anArgs[i + 2]),
                               static_cast<TMQTTQOSType>(*qos), *retain == 1};
      if (publication.Topic.empty())
        return std::nullopt;
      if (option == u"--will")
        options.Will = std::move(publication);
      else
        options.Publications.push_back(std::move(publication));
      i += 4;
    } else if (option == u"--sub" && take(2)) {
      const auto qos = Number(anArgs[i + 2], 0, kHighestQos);
      if (!qos || anArgs[i + 1].empty())
        return std::nullopt;
      options.Subscriptions.emplace_back(Utf16ToUtf8(anArgs[i + 1]),
                                         static_cast<TMQTTQOSType>(*qos));
      i += 2;
    } else if (option == u"--count" && take(1)) {
      options.Count = Number(anArgs[++i], 1, UINT64_MAX / 2);
      if (!options.Count)
        return std::nullopt;
    } else if (option == u"--seconds" && take(1)) {
      options.Seconds = Number(anArgs[++i], 0, 100'000'000);
      if (!options.Seconds)
        return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  return options;
}

enum : unsigned { kStopCheckTimer = 1, kDeadlineTimer = 2 };
// How often a stop signal is looked for, and how long the goodbye to the
// broker may take before the probe ends anyway.
constexpr LoopDuration kStopCheck = 100ms;
constexpr LoopDuration kGoodbyeLimit = 5s;

} // namespace

int ProbeMqtt(const ProbeArgs &anArgs, ProbeOutput &anOutput) {
  const std::optional<TMqttOptions> parsed = ParseOptions(anArgs);
  if (!parsed)
    return kProbeBadArguments;
  const TMqttOptions &options = *parsed;

  const auto line = [&anOutput](const std::string &aLine) { WriteProbeLine(anOutput, aLine); };

  const std::unique_ptr<EventLoop> loop = CreateEventLoop();
  loop->OnUnhandledException = [&](const std::string &aWhat) {
    line("error " + EscapeLineBytes(aWhat));
  };
  TComponent owner(nullptr);
  TMQTTClient &client = CreateComponent<TMQTTClient>(owner, *loop);
  client.SetHost(options.Host);
  client.SetPort(options.Port);
  client.SetUsername(options.User);
  client.SetPassword(options.Password);
  client.SetClientID(options.ClientID);
  client.SetKeepAlive(options.KeepAlive);
  client.SetClean(options.Clean);
  if (options.Will)
    client.SetWill(options.Will->Topic, options.Will->Message, options.Will->Qos,
                   options.Will->Retain);

  bool stopping = false;
  bool published = false;
  std::uint64_t delivered = 0;
  client.OnMon = [&](TComponent &, const std::u16string &aStr) {
    line("mon " + EscapeLineBytes(Utf16ToUtf8(aStr)));
  };
  client.OnEnableChange = [&](TComponent &) { line(client.Enabled() ? "enabled" : "disabled"); };
  client.OnOffline = [&](TComponent &, bool aGraceful) {
    line(aGraceful ? "offline graceful" : "offline dropped");
  };
  client.OnOnline = [&](TComponent &) {
    line("online");
    // As the bridge does: the subscriptions are asked for on every accepted
    // connection, the publications go once.
    for (const auto &[filter, qos] : options.Subscriptions)
      client.Subscribe(filter, qos);
    if (!std::exchange(published, true))
      for (const TPublication &p : options.Publications)
        client.Publish(p.Topic, p.Message, p.Qos, p.Retain);
  };
  client.OnFailure = [&](TComponent &, std::int32_t aReason, bool &) {
    line("failure " + std::to_string(aReason));
  };
  client.OnMsg = [&](TComponent &, const std::string &aTopic, const std::string &aMessage,
                     TMQTTQOSType aQos, bool aRetained) {
    line("msg " + std::to_string(static_cast<unsigned>(aQos)) + " " + (aRetained ? "1" : "0") +
         " " + EscapeLineBytes(aTopic) + " " + EscapeLineBytes(aMessage));
    if (options.Count && ++delivered >= *options.Count)
      stopping = true;
  };

  CatchStopSignals();
  const std::unique_ptr<EventTarget> timers = loop->CreateTarget([&](unsigned aNumber) {
    if (aNumber == kDeadlineTimer || StopSignalled())
      stopping = true;
    else
      timers->Arm(kStopCheckTimer, kStopCheck);
  });
  timers->Arm(kStopCheckTimer, kStopCheck);
  if (options.Seconds)
    timers->Arm(kDeadlineTimer, std::chrono::seconds(*options.Seconds));

  client.Activate(true);
  // The loop is asked again after every dispatch, so "stopping" is seen as
  // soon as a handler or a timer has set it.
  while (!loop->RunUntil([&] { return stopping; }, 24h)) {
  }
  timers->Disarm(kStopCheckTimer);
  timers->Disarm(kDeadlineTimer);
  client.Activate(false);
  loop->RunUntil([&] { return client.Link.State() == TSocketState::wsClosed; }, kGoodbyeLimit);
  return 0;
}

} // namespace marquo
