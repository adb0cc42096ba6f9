#include "codecs/G722Codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

namespace tables {
#include "codecs/G722Tables.inc"
}

using Bytes = std::vector<uint8_t>;
using Pcm = std::vector<int16_t>;

constexpr int kRates[] = {64000, 56000, 48000};
constexpr int kModes[] = {8000, 16000};

int bitsFor(int bitRate) { return bitRate == 48000 ? 6 : bitRate == 56000 ? 7 : 8; }

std::string label(int bitRate, int sampleRate) {
    return std::to_string(bitRate) + " bit/s, " + std::to_string(sampleRate) + " Hz";
}

// One encodeG722 call; the output area is exactly one byte per sample so that
// an overrun shows under the address sanitizer.
Bytes call(kv::codecs::CG722Codec& codec, const int16_t* pcm, int32_t samples) {
    Bytes out(std::max(samples, 1));
    int32_t outCount = -99;
    const int32_t r = codec.encodeG722(pcm, samples * 2, out.data(), &outCount);
    EXPECT_EQ(r, outCount);
    EXPECT_GE(r, 0);
    EXPECT_LE(r, samples);
    out.resize(r < 0 ? 0 : r);
    return out;
}

Bytes encodeWhole(int bitRate, int sampleRate, const Pcm& pcm) {
    kv::codecs::CG722Codec codec;
    codec.initCodec(bitRate, sampleRate);
    return call(codec, pcm.data(), static_cast<int32_t>(pcm.size()));
}

// The same stream fed in calls of the given sizes (samples), cycling through them.
Bytes encodeSplit(int bitRate, int sampleRate, const Pcm& pcm, const std::vector<int>& sizes) {
    kv::codecs::CG722Codec codec;
    codec.initCodec(bitRate, sampleRate);
    Bytes all;
    size_t pos = 0;
    for (size_t k = 0; pos < pcm.size(); ++k) {
        const size_t n = std::min(pcm.size() - pos, static_cast<size_t>(sizes[k % sizes.size()]));
        const Bytes part = call(codec, pcm.data() + pos, static_cast<int32_t>(n));
        all.insert(all.end(), part.begin(), part.end());
        pos += n;
    }
    return all;
}

// Unpacked code words straight from the stream primitives (initCodec always
// asks for packing).
Bytes encodeUnpacked(int bitRate, int sampleRate, const Pcm& pcm) {
    kv::codecs::G722EncoderState st;
    kv::codecs::CG722Codec::resetState(st, bitRate, sampleRate == 8000 ? kv::codecs::G722_OPT_8K_INPUT : 0);
    Bytes out(pcm.size());
    out.resize(kv::codecs::CG722Codec::encodeSamples(st, out.data(), pcm.data(), static_cast<int32_t>(pcm.size())));
    return out;
}

// Code words from a packed stream, least significant bit first.
Bytes unpack(const Bytes& packed, int bits) {
    Bytes codes;
    uint32_t acc = 0;
    int have = 0;
    for (uint8_t b : packed) {
        acc |= static_cast<uint32_t>(b) << have;
        have += 8;
        while (have >= bits) {
            codes.push_back(static_cast<uint8_t>(acc & ((1u << bits) - 1)));
            acc >>= bits;
            have -= bits;
        }
    }
    return codes;
}

// Deterministic voiced speech stand-in: harmonics of a gliding pitch under a
// syllable envelope, formant-like spectral tilt, and a little noise.
Pcm speechLike(size_t n, int sampleRate, double peak, uint32_t seed) {
    const double twoPi = 6.283185307179586;
    Pcm out(n);
    double phase = 0.0;
    uint32_t lcg = seed;
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double f0 = 150.0 + 60.0 * std::sin(twoPi * 0.7 * t) + 15.0 * std::sin(twoPi * 3.3 * t);
        phase += twoPi * f0 / sampleRate;
        double voiced = 0.0;
        for (int k = 1; k <= 24; ++k) {
            if (k * f0 >= sampleRate / 2.0) break;
            const double formant = 1.0 + 2.0 * std::exp(-std::pow((k * f0 - 700.0) / 250.0, 2)) +
                                   1.2 * std::exp(-std::pow((k * f0 - 1800.0) / 400.0, 2));
            voiced += formant / k * std::sin(k * phase);
        }
        const double syllable = std::max(0.0, std::sin(twoPi * 2.3 * t));
        const double env = std::pow(syllable, 0.6) * (0.55 + 0.45 * std::sin(twoPi * 0.31 * t));
        lcg = lcg * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(lcg >> 8) / 8388608.0 - 1.0);
        const double v = peak * (0.3 * env * voiced + 0.04 * noise);
        out[i] = static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
    }
    return out;
}

