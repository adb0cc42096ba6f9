// Fixed-point basic operators of the G.723.1 coder.
//
// Every operator reproduces the saturating 16/32-bit arithmetic of the
// standard's definitions exactly; the coder is bit-exact only as long as these
// do. Keep them plain: no reordering, no "equivalent" shortcuts that change a
// saturation value. The definitions' Overflow flag is left out: nothing in the
// coder reads it.
#pragma once

#include <cassert>
#include <cstdint>

namespace kv::g7231 {

using Word16 = int16_t;
using Word32 = int32_t;
using Flag = int16_t;

inline constexpr Word16 MAX_16 = 0x7fff;
inline constexpr Word16 MIN_16 = -0x8000;
inline constexpr Word32 MAX_32 = 0x7fffffff;
inline constexpr Word32 MIN_32 = -0x7fffffff - 1;

namespace detail {
// The clipping step of add, sub, mult and mult_r.
inline Word16 sature(Word32 v) {
    if (v > MAX_16) return MAX_16;
    if (v < MIN_16) return MIN_16;
    return static_cast<Word16>(v);
}

inline Word32 sat32(int64_t v) {
    if (v > MAX_32) return MAX_32;
    if (v < MIN_32) return MIN_32;
    return static_cast<Word32>(v);
}
}  // namespace detail

inline Word16 add(Word16 a, Word16 b) { return detail::sature(static_cast<Word32>(a) + b); }

inline Word16 sub(Word16 a, Word16 b) { return detail::sature(static_cast<Word32>(a) - b); }

inline Word16 abs_s(Word16 a) {
    if (a == MIN_16) return MAX_16;
    return static_cast<Word16>(a < 0 ? -a : a);
}

inline Word16 negate(Word16 a) {
    if (a == MIN_16) return MAX_16;
    return static_cast<Word16>(-a);
}

inline Word16 shr(Word16 a, Word16 b);

inline Word16 shl(Word16 a, Word16 b) {
    if (b < 0) {
        // Any right shift by 16 or more gives the same result; the clamp keeps
        // the negation of -32768 from wrapping.
        return shr(a, static_cast<Word16>(b < -16 ? 16 : -b));
    }
    if (b > 15) {
        if (a == 0) return 0;
        return a > 0 ? MAX_16 : MIN_16;
    }
    const Word32 r = static_cast<Word32>(a) * (static_cast<Word32>(1) << b);
    if (r != static_cast<Word16>(r)) return a > 0 ? MAX_16 : MIN_16;
    return static_cast<Word16>(r);
}

inline Word16 shr(Word16 a, Word16 b) {
    if (b < 0) return shl(a, static_cast<Word16>(b < -16 ? 16 : -b));
    if (b >= 15) return static_cast<Word16>(a < 0 ? -1 : 0);
    return static_cast<Word16>(a >> b);  // arithmetic: rounds toward -infinity
}

inline Word16 mult(Word16 a, Word16 b) { return detail::sature((static_cast<Word32>(a) * b) >> 15); }

inline Word16 mult_r(Word16 a, Word16 b) { return detail::sature((static_cast<Word32>(a) * b + 0x4000) >> 15); }

inline Word32 L_mult(Word16 a, Word16 b) {
    const Word32 p = static_cast<Word32>(a) * b;
    if (p == 0x40000000) return MAX_32;
    return p * 2;
}

inline Word32 L_add(Word32 a, Word32 b) { return detail::sat32(static_cast<int64_t>(a) + b); }

inline Word32 L_sub(Word32 a, Word32 b) { return detail::sat32(static_cast<int64_t>(a) - b); }

inline Word32 L_negate(Word32 a) { return a == MIN_32 ? MAX_32 : -a; }

inline Word32 L_abs(Word32 a) {
    if (a == MIN_32) return MAX_32;
    return a < 0 ? -a : a;
}

inline Word32 L_mac(Word32 c, Word16 a, Word16 b) { return L_add(c, L_mult(a, b)); }

inline Word32 L_msu(Word32 c, Word16 a, Word16 b) { return L_sub(c, L_mult(a, b)); }

inline Word32 L_shr(Word32 a, Word16 b);

inline Word32 L_shl(Word32 a, Word16 b) {
    if (b <= 0) return L_shr(a, static_cast<Word16>(b < -32 ? 32 : -b));
    for (; b > 0; b--) {
        if (a > 0x3fffffff) return MAX_32;
        if (a < -0x40000000) return MIN_32;
        a *= 2;
    }
    return a;
}

inline Word32 L_shr(Word32 a, Word16 b) {
    if (b < 0) return L_shl(a, static_cast<Word16>(b < -32 ? 32 : -b));
    if (b >= 31) return a < 0 ? -1 : 0;
    return a >> b;  // arithmetic
}

inline Word16 extract_h(Word32 a) { return static_cast<Word16>(a >> 16); }

inline Word16 extract_l(Word32 a) { return static_cast<Word16>(a); }

inline Word16 round(Word32 a) { return extract_h(L_add(a, 0x8000)); }

inline Word32 L_deposit_h(Word16 a) { return static_cast<Word32>(static_cast<uint32_t>(a) << 16); }

inline Word32 L_deposit_l(Word16 a) { return a; }

inline Word16 norm_s(Word16 a) {
    if (a == 0) return 0;
    if (a == -1) return 15;
    Word32 v = a < 0 ? ~a : a;
    Word16 n = 0;
    for (; v < 0x4000; n++) v <<= 1;
    return n;
}

inline Word16 norm_l(Word32 a) {
    if (a == 0) return 0;
    if (a == -1) return 31;
    int64_t v = a < 0 ? ~a : a;
    Word16 n = 0;
    for (; v < 0x40000000; n++) v <<= 1;
    return n;
}

// The divisions' domains (div_s: 0 <= a <= b, b > 0; div_l: num >= 0,
// den > 0) hold at every call in the coder; a debug build asserts them.
// Outside them a release build does not end the host's process but clamps
// the quotient to the range [0, MAX_16] it has inside: a dividend of zero or
// less gives 0, a positive one at or above the divisor (so any divisor of
// zero or less) gives MAX_16, as a == b does.
inline Word16 div_s(Word16 a, Word16 b) {
    assert(a >= 0 && a <= b && b > 0);
    if (a <= 0) return 0;
    if (a >= b) return MAX_16;
    Word16 out = 0;
    Word32 num = a;
    const Word32 den = b;
    for (int i = 0; i < 15; i++) {
        out = static_cast<Word16>(out << 1);
        num <<= 1;
        if (num >= den) {
            num = L_sub(num, den);
            out = add(out, 1);
        }
    }
    return out;
}

inline Word16 div_l(Word32 num, Word16 den) {
    assert(num >= 0 && den > 0);
    if (num <= 0) return 0;
    Word32 lden = L_deposit_h(den);
    if (num >= lden) return MAX_16;
    num = L_shr(num, 1);
    lden = L_shr(lden, 1);
    Word16 out = 0;
    for (int i = 0; i < 15; i++) {
        out = shl(out, 1);
        num = L_shl(num, 1);
        if (num >= lden) {
            num = L_sub(num, lden);
            out = add(out, 1);
        }
    }
    return out;
}

// 32x16 multiply in Q15; the low half of a is unsigned.
inline Word32 L_mls(Word32 a, Word16 b) {
    Word32 t = static_cast<Word32>(a & 0xffff) * b;  // at most 65535 * 32768: fits
    t = L_shr(t, 15);
    return L_mac(t, b, extract_h(a));
}

}  // namespace kv::g7231
