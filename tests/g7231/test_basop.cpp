// Basic operators: named edge cases, random cross-checks against a plain
// 64-bit rendering of each definition (result and Overflow rule), and the
// fatal paths of the divisions.
#include "g7231/basop.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>

namespace g = kv::g7231;
using g::Word16;
using g::Word32;

namespace {

// ---------------------------------------------------------------------------
// Named edge cases.

enum class Ov { Set, Clear, Untouched };

struct Edge {
    const char* what;
    std::function<int64_t()> op;
    int64_t expect;
    Ov ov;
};

const Edge kEdges[] = {
    {"add(32767, 1)", [] { return g::add(32767, 1); }, 32767, Ov::Set},
    {"add(1, 1)", [] { return g::add(1, 1); }, 2, Ov::Clear},
    {"add(-32768, -1)", [] { return g::add(-32768, -1); }, -32768, Ov::Set},
    {"sub(-32768, 1)", [] { return g::sub(-32768, 1); }, -32768, Ov::Set},
    {"sub(0, -32768)", [] { return g::sub(0, -32768); }, 32767, Ov::Set},
    {"sub(5, 7)", [] { return g::sub(5, 7); }, -2, Ov::Clear},
    {"abs_s(-32768)", [] { return g::abs_s(-32768); }, 32767, Ov::Untouched},
    {"abs_s(-5)", [] { return g::abs_s(-5); }, 5, Ov::Untouched},
    {"negate(-32768)", [] { return g::negate(-32768); }, 32767, Ov::Untouched},
    {"negate(32767)", [] { return g::negate(32767); }, -32767, Ov::Untouched},
    {"shl(1, 16)", [] { return g::shl(1, 16); }, 32767, Ov::Set},
    {"shl(0, 20)", [] { return g::shl(0, 20); }, 0, Ov::Untouched},
    {"shl(-1, 16)", [] { return g::shl(-1, 16); }, -32768, Ov::Set},
    {"shl(-1, 15)", [] { return g::shl(-1, 15); }, -32768, Ov::Untouched},
    {"shl(1, 15)", [] { return g::shl(1, 15); }, 32767, Ov::Set},
    {"shl(0x4000, 1)", [] { return g::shl(0x4000, 1); }, 32767, Ov::Set},
    {"shl(-0x4000, 1)", [] { return g::shl(-0x4000, 1); }, -32768, Ov::Untouched},
    {"shl(-5, -1)", [] { return g::shl(-5, -1); }, -3, Ov::Untouched},
    {"shl(7, -32768)", [] { return g::shl(7, -32768); }, 0, Ov::Untouched},
    {"shr(-1, 20)", [] { return g::shr(-1, 20); }, -1, Ov::Untouched},
    {"shr(32767, 15)", [] { return g::shr(32767, 15); }, 0, Ov::Untouched},
    {"shr(-32768, 14)", [] { return g::shr(-32768, 14); }, -2, Ov::Untouched},
    {"shr(-3, 1)", [] { return g::shr(-3, 1); }, -2, Ov::Untouched},
    {"shr(3, -2)", [] { return g::shr(3, -2); }, 12, Ov::Untouched},
    {"shr(0x2000, -2)", [] { return g::shr(0x2000, -2); }, 32767, Ov::Set},
    {"shr(-3, -32768)", [] { return g::shr(-3, -32768); }, -32768, Ov::Set},
    {"mult(-32768, -32768)", [] { return g::mult(-32768, -32768); }, 32767, Ov::Set},
    {"mult(-32768, 32767)", [] { return g::mult(-32768, 32767); }, -32767, Ov::Clear},
    {"mult(-1, 1)", [] { return g::mult(-1, 1); }, -1, Ov::Clear},
    {"mult_r(-32768, -32768)", [] { return g::mult_r(-32768, -32768); }, 32767, Ov::Set},
    {"mult_r(-1, 16384)", [] { return g::mult_r(-1, 16384); }, 0, Ov::Clear},
    {"mult_r(1, 16384)", [] { return g::mult_r(1, 16384); }, 1, Ov::Clear},
    {"L_mult(-32768, -32768)", [] { return g::L_mult(-32768, -32768); }, 0x7fffffff, Ov::Set},
    {"L_mult(-32768, 32767)", [] { return g::L_mult(-32768, 32767); }, -2147418112, Ov::Untouched},
    {"L_add(MAX_32, 1)", [] { return g::L_add(g::MAX_32, 1); }, 0x7fffffff, Ov::Set},
    {"L_add(MIN_32, -1)", [] { return g::L_add(g::MIN_32, -1); }, g::MIN_32, Ov::Set},
    {"L_add(1, 2)", [] { return g::L_add(1, 2); }, 3, Ov::Untouched},
    {"L_sub(MIN_32, 1)", [] { return g::L_sub(g::MIN_32, 1); }, g::MIN_32, Ov::Set},
    {"L_sub(0, MIN_32)", [] { return g::L_sub(0, g::MIN_32); }, 0x7fffffff, Ov::Set},
    {"L_negate(MIN_32)", [] { return g::L_negate(g::MIN_32); }, 0x7fffffff, Ov::Untouched},
    {"L_abs(MIN_32)", [] { return g::L_abs(g::MIN_32); }, 0x7fffffff, Ov::Untouched},
    {"L_abs(-7)", [] { return g::L_abs(-7); }, 7, Ov::Untouched},
    {"L_mac(0, -32768, -32768)", [] { return g::L_mac(0, -32768, -32768); }, 0x7fffffff, Ov::Set},
    {"L_mac(-1, -32768, -32768)", [] { return g::L_mac(-1, -32768, -32768); }, 0x7ffffffe, Ov::Set},
    {"L_msu(0, -32768, -32768)", [] { return g::L_msu(0, -32768, -32768); }, -0x7fffffff, Ov::Set},
    {"L_msu(-2, -32768, -32768)", [] { return g::L_msu(-2, -32768, -32768); }, g::MIN_32, Ov::Set},
    {"L_shr(-5, 40)", [] { return g::L_shr(-5, 40); }, -1, Ov::Untouched},
    {"L_shr(5, 31)", [] { return g::L_shr(5, 31); }, 0, Ov::Untouched},
    {"L_shr(-5, 1)", [] { return g::L_shr(-5, 1); }, -3, Ov::Untouched},
    {"L_shl(0x40000000, 1)", [] { return g::L_shl(0x40000000, 1); }, 0x7fffffff, Ov::Set},
    {"L_shl(-0x40000001, 1)", [] { return g::L_shl(-0x40000001, 1); }, g::MIN_32, Ov::Set},
    {"L_shl(-0x40000000, 1)", [] { return g::L_shl(-0x40000000, 1); }, g::MIN_32, Ov::Untouched},
    {"L_shl(0x3fffffff, 1)", [] { return g::L_shl(0x3fffffff, 1); }, 0x7ffffffe, Ov::Untouched},
    {"L_shl(1, 31)", [] { return g::L_shl(1, 31); }, 0x7fffffff, Ov::Set},
    {"L_shl(0, 100)", [] { return g::L_shl(0, 100); }, 0, Ov::Untouched},
    {"L_shl(-8, -2)", [] { return g::L_shl(-8, -2); }, -2, Ov::Untouched},
    {"L_shr(3, -30)", [] { return g::L_shr(3, -30); }, 0x7fffffff, Ov::Set},
    {"round(0x7fff8000)", [] { return g::round(0x7fff8000); }, 0x7fff, Ov::Set},
    {"round(0x7fff7fff)", [] { return g::round(0x7fff7fff); }, 0x7fff, Ov::Untouched},
    {"round(-0x8000)", [] { return g::round(-0x8000); }, 0, Ov::Untouched},
    {"round(-0x8001)", [] { return g::round(-0x8001); }, -1, Ov::Untouched},
    {"extract_h(0x8000ffff)", [] { return g::extract_h(static_cast<Word32>(0x8000ffff)); }, -32768, Ov::Untouched},
    {"extract_l(0x1234ffff)", [] { return g::extract_l(0x1234ffff); }, -1, Ov::Untouched},
    {"L_deposit_h(-1)", [] { return g::L_deposit_h(-1); }, -65536, Ov::Untouched},
    {"L_deposit_h(-32768)", [] { return g::L_deposit_h(-32768); }, g::MIN_32, Ov::Untouched},
    {"L_deposit_l(-2)", [] { return g::L_deposit_l(-2); }, -2, Ov::Untouched},
    {"norm_s(0)", [] { return g::norm_s(0); }, 0, Ov::Untouched},
    {"norm_s(-1)", [] { return g::norm_s(-1); }, 15, Ov::Untouched},
    {"norm_s(1)", [] { return g::norm_s(1); }, 14, Ov::Untouched},
    {"norm_s(-32768)", [] { return g::norm_s(-32768); }, 0, Ov::Untouched},
    {"norm_s(-16384)", [] { return g::norm_s(-16384); }, 1, Ov::Untouched},
    {"norm_s(-16385)", [] { return g::norm_s(-16385); }, 0, Ov::Untouched},
    {"norm_l(1)", [] { return g::norm_l(1); }, 30, Ov::Untouched},
    {"norm_l(-1)", [] { return g::norm_l(-1); }, 31, Ov::Untouched},
    {"norm_l(0)", [] { return g::norm_l(0); }, 0, Ov::Untouched},
    {"norm_l(MIN_32)", [] { return g::norm_l(g::MIN_32); }, 0, Ov::Untouched},
    {"norm_l(-0x40000000)", [] { return g::norm_l(-0x40000000); }, 1, Ov::Untouched},
    {"div_s(1, 2)", [] { return g::div_s(1, 2); }, 16384, Ov::Clear},
    {"div_s(5, 5)", [] { return g::div_s(5, 5); }, 32767, Ov::Untouched},
    {"div_s(0, 5)", [] { return g::div_s(0, 5); }, 0, Ov::Untouched},
    {"div_s(1, 32767)", [] { return g::div_s(1, 32767); }, 1, Ov::Clear},
    {"div_l(0x10000, 2)", [] { return g::div_l(0x10000, 2); }, 16384, Ov::Clear},
    {"div_l(0x7fffffff, 1)", [] { return g::div_l(0x7fffffff, 1); }, 32767, Ov::Untouched},
    {"div_l(1, 1)", [] { return g::div_l(1, 1); }, 0, Ov::Untouched},
    {"div_l(0, 7)", [] { return g::div_l(0, 7); }, 0, Ov::Untouched},
    {"L_mls(0x00010000, 0x4000)", [] { return g::L_mls(0x00010000, 0x4000); }, 0x8000, Ov::Untouched},
    {"L_mls(0x0000ffff, 0x7fff)", [] { return g::L_mls(0x0000ffff, 0x7fff); }, 65533, Ov::Untouched},
    {"L_mls(-1, 0x7fff)", [] { return g::L_mls(-1, 0x7fff); }, -1, Ov::Untouched},
    {"L_mls(MIN_32, -32768)", [] { return g::L_mls(g::MIN_32, -32768); }, 0x7fffffff, Ov::Set},
};

TEST(Basop, EdgeCases) {
    for (const Edge& e : kEdges) {
        for (g::Flag before : {g::Flag{0}, g::Flag{1}}) {
            g::Overflow = before;
            EXPECT_EQ(e.op(), e.expect) << e.what;
            g::Flag want = before;
            if (e.ov == Ov::Set) want = 1;
            if (e.ov == Ov::Clear) want = 0;
            EXPECT_EQ(g::Overflow, want) << e.what << " with Overflow " << before << " before";
        }
    }
}

TEST(Basop, OverflowIsPerThread) {
    g::Overflow = 0;
    g::Flag seen = -1;
    std::thread t([&] {
        g::add(32767, 1);
        seen = g::Overflow;
    });
    t.join();
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(g::Overflow, 0);
}

// ---------------------------------------------------------------------------
// Random cross-checks. Each reference is the definition computed in 64 bits
// (floor division for right shifts, clipping at the end); `clipped` tells
// whether the definition saturates.

int64_t floorShr(int64_t v, int n) {
    // floor(v / 2^n) without relying on the shift of a negative value
    const int64_t d = int64_t{1} << n;
    return v >= 0 ? v / d : -((-v + d - 1) / d);
}

struct Ref {
    int64_t value;
    bool clipped;
};

Ref clip16(int64_t v) {
    if (v > 32767) return {32767, true};
    if (v < -32768) return {-32768, true};
    return {v, false};
}

Ref clip32(int64_t v) {
    if (v > INT32_MAX) return {INT32_MAX, true};
    if (v < INT32_MIN) return {INT32_MIN, true};
    return {v, false};
}

// a * 2^b for b >= 0 with the magnitude capped beyond any 32-bit range
// (a 32-bit a times 2^32 still fits 64 bits)
int64_t times2pow(int64_t a, int b) {
    if (a == 0) return 0;
    if (b > 32) b = 32;
    return a * (int64_t{1} << b);
}

Ref refShl(int64_t a, int b) {
    if (b >= 0) return clip16(times2pow(a, b));
    return {floorShr(a, -b > 40 ? 40 : -b), false};
}

Ref refLShl(int64_t a, int b) {
    if (b >= 0) return clip32(times2pow(a, b));
    return {floorShr(a, -b > 40 ? 40 : -b), false};
}

class Gen {
public:
    explicit Gen(uint32_t seed) : rng_(seed) {}