// The 24 taps of the analysis filter, interleaved from the 12 stored
// coefficients: even taps run forward through them, odd taps backward.
std::vector<int> qmfTaps() {
    std::vector<int> taps(24);
    for (int i = 0; i < 12; ++i) {
        taps[2 * i] = tables::kQmfCoeffs[i];
        taps[2 * i + 1] = tables::kQmfCoeffs[11 - i];
    }
    return taps;
}

// Low and high band signals of a 16 kHz input, one value per input pair,
// computed as direct convolutions of the whole input (the high band with every
// even tap negated), with the filter starting from silence.
void bandSignals(const Pcm& pcm, std::vector<int32_t>& low, std::vector<int32_t>& high) {
    const std::vector<int> taps = qmfTaps();
    low.assign(pcm.size() / 2, 0);
    high.assign(pcm.size() / 2, 0);
    for (size_t k = 0; k < low.size(); ++k) {
        int32_t lo = 0;
        int32_t hi = 0;
        for (int m = 0; m < 24; ++m) {
            const long idx = static_cast<long>(2 * k) - 22 + m;  // oldest tap first
            if (idx >= 0) {
                lo += taps[m] * pcm[idx];
                hi += (m % 2 ? taps[m] : -taps[m]) * pcm[idx];
            }
        }
        low[k] = lo >> 13;
        high[k] = hi >> 13;
    }
}

Pcm tone(size_t n, double freq, int sampleRate, double amplitude) {
    Pcm out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(6.283185307179586 * freq * i / sampleRate)));
    return out;
}

double snrDb(const std::vector<int32_t>& ref, const std::vector<int32_t>& got, size_t from) {
    double signal = 0.0;
    double error = 0.0;
    for (size_t i = from; i < ref.size(); ++i) {
        signal += static_cast<double>(ref[i]) * ref[i];
        error += static_cast<double>(ref[i] - got[i]) * (ref[i] - got[i]);
    }
    return 10.0 * std::log10(signal / std::max(error, 1.0));
}

// ---------------------------------------------------------------------------

// Code words known from the start of a stream. The longer cases were worked by
// hand through the quantizer, scale-factor and predictor steps: after a first
// 1000 the low-band scale factor is 88 (decision levels 0, 1, 2, ..., 54, 62
// for intervals 1..29) while the prediction stays 0; after 1000, 1000 the scale
// factor is 244 and the prediction 1.
TEST(G722, KnownCodesFromAFreshStream) {
    struct Case {
        int sampleRate;
        Pcm in;
        Bytes want;
    };
    const Case cases[] = {
        {8000, {0}, {0xFA}},
        {16000, {0, 0}, {0xFA}},
        {8000, {1000}, {0xE0}},
        {8000, {-1000}, {0xC4}},
        {8000, {1000, 0}, {0xE0, 0xFC}},
        {8000, {1000, -1}, {0xE0, 0xFE}},
        {8000, {1000, 53}, {0xE0, 0xE2}},
        {8000, {1000, 54}, {0xE0, 0xE1}},
        {8000, {1000, 61}, {0xE0, 0xE1}},
        {8000, {1000, 62}, {0xE0, 0xE0}},
        {8000, {1000, -62}, {0xE0, 0xC5}},
        {8000, {1000, -63}, {0xE0, 0xC4}},
        {8000, {1000, 1000, 0}, {0xE0, 0xE0, 0xFF}},
        {8000, {1000, 1000, 2}, {0xE0, 0xE0, 0xFD}},
        // 16 kHz: only the newest input pair is in the filter history, so the
        // bands see (3 * second - 11 * first) >> 13 and (3 * second + 11 * first) >> 13.
        {16000, {0, 32767}, {0xA6}},
        {16000, {0, -32768}, {0x0A}},
        {16000, {32767, 0}, {0x84}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.in));
        EXPECT_EQ(encodeWhole(64000, c.sampleRate, c.in), c.want);
    }
}

