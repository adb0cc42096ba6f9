// Basic operators: named edge cases, random cross-checks against a plain
// 64-bit rendering of each definition, and the divisions outside their
// domains.
#include "g7231/basop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <functional>
#include <iterator>
#include <random>
#include <string>

namespace g = kv::g7231;
using g::Word16;
using g::Word32;

namespace {

// ---------------------------------------------------------------------------
// Named edge cases.

struct Edge {
    const char* what;
    std::function<int64_t()> op;
    int64_t expect;
};

const Edge kEdges[] = {
    {"add(32767, 1)", [] { return g::add(32767, 1); }, 32767},
    {"add(1, 1)", [] { return g::add(1, 1); }, 2},
    {"add(-32768, -1)", [] { return g::add(-32768, -1); }, -32768},
    {"sub(-32768, 1)", [] { return g::sub(-32768, 1); }, -32768},
    {"sub(0, -32768)", [] { return g::sub(0, -32768); }, 32767},
    {"sub(5, 7)", [] { return g::sub(5, 7); }, -2},
    {"abs_s(-32768)", [] { return g::abs_s(-32768); }, 32767},
    {"abs_s(-5)", [] { return g::abs_s(-5); }, 5},
    {"negate(-32768)", [] { return g::negate(-32768); }, 32767},
    {"negate(32767)", [] { return g::negate(32767); }, -32767},
    {"shl(1, 16)", [] { return g::shl(1, 16); }, 32767},
    {"shl(0, 20)", [] { return g::shl(0, 20); }, 0},
    {"shl(-1, 16)", [] { return g::shl(-1, 16); }, -32768},
    {"shl(-1, 15)", [] { return g::shl(-1, 15); }, -32768},
    {"shl(1, 15)", [] { return g::shl(1, 15); }, 32767},
    {"shl(0x4000, 1)", [] { return g::shl(0x4000, 1); }, 32767},
    {"shl(-0x4000, 1)", [] { return g::shl(-0x4000, 1); }, -32768},
    {"shl(-5, -1)", [] { return g::shl(-5, -1); }, -3},
    {"shl(7, -32768)", [] { return g::shl(7, -32768); }, 0},
    {"shr(-1, 20)", [] { return g::shr(-1, 20); }, -1},
    {"shr(32767, 15)", [] { return g::shr(32767, 15); }, 0},
    {"shr(-32768, 14)", [] { return g::shr(-32768, 14); }, -2},
    {"shr(-3, 1)", [] { return g::shr(-3, 1); }, -2},
    {"shr(3, -2)", [] { return g::shr(3, -2); }, 12},
    {"shr(0x2000, -2)", [] { return g::shr(0x2000, -2); }, 32767},
    {"shr(-3, -32768)", [] { return g::shr(-3, -32768); }, -32768},
    {"mult(-32768, -32768)", [] { return g::mult(-32768, -32768); }, 32767},
    {"mult(-32768, 32767)", [] { return g::mult(-32768, 32767); }, -32767},
    {"mult(-1, 1)", [] { return g::mult(-1, 1); }, -1},
    {"mult_r(-32768, -32768)", [] { return g::mult_r(-32768, -32768); }, 32767},
    {"mult_r(-1, 16384)", [] { return g::mult_r(-1, 16384); }, 0},
    {"mult_r(1, 16384)", [] { return g::mult_r(1, 16384); }, 1},
    {"L_mult(-32768, -32768)", [] { return g::L_mult(-32768, -32768); }, 0x7fffffff},
    {"L_mult(-32768, 32767)", [] { return g::L_mult(-32768, 32767); }, -2147418112},
    {"L_add(MAX_32, 1)", [] { return g::L_add(g::MAX_32, 1); }, 0x7fffffff},
    {"L_add(MIN_32, -1)", [] { return g::L_add(g::MIN_32, -1); }, g::MIN_32},
    {"L_add(1, 2)", [] { return g::L_add(1, 2); }, 3},
    {"L_sub(MIN_32, 1)", [] { return g::L_sub(g::MIN_32, 1); }, g::MIN_32},
    {"L_sub(0, MIN_32)", [] { return g::L_sub(0, g::MIN_32); }, 0x7fffffff},
    {"L_negate(MIN_32)", [] { return g::L_negate(g::MIN_32); }, 0x7fffffff},
    {"L_abs(MIN_32)", [] { return g::L_abs(g::MIN_32); }, 0x7fffffff},
    {"L_abs(-7)", [] { return g::L_abs(-7); }, 7},
    {"L_mac(0, -32768, -32768)", [] { return g::L_mac(0, -32768, -32768); }, 0x7fffffff},
    {"L_mac(-1, -32768, -32768)", [] { return g::L_mac(-1, -32768, -32768); }, 0x7ffffffe},
    {"L_msu(0, -32768, -32768)", [] { return g::L_msu(0, -32768, -32768); }, -0x7fffffff},
    {"L_msu(-2, -32768, -32768)", [] { return g::L_msu(-2, -32768, -32768); }, g::MIN_32},
    {"L_shr(-5, 40)", [] { return g::L_shr(-5, 40); }, -1},
    {"L_shr(5, 31)", [] { return g::L_shr(5, 31); }, 0},
    {"L_shr(-5, 1)", [] { return g::L_shr(-5, 1); }, -3},
    {"L_shl(0x40000000, 1)", [] { return g::L_shl(0x40000000, 1); }, 0x7fffffff},
    {"L_shl(-0x40000001, 1)", [] { return g::L_shl(-0x40000001, 1); }, g::MIN_32},
    {"L_shl(-0x40000000, 1)", [] { return g::L_shl(-0x40000000, 1); }, g::MIN_32},
    {"L_shl(0x3fffffff, 1)", [] { return g::L_shl(0x3fffffff, 1); }, 0x7ffffffe},
    {"L_shl(1, 31)", [] { return g::L_shl(1, 31); }, 0x7fffffff},
    {"L_shl(0, 100)", [] { return g::L_shl(0, 100); }, 0},
    {"L_shl(-8, -2)", [] { return g::L_shl(-8, -2); }, -2},
    {"L_shr(3, -30)", [] { return g::L_shr(3, -30); }, 0x7fffffff},
    {"round(0x7fff8000)", [] { return g::round(0x7fff8000); }, 0x7fff},
    {"round(0x7fff7fff)", [] { return g::round(0x7fff7fff); }, 0x7fff},
    {"round(-0x8000)", [] { return g::round(-0x8000); }, 0},
    {"round(-0x8001)", [] { return g::round(-0x8001); }, -1},
    {"extract_h(0x8000ffff)", [] { return g::extract_h(static_cast<Word32>(0x8000ffff)); }, -32768},
    {"extract_l(0x1234ffff)", [] { return g::extract_l(0x1234ffff); }, -1},
    {"L_deposit_h(-1)", [] { return g::L_deposit_h(-1); }, -65536},
    {"L_deposit_h(-32768)", [] { return g::L_deposit_h(-32768); }, g::MIN_32},
    {"L_deposit_l(-2)", [] { return g::L_deposit_l(-2); }, -2},
    {"norm_s(0)", [] { return g::norm_s(0); }, 0},
    {"norm_s(-1)", [] { return g::norm_s(-1); }, 15},
    {"norm_s(1)", [] { return g::norm_s(1); }, 14},
    {"norm_s(-32768)", [] { return g::norm_s(-32768); }, 0},
    {"norm_s(-16384)", [] { return g::norm_s(-16384); }, 1},
    {"norm_s(-16385)", [] { return g::norm_s(-16385); }, 0},
    {"norm_l(1)", [] { return g::norm_l(1); }, 30},
    {"norm_l(-1)", [] { return g::norm_l(-1); }, 31},
    {"norm_l(0)", [] { return g::norm_l(0); }, 0},
    {"norm_l(MIN_32)", [] { return g::norm_l(g::MIN_32); }, 0},
    {"norm_l(-0x40000000)", [] { return g::norm_l(-0x40000000); }, 1},
    {"div_s(1, 2)", [] { return g::div_s(1, 2); }, 16384},
    {"div_s(5, 5)", [] { return g::div_s(5, 5); }, 32767},
    {"div_s(0, 5)", [] { return g::div_s(0, 5); }, 0},
    {"div_s(1, 32767)", [] { return g::div_s(1, 32767); }, 1},
    {"div_l(0x10000, 2)", [] { return g::div_l(0x10000, 2); }, 16384},
    {"div_l(0x7fffffff, 1)", [] { return g::div_l(0x7fffffff, 1); }, 32767},
    {"div_l(1, 1)", [] { return g::div_l(1, 1); }, 0},
    {"div_l(0, 7)", [] { return g::div_l(0, 7); }, 0},
    {"L_mls(0x00010000, 0x4000)", [] { return g::L_mls(0x00010000, 0x4000); }, 0x8000},
    {"L_mls(0x0000ffff, 0x7fff)", [] { return g::L_mls(0x0000ffff, 0x7fff); }, 65533},
    {"L_mls(-1, 0x7fff)", [] { return g::L_mls(-1, 0x7fff); }, -1},
    {"L_mls(MIN_32, -32768)", [] { return g::L_mls(g::MIN_32, -32768); }, 0x7fffffff},
};

TEST(Basop, EdgeCases) {
    for (const Edge& e : kEdges) EXPECT_EQ(e.op(), e.expect) << e.what;
}

// ---------------------------------------------------------------------------
// Random cross-checks. Each reference is the definition computed in 64 bits
// (floor division for right shifts, clipping at the end).

int64_t floorShr(int64_t v, int n) {
    // floor(v / 2^n) without relying on the shift of a negative value
    const int64_t d = int64_t{1} << n;
    return v >= 0 ? v / d : -((-v + d - 1) / d);
}

int64_t clip16(int64_t v) { return std::clamp<int64_t>(v, -32768, 32767); }

int64_t clip32(int64_t v) { return std::clamp<int64_t>(v, INT32_MIN, INT32_MAX); }

// a * 2^b for b >= 0 with the magnitude capped beyond any 32-bit range
// (a 32-bit a times 2^32 still fits 64 bits)
int64_t times2pow(int64_t a, int b) {
    if (a == 0) return 0;
    if (b > 32) b = 32;
    return a * (int64_t{1} << b);
}

int64_t refShl(int64_t a, int b) {
    if (b >= 0) return clip16(times2pow(a, b));
    return floorShr(a, -b > 40 ? 40 : -b);
}

int64_t refLShl(int64_t a, int b) {
    if (b >= 0) return clip32(times2pow(a, b));
    return floorShr(a, -b > 40 ? 40 : -b);
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

struct Out {
    int64_t got;
    int64_t want;
    std::string args;
};

// Checks kRounds calls of one operator against its reference.
template <typename Call>
void cross(const char* name, Call&& call) {
    for (int n = 0; n < kRounds; n++) {
        const Out o = call();
        if (o.got != o.want) {
            ADD_FAILURE() << name << o.args << ": got " << o.got << ", want " << o.want;
            return;
        }
    }
}

std::string args(int64_t a, int64_t b) { return "(" + std::to_string(a) + ", " + std::to_string(b) + ")"; }
std::string args(int64_t a, int64_t b, int64_t c) {
    return "(" + std::to_string(a) + ", " + std::to_string(b) + ", " + std::to_string(c) + ")";
}

TEST(Basop, Random16BitArithmetic) {
    Gen gen(1);
    cross("add", [&] {
        Word16 a = gen.w16(), b = gen.w16();
        return Out{g::add(a, b), clip16(int64_t{a} + b), args(a, b)};
    });
    cross("sub", [&] {
        Word16 a = gen.w16(), b = gen.w16();
        return Out{g::sub(a, b), clip16(int64_t{a} - b), args(a, b)};
    });
    cross("mult", [&] {
        Word16 a = gen.w16(), b = gen.w16();
        return Out{g::mult(a, b), clip16(floorShr(int64_t{a} * b, 15)), args(a, b)};
    });
    cross("mult_r", [&] {
        Word16 a = gen.w16(), b = gen.w16();
        return Out{g::mult_r(a, b), clip16(floorShr(int64_t{a} * b + 0x4000, 15)), args(a, b)};
    });
    cross("abs_s", [&] {
        Word16 a = gen.w16();
        return Out{g::abs_s(a), clip16(a < 0 ? -int64_t{a} : a), args(a, 0)};
    });
    cross("negate", [&] {
        Word16 a = gen.w16();
        return Out{g::negate(a), clip16(-int64_t{a}), args(a, 0)};
    });
}

TEST(Basop, RandomShifts) {
    Gen gen(2);
    cross("shl", [&] {
        Word16 a = gen.w16(), b = gen.shift();
        return Out{g::shl(a, b), refShl(a, b), args(a, b)};
    });
    cross("shr", [&] {
        Word16 a = gen.w16(), b = gen.shift();
        return Out{g::shr(a, b), refShl(a, -b), args(a, b)};
    });
    cross("L_shl", [&] {
        Word32 a = gen.w32();
        Word16 b = gen.shift();
        return Out{g::L_shl(a, b), refLShl(a, b), args(a, b)};
    });
    cross("L_shr", [&] {
        Word32 a = gen.w32();
        Word16 b = gen.shift();
        return Out{g::L_shr(a, b), refLShl(a, -b), args(a, b)};
    });
}

TEST(Basop, Random32BitArithmetic) {
    Gen gen(3);
    cross("L_mult", [&] {
        Word16 a = gen.w16(), b = gen.w16();
        return Out{g::L_mult(a, b), clip32(2 * int64_t{a} * b), args(a, b)};
    });
    cross("L_add", [&] {
        Word32 a = gen.w32(), b = gen.w32();
        return Out{g::L_add(a, b), clip32(int64_t{a} + b), args(a, b)};
    });
    cross("L_sub", [&] {
        Word32 a = gen.w32(), b = gen.w32();
        return Out{g::L_sub(a, b), clip32(int64_t{a} - b), args(a, b)};
    });
    cross("L_mac", [&] {
        Word32 c = gen.w32();
        Word16 a = gen.w16(), b = gen.w16();
        return Out{g::L_mac(c, a, b), clip32(c + clip32(2 * int64_t{a} * b)), args(c, a, b)};
    });
    cross("L_msu", [&] {
        Word32 c = gen.w32();
        Word16 a = gen.w16(), b = gen.w16();
        return Out{g::L_msu(c, a, b), clip32(c - clip32(2 * int64_t{a} * b)), args(c, a, b)};
    });
    cross("L_negate", [&] {
        Word32 a = gen.w32();
        return Out{g::L_negate(a), clip32(-int64_t{a}), args(a, 0)};
    });
    cross("L_abs", [&] {
        Word32 a = gen.w32();
        return Out{g::L_abs(a), clip32(a < 0 ? -int64_t{a} : a), args(a, 0)};
    });
    cross("round", [&] {
        Word32 a = gen.w32();
        return Out{g::round(a), floorShr(clip32(int64_t{a} + 0x8000), 16), args(a, 0)};
    });
    cross("L_mls", [&] {
        Word32 a = gen.w32();
        Word16 b = gen.w16();
        // low half unsigned, high half signed
        const int64_t lo = static_cast<int64_t>(static_cast<uint32_t>(a) & 0xffffu);
        const int64_t hi = floorShr(a, 16);
        const int64_t t = floorShr(lo * b, 15);
        return Out{g::L_mls(a, b), clip32(t + clip32(2 * hi * b)), args(a, b)};
    });
}

TEST(Basop, RandomConversionsAndNorms) {
    Gen gen(4);
    cross("extract_h", [&] {
        Word32 a = gen.w32();
        return Out{g::extract_h(a), floorShr(a, 16), args(a, 0)};
    });
    cross("extract_l", [&] {
        Word32 a = gen.w32();
        const int64_t lo = static_cast<uint32_t>(a) & 0xffffu;
        return Out{g::extract_l(a), lo >= 0x8000 ? lo - 0x10000 : lo, args(a, 0)};
    });
    cross("L_deposit_h", [&] {
        Word16 a = gen.w16();
        return Out{g::L_deposit_h(a), int64_t{a} * 65536, args(a, 0)};
    });
    cross("norm_s", [&] {
        Word16 a = gen.w16();
        // leading sign bits minus one: 15 minus the bit length of the magnitude part
        const uint32_t m = static_cast<uint32_t>(a < 0 ? -(int32_t{a} + 1) : a);
        const int64_t want = a == 0 ? 0 : 15 - std::bit_width(m);
        return Out{g::norm_s(a), want, args(a, 0)};
    });
    cross("norm_l", [&] {
        Word32 a = gen.w32();
        const uint64_t m = static_cast<uint64_t>(a < 0 ? -(int64_t{a} + 1) : a);
        const int64_t want = a == 0 ? 0 : 31 - std::bit_width(m);
        return Out{g::norm_l(a), want, args(a, 0)};
    });
}

TEST(Basop, RandomDivisions) {
    Gen gen(5);
    // div_s: floor of a/b in Q15 on its domain.
    cross("div_s", [&] {
        Word16 a = static_cast<Word16>(gen.pick(32768));
        Word16 b = static_cast<Word16>(gen.pick(32768));
        if (gen.pick(8) == 0) b = static_cast<Word16>(std::min(a + static_cast<int>(gen.pick(3)), 32767));
        if (b < a) std::swap(a, b);
        if (b == 0) b = 1;
        return Out{g::div_s(a, b), a == b ? 32767 : (int64_t{a} << 15) / b, args(a, b)};
    });
    // div_l: num / (den * 2^16) in Q15 = floor(floor(num / 2) / den) below 1.
    cross("div_l", [&] {
        Word32 num = gen.w32();
        if (num < 0) num = num == INT32_MIN ? 0 : -num;
        Word16 den = gen.w16();
        if (den < 0) den = den == -32768 ? 1 : static_cast<Word16>(-den);
        if (den == 0) den = 1;
        if (gen.pick(2) == 0) num = static_cast<Word32>(int64_t{num} % (int64_t{den} << 16));
        const bool full = int64_t{num} >= (int64_t{den} << 16);
        return Out{g::div_l(num, den), full ? 32767 : (num / 2) / den, args(num, den)};
    });
}

// ---------------------------------------------------------------------------
// Outside their domains the divisions assert in a debug build; elsewhere the
// quotient is clamped to [0, MAX_16].

struct OutOfDomain {
    const char* what;
    Word16 (*call)();
    Word16 clamped;
};

const OutOfDomain kOutOfDomain[] = {
    {"div_s(3, 2)", [] { return g::div_s(3, 2); }, 32767}, {"div_s(-1, 2)", [] { return g::div_s(-1, 2); }, 0},
    {"div_s(0, -1)", [] { return g::div_s(0, -1); }, 0},   {"div_s(1, 0)", [] { return g::div_s(1, 0); }, 32767},
    {"div_s(0, 0)", [] { return g::div_s(0, 0); }, 0},     {"div_s(2, -3)", [] { return g::div_s(2, -3); }, 32767},
    {"div_l(5, 0)", [] { return g::div_l(5, 0); }, 32767}, {"div_l(-5, 0)", [] { return g::div_l(-5, 0); }, 0},
    {"div_l(-1, 3)", [] { return g::div_l(-1, 3); }, 0},   {"div_l(1, -3)", [] { return g::div_l(1, -3); }, 32767},
};

#ifdef NDEBUG
constexpr bool kAsserts = false;
#else
constexpr bool kAsserts = true;
#endif

TEST(BasopDeathTest, DivisionsOutsideTheirDomainAssertOrClamp) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const OutOfDomain& d : kOutOfDomain) {
        Word16 got = -1;
        EXPECT_DEBUG_DEATH(got = d.call(), "Assertion") << d.what;
        if (!kAsserts) {
            EXPECT_EQ(got, d.clamped) << d.what;
        }
    }
}

}  // namespace
