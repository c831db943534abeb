// How long the command handling spends in the JSON reader for one message:
// the envelope parse, the inner parse and the three member reads.
#include <benchmark/benchmark.h>

#include <string>

#include "json/json_value.hpp"

namespace {

const std::u16string kEnvelope =
    u"{\"data\":[\"{\\\"action\\\":\\\"process\\\",\\\"what\\\":\\\"find game castle quest\\\"}\"]}";

void BM_CommandEnvelope(benchmark::State &state) {
  for (auto _ : state) {
    const marquo::JsonValuePtr outer = marquo::ParseJson(kEnvelope);
    const auto data = outer->GetA(u"data");
    const marquo::JsonValuePtr inner = marquo::ParseJson(data->GetS(0));
    benchmark::DoNotOptimize(inner->GetS(u"action"));
    benchmark::DoNotOptimize(inner->GetS(u"what"));
  }
}
BENCHMARK(BM_CommandEnvelope);

// A large payload: the parser's cost should grow linearly with its length.
void BM_LargeArray(benchmark::State &state) {
  std::u16string text = u"[";
  for (int i = 0; i < state.range(0); ++i)
    text += u"{\"n\":12345,\"s\":\"some text\",\"d\":1.5},";
  text += u"]";
  for (auto _ : state)
    benchmark::DoNotOptimize(marquo::ParseJson(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size() * sizeof(char16_t)));
}
BENCHMARK(BM_LargeArray)->Range(8, 8 << 10);

} // namespace
