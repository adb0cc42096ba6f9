#include "codecs/PCMSampleConvert.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

const auto pcm = kv::codecs::pcmWaveFormat;
const WAVEFORMATEX kCapture = pcm(1, 16000, 16);

std::vector<BYTE> bytesOf(const std::vector<std::int16_t>& samples) {
    std::vector<BYTE> b;
    for (std::int16_t s : samples) {
        b.push_back(static_cast<BYTE>(s & 0xFF));
        b.push_back(static_cast<BYTE>((s >> 8) & 0xFF));
    }
    return b;
}

std::vector<std::int16_t> samplesOf(const BYTE* p, DWORD bytes) {
    std::vector<std::int16_t> s;
    for (DWORD i = 0; i + 1 < bytes; i += 2) s.push_back(static_cast<std::int16_t>(p[i] | (p[i + 1] << 8)));
    return s;
}

TEST(PcmConvert, AgreeingFormatsPassTheCallersBufferThrough) {
    WAVEFORMATEX otherTag = kCapture;
    otherTag.wFormatTag = 3;
    WAVEFORMATEX otherRate = kCapture;
    otherRate.nAvgBytesPerSec = 1;
    otherRate.nBlockAlign = 7;
    otherRate.cbSize = 22;
    for (const WAVEFORMATEX& dst : {kCapture, otherTag, otherRate}) {
        kv::codecs::CPCMSampleConvert c;
        ASSERT_EQ(c.initConvert(&kCapture, &dst), 0);
        BYTE data[5] = {1, 2, 3, 4, 5};
        BYTE* out = nullptr;
        DWORD outLength = 0;
        ASSERT_EQ(c.convert(data, 5, &out, &outLength), 0);
        EXPECT_EQ(out, data);
        EXPECT_EQ(outLength, 5u);
    }
}

TEST(PcmConvert, RefusedCallsLeaveTheOutputsAlone) {
    kv::codecs::CPCMSampleConvert c;
    BYTE data[4] = {};
    BYTE sentinel = 0;
    BYTE* out = &sentinel;
    DWORD outLength = 77;
    EXPECT_EQ(c.convert(data, 4, &out, &outLength), -2) << "not opened yet";
    ASSERT_EQ(c.initConvert(&kCapture, &kCapture), 0);
    EXPECT_EQ(c.convert(data, 0, &out, &outLength), -1);
    EXPECT_EQ(c.convert(nullptr, 4, &out, &outLength), -1);
    EXPECT_EQ(c.convert(data, 4, &out, nullptr), -1);
    EXPECT_EQ(out, &sentinel);
    EXPECT_EQ(outLength, 77u);
    EXPECT_EQ(c.initConvert(nullptr, &kCapture), -1);
    EXPECT_EQ(c.initConvert(&kCapture, nullptr), -1);
}

TEST(PcmConvert, CloseReturnsToTheClosedState) {
    kv::codecs::CPCMSampleConvert c;
    EXPECT_EQ(c.closeConvert(), 0) << "closing a closed converter is fine";
    ASSERT_EQ(c.initConvert(&kCapture, &kCapture), 0);
    EXPECT_EQ(c.closeConvert(), 0);
    BYTE data[2] = {};
    BYTE* out = nullptr;
    DWORD outLength = 0;
    EXPECT_EQ(c.convert(data, 2, &out, &outLength), -2);

    WAVEFORMATEX narrow = pcm(1, 8000, 16);
    ASSERT_EQ(c.initConvert(&kCapture, &narrow), 0);
    EXPECT_EQ(c.closeConvert(), 0);
    EXPECT_EQ(c.convert(data, 2, &out, &outLength), -2);
}

TEST(PcmConvert, UnsupportedFormatFailsToOpenAndStaysClosed) {
    kv::codecs::CPCMSampleConvert c;
    WAVEFORMATEX unknown = pcm(1, 8000, 4);
    unknown.wFormatTag = 0x1234;  // no driver knows it
    EXPECT_EQ(c.initConvert(&unknown, &kCapture), -3);
    BYTE data[6] = {};
    BYTE* out = nullptr;
    DWORD outLength = 0;
    EXPECT_EQ(c.convert(data, 6, &out, &outLength), -2);
}

// Conversions go through the platform's PCM converter; on host that is our
// stand-in, which gives the system's bytes exactly, so one set of expected
// values serves both builds.
struct ConversionCase {
    const char* name;
    WAVEFORMATEX from, to;
    std::vector<BYTE> input;
    std::vector<BYTE> expected;
};

