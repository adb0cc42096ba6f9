// Throughput of the data path through an encoder object: 640-byte capture
// calls (20 ms) into an A-law object with one counting sink.
#include "bench/CountingSink.h"
#include "encoders/KV_AudioG711.h"
#include "tests/encoders/doubles.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void DataPathG711A(benchmark::State& state) {
    kvtest::ComponentsFixture components;
    kv::com::ComPtr<IKvAudioEncoder> encoder;
    if (FAILED(
            kv::com::createInstance<kv::encoders::CKV_AudioG711A>(nullptr, IID_IKvAudioEncoder, encoder.put_void()))) {
        state.SkipWithError("no encoder");
        return;
    }
    auto sink = kv::com::make<kvbench::CountingSink>();
    encoder->AddSink(static_cast<IKvAudioSink*>(sink.get()));
    std::vector<std::int16_t> pcm(320 * 64);
    for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<std::int16_t>((i * 2654435761u) >> 16);
    std::size_t at = 0;
    for (auto _ : state) {
        encoder->OnAudioData(reinterpret_cast<BYTE*>(pcm.data() + at), 640);
        at = (at + 320) % pcm.size();
    }
    state.counters["calls/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(DataPathG711A);

}  // namespace

BENCHMARK_MAIN();
