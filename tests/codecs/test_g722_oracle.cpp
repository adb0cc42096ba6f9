// The codec against the plain step-by-step coder it replaced, kept here as
// the oracle: every rate, both input modes, packed and unpacked, on speech,
// noise, small signals and full-scale squares, in calls of varying size.
#include "codecs/G722Codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace oracle {

#include "codecs/G722Tables.inc"

constexpr int16_t kLowCodeNeg[32] = {0,  63, 62, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19,
                                     18, 17, 16, 15, 14, 13, 12, 11, 10, 9,  8,  7,  6,  5,  4,  0};
constexpr int16_t kLowCodePos[32] = {0,  61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47,
                                     46, 45, 44, 43, 42, 41, 40, 39, 38, 37, 36, 35, 34, 33, 32, 0};
constexpr int16_t kLowMagIndex[16] = {0, 7, 6, 5, 4, 3, 2, 1, 7, 6, 5, 4, 3, 2, 1, 0};
constexpr int16_t kHighCodeNeg[3] = {0, 1, 0};
constexpr int16_t kHighCodePos[3] = {0, 3, 2};
constexpr int16_t kHighInvQuant[4] = {-7408, -1616, 7408, 1616};
constexpr int16_t kHighMagIndex[4] = {2, 1, 2, 1};
constexpr int16_t kHighLogScale[3] = {0, -214, 798};

int32_t clamp16(int32_t x) { return x > 32767 ? 32767 : (x < -32768 ? -32768 : x); }
int32_t limit(int32_t x, int32_t lo, int32_t hi) { return x > hi ? hi : (x < lo ? lo : x); }

int32_t scaleFromLog(int32_t nb, int baseShift) {
    const int32_t k = nb >> 11;
    int32_t w = kInvLog[(nb >> 6) & 31];
    w = baseShift - k >= 0 ? w >> (baseShift - k) : w << (k - baseShift);
    return w << 2;
}

struct Band {
    int32_t s = 0, sp = 0, sz = 0, r[3] = {}, a[3] = {}, ap[3] = {}, p[3] = {}, d[7] = {}, b[7] = {}, bp[7] = {},
            sg[7] = {}, nb = 0, det = 0;

    void adapt(int32_t dq) {
        d[0] = dq;
        r[0] = clamp16(s + dq);
        p[0] = clamp16(sz + dq);
        for (int i = 0; i < 3; ++i) sg[i] = p[i] >> 15;
        const int32_t w1 = clamp16(a[1] * 4);
        int32_t w2 = sg[0] == sg[1] ? -w1 : w1;
        if (w2 > 32767) w2 = 32767;
        ap[2] = limit((w2 >> 7) + (sg[0] == sg[2] ? 128 : -128) + ((a[2] * 32512) >> 15), -12288, 12288);
        sg[0] = p[0] >> 15;
        sg[1] = p[1] >> 15;
        ap[1] = clamp16((sg[0] == sg[1] ? 192 : -192) + ((a[1] * 32640) >> 15));
        const int32_t lim = clamp16(15360 - ap[2]);
        ap[1] = limit(ap[1], -lim, lim);
        const int32_t g = dq == 0 ? 0 : 128;
        sg[0] = dq >> 15;
        for (int i = 1; i < 7; ++i) {
            sg[i] = d[i] >> 15;
            bp[i] = clamp16((sg[i] == sg[0] ? g : -g) + ((b[i] * 32640) >> 15));
        }
        for (int i = 6; i >= 1; --i) {
            d[i] = d[i - 1];
            b[i] = bp[i];
        }
        for (int i = 2; i >= 1; --i) {
            r[i] = r[i - 1];
            p[i] = p[i - 1];
            a[i] = ap[i];
        }
        sp = clamp16(((a[1] * clamp16(2 * r[1])) >> 15) + ((a[2] * clamp16(2 * r[2])) >> 15));
        int32_t sum = 0;
        for (int i = 6; i >= 1; --i) sum += (b[i] * clamp16(2 * d[i])) >> 15;
        sz = clamp16(sum);
        s = clamp16(sp + sz);
    }
};