std::vector<ConversionCase> conversionCases() {
    std::vector<std::int16_t> ramp;
    for (int i = 0; i < 10; ++i) ramp.push_back(static_cast<std::int16_t>(i * 300 - 1500));
    return {
        {"16 kHz to 8 kHz", pcm(1, 16000, 16), pcm(1, 8000, 16), bytesOf(ramp), bytesOf({-1200, -600, 0, 600, 1200})},
        {"stereo to mono", pcm(2, 16000, 16), pcm(1, 16000, 16), bytesOf({100, 23, -30000, -30000, 7, -7}),
         bytesOf({123, -32768, 0})},
        {"8-bit to 16-bit", pcm(1, 16000, 8), pcm(1, 16000, 16), {0, 127, 128, 200}, bytesOf({-32768, -256, 0, 18432})},
        {"odd length, 16 kHz to 8 kHz", pcm(1, 16000, 16), pcm(1, 8000, 16), {1, 0, 2, 0, 3, 0, 4}, bytesOf({2})},
    };
}

TEST(PcmConvert, ConvertsAndReportsTheProducedLength) {
    for (const auto& tc : conversionCases()) {
        kv::codecs::CPCMSampleConvert c;
        ASSERT_EQ(c.initConvert(&tc.from, &tc.to), 0) << tc.name;
        BYTE* out = nullptr;
        DWORD outLength = 0;
        ASSERT_EQ(c.convert(tc.input.data(), static_cast<DWORD>(tc.input.size()), &out, &outLength), 0) << tc.name;
        ASSERT_NE(out, nullptr);
        EXPECT_NE(out, tc.input.data()) << tc.name;
        EXPECT_EQ(std::vector<BYTE>(out, out + outLength), tc.expected) << tc.name;
    }
}

TEST(PcmConvert, RepeatedConversionsReuseNothingStale) {
    kv::codecs::CPCMSampleConvert c;
    WAVEFORMATEX narrow = pcm(1, 8000, 16);
    ASSERT_EQ(c.initConvert(&kCapture, &narrow), 0);
    for (int round = 0; round < 50; ++round) {
        std::vector<std::int16_t> in(320 + round);
        for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<std::int16_t>(round * 7 + i);
        const auto bytes = bytesOf(in);
        BYTE* out = nullptr;
        DWORD outLength = 0;
        ASSERT_EQ(c.convert(bytes.data(), static_cast<DWORD>(bytes.size()), &out, &outLength), 0);
        const auto got = samplesOf(out, outLength);
        ASSERT_EQ(got.size(), in.size() / 2) << round;
        for (std::size_t n = 0; n < got.size(); ++n) ASSERT_EQ(got[n], in[2 * n + 1]) << round << " " << n;
    }
}

TEST(PcmConvert, NewInitClosesTheOpenStreamFirst) {
    kv::codecs::CPCMSampleConvert c;
    WAVEFORMATEX narrow = pcm(1, 8000, 16);
    WAVEFORMATEX stereo = pcm(2, 16000, 16);
    const auto input = bytesOf({10, 20, 30, 40});
    BYTE* out = nullptr;
    DWORD outLength = 0;

    ASSERT_EQ(c.initConvert(&kCapture, &narrow), 0);
    ASSERT_EQ(c.initConvert(&kCapture, &stereo), 0);
    ASSERT_EQ(c.convert(input.data(), 8, &out, &outLength), 0);
    EXPECT_EQ(samplesOf(out, outLength), (std::vector<std::int16_t>{10, 10, 20, 20, 30, 30, 40, 40}))
        << "the second format pair must be the one in use";

    // Agreeing formats after a conversion stream: pass-through again.
    ASSERT_EQ(c.initConvert(&kCapture, &kCapture), 0);
    ASSERT_EQ(c.convert(input.data(), 8, &out, &outLength), 0);
    EXPECT_EQ(out, input.data());

    // And differing formats after pass-through: converting again.
    ASSERT_EQ(c.initConvert(&kCapture, &narrow), 0);
    ASSERT_EQ(c.convert(input.data(), 8, &out, &outLength), 0);
    EXPECT_NE(out, input.data());
    EXPECT_EQ(samplesOf(out, outLength), (std::vector<std::int16_t>{20, 40}));
}

}  // namespace