TEST(G722, QuorvanConfigurationGivesOneByteInC4ToFFPerSample) {
    Pcm pcm = speechLike(48000, 8000, 30000.0, 7);
    // A burst of full-scale steps and silence as well.
    for (int i = 0; i < 2400; ++i) pcm.push_back(static_cast<int16_t>((i / 37) % 2 ? 32767 : -32768));
    pcm.insert(pcm.end(), 2400, int16_t{0});
    pcm.resize(pcm.size() / 240 * 240);

    kv::codecs::CG722Codec codec;
    codec.initCodec(64000, 8000);
    for (size_t pos = 0; pos < pcm.size(); pos += 240) {
        const Bytes out = call(codec, pcm.data() + pos, 240);
        ASSERT_EQ(out.size(), 240u) << "block at " << pos;
        for (uint8_t b : out) ASSERT_GE(b, 0xC4) << "block at " << pos;
    }
}

TEST(G722, UnknownBitRatesSelect64k) {
    const Pcm pcm = speechLike(4000, 16000, 12000.0, 3);
    for (int mode : kModes) {
        const Bytes ref = encodeWhole(64000, mode, pcm);
        ASSERT_EQ(ref.size(), mode == 8000 ? pcm.size() : pcm.size() / 2);
        for (int rate : {32000, 0, -1, 64001, 16000}) {
            SCOPED_TRACE(label(rate, mode));
            EXPECT_EQ(encodeWhole(rate, mode, pcm), ref);
        }
    }
}

TEST(G722, PackingAt48kFillsThreeBytesPerFourCodes) {
    const Pcm pcm = speechLike(8, 8000, 8000.0, 11);
    kv::codecs::CG722Codec codec;
    codec.initCodec(48000, 8000);
    EXPECT_EQ(call(codec, pcm.data(), 1).size(), 0u);  // six bits wait for more
    EXPECT_EQ(call(codec, pcm.data() + 1, 3).size(), 3u);
    EXPECT_EQ(call(codec, pcm.data() + 4, 4).size(), 3u);

    const Bytes whole = encodeWhole(48000, 8000, pcm);
    ASSERT_EQ(whole.size(), 6u);
    EXPECT_EQ(unpack(whole, 6), encodeUnpacked(48000, 8000, pcm));
}

TEST(G722, PackedStreamDoesNotDependOnCallSizes) {
    const std::vector<int> patterns[] = {{1}, {3}, {1, 2, 5, 7, 160}, {13, 1, 1, 2}};
    for (int mode : kModes) {
        const Pcm pcm = speechLike(mode == 8000 ? 2000 : 4000, mode, 15000.0, 5);
        for (int rate : {56000, 48000}) {
            const Bytes whole = encodeWhole(rate, mode, pcm);
            const size_t codes = mode == 8000 ? pcm.size() : pcm.size() / 2;
            EXPECT_EQ(whole.size(), codes * bitsFor(rate) / 8);
            for (const auto& sizes : patterns) {
                SCOPED_TRACE(label(rate, mode) + ", first call size " + std::to_string(sizes[0]));
                EXPECT_EQ(encodeSplit(rate, mode, pcm, sizes), whole);
            }
        }
    }
}

// A 16 kHz stream split at odd sample counts: the unpaired sample of a call is
// carried into the next, so the codes equal those of the unsplit stream.
TEST(G722, SixteenKModeCarriesUnpairedSampleAcrossCalls) {
    const Pcm pcm = speechLike(3001, 16000, 15000.0, 9);
    const std::vector<int> patterns[] = {{1}, {3}, {1, 2}, {5, 1, 1, 240, 7}, {239, 241}};
    for (int rate : kRates) {
        const Bytes whole = encodeWhole(rate, 16000, pcm);
        for (const auto& sizes : patterns) {
            SCOPED_TRACE(label(rate, 16000) + ", first call size " + std::to_string(sizes[0]));
            EXPECT_EQ(encodeSplit(rate, 16000, pcm, sizes), whole);
        }
    }

    // Step by step at 64 kbit/s: a lone sample writes nothing; one more sample
    // completes the pair and writes one code into a one-byte area.
    const Bytes whole = encodeWhole(64000, 16000, pcm);
    kv::codecs::CG722Codec codec;
    codec.initCodec(64000, 16000);
    EXPECT_EQ(call(codec, pcm.data(), 1).size(), 0u);
    EXPECT_EQ(call(codec, pcm.data() + 1, 1), Bytes(whole.begin(), whole.begin() + 1));
    EXPECT_EQ(call(codec, pcm.data() + 2, 3), Bytes(whole.begin() + 1, whole.begin() + 2));
    EXPECT_EQ(call(codec, pcm.data() + 5, 1), Bytes(whole.begin() + 2, whole.begin() + 3));
}

