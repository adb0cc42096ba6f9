#pragma once

// The per-band blocks G.722 coding and decoding share: the adaptive predictor
// (block 4), the scale factor steps and their tables. Included by the encoder
// and the decoder only; the encoder's quantizer tables sit here too, in the
// one table object the sample loops address (see Tables).

#include <cstdint>

#include <emmintrin.h>

#include "codecs/G722Codec.h"

namespace kv::codecs::g722 {

#include "codecs/G722Tables.inc"

// Low-band output code by quantizer interval (1..30), for a negative and a
// positive difference; entries 0 and 31 are never indexed.
constexpr int16_t kLowCodeNeg[32] = {0,  63, 62, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19,
                                     18, 17, 16, 15, 14, 13, 12, 11, 10, 9,  8,  7,  6,  5,  4,  0};
constexpr int16_t kLowCodePos[32] = {0,  61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47,
                                     46, 45, 44, 43, 42, 41, 40, 39, 38, 37, 36, 35, 34, 33, 32, 0};
// Four high bits of the low-band code -> three-bit magnitude.
constexpr int16_t kLowMagIndex[16] = {0, 7, 6, 5, 4, 3, 2, 1, 7, 6, 5, 4, 3, 2, 1, 0};

// High band: code by magnitude class (1, 2), inverse quantizer and magnitude by
// two-bit code, log scale multiplier by magnitude.
constexpr int16_t kHighCodeNeg[3] = {0, 1, 0};
constexpr int16_t kHighCodePos[3] = {0, 3, 2};
constexpr int16_t kHighInvQuant[4] = {-7408, -1616, 7408, 1616};
constexpr int16_t kHighMagIndex[4] = {2, 1, 2, 1};
constexpr int16_t kHighLogScale[3] = {0, -214, 798};

constexpr int32_t clamp16(int32_t x) {
    // Saturation is rare: one compare on the common path.
    if (static_cast<uint32_t>(x) + 32768u > 65535u) return x < 0 ? -32768 : 32767;
    return x;
}

constexpr int32_t limit(int32_t x, int32_t lo, int32_t hi) { return x > hi ? hi : (x < lo ? lo : x); }

// limit for values that rarely reach their limits (on speech: the log
// scale factor, the second pole coefficient): one unsigned compare on the
// common path.
constexpr int32_t limitRare(int32_t x, int32_t lo, int32_t hi) {
    if (static_cast<uint32_t>(x) - static_cast<uint32_t>(lo) > static_cast<uint32_t>(hi) - static_cast<uint32_t>(lo))
        [[unlikely]]
        return x < lo ? lo : hi;
    return x;
}

// Quantizer scale factor from the log scale factor; the bands differ only in
// the base shift (8 low, 10 high).
constexpr int32_t scaleFromLog(int32_t nb, int baseShift) {
    const int32_t k = nb >> 11;
    int32_t w = kInvLog[(nb >> 6) & 31];
    w = baseShift - k >= 0 ? w >> (baseShift - k) : w << (k - baseShift);
    return w << 2;
}

// The scale factor depends on nb only through nb >> 6, and nb is limited
// (0..18432 low, 0..22528 high), so scaleFromLog is a table lookup.
constexpr int kLowMaxNb = 18432;
constexpr int kHighMaxNb = 22528;

// The low-band quantizer in one step. The search takes the smallest i in
// 1..29 with wd < (kLowDecision[i] * det) >> 12, else 30. For det > 0 and
// levels rising with i the levels passed form a prefix, and
// (L * det) >> 12 <= wd  <=>  L * det <= ((wd + 1) << 12) - 1
//                        <=>  L <= q = (((wd + 1) << 12) - 1) / det,
// so i is 1 + the number of levels up to q: interval[min(q, 2919)].
constexpr int kTopLevel = 2919;
static_assert(kLowDecision[29] == kTopLevel);

// |a1| <= 27648 (see adapt), so m >> 5 for m = a1 or -a1 lies in -864..864.
constexpr int kPoleReach = 27648 >> 5;

// What the low band needs of a quantizer interval and the sign of the
// difference: the six-bit code, the inverse quantizer output and the log
// scale factor step of its four high bits; eight bytes, so that the index
// scales for free.
struct LowCode {
    int16_t code;
    int16_t invQuant;
    int16_t logStep;
    int16_t unused;
};

// Every table of the per-sample path in one object: one base address
// serves them all, which spares registers in the sample loop.
struct Tables {
    LowCode lowCode[64];  // [interval | (negative ? 32 : 0)]
    int32_t lowDet[(kLowMaxNb >> 6) + 1];
    int32_t highDet[(kHighMaxNb >> 6) + 1];
    int16_t poleStep[2 * kPoleReach + 1];  // [k + kPoleReach]: limit(k, -256, 255)
    uint8_t interval[kTopLevel + 1];
    constexpr Tables() : lowCode{}, lowDet{}, highDet{}, poleStep{}, interval{} {
        for (int neg = 0; neg < 2; ++neg) {
            for (int i = 0; i < 32; ++i) {
                const int code = neg ? kLowCodeNeg[i] : kLowCodePos[i];
                lowCode[i | (neg << 5)] = {static_cast<int16_t>(code), kLowInvQuant4[code >> 2],
                                           kLowLogScale[kLowMagIndex[code >> 2]], 0};
            }
        }
        for (int i = 0; i <= (kLowMaxNb >> 6); ++i) lowDet[i] = scaleFromLog(i << 6, 8);
        for (int i = 0; i <= (kHighMaxNb >> 6); ++i) highDet[i] = scaleFromLog(i << 6, 10);
        for (int k = -kPoleReach; k <= kPoleReach; ++k)
            poleStep[k + kPoleReach] = static_cast<int16_t>(limit(k, -256, 255));
        for (int q = 0; q <= kTopLevel; ++q) {
            int n = 1;
            while (n < 30 && kLowDecision[n] <= q) ++n;
            interval[q] = static_cast<uint8_t>(n);
        }
    }
};
inline constexpr Tables kTables;

// The live values of one band, held in locals while a call runs: the
// compiler then keeps them out of reach of the byte stores to the output,
// which could otherwise alias the state and force a reload after each.
// The six taps of the zero section sit in the lanes 0..5 of one SSE2
// register each (16-bit values, see adapt). The delay line holds 2 * d, the
// factor the zero section multiplies by anyway; lanes 6 and 7 of b stay 0,
// so whatever drifts into those lanes of the delay line adds nothing.
struct Band {
    int32_t s, sz, nb, det;
    int32_t r1, r2, p1, p2, a1, a2;
    int32_t twoR1, twoR2;  // clamp16(2 * r1), clamp16(2 * r2)
    __m128i b;             // b[1..6]
    __m128i twoD;          // 2 * d[1..6]: the six differences before this one

