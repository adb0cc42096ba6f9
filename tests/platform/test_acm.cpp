// What the PCM converter relies on from the Audio Compression Manager. The
// expected values were read off the system's PCM converter; on host the same
// expectations hold the stand-in to it.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

WAVEFORMATEX pcm(WORD channels, DWORD rate, WORD bits) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

struct Stream {
    HACMSTREAM h = nullptr;
    Stream(WAVEFORMATEX src, WAVEFORMATEX dst) {
        EXPECT_EQ(acmStreamOpen(&h, nullptr, &src, &dst, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME),
                  static_cast<MMRESULT>(MMSYSERR_NOERROR));
    }
    ~Stream() {
        if (h) {
            EXPECT_EQ(acmStreamClose(h, 0), static_cast<MMRESULT>(MMSYSERR_NOERROR));
        }
    }
};

ACMSTREAMHEADER header(std::vector<BYTE>& src, std::vector<BYTE>& dst) {
    ACMSTREAMHEADER hdr{};
    hdr.cbStruct = sizeof hdr;
    hdr.pbSrc = src.data();
    hdr.cbSrcLength = static_cast<DWORD>(src.size());
    hdr.pbDst = dst.data();
    hdr.cbDstLength = static_cast<DWORD>(dst.size());
    return hdr;
}

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

TEST(AcmStream, HeaderHasTheWin32Layout) {
    if constexpr (sizeof(void*) == 4) {
        EXPECT_EQ(sizeof(ACMSTREAMHEADER), 84u);
    }
    EXPECT_EQ(sizeof(WAVEFORMATEX), 18u);
}

TEST(AcmStream, OpenRefusesWhatThePcmConverterCannotDo) {
    HACMSTREAM h = nullptr;
    WAVEFORMATEX good = pcm(1, 8000, 16);
    WAVEFORMATEX notPcm = pcm(1, 16000, 16);
    notPcm.wFormatTag = 0x1234;  // no driver knows it
    WAVEFORMATEX bits24 = pcm(1, 16000, 24);
    EXPECT_EQ(acmStreamOpen(&h, nullptr, &notPcm, &good, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME),
              static_cast<MMRESULT>(ACMERR_NOTPOSSIBLE));
    EXPECT_EQ(acmStreamOpen(&h, nullptr, &good, &notPcm, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME),
              static_cast<MMRESULT>(ACMERR_NOTPOSSIBLE));
    EXPECT_EQ(acmStreamOpen(&h, nullptr, &bits24, &good, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME),
              static_cast<MMRESULT>(ACMERR_NOTPOSSIBLE));
}

TEST(AcmStream, QueryOpensNothing) {
    WAVEFORMATEX a = pcm(1, 16000, 16), b = pcm(1, 8000, 16);
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, &a, &b, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
              static_cast<MMRESULT>(MMSYSERR_NOERROR));
}

struct SizeCase {
    DWORD srcRate, dstRate, input, expected;
};