TEST(G722, OddByteCountIgnoresTheLastByte) {
    const Pcm pcm = speechLike(64, 16000, 10000.0, 21);
    for (int mode : kModes) {
        SCOPED_TRACE(label(64000, mode));
        kv::codecs::CG722Codec codec;
        codec.initCodec(64000, mode);
        uint8_t out[64];
        int32_t outCount = -99;
        EXPECT_EQ(codec.encodeG722(pcm.data(), 1, out, &outCount), 0);
        EXPECT_EQ(outCount, 0);
        // 7 bytes are 3 samples; the next call goes on from sample 3 as if the
        // stray byte had never been given.
        Bytes got;
        int32_t r = codec.encodeG722(pcm.data(), 7, out, &outCount);
        ASSERT_GE(r, 0);
        got.insert(got.end(), out, out + r);
        r = codec.encodeG722(pcm.data() + 3, 2 * 61, out, &outCount);
        ASSERT_GE(r, 0);
        got.insert(got.end(), out, out + r);
        EXPECT_EQ(got, encodeWhole(64000, mode, pcm));
    }
}

TEST(G722, InitCodecRestartsTheStream) {
    const Pcm warm = speechLike(333, 16000, 20000.0, 1);
    const Pcm pcm = speechLike(1000, 16000, 15000.0, 2);
    for (int mode : kModes) {
        for (int rate : kRates) {
            SCOPED_TRACE(label(rate, mode));
            // The odd-length warm-up leaves packed bits and, at 16 kHz, a carried sample.
            kv::codecs::CG722Codec codec;
            codec.initCodec(rate, mode);
            call(codec, warm.data(), static_cast<int32_t>(warm.size()));
            codec.initCodec(rate, mode);
            EXPECT_EQ(call(codec, pcm.data(), static_cast<int32_t>(pcm.size())), encodeWhole(rate, mode, pcm));
            // Closing and opening again is a restart as well.
            EXPECT_TRUE(codec.closeCodec());
            codec.initCodec(rate, mode);
            EXPECT_EQ(call(codec, pcm.data(), static_cast<int32_t>(pcm.size())), encodeWhole(rate, mode, pcm));
        }
    }
}

TEST(G722, CodecsDoNotShareState) {
    const Pcm a = speechLike(2000, 16000, 15000.0, 31);
    const Pcm b = speechLike(2000, 16000, 9000.0, 32);
    kv::codecs::CG722Codec ca;
    kv::codecs::CG722Codec cb;
    ca.initCodec(48000, 16000);
    cb.initCodec(64000, 8000);
    Bytes outA;
    Bytes outB;
    for (size_t pos = 0; pos < a.size(); pos += 99) {
        const int32_t n = static_cast<int32_t>(std::min<size_t>(99, a.size() - pos));
        const Bytes pa = call(ca, a.data() + pos, n);
        const Bytes pb = call(cb, b.data() + pos, n);
        outA.insert(outA.end(), pa.begin(), pa.end());
        outB.insert(outB.end(), pb.begin(), pb.end());
    }
    EXPECT_EQ(outA, encodeWhole(48000, 16000, a));
    EXPECT_EQ(outB, encodeWhole(64000, 8000, b));
}