    explicit Band(const G722BandState& g)
        : s(g.s),
          sz(g.sz),
          nb(g.nb),
          det(g.det),
          r1(g.r[1]),
          r2(g.r[2]),
          p1(g.p[1]),
          p2(g.p[2]),
          a1(g.a[1]),
          a2(g.a[2]),
          twoR1(clamp16(2 * g.r[1])),
          twoR2(clamp16(2 * g.r[2])) {
        int16_t bl[8] = {};
        int16_t dl[8] = {};
        for (int i = 0; i < 6; ++i) {
            bl[i] = static_cast<int16_t>(g.b[i + 1]);
            dl[i] = static_cast<int16_t>(2 * g.d[i + 1]);
        }
        b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bl));
        twoD = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dl));
    }

    // FILTEP, from the delayed values.
    int32_t pole() const { return clamp16(((a1 * twoR1) >> 15) + ((a2 * twoR2) >> 15)); }

    // Back into the state as the step-by-step adaptation leaves it: after
    // the delay the newest values stand at index 0 and 1 alike.
    void store(G722BandState& g) const {
        g.s = s;
        g.sp = pole();
        g.sz = sz;
        g.nb = nb;
        g.det = det;
        g.r[0] = g.r[1] = r1;
        g.r[2] = r2;
        g.p[0] = g.p[1] = p1;
        g.p[2] = p2;
        g.a[1] = g.ap[1] = a1;
        g.a[2] = g.ap[2] = a2;
        int16_t bl[8];
        int16_t dl[8];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bl), b);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dl), twoD);
        g.d[0] = dl[0] / 2;
        for (int i = 1; i < 7; ++i) {
            g.d[i] = dl[i - 1] / 2;
            g.b[i] = g.bp[i] = bl[i - 1];
        }
    }

    // G.722 block 4 for the quantized difference dq. Where a limit of the
    // step-by-step form cannot bite it is left out, with the reason:
    // |dq| <= 16384 * 20456 >> 15 = 10228 (det <= 16384), so d and 2 * d fit
    // 16 bits; b in 16 bits gives |(b * 32640) >> 15| <= 32640 and with
    // g <= 128 the new b stays in 16 bits; a2 in -12288..12288 keeps
    // 15360 - a2 in 3072..27648, so |a1| <= 27648 and a1's step of at most
    // 192 cannot leave 16 bits either.
    void adapt(int32_t dq) {
        // RECONS, PARREC.
        const int32_t r0 = clamp16(s + dq);
        const int32_t p0 = clamp16(sz + dq);

        // UPPOL2, UPPOL1: the p are 16-bit values, so p >> 15 is their sign
        // and two signs agree exactly when the xor is not negative.
        // differ is 0 when they agree, -1 when not. The step-by-step form
        // w = clamp16(4 * a1), negated when the signs agree, at most 32767,
        // then >> 7, equals limit(m >> 5, -256, 255) with m = a1 or -a1 alike:
        // inside 16 bits 4m >> 7 is m >> 5, and each saturated end lands on
        // -256 or 255 (-32767 >> 7 = -256 after negating 32767).
        const int32_t differ01 = (p0 ^ p1) >> 31;
        const int32_t differ02 = (p0 ^ p2) >> 31;
        const int32_t m = differ01 ? a1 : -a1;
        const int32_t ap2 = limitRare(kTables.poleStep[static_cast<uint32_t>((m >> 5) + kPoleReach)] + 128 -
                                          (differ02 & 256) + ((a2 * 32512) >> 15),
                                      -12288, 12288);
        int32_t ap1 = 192 - (differ01 & 384) + ((a1 * 32640) >> 15);
        const int32_t lim = 15360 - ap2;
        ap1 = limit(ap1, -lim, lim);

        // UPZERO on all six taps at once: b += g (128, or 0 when dq is 0)
        // where d[i] has the sign of dq, -g where not (the xor's sign, spread
        // over the lane, is 0 or -1, and (g ^ m) - m is g or -g); g is 0 in
        // lanes 6 and 7, which keeps them 0. The leak
        // (b * 32640) >> 15 = (b * 2^15 - b * 2^7) >> 15 = b + floor(-b / 256),
        // and floor(-b / 256) is the high half of b * -256, exact for every
        // 16-bit b (b = -32768 gives 128).
        const __m128i dqv = _mm_set1_epi16(static_cast<int16_t>(2 * dq));
        const __m128i other = _mm_srai_epi16(_mm_xor_si128(twoD, dqv), 15);
        const __m128i g = _mm_andnot_si128(_mm_cmpeq_epi16(dqv, _mm_setzero_si128()),
                                           _mm_set_epi16(0, 0, 128, 128, 128, 128, 128, 128));
        const __m128i step = _mm_sub_epi16(_mm_xor_si128(g, other), other);
        b = _mm_add_epi16(_mm_add_epi16(b, _mm_mulhi_epi16(b, _mm_set1_epi16(-256))), step);

        // DELAYA: 2 * dq enters lane 0, the oldest leaves.
        twoD = _mm_insert_epi16(_mm_slli_si128(twoD, 2), 2 * dq, 0);

        // FILTEZ: each (b * 2d) >> 15 is twice the high half of the 32-bit
        // product plus bit 15 of the low half, at most 20456 in size, so it
        // fits 16 bits; pairs are summed into 32 bits, then the three pairs
        // (lane 3 holds the zero lanes 6 and 7).
        const __m128i lo = _mm_mullo_epi16(b, twoD);
        const __m128i hi = _mm_mulhi_epi16(b, twoD);
        const __m128i term = _mm_add_epi16(_mm_add_epi16(hi, hi), _mm_srli_epi16(lo, 15));
        __m128i sum = _mm_madd_epi16(term, _mm_set1_epi16(1));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4E));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xB1));
        sz = clamp16(_mm_cvtsi128_si32(sum));

        // DELAYA of the pole section, FILTEP, PREDIC.
        r2 = r1;
        r1 = r0;
        twoR2 = twoR1;
        twoR1 = clamp16(2 * r0);
        p2 = p1;
        p1 = p0;
        a1 = ap1;
        a2 = ap2;
        s = clamp16(pole() + sz);
    }

    // INVQAL, LOGSCL, SCALEL and the adaptation for a low-band code whose
    // four high bits give invQuant (kLowInvQuant4) and logStep
    // (kLowLogScale of their magnitude); returns the difference adapted on.
    int32_t stepLow(int32_t invQuant, int32_t logStep) {
        const int32_t dlow = (det * invQuant) >> 15;
        nb = limitRare(((nb * 127) >> 7) + logStep, 0, kLowMaxNb);
        det = kTables.lowDet[static_cast<uint32_t>(nb) >> 6];
        adapt(dlow);
        return dlow;
    }

    // INVQAH, LOGSCH, SCALEH and the adaptation for a high-band code;
    // returns the difference adapted on.
    int32_t stepHigh(int32_t ihigh) {
        const int32_t dhigh = (det * kHighInvQuant[ihigh]) >> 15;
        nb = limitRare(((nb * 127) >> 7) + kHighLogScale[kHighMagIndex[ihigh]], 0, kHighMaxNb);
        det = kTables.highDet[static_cast<uint32_t>(nb) >> 6];
        adapt(dhigh);
        return dhigh;
    }
};

}  // namespace kv::codecs::g722
