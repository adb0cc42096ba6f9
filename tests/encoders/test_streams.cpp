// The encoded streams of the G.711 and Quorvan classes: staging across any
// split of the input, large calls, and the bytes themselves.
#include "codecs/G711Codec.h"
#include "codecs/G722Codec.h"
#include "encoders/KV_AudioG711.h"
#include "encoders/KV_AudioG7231.h"
#include "encoders/KV_AudioQuorvan.h"
#include "tests/encoders/doubles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

using kv::com::ComPtr;
using kvtest::RecordingSink;

namespace {

// A deterministic speech-like signal: a few harmonics of a wandering pitch
// under a syllable envelope, with a little noise.
std::vector<BYTE> speechLike(std::size_t bytes) {
    std::vector<BYTE> out(bytes);
    std::uint32_t noise = 12345;
    double phase = 0;
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        const double t = static_cast<double>(i / 2) / 16000.0;
        const double f0 = 120 + 40 * std::sin(2 * 3.14159 * 0.7 * t);
        phase += 2 * 3.14159 * f0 / 16000.0;
        const double env = 0.5 + 0.5 * std::sin(2 * 3.14159 * 3 * t);
        double v = 0;
        for (int h = 1; h <= 6; ++h) v += std::sin(h * phase) / h;
        noise = noise * 1103515245u + 12345u;
        const double n = static_cast<double>((noise >> 16) & 0x7FFF) / 32768.0 - 0.5;
        const auto s = static_cast<std::int16_t>(std::lround(9000 * env * v + 600 * n));
        out[i] = static_cast<BYTE>(s & 0xFF);
        out[i + 1] = static_cast<BYTE>((s >> 8) & 0xFF);
    }
    if (bytes % 2) out.back() = 0x5A;
    return out;
}