TEST(G722, RefusedCallsReturnAndStoreMinusOne) {
    const int16_t pcm[4] = {100, -200, 300, -400};
    uint8_t out[4];

    struct Case {
        const char* what;
        bool initialised;
        bool closed;
        const int16_t* pcm;
        int32_t byteCount;
        bool nullOut;
    };
    const Case cases[] = {
        {"before initCodec", false, false, pcm, 8, false}, {"after closeCodec", true, true, pcm, 8, false},
        {"null pcm", true, false, nullptr, 8, false},      {"null out", true, false, pcm, 8, true},
        {"zero count", true, false, pcm, 0, false},        {"negative count", true, false, pcm, -2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        kv::codecs::CG722Codec codec;
        if (c.initialised) codec.initCodec(64000, 8000);
        if (c.closed) {
            EXPECT_TRUE(codec.closeCodec());
        }
        std::fill(std::begin(out), std::end(out), uint8_t{0x5A});
        int32_t outCount = 77;
        EXPECT_EQ(codec.encodeG722(c.pcm, c.byteCount, c.nullOut ? nullptr : out, &outCount), -1);
        EXPECT_EQ(outCount, -1);
        for (uint8_t b : out) EXPECT_EQ(b, 0x5A);
    }

    kv::codecs::CG722Codec codec;
    codec.initCodec(64000, 8000);
    EXPECT_EQ(codec.encodeG722(pcm, 8, out, nullptr), -1);
}

// A refusal in the middle of a stream leaves it as it was, pending bits and a
// carried sample included.
TEST(G722, RefusalsDoNotDisturbTheStream) {
    const Pcm pcm = speechLike(101, 16000, 15000.0, 41);
    for (int mode : kModes) {
        SCOPED_TRACE(label(48000, mode));
        kv::codecs::CG722Codec codec;
        codec.initCodec(48000, mode);
        Bytes got = call(codec, pcm.data(), 51);
        uint8_t scratch[8];
        int32_t outCount = 0;
        EXPECT_EQ(codec.encodeG722(nullptr, 8, scratch, &outCount), -1);
        EXPECT_EQ(codec.encodeG722(pcm.data(), 8, nullptr, &outCount), -1);
        EXPECT_EQ(codec.encodeG722(pcm.data(), 0, scratch, &outCount), -1);
        EXPECT_EQ(codec.encodeG722(pcm.data(), 8, scratch, nullptr), -1);
        const Bytes rest = call(codec, pcm.data() + 51, 50);
        got.insert(got.end(), rest.begin(), rest.end());
        EXPECT_EQ(got, encodeWhole(48000, mode, pcm));
    }
}

// The predictor always runs on the full six-bit low-band code, so the lower
// rates only drop bits of the 64 kbit/s code words, in either input mode.
TEST(G722, RatesAndPackingAgreeOnSpeechLikeInput) {
    for (int mode : kModes) {
        const Pcm pcm = speechLike(mode == 8000 ? 40000 : 80000, mode, 20000.0, 1234);
        const Bytes full = encodeUnpacked(64000, mode, pcm);
        ASSERT_EQ(full.size(), mode == 8000 ? pcm.size() : pcm.size() / 2);
        EXPECT_EQ(encodeWhole(64000, mode, pcm), full) << "64 kbit/s is never packed";

        int highBandCodes[4] = {};
        for (uint8_t c : full) {
            ASSERT_GE(c & 0x3F, 4) << "low-band codes are 4..63";
            if (mode == 8000) {
                ASSERT_EQ(c & 0xC0, 0xC0);
            }
            ++highBandCodes[c >> 6];
        }
        if (mode == 16000) {
            for (int h = 0; h < 4; ++h) EXPECT_GT(highBandCodes[h], 0) << "high-band code " << h << " never chosen";
        }

        for (int rate : {56000, 48000}) {
            SCOPED_TRACE(label(rate, mode));
            const int drop = 8 - bitsFor(rate);
            const Bytes unpacked = encodeUnpacked(rate, mode, pcm);
            ASSERT_EQ(unpacked.size(), full.size());
            for (size_t i = 0; i < full.size(); ++i) ASSERT_EQ(unpacked[i], full[i] >> drop) << "code " << i;

            const Bytes packed = encodeWhole(rate, mode, pcm);
            ASSERT_EQ(packed.size(), full.size() * bitsFor(rate) / 8);
            const Bytes codes = unpack(packed, bitsFor(rate));
            ASSERT_EQ(codes, Bytes(unpacked.begin(), unpacked.begin() + codes.size()));
            EXPECT_LT((unpacked.size() - codes.size()) * bitsFor(rate), 8u);
        }
    }
}

// In the 16 kHz mode the low band is the 8 kHz coder fed with the output of
// the analysis filter, so its codes match the 8 kHz mode on that signal. The
// filter is computed here as a direct 24-tap convolution of the input.
TEST(G722, SixteenKLowBandIsTheEightKCoderOnTheFilteredSignal) {
    const std::vector<int> taps = qmfTaps();
    int sum = 0;
    for (int m = 0; m < 24; ++m) {
        EXPECT_EQ(taps[m], taps[23 - m]) << "filter not symmetric at tap " << m;
        sum += taps[m];
    }
    EXPECT_EQ(sum, 8192) << "band split must have unity gain";

    const Pcm pcm = speechLike(64000, 16000, 20000.0, 77);
    std::vector<int32_t> low;
    std::vector<int32_t> high;
    bandSignals(pcm, low, high);
    Pcm low16(low.size());
    for (size_t k = 0; k < low.size(); ++k) {
        ASSERT_GE(low[k], -32768);
        ASSERT_LE(low[k], 32767);
        low16[k] = static_cast<int16_t>(low[k]);
    }

    const Bytes wide = encodeWhole(64000, 16000, pcm);
    const Bytes narrow = encodeWhole(64000, 8000, low16);
    ASSERT_EQ(wide.size(), narrow.size());
    for (size_t k = 0; k < wide.size(); ++k) ASSERT_EQ(wide[k] & 0x3F, narrow[k] & 0x3F) << "code " << k;
}

// A steady tone is almost perfectly predictable by the pole section, so once
// the predictor has adapted, each band's reconstruction (kept in the state)
// must track its input far better than the adaptive quantizer alone could
// (about 14 dB here for the low band). Sign or leak slips in the predictor
// updates cost 10 dB or more.
TEST(G722, PredictorTracksSteadyTones) {
    struct NarrowCase {
        double freq;
        double minDb;
    };
    for (const NarrowCase c : {NarrowCase{300.0, 45.0}, NarrowCase{1000.0, 31.0}, NarrowCase{2500.0, 32.0}}) {
        SCOPED_TRACE(c.freq);
        const Pcm pcm = tone(16000, c.freq, 8000, 8000.0);
        kv::codecs::G722EncoderState st;
        kv::codecs::CG722Codec::resetState(st, 64000, kv::codecs::G722_OPT_8K_INPUT);
        std::vector<int32_t> in(pcm.begin(), pcm.end());
        std::vector<int32_t> rec;
        uint8_t code;
        for (const int16_t& x : pcm) {
            ASSERT_EQ(kv::codecs::CG722Codec::encodeSamples(st, &code, &x, 1), 1);
            rec.push_back(st.band[0].r[0]);
        }
        EXPECT_GT(snrDb(in, rec, 4000), c.minDb);
    }

    // 16 kHz input: a 1 kHz tone lives in the low band, a 6 kHz tone in the high band.
    struct WideCase {
        double freq;
        int band;
        double minDb;
    };
    for (const WideCase c : {WideCase{1000.0, 0, 31.0}, WideCase{6000.0, 1, 22.0}}) {
        SCOPED_TRACE(c.freq);
        const Pcm pcm = tone(32000, c.freq, 16000, 8000.0);
        std::vector<int32_t> low;
        std::vector<int32_t> high;
        bandSignals(pcm, low, high);
        kv::codecs::G722EncoderState st;
        kv::codecs::CG722Codec::resetState(st, 64000, 0);
        std::vector<int32_t> rec;
        uint8_t code;
        for (size_t k = 0; k < low.size(); ++k) {
            ASSERT_EQ(kv::codecs::CG722Codec::encodeSamples(st, &code, pcm.data() + 2 * k, 2), 1);
            rec.push_back(st.band[c.band].r[0]);
        }
        EXPECT_GT(snrDb(c.band == 0 ? low : high, rec, 2000), c.minDb);
    }
}

// Full-scale square waves drive every clamp; the codes keep their ranges and
// the rate relations still hold.
TEST(G722, FullScaleSquareWaves) {
    for (int period : {1, 2, 7, 40}) {
        Pcm pcm(6000);
        for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = (i / period) % 2 ? int16_t{-32768} : int16_t{32767};
        for (int mode : kModes) {
            SCOPED_TRACE(label(64000, mode) + ", half period " + std::to_string(period));
            const Bytes full = encodeWhole(64000, mode, pcm);
            ASSERT_EQ(full.size(), mode == 8000 ? pcm.size() : pcm.size() / 2);
            for (uint8_t c : full) {
                ASSERT_GE(c & 0x3F, 4);
                if (mode == 8000) {
                    ASSERT_EQ(c & 0xC0, 0xC0);
                }
            }
            for (int rate : {56000, 48000}) {
                const Bytes codes = unpack(encodeWhole(rate, mode, pcm), bitsFor(rate));
                for (size_t i = 0; i < codes.size(); ++i)
                    ASSERT_EQ(codes[i], full[i] >> (8 - bitsFor(rate))) << rate << " code " << i;
            }
        }
    }
}

}  // namespace