    Word16 w16() {
        static const Word16 edges[] = {0,      1,      -1,      2,      -2,      32767,  -32768, 32766,
                                       -32767, 0x4000, -0x4000, 0x3fff, -0x4001, 0x00ff, -0x0100};
        if (pick(4) == 0) return edges[pick(std::size(edges))];
        // mix wide and small magnitudes
        if (pick(2) == 0) return static_cast<Word16>(static_cast<int32_t>(rng_() & 0xff) - 128);
        return static_cast<Word16>(rng_());
    }

    Word32 w32() {
        static const Word32 edges[] = {
            0,           1,          -1,          INT32_MAX,  INT32_MIN, INT32_MAX - 1, INT32_MIN + 1, 0x40000000,
            -0x40000000, 0x3fffffff, -0x40000001, 0x7fff8000, -0x8000,   0x8000,        0xffff,        0x10000};
        if (pick(4) == 0) return edges[pick(std::size(edges))];
        switch (pick(3)) {
            case 0:
                return static_cast<Word32>(rng_());
            case 1:
                return static_cast<Word32>(rng_()) >> pick(31);
            default:
                return static_cast<Word32>(static_cast<int32_t>(rng_() & 0xffff) - 0x8000);
        }
    }

    Word16 shift() { return static_cast<Word16>(static_cast<int>(pick(81)) - 40); }

