// Shared kernels for the hot loops of the coder: sums of products in plain
// 32/64-bit arithmetic (SSE2 where the build has it), and the saturating
// chains they replace.
//
// A chain of L_mac from 0 can only differ from the plain sum when one of its
// partial sums leaves the 32-bit range. Every partial sum is bounded by the
// sum of the magnitudes of the terms, and 2|ab| <= a^2 + b^2, so
//     sum |2 a_j b_j| <= sumsq(a) + sumsq(b).
// When that bound fits MAX_32 the chain equals 2 * dot(a, b) exactly (it also
// rules out L_mult(-32768, -32768), whose term alone would be 2^31). Callers
// check the bound and fall back to the chain when it fails.
#pragma once

#include <cstdint>

#include "g7231/basop.h"

#if defined(__SSE2__) && !defined(KV_PORTABLE)
#include <emmintrin.h>
#define KV_G7231_SSE2 1
#endif

namespace kv::g7231::dsp {

// norm_l without its loop: the shift that brings a to [2^30, 2^31) in magnitude.
inline Word16 norm_l(Word32 a) {
    if (a == 0) return 0;
    const uint32_t v = static_cast<uint32_t>(a < 0 ? ~a : a);
    if (v == 0) return 31;
    return static_cast<Word16>(__builtin_clz(v) - 1);
}

// L_shl(a, norm_l(a)): that shift never saturates.
inline Word32 shl_norm(Word32 a, Word16 n) { return static_cast<Word32>(static_cast<uint32_t>(a) << n); }

// div_l(num, den) for 0 <= num < den << 16, den > 0: its fifteen restoring
// steps divide num >> 1 by den << 15, which is one integer division.
inline Word16 div_l(Word32 num, Word16 den) { return static_cast<Word16>((num >> 1) / den); }

#ifdef KV_G7231_SSE2
inline int32_t hsum(__m128i v) {
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0x4E));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0xB1));
    return _mm_cvtsi128_si32(v);
}
#endif

// sum a_j * b_j modulo 2^32: exact whenever the true sum fits 32 bits.
inline int32_t dot(const Word16* a, const Word16* b, int n) {
    int i = 0;
    uint32_t s = 0;
#ifdef KV_G7231_SSE2
    __m128i acc = _mm_setzero_si128();
    for (const int end = n & ~7; i < end; i += 8) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        acc = _mm_add_epi32(acc, _mm_madd_epi16(x, y));
    }
    s = static_cast<uint32_t>(hsum(acc));
#endif
    for (; i < n; i++) s += static_cast<uint32_t>(static_cast<int32_t>(a[i]) * b[i]);
    return static_cast<int32_t>(s);
}

// sum a_j^2, exact for any input of fewer than 2^32 samples.
inline int64_t sumsq(const Word16* a, int n) {
    int i = 0;
    int64_t s = 0;
#ifdef KV_G7231_SSE2
    // A pair of squares is at most 2^31: exact as an unsigned lane, widened
    // to 64 bits before it is added.
    __m128i acc = _mm_setzero_si128();
    const __m128i zero = _mm_setzero_si128();
    for (const int end = n & ~7; i < end; i += 8) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i p = _mm_madd_epi16(x, x);
        acc = _mm_add_epi64(acc, _mm_unpacklo_epi32(p, zero));
        acc = _mm_add_epi64(acc, _mm_unpackhi_epi32(p, zero));
    }
    alignas(16) int64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), acc);
    s = lanes[0] + lanes[1];
#endif
    for (; i < n; i++) s += static_cast<int32_t>(a[i]) * a[i];
    return s;
}

// The largest abs_s(x[i]) (32767 for -32768), 0 when n is 0.
inline Word16 max_abs(const Word16* x, int n) {
    int i = 0;
    Word16 m = 0;
#ifdef KV_G7231_SSE2
    const __m128i zero = _mm_setzero_si128();
    __m128i mv = zero;
    for (const int end = n & ~7; i < end; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
        mv = _mm_max_epi16(mv, _mm_max_epi16(v, _mm_subs_epi16(zero, v)));
    }
    mv = _mm_max_epi16(mv, _mm_shuffle_epi32(mv, 0x4E));
    mv = _mm_max_epi16(mv, _mm_shuffle_epi32(mv, 0xB1));
    mv = _mm_max_epi16(mv, _mm_shufflelo_epi16(mv, 0xB1));
    m = static_cast<Word16>(_mm_cvtsi128_si32(mv));
#endif
    for (; i < n; i++) {
        const Word16 a = abs_s(x[i]);
        if (a > m) m = a;
    }
    return m;
}