// A whole stream, 16 kHz samples taken in pairs (the stream is even).
std::vector<uint8_t> encode(int bitRate, bool eightK, bool packed, const std::vector<int16_t>& pcm) {
    const int bits = bitRate == 48000 ? 6 : (bitRate == 56000 ? 7 : 8);
    packed = packed && bits != 8;
    Band band[2];
    band[0].det = 32;
    band[1].det = 8;
    int32_t qmf[24] = {};
    uint32_t outBuffer = 0;
    int outBits = 0;
    std::vector<uint8_t> out;
    for (std::size_t j = 0; j < pcm.size();) {
        int32_t xlow;
        int32_t xhigh = 0;
        if (eightK) {
            xlow = pcm[j++];
        } else {
            for (int i = 0; i < 22; ++i) qmf[i] = qmf[i + 2];
            qmf[22] = pcm[j++];
            qmf[23] = pcm[j++];
            int32_t sumOdd = 0;
            int32_t sumEven = 0;
            for (int i = 0; i < 12; ++i) {
                sumOdd += qmf[2 * i] * kQmfCoeffs[i];
                sumEven += qmf[2 * i + 1] * kQmfCoeffs[11 - i];
            }
            xlow = (sumEven + sumOdd) >> 13;
            xhigh = (sumEven - sumOdd) >> 13;
        }
        Band& lo = band[0];
        const int32_t el = clamp16(xlow - lo.s);
        int32_t wd = el >= 0 ? el : -(el + 1);
        int i = 1;
        while (i < 30 && wd >= (kLowDecision[i] * lo.det) >> 12) ++i;
        const int32_t ilow = el < 0 ? kLowCodeNeg[i] : kLowCodePos[i];
        const int32_t ril = ilow >> 2;
        const int32_t dlow = (lo.det * kLowInvQuant4[ril]) >> 15;
        lo.nb = limit(((lo.nb * 127) >> 7) + kLowLogScale[kLowMagIndex[ril]], 0, 18432);
        lo.det = scaleFromLog(lo.nb, 8);
        lo.adapt(dlow);
        int32_t code;
        if (eightK) {
            code = (0xC0 | ilow) >> (8 - bits);
        } else {
            Band& hi = band[1];
            const int32_t eh = clamp16(xhigh - hi.s);
            wd = eh >= 0 ? eh : -(eh + 1);
            const int m = wd >= (564 * hi.det) >> 12 ? 2 : 1;
            const int32_t ihigh = eh < 0 ? kHighCodeNeg[m] : kHighCodePos[m];
            const int32_t dhigh = (hi.det * kHighInvQuant[ihigh]) >> 15;
            hi.nb = limit(((hi.nb * 127) >> 7) + kHighLogScale[kHighMagIndex[ihigh]], 0, 22528);
            hi.det = scaleFromLog(hi.nb, 10);
            hi.adapt(dhigh);
            code = ((ihigh << 6) | ilow) >> (8 - bits);
        }
        if (!packed) {
            out.push_back(static_cast<uint8_t>(code));
            continue;
        }
        outBuffer |= static_cast<uint32_t>(code) << outBits;
        outBits += bits;
        if (outBits >= 8) {
            out.push_back(static_cast<uint8_t>(outBuffer & 0xFF));
            outBits -= 8;
            outBuffer >>= 8;
        }
    }
    return out;
}

}  // namespace oracle

// A fixed pseudo-random sequence, so that a failure repeats.
struct Lcg {
    uint32_t x;
    uint32_t next() { return x = x * 1664525u + 1013904223u; }
};

std::vector<int16_t> testSignal() {
    std::vector<int16_t> pcm;
    std::ifstream f(std::string(KV_TEST_DATA_DIR) + "/g7231/speech_en.pcm", std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    EXPECT_GT(bytes.size(), 100000u) << "speech input missing";
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        pcm.push_back(static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    Lcg rng{12345};
    for (int i = 0; i < 60000; ++i) pcm.push_back(static_cast<int16_t>(rng.next() >> 16));  // full-scale noise
    for (int i = 0; i < 30000; ++i) pcm.push_back(static_cast<int16_t>((rng.next() >> 16) % 97 - 48));  // small
    for (int period : {2, 3, 16, 80, 333}) {  // squares at full scale: the limits bite
        for (int i = 0; i < 6000; ++i) pcm.push_back((i / period) % 2 ? 32767 : -32768);
    }
    for (int i = 0; i < 4000; ++i) pcm.push_back(0);  // silence after overload
    if (pcm.size() % 2) pcm.push_back(0);
    return pcm;
}

TEST(G722Oracle, EveryRateModeAndPackingMatchesTheStepByStepCoder) {
    const std::vector<int16_t> pcm = testSignal();
    for (const int bitRate : {64000, 56000, 48000}) {
        for (const bool eightK : {true, false}) {
            for (const bool packed : {true, false}) {
                const std::string label =
                    std::to_string(bitRate) + (eightK ? " 8k" : " 16k") + (packed ? " packed" : " unpacked");
                const std::vector<uint8_t> want = oracle::encode(bitRate, eightK, packed, pcm);
                kv::codecs::G722EncoderState st;
                kv::codecs::CG722Codec::resetState(
                    st, bitRate,
                    (eightK ? kv::codecs::G722_OPT_8K_INPUT : 0) | (packed ? kv::codecs::G722_OPT_PACK : 0));
                std::vector<uint8_t> got(pcm.size());
                Lcg sizes{static_cast<uint32_t>(bitRate) + eightK + 2u * packed};
                int32_t n = 0;
                for (std::size_t at = 0; at < pcm.size();) {
                    // Calls of 0 to 999 samples, odd ones included.
                    const std::size_t take = std::min<std::size_t>(pcm.size() - at, (sizes.next() >> 8) % 1000);
                    n += kv::codecs::CG722Codec::encodeSamples(st, got.data() + n, pcm.data() + at,
                                                               static_cast<int32_t>(take));
                    at += take;
                }
                got.resize(static_cast<std::size_t>(n));
                ASSERT_EQ(got.size(), want.size()) << label;
                const auto diff = std::mismatch(got.begin(), got.end(), want.begin());
                EXPECT_TRUE(diff.first == got.end())
                    << label << ": first difference at byte " << (diff.first - got.begin());
            }
        }
    }
}

}  // namespace