    uint32_t pick(size_t n) { return static_cast<uint32_t>(rng_() % n); }

private:
    std::mt19937 rng_;
};

constexpr int kRounds = 200000;

// Checks one operator call: result, and Overflow against the rule of the
// operator (clears: add/sub/mult/mult_r; others only set).
template <typename Call>
void cross(const char* name, Gen& gen, Call&& call) {
    for (int n = 0; n < kRounds; n++) {
        const g::Flag before = static_cast<g::Flag>(gen.pick(2));
        g::Overflow = before;
        auto [got, ref, clears, argsText] = call();
        const g::Flag want = clears ? g::Flag(ref.clipped ? 1 : 0) : g::Flag(before | (ref.clipped ? 1 : 0));
        if (got != ref.value || g::Overflow != want) {
            ADD_FAILURE() << name << argsText << ": got " << got << " Overflow " << g::Overflow << ", want "
                          << ref.value << " Overflow " << want;
            return;
        }
    }
}

struct Out {
    int64_t got;
    Ref ref;
    bool clears;
    std::string args;
};

std::string args(int64_t a, int64_t b) { return "(" + std::to_string(a) + ", " + std::to_string(b) + ")"; }
std::string args(int64_t a, int64_t b, int64_t c) {
    return "(" + std::to_string(a) + ", " + std::to_string(b) + ", " + std::to_string(c) + ")";
}

TEST(Basop, Random16BitArithmetic) {
    Gen gen(1);
    cross("add", gen, [&] {
        Word16 a = gen.w16(), b = gen.w16();
        return Out{g::add(a, b), clip16(int64_t{a} + b), true, args(a, b)};
    });
    cross("sub", gen, [&] {
        Word16 a = gen.w16(), b = gen.w16();
        return Out{g::sub(a, b), clip16(int64_t{a} - b), true, args(a, b)};
    });
    cross("mult", gen, [&] {
        Word16 a = gen.w16(), b = gen.w16();
        return Out{g::mult(a, b), clip16(floorShr(int64_t{a} * b, 15)), true, args(a, b)};
    });
    cross("mult_r", gen, [&] {
        Word16 a = gen.w16(), b = gen.w16();
        return Out{g::mult_r(a, b), clip16(floorShr(int64_t{a} * b + 0x4000, 15)), true, args(a, b)};
    });
    cross("abs_s", gen, [&] {
        Word16 a = gen.w16();
        return Out{g::abs_s(a), {clip16(a < 0 ? -int64_t{a} : a).value, false}, false, args(a, 0)};
    });
    cross("negate", gen, [&] {
        Word16 a = gen.w16();
        return Out{g::negate(a), {clip16(-int64_t{a}).value, false}, false, args(a, 0)};
    });
}

TEST(Basop, RandomShifts) {
    Gen gen(2);
    cross("shl", gen, [&] {
        Word16 a = gen.w16(), b = gen.shift();
        return Out{g::shl(a, b), refShl(a, b), false, args(a, b)};
    });
    cross("shr", gen, [&] {
        Word16 a = gen.w16(), b = gen.shift();
        return Out{g::shr(a, b), refShl(a, -b), false, args(a, b)};
    });
    cross("L_shl", gen, [&] {
        Word32 a = gen.w32();
        Word16 b = gen.shift();
        return Out{g::L_shl(a, b), refLShl(a, b), false, args(a, b)};
    });
    cross("L_shr", gen, [&] {
        Word32 a = gen.w32();
        Word16 b = gen.shift();
        return Out{g::L_shr(a, b), refLShl(a, -b), false, args(a, b)};
    });
}

TEST(Basop, Random32BitArithmetic) {
    Gen gen(3);
    cross("L_mult", gen, [&] {
        Word16 a = gen.w16(), b = gen.w16();
        return Out{g::L_mult(a, b), clip32(2 * int64_t{a} * b), false, args(a, b)};
    });
    cross("L_add", gen, [&] {
        Word32 a = gen.w32(), b = gen.w32();
        return Out{g::L_add(a, b), clip32(int64_t{a} + b), false, args(a, b)};
    });
    cross("L_sub", gen, [&] {
        Word32 a = gen.w32(), b = gen.w32();
        return Out{g::L_sub(a, b), clip32(int64_t{a} - b), false, args(a, b)};
    });
    cross("L_mac", gen, [&] {
        Word32 c = gen.w32();
        Word16 a = gen.w16(), b = gen.w16();
        Ref p = clip32(2 * int64_t{a} * b);
        Ref s = clip32(c + p.value);
        return Out{g::L_mac(c, a, b), {s.value, p.clipped || s.clipped}, false, args(c, a, b)};
    });
    cross("L_msu", gen, [&] {
        Word32 c = gen.w32();
        Word16 a = gen.w16(), b = gen.w16();
        Ref p = clip32(2 * int64_t{a} * b);
        Ref s = clip32(c - p.value);
        return Out{g::L_msu(c, a, b), {s.value, p.clipped || s.clipped}, false, args(c, a, b)};
    });
    cross("L_negate", gen, [&] {
        Word32 a = gen.w32();
        return Out{g::L_negate(a), {clip32(-int64_t{a}).value, false}, false, args(a, 0)};
    });
    cross("L_abs", gen, [&] {
        Word32 a = gen.w32();
        return Out{g::L_abs(a), {clip32(a < 0 ? -int64_t{a} : a).value, false}, false, args(a, 0)};
    });
    cross("round", gen, [&] {
        Word32 a = gen.w32();
        Ref s = clip32(int64_t{a} + 0x8000);
        return Out{g::round(a), {floorShr(s.value, 16), s.clipped}, false, args(a, 0)};
    });
    cross("L_mls", gen, [&] {
        Word32 a = gen.w32();
        Word16 b = gen.w16();
        // low half unsigned, high half signed
        const int64_t lo = static_cast<int64_t>(static_cast<uint32_t>(a) & 0xffffu);
        const int64_t hi = floorShr(a, 16);
        const int64_t t = floorShr(lo * b, 15);
        Ref p = clip32(2 * hi * b);
        Ref s = clip32(t + p.value);
        return Out{g::L_mls(a, b), {s.value, p.clipped || s.clipped}, false, args(a, b)};
    });
}

TEST(Basop, RandomConversionsAndNorms) {
    Gen gen(4);
    cross("extract_h", gen, [&] {
        Word32 a = gen.w32();
        return Out{g::extract_h(a), {floorShr(a, 16), false}, false, args(a, 0)};
    });
    cross("extract_l", gen, [&] {
        Word32 a = gen.w32();
        const int64_t lo = static_cast<uint32_t>(a) & 0xffffu;
        return Out{g::extract_l(a), {lo >= 0x8000 ? lo - 0x10000 : lo, false}, false, args(a, 0)};
    });
    cross("L_deposit_h", gen, [&] {
        Word16 a = gen.w16();
        return Out{g::L_deposit_h(a), {int64_t{a} * 65536, false}, false, args(a, 0)};
    });
    cross("norm_s", gen, [&] {
        Word16 a = gen.w16();
        // leading sign bits minus one: 15 minus the bit length of the magnitude part
        const uint32_t m = static_cast<uint32_t>(a < 0 ? -(int32_t{a} + 1) : a);
        const int64_t want = a == 0 ? 0 : 15 - std::bit_width(m);
        return Out{g::norm_s(a), {want, false}, false, args(a, 0)};
    });
    cross("norm_l", gen, [&] {
        Word32 a = gen.w32();
        const uint64_t m = static_cast<uint64_t>(a < 0 ? -(int64_t{a} + 1) : a);
        const int64_t want = a == 0 ? 0 : 31 - std::bit_width(m);
        return Out{g::norm_l(a), {want, false}, false, args(a, 0)};
    });
}

TEST(Basop, RandomDivisions) {
    Gen gen(5);
    // div_s: floor of a/b in Q15 on its domain; add() runs whenever a quotient
    // bit is set and clears Overflow.
    for (int n = 0; n < kRounds; n++) {
        Word16 a = static_cast<Word16>(gen.pick(32768));
        Word16 b = static_cast<Word16>(gen.pick(32768));
        if (gen.pick(8) == 0) b = static_cast<Word16>(a + gen.pick(3));
        if (b < 0 || a > b || b == 0) continue;
        const g::Flag before = static_cast<g::Flag>(gen.pick(2));
        g::Overflow = before;
        const int64_t want = a == b ? 32767 : (int64_t{a} << 15) / b;
        const g::Flag wantOv = (a == 0 || a == b) ? before : g::Flag(want > 0 ? 0 : before);
        const Word16 got = g::div_s(a, b);
        ASSERT_EQ(got, want) << "div_s(" << a << ", " << b << ")";
        ASSERT_EQ(g::Overflow, wantOv) << "div_s(" << a << ", " << b << ")";
    }
    // div_l: num / (den * 2^16) in Q15 = floor(floor(num / 2) / den) below 1.
    for (int n = 0; n < kRounds; n++) {
        Word32 num = gen.w32();
        if (num < 0) num = num == INT32_MIN ? 0 : -num;
        Word16 den = gen.w16();
        if (den < 0) den = den == -32768 ? 1 : static_cast<Word16>(-den);
        if (den == 0) den = 1;
        if (gen.pick(2) == 0) num = static_cast<Word32>(int64_t{num} % (int64_t{den} << 16));
        const g::Flag before = static_cast<g::Flag>(gen.pick(2));
        g::Overflow = before;
        const bool full = int64_t{num} >= (int64_t{den} << 16);
        const int64_t want = full ? 32767 : (num / 2) / den;
        const g::Flag wantOv = (full || want == 0) ? before : g::Flag(0);
        const Word16 got = g::div_l(num, den);
        ASSERT_EQ(got, want) << "div_l(" << num << ", " << den << ")";
        ASSERT_EQ(g::Overflow, wantOv) << "div_l(" << num << ", " << den << ")";
    }
}

// ---------------------------------------------------------------------------
// Fatal paths: the message goes to standard output, the process fails.
// The child sends its standard output to a file, which the parent reads back,
// so the message is compared byte for byte.

// Text mode, like the stream printf wrote: line ends read back as '\n'.
std::string readFile(const std::string& path) {
    std::ifstream f(path);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

struct Fatal {
    const char* what;
    void (*call)();
    const char* message;
};

const Fatal kFatal[] = {
    {"div_s(3, 2)", [] { g::div_s(3, 2); }, "Division Error\n"},
    {"div_s(-1, 2)", [] { g::div_s(-1, 2); }, "Division Error\n"},
    {"div_s(0, -1)", [] { g::div_s(0, -1); }, "Division Error\n"},
    // range is checked before zero
    {"div_s(1, 0)", [] { g::div_s(1, 0); }, "Division Error\n"},
    {"div_s(0, 0)", [] { g::div_s(0, 0); }, "Division by 0, Fatal error \n"},
    {"div_l(5, 0)", [] { g::div_l(5, 0); }, "Division by 0 in div_l, Fatal error \n"},
    // zero is checked before sign
    {"div_l(-5, 0)", [] { g::div_l(-5, 0); }, "Division by 0 in div_l, Fatal error \n"},
    {"div_l(-1, 3)", [] { g::div_l(-1, 3); }, "Division Error in div_l, Fatal error \n"},
    {"div_l(1, -3)", [] { g::div_l(1, -3); }, "Division Error in div_l, Fatal error \n"},
};

TEST(BasopDeathTest, DivisionPreconditionsEndTheProcessWithFailure) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string path = testing::TempDir() + "g7231_basop_fatal.txt";
    for (const Fatal& f : kFatal) {
        std::remove(path.c_str());
        EXPECT_EXIT(
            {
                if (!std::freopen(path.c_str(), "w", stdout)) std::abort();
                f.call();
            },
            testing::ExitedWithCode(1), "")
            << f.what;
        EXPECT_EQ(readFile(path), f.message) << f.what;
    }
    std::remove(path.c_str());
}

}  // namespace