// Output frames round to nearest, halves down; partial input frames count not.
TEST(AcmStream, SizeOfTheOutput) {
    const SizeCase cases[] = {
        {16000, 8000, 1000, 500},  {16000, 8000, 3, 0},        {8000, 16000, 1000, 2000}, {8000, 44100, 1000, 5512},
        {8000, 44100, 3, 12},      {11025, 48000, 1000, 4354}, {48000, 11025, 1000, 230}, {44100, 16000, 1000, 362},
        {16000, 11025, 3, 2},      {32000, 11025, 3, 0},       {16000, 16000, 1, 0},      {22050, 8000, 1000, 362},
        {4000, 16000, 1000, 4000}, {384000, 16000, 1000, 42},
    };
    for (const auto& c : cases) {
        Stream s(pcm(1, c.srcRate, 16), pcm(1, c.dstRate, 16));
        DWORD out = 12345;
        EXPECT_EQ(acmStreamSize(s.h, c.input, &out, ACM_STREAMSIZEF_SOURCE), static_cast<MMRESULT>(MMSYSERR_NOERROR));
        EXPECT_EQ(out, c.expected) << c.srcRate << " -> " << c.dstRate << " of " << c.input;
    }
    Stream s(pcm(2, 16000, 16), pcm(1, 8000, 8));
    DWORD out = 0;
    ASSERT_EQ(acmStreamSize(s.h, 1000, &out, ACM_STREAMSIZEF_SOURCE), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(out, 125u);
}

TEST(AcmStream, HeaderMustBePreparedAndUnchanged) {
    Stream s(pcm(1, 16000, 16), pcm(1, 8000, 16));
    std::vector<BYTE> src(64, 0), dst(32, 0);
    ACMSTREAMHEADER hdr = header(src, dst);
    EXPECT_EQ(acmStreamConvert(s.h, &hdr, ACM_STREAMCONVERTF_BLOCKALIGN), static_cast<MMRESULT>(ACMERR_UNPREPARED));
    EXPECT_EQ(acmStreamUnprepareHeader(s.h, &hdr, 0), static_cast<MMRESULT>(ACMERR_UNPREPARED));
    EXPECT_EQ(acmStreamPrepareHeader(s.h, nullptr, 0), static_cast<MMRESULT>(MMSYSERR_INVALPARAM));
    ACMSTREAMHEADER small = hdr;
    small.cbStruct = 10;
    EXPECT_EQ(acmStreamPrepareHeader(s.h, &small, 0), static_cast<MMRESULT>(MMSYSERR_INVALPARAM));

    ASSERT_EQ(acmStreamPrepareHeader(s.h, &hdr, 0), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_TRUE(hdr.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);
    ASSERT_EQ(acmStreamConvert(s.h, &hdr, ACM_STREAMCONVERTF_BLOCKALIGN), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_TRUE(hdr.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
    EXPECT_EQ(hdr.cbSrcLengthUsed, 64u);
    EXPECT_EQ(hdr.cbDstLengthUsed, 32u);

    hdr.pbSrc = nullptr;
    EXPECT_EQ(acmStreamUnprepareHeader(s.h, &hdr, 0), static_cast<MMRESULT>(MMSYSERR_INVALPARAM));
    hdr.pbSrc = src.data();
    EXPECT_EQ(acmStreamUnprepareHeader(s.h, &hdr, 0), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_FALSE(hdr.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);
}

// Converts through a fresh stream and returns the produced bytes.
std::vector<BYTE> convert(WAVEFORMATEX from, WAVEFORMATEX to, std::vector<BYTE> src) {
    Stream s(from, to);
    DWORD size = 0;
    EXPECT_EQ(acmStreamSize(s.h, static_cast<DWORD>(src.size()), &size, ACM_STREAMSIZEF_SOURCE),
              static_cast<MMRESULT>(MMSYSERR_NOERROR));
    std::vector<BYTE> dst(size + 1, 0xEE);
    ACMSTREAMHEADER hdr = header(src, dst);
    hdr.cbDstLength = size;
    EXPECT_EQ(acmStreamPrepareHeader(s.h, &hdr, 0), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(acmStreamConvert(s.h, &hdr, ACM_STREAMCONVERTF_BLOCKALIGN), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(hdr.cbDstLengthUsed, size);
    EXPECT_EQ(dst[size], 0xEE) << "wrote beyond the destination";
    EXPECT_EQ(acmStreamUnprepareHeader(s.h, &hdr, 0), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    dst.resize(hdr.cbDstLengthUsed);
    return dst;
}

std::vector<std::int16_t> ramp(int n) {
    std::vector<std::int16_t> s;
    for (int i = 0; i < n; ++i) s.push_back(static_cast<std::int16_t>(i * 1000 - 12000));
    if (n > 6) {
        s[5] = 32767;
        s[6] = -32768;
    }
    return s;
}

// Each output frame is the input frame nearest the centre of its period.
TEST(AcmStream, RateChangeTakesTheNearestFrame) {
    const std::vector<std::int16_t> in = ramp(24);
    struct Case {
        DWORD from, to;
        std::vector<int> picks;
    };
    const Case cases[] = {
        {16000, 8000, {1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23}},
        {8000, 16000, {0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5}},
        {16000, 11025, {0, 2, 3, 5, 6, 7, 9, 10, 12, 13, 15, 16, 18, 19, 21, 22, 23}},
        {11025, 16000, {0, 1, 1, 2, 3, 3, 4, 5, 5, 6, 7}},
        {44100, 16000, {1, 4, 6, 9, 12, 15, 17, 20, 23}},
        {4000, 16000, {0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2}},
        {384000, 16000, {12}},
    };
    for (const auto& c : cases) {
        const auto bytes = convert(pcm(1, c.from, 16), pcm(1, c.to, 16), bytesOf(in));
        const auto out = samplesOf(bytes.data(), static_cast<DWORD>(bytes.size()));
        ASSERT_GE(out.size(), c.picks.size()) << c.from << " -> " << c.to;
        for (std::size_t n = 0; n < c.picks.size(); ++n)
            EXPECT_EQ(out[n], in[c.picks[n]]) << c.from << " -> " << c.to << " frame " << n;
    }
}

TEST(AcmStream, ChannelsAndSampleWidth) {
    // Stereo folds to mono by a saturated sum.
    const std::vector<std::int16_t> stereo = {0, 3, 1000, -697, 32767, 32767, -32768, -32768, 5000, -3497};
    auto mono = convert(pcm(2, 16000, 16), pcm(1, 16000, 16), bytesOf(stereo));
    EXPECT_EQ(samplesOf(mono.data(), static_cast<DWORD>(mono.size())),
              (std::vector<std::int16_t>{3, 303, 32767, -32768, 1503}));

    // Mono spreads to both channels.
    auto both = convert(pcm(1, 16000, 16), pcm(2, 16000, 16), bytesOf({-7, 1234}));
    EXPECT_EQ(samplesOf(both.data(), static_cast<DWORD>(both.size())), (std::vector<std::int16_t>{-7, -7, 1234, 1234}));

    // 8-bit samples are unsigned with the 16-bit value in the high byte.
    auto wide = convert(pcm(1, 16000, 8), pcm(1, 16000, 16), {0, 11, 128, 255});
    EXPECT_EQ(samplesOf(wide.data(), static_cast<DWORD>(wide.size())),
              (std::vector<std::int16_t>{-32768, -29952, 0, 32512}));
    auto narrow = convert(pcm(1, 16000, 16), pcm(1, 16000, 8), bytesOf({-12000, -11000, 32767, -32768, 255, -1}));
    EXPECT_EQ(narrow, (std::vector<BYTE>{81, 85, 255, 0, 128, 127}));
}

TEST(AcmStream, TrailingPartialFrameIsNotUsed) {
    Stream s(pcm(1, 16000, 16), pcm(1, 8000, 16));
    std::vector<BYTE> src = bytesOf(ramp(4));
    src.resize(7);
    std::vector<BYTE> dst(2);
    ACMSTREAMHEADER hdr = header(src, dst);
    ASSERT_EQ(acmStreamPrepareHeader(s.h, &hdr, 0), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    ASSERT_EQ(acmStreamConvert(s.h, &hdr, ACM_STREAMCONVERTF_BLOCKALIGN), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(hdr.cbSrcLengthUsed, 6u);
    EXPECT_EQ(hdr.cbDstLengthUsed, 2u);
    EXPECT_EQ(acmStreamUnprepareHeader(s.h, &hdr, 0), static_cast<MMRESULT>(MMSYSERR_NOERROR));
}

}  // namespace