// What each class must produce for a byte stream, from the codecs directly:
// every whole block, in order, whatever the calls were.
std::vector<BYTE> expectedALaw(const std::vector<BYTE>& pcm) {
    std::vector<BYTE> out;
    for (std::size_t at = 0; at + 320 <= pcm.size(); at += 320)
        for (std::size_t i = 0; i < 320; i += 2)
            out.push_back(
                kv::codecs::CG711Codec::linearToALaw(static_cast<std::int16_t>(pcm[at + i] | (pcm[at + i + 1] << 8))));
    return out;
}
std::vector<BYTE> expectedMuLaw(const std::vector<BYTE>& pcm) {
    std::vector<BYTE> out;
    for (std::size_t at = 0; at + 320 <= pcm.size(); at += 320)
        for (std::size_t i = 0; i < 320; i += 2)
            out.push_back(
                kv::codecs::CG711Codec::linearToMuLaw(static_cast<std::int16_t>(pcm[at + i] | (pcm[at + i + 1] << 8))));
    return out;
}
std::vector<BYTE> expectedQuorvan(const std::vector<BYTE>& pcm) {
    kv::codecs::CG722Codec codec;
    codec.initCodec(64000, 8000);
    std::vector<BYTE> out(pcm.size());
    std::vector<std::int16_t> samples(pcm.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
    const std::size_t whole = pcm.size() / 480 * 480;
    if (whole == 0) return {};
    std::int32_t n = 0;
    codec.encodeG722(samples.data(), static_cast<std::int32_t>(whole), out.data(), &n);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

struct EncoderClass {
    const char* name;
    HRESULT (*create)(IUnknown*, REFIID, void**);
    std::vector<BYTE> (*expected)(const std::vector<BYTE>&);
    LONG blockOut;  // output bytes per block
};

const EncoderClass kClasses[] = {
    {"G711A", kv::com::createInstance<kv::encoders::CKV_AudioG711A>, expectedALaw, 160},
    {"G711U", kv::com::createInstance<kv::encoders::CKV_AudioG711U>, expectedMuLaw, 160},
    {"Quorvan", kv::com::createInstance<kv::encoders::CKV_AudioQuorvan>, expectedQuorvan, 240},
};

class Streams : public ::testing::Test, public kvtest::ComponentsFixture {
protected:
    struct Session {
        ComPtr<IKvAudioEncoder> encoder;
        ComPtr<RecordingSink> sink;
    };
    Session open(const EncoderClass& c) {
        Session s;
        EXPECT_EQ(c.create(nullptr, IID_IKvAudioEncoder, s.encoder.put_void()), S_OK);
        s.sink = kv::com::make<RecordingSink>();
        EXPECT_EQ(s.encoder->AddSink(static_cast<IKvAudioSink*>(s.sink.get())), S_OK);
        return s;
    }
    static void feed(IKvAudioEncoder* e, const std::vector<BYTE>& pcm, std::size_t chunk) {
        for (std::size_t at = 0; at < pcm.size(); at += chunk) {
            const std::size_t n = std::min(chunk, pcm.size() - at);
            e->OnAudioData(const_cast<BYTE*>(pcm.data() + at), static_cast<LONG>(n));
        }
    }
};

TEST_F(Streams, EveryChunkSizeGivesTheSameStream) {
    const auto pcm = speechLike(100003);
    const std::size_t chunks[] = {1, 2, 3, 7, 319, 320, 321, 479, 480, 481, 640, 4321, 4800, 6400, 6401, 1000000};
    for (const auto& c : kClasses) {
        const auto expected = c.expected(pcm);
        ASSERT_FALSE(expected.empty());
        for (std::size_t chunk : chunks) {
            auto s = open(c);
            feed(s.encoder.get(), pcm, chunk);
            EXPECT_EQ(s.sink->bytes, expected) << c.name << " in chunks of " << chunk;
            for (LONG len : s.sink->blocks) ASSERT_EQ(len % c.blockOut, 0) << c.name << " chunk " << chunk;
        }
    }
}

TEST_F(Streams, OneHugeCallIsTakenInPiecesWithoutLoss) {
    const auto pcm = speechLike(1000000);
    for (const auto& c : kClasses) {
        auto s = open(c);
        s.encoder->OnAudioData(const_cast<BYTE*>(pcm.data()), static_cast<LONG>(pcm.size()));
        EXPECT_EQ(s.sink->bytes, c.expected(pcm)) << c.name;
        EXPECT_GT(s.sink->blocks.size(), 1u) << c.name << ": delivered in several blocks";
    }
}

TEST_F(Streams, G711BlockSizes) {
    for (int law = 0; law < 2; ++law) {
        auto s = open(kClasses[law]);
        for (std::size_t n : {320u, 100u, 100u, 100u, 100u, 960u, 6400u, 0u})
            s.encoder->OnAudioData(std::vector<BYTE>(n + 1).data(), static_cast<LONG>(n));
        EXPECT_EQ(s.sink->blocks, (std::vector<LONG>{160, 0, 0, 0, 160, 480, 3200, 0})) << kClasses[law].name;
    }
}

TEST_F(Streams, G711CodesEverySampleValue) {
    std::vector<BYTE> all;
    for (int v = -32768; v <= 32767; ++v) {
        all.push_back(static_cast<BYTE>(v & 0xFF));
        all.push_back(static_cast<BYTE>((v >> 8) & 0xFF));
    }
    all.resize(all.size() + 128, 0);  // completes the last block
    for (int law = 0; law < 2; ++law) {
        auto s = open(kClasses[law]);
        feed(s.encoder.get(), all, 640);
        ASSERT_EQ(s.sink->bytes.size(), 65536u + 64u);
        for (int v = -32768; v <= 32767; ++v) {
            const BYTE want = law == 0 ? kv::codecs::CG711Codec::linearToALaw(static_cast<std::int16_t>(v))
                                       : kv::codecs::CG711Codec::linearToMuLaw(static_cast<std::int16_t>(v));
            ASSERT_EQ(s.sink->bytes[static_cast<std::size_t>(v + 32768)], want) << kClasses[law].name << " " << v;
        }
    }
}

TEST_F(Streams, QuorvanStagingAndBytes) {
    const EncoderClass& q = kClasses[2];
    {
        auto s = open(q);
        const std::vector<BYTE> silence(480, 0);
        s.encoder->OnAudioData(const_cast<BYTE*>(silence.data()), 479);
        s.encoder->OnAudioData(const_cast<BYTE*>(silence.data()), 1);
        EXPECT_EQ(s.sink->blocks, (std::vector<LONG>{0, 240}));
        EXPECT_EQ(s.sink->bytes.at(0), 0xFA) << "silence starts with low-band code 58";
    }
    {
        auto s = open(q);
        const auto pcm = speechLike(1440);
        s.encoder->OnAudioData(const_cast<BYTE*>(pcm.data()), 960);
        s.encoder->OnAudioData(const_cast<BYTE*>(pcm.data() + 960), 40);
        s.encoder->OnAudioData(const_cast<BYTE*>(pcm.data() + 1000), 440);
        s.encoder->OnAudioData(const_cast<BYTE*>(pcm.data()), 0);
        EXPECT_EQ(s.sink->blocks, (std::vector<LONG>{480, 0, 240, 0}));
        for (BYTE b : s.sink->bytes) ASSERT_GE(b, 0xC4);
    }
}

// Flush ends the stream as if the input had been padded with silence to a
// whole block (cut back to the input's own samples where the format codes
// sample by sample), whatever was held; Reset drops what is held and starts
// a fresh object's stream. The oracle: the padded input in whole blocks,
// which a fresh object codes as they come.
TEST_F(Streams, FlushEndsTheStreamAndResetStartsANewOne) {
    const EncoderClass classes[] = {kClasses[0],
                                    kClasses[1],
                                    kClasses[2],
                                    {"G7231", kv::com::createInstance<kv::encoders::CKV_AudioG7231>, nullptr, 24}};
    const auto pcm = speechLike(2 * 5557);  // a partial block for every class
    for (const auto& c : classes) {
        const bool frames = c.blockOut == 24;
        const std::size_t block = frames ? 480 : 2 * static_cast<std::size_t>(c.blockOut);
        std::vector<BYTE> padded = pcm;
        padded.resize((pcm.size() + block - 1) / block * block, 0);
        auto fresh = open(c);
        feed(fresh.encoder.get(), padded, block);
        std::vector<BYTE> expected = fresh.sink->bytes;
        if (!frames) expected.resize(pcm.size() / 2);
        // 4800: the G.723.1 object holds whole frames too.
        for (std::size_t chunk : {7u, 640u, 4800u}) {
            auto s = open(c);
            auto control = s.encoder.query<IKvAudioEncoderControl>();
            ASSERT_TRUE(control);
            feed(s.encoder.get(), pcm, chunk);
            EXPECT_EQ(control->Flush(), S_OK);
            EXPECT_EQ(s.sink->bytes, expected) << c.name << " in chunks of " << chunk;
            const std::size_t blocks = s.sink->blocks.size();
            EXPECT_EQ(control->Flush(), S_OK);
            EXPECT_EQ(s.sink->blocks.size(), blocks) << c.name << ": nothing held, nothing delivered";

            feed(s.encoder.get(), pcm, chunk);
            EXPECT_EQ(control->Reset(), S_OK);
            s.sink->bytes.clear();
            feed(s.encoder.get(), padded, block);
            EXPECT_EQ(s.sink->bytes, fresh.sink->bytes) << c.name << " after Reset, chunks of " << chunk;
        }
    }
}

// A sink that pushes PCM into the encoder from inside its delivery: that
// input waits until the delivery ends, so every sink, before and after the
// one that pushed, sees every block once and in order. The oracle is a fresh
// object given the same calls in the order they arrived, none of them nested.
TEST_F(Streams, InputPushedDuringADeliveryWaitsItsTurn) {
    const struct {
        const char* name;
        HRESULT (*create)(IUnknown*, REFIID, void**);
    } classes[] = {
        {"G711A", kv::com::createInstance<kv::encoders::CKV_AudioG711A>},
        {"G711U", kv::com::createInstance<kv::encoders::CKV_AudioG711U>},
        {"G7231", kv::com::createInstance<kv::encoders::CKV_AudioG7231>},
        {"Quorvan", kv::com::createInstance<kv::encoders::CKV_AudioQuorvan>},
    };
    // Whole G.723.1 frames, so that calls, not pieces of calls, decide what it codes.
    constexpr std::size_t kCall = 480;
    const auto outer = speechLike(kCall * 6);
    const std::vector<BYTE> nested(kCall * 9, 0x7F);
    for (const auto& c : classes) {
        for (const std::size_t sinkCount : {1u, 2u, 3u, 20u}) {
            const std::string what = std::string(c.name) + " with " + std::to_string(sinkCount) + " sinks";
            ComPtr<IKvAudioEncoder> encoder;
            ASSERT_EQ(c.create(nullptr, IID_IKvAudioEncoder, encoder.put_void()), S_OK);
            std::vector<ComPtr<RecordingSink>> sinks;
            for (std::size_t i = 0; i < sinkCount; ++i) {
                sinks.push_back(kv::com::make<RecordingSink>());
                ASSERT_EQ(encoder->AddSink(static_cast<IKvAudioSink*>(sinks.back().get())), S_OK);
            }
            // The first sink called pushes on every block it gets, nested
            // ones included, until its input runs out.
            std::sort(sinks.begin(), sinks.end(), [](const auto& a, const auto& b) {
                return static_cast<IKvAudioSink*>(a.get()) < static_cast<IKvAudioSink*>(b.get());
            });
            std::vector<std::vector<BYTE>> arrived;
            auto push = [&](const BYTE* data) {
                arrived.emplace_back(data, data + kCall);
                encoder->OnAudioData(const_cast<BYTE*>(data), static_cast<LONG>(kCall));
            };
            std::size_t nestedAt = 0;
            bool inDelivery = false, nestedDelivery = false;
            sinks.front()->onData = [&](RecordingSink&) {
                nestedDelivery |= std::exchange(inDelivery, true);
                if (nestedAt < nested.size()) push(nested.data() + (nestedAt += kCall) - kCall);
                inDelivery = false;
            };
            for (std::size_t at = 0; at < outer.size(); at += kCall) push(outer.data() + at);
            ASSERT_EQ(nestedAt, nested.size()) << what;
            EXPECT_FALSE(nestedDelivery) << what;

            ComPtr<IKvAudioEncoder> plain;
            ASSERT_EQ(c.create(nullptr, IID_IKvAudioEncoder, plain.put_void()), S_OK);
            auto expected = kv::com::make<RecordingSink>();
            ASSERT_EQ(plain->AddSink(static_cast<IKvAudioSink*>(expected.get())), S_OK);
            for (auto& call : arrived) plain->OnAudioData(call.data(), static_cast<LONG>(call.size()));
            ASSERT_EQ(expected->blocks.size(), arrived.size());
            for (const auto& sink : sinks) {
                EXPECT_EQ(sink->blocks, expected->blocks) << what;
                EXPECT_EQ(sink->bytes, expected->bytes) << what;
            }
        }
    }
}

}  // namespace
