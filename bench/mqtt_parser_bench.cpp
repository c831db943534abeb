// How long the MQTT receive parser spends on a read: a flood of body bytes
// for a packet kind it skips, and the small PUBLISH packets that carry the
// voice commands.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "mqtt/mqtt_parser.hpp"

namespace {

constexpr std::size_t kChunk = 64 * 1024;

// A PUBACK that announces the largest remaining length, fed in socket-sized
// reads: the bytes are counted, not stored, so this is the cost of reading
// 256 MiB a peer can send for nothing.
void BM_OverlongPubAckFlood(benchmark::State &state) {
  const std::string header("\x40\xFF\xFF\xFF\x7F", 5);
  const std::string zeros(kChunk, '\0');
  for (auto _ : state) {
    marquo::TMQTTParser parser;
    parser.OnHeader = [](marquo::TMQTTMessageType, bool, marquo::TMQTTQOSType, bool) {};
    parser.Parse(header);
    std::size_t left = marquo::kMaxRemainingLength;
    while (left > 0) {
      const std::size_t count = std::min(left, zeros.size());
      parser.Parse(std::string_view(zeros).substr(0, count));
      left -= count;
    }
    benchmark::DoNotOptimize(parser.RxBufferCapacity());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(marquo::kMaxRemainingLength));
}
BENCHMARK(BM_OverlongPubAckFlood)->Unit(benchmark::kMillisecond);

// One read holding state.range(0) QoS 1 PUBLISH packets of a typical command
// size, each answered by a PUBACK from the handler, as the client does.
void BM_SmallPublishes(benchmark::State &state) {
  const std::string message = "{\"data\":[\"{\\\"action\\\":\\\"process\\\",\\\"what\\\":\\\"find "
                              "game castle quest\\\"}\"]}";
  marquo::TMQTTParser builder;
  std::string packet;
  builder.OnSend = [&](std::uint16_t, std::int32_t, marquo::TMemoryStream &aStream) {
    packet = aStream.Bytes();
  };
  builder.SendPublish(7, "voice/command", message, marquo::TMQTTQOSType::qtAT_LEAST_ONCE, false,
                      false);
  std::string read;
  for (std::int64_t i = 0; i < state.range(0); ++i)
    read += packet;

  marquo::TMQTTParser parser;
  std::size_t received = 0;
  parser.OnSend = [](std::uint16_t, std::int32_t, marquo::TMemoryStream &) {};
  parser.OnPublish = [&](std::uint16_t anID, const std::string &, const std::string &aMessage) {
    received += aMessage.size();
    parser.SendPubAck(anID);
  };
  for (auto _ : state) {
    parser.Parse(read);
    benchmark::DoNotOptimize(received);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(read.size()));
}
BENCHMARK(BM_SmallPublishes)->Arg(1)->Arg(64);

} // namespace
