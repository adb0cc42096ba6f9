// Fixed work for instruction counts under callgrind: `probe STAGE N` runs one
// stage N times on speech. Two runs with different N, subtracted, give the
// stage's cost per unit without the start-up (see bench/report.py).
//   g711a, g711u, quorvan  N blocks of 160 / 160 / 240 samples, codec alone
//   g7231                  N frames through the coder
//   g7231dec63, g7231dec53 N frames of the speech stream at that rate through
//                          the decoder, postfilter on
//   datapath               N calls of 640 bytes into an A-law object, one sink
//   sizes                  prints sizeof of each encoder class
#include "bench/CountingSink.h"
#include "codecs/G711Codec.h"
#include "codecs/G722Codec.h"
#include "codecs/G7231Decoder.h"
#include "encoders/KV_AudioG711.h"
#include "encoders/KV_AudioG7231.h"
#include "encoders/KV_AudioQuorvan.h"
#include "g7231/coder.h"
#include "tests/encoders/doubles.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<std::int16_t> speech() {
    std::ifstream f(std::string(KV_TEST_DATA_DIR) + "/g7231/speech_en.pcm", std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

unsigned g_sink;  // keeps the outputs alive

// Decodes n frames of a coded stream, from its start again when it ends.
void decodeFrames(long n, const char* stream) {
    std::ifstream f(std::string(KV_TEST_DATA_DIR) + "/g7231-decode/" + stream, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    kv::codecs::CG7231Decoder dec;
    std::int16_t out[kv::codecs::CG7231Decoder::kFrameSamples];
    std::size_t at = 0;
    for (long i = 0; i < n; ++i) {
        dec.decodeFrame(&bytes[at], false, out);
        g_sink += static_cast<unsigned>(out[0]);
        at += kv::codecs::CG7231Decoder::frameBytes(bytes[at]);
        if (at >= bytes.size()) at = 0;
    }
}

template <class Block>
void blocks(long n, std::size_t samplesIn, std::size_t bytesOut, Block block) {
    const auto pcm = speech();
    std::vector<std::uint8_t> out(bytesOut);
    std::size_t at = 0;
    for (long i = 0; i < n; ++i) {
        block(pcm.data() + at, out.data());
        g_sink += out[0];
        at += samplesIn;
        if (at + samplesIn > pcm.size()) at = 0;
    }
}

int dataPath(long n) {
    const auto pcm = speech();
    kvtest::ComponentsFixture components;
    kv::com::ComPtr<IKvAudioEncoder> encoder;
    if (FAILED(kv::com::createInstance<kv::encoders::CKV_AudioG711A>(nullptr, IID_IKvAudioEncoder, encoder.put_void())))
        return 1;
    auto sink = kv::com::make<kvbench::CountingSink>();
    if (encoder->AddSink(static_cast<IKvAudioSink*>(sink.get())) != S_OK) return 1;
    const std::size_t bytes = pcm.size() * 2 / 640 * 640;
    // Hidden from the optimiser, so that the call goes through the interface
    // as a capture component's would, not inlined into this loop.
    IKvAudioEncoder* target = encoder.get();
    asm volatile("" : "+r"(target));
    // The loop of a capture component: a pointer stepped through the buffer.
    BYTE* const begin = reinterpret_cast<BYTE*>(const_cast<std::int16_t*>(pcm.data()));
    BYTE* const end = begin + bytes;
    BYTE* at = begin;
    for (long i = 0; i < n; ++i) {
        target->OnAudioData(at, 640);
        at += 640;
        if (at == end) at = begin;
    }
    LONG got = 0;
    sink->GetBytesReceived(&got);
    g_sink += static_cast<unsigned>(got);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string stage = argv[1];
    const long n = argc > 2 ? std::atol(argv[2]) : 0;
    if (stage == "sizes") {
        std::printf("CKV_AudioG711A %zu\nCKV_AudioG711U %zu\nCKV_AudioQuorvan %zu\nCKV_AudioG7231 %zu\n",
                    sizeof(kv::encoders::CKV_AudioG711A), sizeof(kv::encoders::CKV_AudioG711U),
                    sizeof(kv::encoders::CKV_AudioQuorvan), sizeof(kv::encoders::CKV_AudioG7231));
        return 0;
    }
    kv::codecs::CG711Codec g711;
    std::int32_t count = 0;
    if (stage == "g711a") {
        blocks(n, 160, 160, [&](const std::int16_t* in, std::uint8_t* out) { g711.encodeALaw(in, 320, out, &count); });
    } else if (stage == "g711u") {
        blocks(n, 160, 160, [&](const std::int16_t* in, std::uint8_t* out) { g711.encodeMuLaw(in, 320, out, &count); });
    } else if (stage == "quorvan") {
        kv::codecs::CG722Codec g722;
        g722.initCodec(64000, 8000);
        blocks(n, 240, 240, [&](const std::int16_t* in, std::uint8_t* out) { g722.encodeG722(in, 480, out, &count); });
    } else if (stage == "g7231") {
        kv::g7231::CodStat cs;
        kv::g7231::Init_Coder(cs);
        kv::g7231::Word16 work[kv::g7231::Frame];
        blocks(n, kv::g7231::Frame, 24, [&](const std::int16_t* in, std::uint8_t* out) {
            // The coder works in place on its frame; each frame is taken from the speech afresh.
            std::memcpy(work, in, sizeof work);
            kv::g7231::Coder(cs, work, out);
        });
    } else if (stage == "g7231dec63") {
        decodeFrames(n, "speech_en.r63.g7231");
    } else if (stage == "g7231dec53") {
        decodeFrames(n, "speech_en.r53.g7231");
    } else if (stage == "datapath") {
        if (dataPath(n) != 0) return 1;
    } else {
        return 2;
    }
    std::printf("%u\n", g_sink);
    return 0;
}