// x[i] * 2^s for s >= 0, x[i] >> -s (rounding down) for s < 0, in place. The
// caller makes sure no value leaves 16 bits.
inline void shift(Word16* x, int n, int s) {
    int i = 0;
#ifdef KV_G7231_SSE2
    const __m128i count = _mm_cvtsi32_si128(s < 0 ? -s : s);
    for (const int end = n & ~7; i < end; i += 8) {
        __m128i* p = reinterpret_cast<__m128i*>(x + i);
        const __m128i v = _mm_loadu_si128(p);
        _mm_storeu_si128(p, s < 0 ? _mm_sra_epi16(v, count) : _mm_sll_epi16(v, count));
    }
#endif
    for (; i < n; i++) x[i] = static_cast<Word16>(s < 0 ? x[i] >> -s : x[i] * (1 << s));
}

// out[i] = add(shl(f[i], 1), a[i]): the excitation sum.
inline void add_twice(const Word16* f, const Word16* a, Word16* out, int n) {
    int i = 0;
#ifdef KV_G7231_SSE2
    for (const int end = n & ~7; i < end; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f + i));
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_adds_epi16(_mm_adds_epi16(v, v), w));
    }
#endif
    for (; i < n; i++) out[i] = add(shl(f[i], 1), a[i]);
}

// ceil(|x[i]| / 8) into out, 4096 for -32768. A sum of n products of two
// of these stays below n * 2^24, and 64 times it bounds the same sum over the
// true magnitudes: a cheaper bound than Cauchy-Schwarz when signals are loud
// but not alike.
inline void coarse(const Word16* x, Word16* out, int n) {
    int i = 0;
#ifdef KV_G7231_SSE2
    const __m128i seven = _mm_set1_epi16(7);
    for (const int end = n & ~7; i < end; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i)), sgn = _mm_srai_epi16(v, 15);
        const __m128i a = _mm_sub_epi16(_mm_xor_si128(v, sgn), sgn);  // 0x8000 for -32768: read unsigned
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_srli_epi16(_mm_add_epi16(a, seven), 3));
    }
#endif
    for (; i < n; i++) out[i] = static_cast<Word16>(((x[i] < 0 ? -x[i] : x[i]) + 7) >> 3);
}

// Whether any x[i] is -32768, the one factor whose L_mult with itself
// saturates.
inline bool has_min16(const Word16* x, int n) {
    int i = 0;
#ifdef KV_G7231_SSE2
    const __m128i m = _mm_set1_epi16(MIN_16);
    __m128i any = _mm_setzero_si128();
    for (const int end = n & ~7; i < end; i += 8)
        any = _mm_or_si128(any, _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i)), m));
    if (_mm_movemask_epi8(any) != 0) return true;
#endif
    for (; i < n; i++)
        if (x[i] == MIN_16) return true;
    return false;
}

// Whether base + 2 * sqrt(Ea * Eb) <= MAX_32, for energies Ea = sumsq(a) and
// Eb = sumsq(b). By Cauchy-Schwarz 2 * sqrt(Ea * Eb) bounds every partial sum
// of doubled products a_i * b_j, so a chain of them that starts within base of
// zero neither saturates nor meets L_mult(-32768, -32768), and equals the
// plain sum. Tighter than the bound of L_corr, and dearer.
inline bool cauchy_fits(uint64_t Ea, uint64_t Eb, uint64_t base = 0) {
    if ((Ea >> 32) != 0 || (Eb >> 32) != 0 || base > static_cast<uint64_t>(MAX_32)) return false;
    const uint64_t r = static_cast<uint64_t>(MAX_32) - base;
    return Ea * Eb <= r * r / 4;
}

// The chain L_mac(... L_mac(acc, a_0, b_0) ..., a_n-1, b_n-1), literally.
inline Word32 mac_chain(Word32 acc, const Word16* a, const Word16* b, int n) {
    for (int j = 0; j < n; j++) acc = L_mac(acc, a[j], b[j]);
    return acc;
}

// A saturating sum of terms that are never negative stays at MAX_32 once it
// gets there: it is the exact sum, clipped.
inline Word32 clip_pos(int64_t sum) { return sum > MAX_32 ? MAX_32 : static_cast<Word32>(sum); }

// The L_mac chain from 0 of a with itself.
inline Word32 L_energy(const Word16* a, int n) { return clip_pos(2 * sumsq(a, n)); }

// The L_mac chain from 0 of a with b, given Ea = sumsq(a) and Eb = sumsq(b):
// the plain sum when the bound above holds, the chain itself otherwise.
inline Word32 L_corr(const Word16* a, const Word16* b, int n, int64_t Ea, int64_t Eb) {
    if (Ea + Eb <= MAX_32) return static_cast<Word32>(2 * static_cast<uint32_t>(dot(a, b, n)));
    return mac_chain(0, a, b, n);
}

// Ten-tap chains over a linear history. h[0..9] are the last ten values,
// h[9] the newest, so tap j of a newest-first delay line is h[9 - j]. The
// SIMD path reads h[0..15]; the last six must be readable and only loosen
// the bound (their coefficients are zero).
struct Taps10 {
    alignas(16) Word16 c[16];  // c[9 - j] = coefficient j
    int64_t mag2;              // 2 * sum |coefficient j|
    int32_t mhalf;             // largest M with mag2 * M <= MAX_32 / 2

