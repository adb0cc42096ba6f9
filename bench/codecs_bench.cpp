// Throughput of the codecs on speech: frames (or blocks) per second.
#include "codecs/G711Codec.h"
#include "codecs/G722Codec.h"
#include "codecs/G7231Decoder.h"
#include "g7231/coder.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<std::int16_t> speech() {
    std::ifstream f(std::string(KV_TEST_DATA_DIR) + "/g7231/speech_en.pcm", std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                               (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8));
    return samples;
}

void G7231Coder(benchmark::State& state) {
    const auto pcm = speech();
    const std::size_t frames = pcm.size() / kv::g7231::Frame;
    kv::g7231::CodStat cs;
    kv::g7231::Init_Coder(cs);
    kv::g7231::Word16 work[kv::g7231::Frame];
    std::uint8_t out[24];
    std::size_t f = 0;
    for (auto _ : state) {
        std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(f * kv::g7231::Frame), kv::g7231::Frame, work);
        kv::g7231::Coder(cs, work, out);
        benchmark::DoNotOptimize(out);
        if (++f == frames) f = 0;
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(G7231Coder);

// The 6.3 kbit/s speech stream, postfilter on, from its start again when it ends.
void G7231Decoder(benchmark::State& state) {
    std::ifstream f(std::string(KV_TEST_DATA_DIR) + "/g7231-decode/speech_en.r63.g7231", std::ios::binary);
    const std::vector<std::uint8_t> stream{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    kv::codecs::CG7231Decoder dec;
    std::int16_t out[kv::codecs::CG7231Decoder::kFrameSamples];
    std::size_t at = 0;
    for (auto _ : state) {
        dec.decodeFrame(&stream[at], false, out);
        benchmark::DoNotOptimize(out);
        at += kv::codecs::CG7231Decoder::frameBytes(stream[at]);
        if (at >= stream.size()) at = 0;
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(G7231Decoder);

void G711ALawBlock(benchmark::State& state) {
    const auto pcm = speech();
    kv::codecs::CG711Codec codec;
    std::uint8_t out[160];
    std::int32_t count = 0;
    std::size_t at = 0;
    for (auto _ : state) {
        codec.encodeALaw(pcm.data() + at, 320, out, &count);
        benchmark::DoNotOptimize(out);
        at = (at + 160) % (pcm.size() - 160);
    }
    state.counters["blocks/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(G711ALawBlock);

void G711MuLawBlock(benchmark::State& state) {
    const auto pcm = speech();
    kv::codecs::CG711Codec codec;
    std::uint8_t out[160];
    std::int32_t count = 0;
    std::size_t at = 0;
    for (auto _ : state) {
        codec.encodeMuLaw(pcm.data() + at, 320, out, &count);
        benchmark::DoNotOptimize(out);
        at = (at + 160) % (pcm.size() - 160);
    }
    state.counters["blocks/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(G711MuLawBlock);

void G722QuorvanBlock(benchmark::State& state) {
    const auto pcm = speech();
    kv::codecs::CG722Codec codec;
    codec.initCodec(64000, 8000);
    std::uint8_t out[240];
    std::int32_t count = 0;
    std::size_t at = 0;
    for (auto _ : state) {
        codec.encodeG722(pcm.data() + at, 480, out, &count);
        benchmark::DoNotOptimize(out);
        at = (at + 240) % (pcm.size() - 240);
    }
    state.counters["blocks/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(G722QuorvanBlock);

}  // namespace

BENCHMARK_MAIN();