    explicit Taps10(const Word16* coef) : c{}, mag2(0) {
        for (int j = 0; j < 10; j++) {
            c[9 - j] = coef[j];
            mag2 += 2 * (coef[j] < 0 ? -static_cast<int32_t>(coef[j]) : coef[j]);
        }
        mhalf = mag2 == 0 ? MAX_32 : static_cast<int32_t>((MAX_32 / 2) / mag2);
    }

    // |acc| + mag2 * M <= MAX_32, with a quick 32-bit answer for the usual
    // case of both halves below MAX_32 / 2.
    bool fits(Word32 acc, int32_t M) const {
        const uint32_t a = acc < 0 ? 0u - static_cast<uint32_t>(acc) : static_cast<uint32_t>(acc);
        if (a <= static_cast<uint32_t>(MAX_32 / 2) && M <= mhalf) return true;
        return a + mag2 * M <= MAX_32;
    }
};

// A delay line kept as a linear history: the newest-first delay line of a
// ten-tap filter is the last ten entries reversed, so pushing a value is one
// store. Six spare entries past the end are read (with zero weight) by dot10.
struct History {
    Word16 h[10 + 60 + 6] = {};

    explicit History(const Word16* Dl) {
        for (int j = 0; j < 10; j++) h[9 - j] = Dl[j];
    }
    // The last ten values before sample i, oldest first.
    const Word16* at(int i) const { return &h[i]; }
    void push(int i, Word16 v) { h[10 + i] = v; }
    // The delay line after n samples.
    void store(Word16* Dl, int n) const {
        for (int j = 0; j < 10; j++) Dl[j] = h[n + 9 - j];
    }
};

inline int32_t dot10(const Taps10& t, const Word16* h) {
#ifdef KV_G7231_SSE2
    const __m128i* c = reinterpret_cast<const __m128i*>(t.c);
    const __m128i lo = _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), c[0]);
    const __m128i hi = _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 8)), c[1]);
    return hsum(_mm_add_epi32(lo, hi));
#else
    return dot(t.c, h, 10);
#endif
}

// An upper bound of |h[j]| over the ten values: max(h, ~h) + 1, which also
// covers -32768.
inline int32_t bound10(const Word16* h) {
#ifdef KV_G7231_SSE2
    const __m128i ones = _mm_set1_epi16(-1);
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 8));
    __m128i m = _mm_max_epi16(_mm_max_epi16(a, _mm_xor_si128(a, ones)), _mm_max_epi16(b, _mm_xor_si128(b, ones)));
    m = _mm_max_epi16(m, _mm_shuffle_epi32(m, 0x4E));
    m = _mm_max_epi16(m, _mm_shuffle_epi32(m, 0xB1));
    m = _mm_max_epi16(m, _mm_shufflelo_epi16(m, 0xB1));
    return static_cast<Word16>(_mm_cvtsi128_si32(m)) + 1;
#else
    int32_t m = 0;
    for (int j = 0; j < 10; j++) {
        const int32_t v = h[j] < 0 ? ~h[j] : h[j];
        if (v > m) m = v;
    }
    return m + 1;
#endif
}

// The same bound for one value.
inline int32_t bound1(Word16 v) { return (v < 0 ? ~v : v) + 1; }

// round(L) of L the saturated value of v: extract_h(L_add(clamp(v), 0x8000)).
inline Word16 round_sat(int64_t v) {
    v = (v + 0x8000) >> 16;
    return static_cast<Word16>(v > MAX_16 ? MAX_16 : v < MIN_16 ? MIN_16 : v);
}

// The chains L_mac / L_msu over the ten taps from acc, given M >= |h[j]|:
// every partial sum lies within |acc| + mag2 * M, so when that fits MAX_32
// the chain is acc +- 2 * dot10 (and L_mult(-32768, -32768) cannot occur).
inline Word32 mac10(Word32 acc, const Taps10& t, const Word16* h, int32_t M) {
    if (t.fits(acc, M)) return static_cast<Word32>(static_cast<uint32_t>(acc) + 2 * static_cast<uint32_t>(dot10(t, h)));
    for (int j = 0; j < 10; j++) acc = L_mac(acc, t.c[9 - j], h[9 - j]);
    return acc;
}

inline Word32 msu10(Word32 acc, const Taps10& t, const Word16* h, int32_t M) {
    if (t.fits(acc, M)) return static_cast<Word32>(static_cast<uint32_t>(acc) - 2 * static_cast<uint32_t>(dot10(t, h)));
    for (int j = 0; j < 10; j++) acc = L_msu(acc, t.c[9 - j], h[9 - j]);
    return acc;
}

}  // namespace kv::g7231::dsp
