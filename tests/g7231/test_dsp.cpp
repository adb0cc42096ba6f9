// The shared kernels against the saturating chains they stand for, on inputs
// built to sit on both sides of the bound that picks the plain sum.
#include "g7231/dsp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

namespace g = kv::g7231;
namespace dsp = kv::g7231::dsp;
using g::Word16;
using g::Word32;

namespace {

// The literal L_mac chain from 0.
Word32 macChain(const std::vector<Word16>& a, const std::vector<Word16>& b) {
    Word32 acc = 0;
    for (size_t j = 0; j < a.size(); j++) acc = g::L_mac(acc, a[j], b[j]);
    return acc;
}

TEST(Dsp, NormMatchesTheOperator) {
    std::vector<Word32> xs = {0, -1, 1, g::MAX_32, g::MIN_32, -2, 2};
    for (int b = 0; b < 31; b++) {
        const Word32 p = Word32{1} << b;
        for (Word32 x : {p, p - 1, p + 1, -p, -p - 1, -p + 1}) xs.push_back(x);
    }
    std::mt19937 rng(1);
    for (int i = 0; i < 2000; i++) xs.push_back(static_cast<Word32>(rng()) >> (i % 31));
    for (Word32 x : xs) {
        const Word16 n = dsp::norm_l(x);
        ASSERT_EQ(n, g::norm_l(x)) << x;
        ASSERT_EQ(dsp::shl_norm(x, n), g::L_shl(x, n)) << x;
    }
}

TEST(Dsp, DivisionMatchesTheOperatorWithinItsRange) {
    std::mt19937 rng(4);
    for (int i = 0; i < 20000; i++) {
        const Word16 den = static_cast<Word16>(i < 10 ? 1 + i : 1 + rng() % 32767);
        const uint32_t top = static_cast<uint32_t>(den) << 16;
        for (const uint32_t num : {0u, top - 1, top - 2, static_cast<uint32_t>(rng() % top), top / 2, 1u}) {
            ASSERT_EQ(dsp::div_l(static_cast<Word32>(num), den), g::div_l(static_cast<Word32>(num), den))
                << num << "/" << den;
        }
    }
}

// Vectors of constant magnitude m with chosen signs: 2 n m^2 crosses MAX_32
// between m = 2991 and 2992 for n = 120, so these straddle the bound.
struct Shape {
    const char* what;
    int n;
    int mag;        // 0: random magnitudes up to full scale
    bool sameSign;  // b equals a (the worst case for the chain), else random signs
};

const Shape kShapes[] = {
    {"just below, same sign", 120, 2991, true}, {"just above, same sign", 120, 2992, true},
    {"just below, mixed", 120, 2991, false},    {"just above, mixed", 120, 2992, false},
    {"full scale -32768", 60, -32768, true},    {"full scale mixed", 60, -32768, false},
    {"random, odd length", 61, 0, false},       {"random, short", 7, 0, false},
    {"quiet, long", 180, 1000, false},          {"loud, long", 180, 20000, false},
};

TEST(Dsp, CorrelationAndEnergyMatchTheChain) {
    std::mt19937 rng(2);
    int plain = 0;
    int chain = 0;
    for (const Shape& s : kShapes) {
        for (int trial = 0; trial < 50; trial++) {
            std::vector<Word16> a(s.n), b(s.n);
            for (int j = 0; j < s.n; j++) {
                const int m = s.mag ? s.mag : static_cast<int>(rng() % 65536) - 32768;
                a[j] = static_cast<Word16>(s.mag == -32768 || rng() % 2 ? m : -m);
                const int m2 = s.mag ? s.mag : static_cast<int>(rng() % 65536) - 32768;
                b[j] = s.sameSign ? a[j] : static_cast<Word16>(s.mag == -32768 || rng() % 2 ? m2 : -m2);
            }
            int64_t ea = 0, eb = 0;
            for (int j = 0; j < s.n; j++) {
                ea += a[j] * a[j];
                eb += b[j] * b[j];
            }
            ASSERT_EQ(dsp::sumsq(a.data(), s.n), ea) << s.what;
            ASSERT_EQ(dsp::L_energy(a.data(), s.n), macChain(a, a)) << s.what;
            ASSERT_EQ(dsp::L_corr(a.data(), b.data(), s.n, ea, eb), macChain(a, b)) << s.what;
            (ea + eb <= g::MAX_32 ? plain : chain)++;
        }
    }
    EXPECT_GT(plain, 100);
    EXPECT_GT(chain, 100);
}

// Ten-tap chains over a history, against the literal chain over the
// newest-first delay line, from start values and magnitudes on both sides of
// the bound: full-scale taps and histories, -32768 against -32768, and start
// values near either end of the range.
TEST(Dsp, TenTapChainsMatchTheLiteralChain) {
    struct Range {
        int coef, hist;
        Word32 start;
        bool aligned;  // every term of one sign: the chain saturates when the bound says it may
    };
    const Range kRanges[] = {
        {4000, 3000, 0, false},         {32767, 32767, 0, false},         {-32768, -32768, 0, false},
        {20000, 5000, 1 << 30, false},  {20000, 5000, -(1 << 30), false}, {8000, 2000, g::MAX_32, false},
        {8000, 2000, g::MIN_32, false}, {300, 300, 0x04000000, false},    {30000, 8000, 0, true},
        {30000, 4000, 1 << 29, true},
    };
    std::mt19937 rng(3);
    int plain = 0;
    int chain = 0;
    for (const Range& r : kRanges) {
        for (int trial = 0; trial < 200; trial++) {
            auto pick = [&](int m) {
                if (m == -32768) return static_cast<Word16>(rng() % 4 ? -32768 : 32767);
                return static_cast<Word16>(static_cast<int>(rng() % (2 * m + 1)) - m);
            };
            Word16 coef[10];
            Word16 h[16] = {};
            for (int j = 0; j < 10; j++) {
                coef[j] = pick(r.coef);
                h[j] = pick(r.hist);
                if (r.aligned) {
                    coef[j] = static_cast<Word16>(r.coef / 2 + static_cast<int>(rng() % (r.coef / 2)));
                    h[j] = static_cast<Word16>(r.hist / 2 + static_cast<int>(rng() % (r.hist / 2)));
                    if (rng() % 2) coef[j] = static_cast<Word16>(-coef[j]);
                    if (coef[j] < 0) h[j] = static_cast<Word16>(-h[j]);
                }
            }
            const Word32 acc = trial % 2 ? r.start : static_cast<Word32>(rng() % 2 ? r.start / 3 : -r.start / 5);

            Word32 mac = acc;
            Word32 msu = acc;
            int64_t mag = 0;
            int32_t m = 0;
            for (int j = 0; j < 10; j++) {
                mac = g::L_mac(mac, coef[j], h[9 - j]);
                msu = g::L_msu(msu, coef[j], h[9 - j]);
                mag += 2 * std::abs(static_cast<int32_t>(coef[j]));
                m = std::max(m, std::abs(static_cast<int32_t>(h[j])));
            }
            const dsp::Taps10 taps(coef);
            const int32_t bound = dsp::bound10(h);
            ASSERT_GE(bound, m);
            ASSERT_EQ(dsp::mac10(acc, taps, h, bound), mac) << trial;
            ASSERT_EQ(dsp::msu10(acc, taps, h, bound), msu) << trial;
            (std::abs(static_cast<int64_t>(acc)) + mag * bound <= g::MAX_32 ? plain : chain)++;
        }
    }
    EXPECT_GT(plain, 300);
    EXPECT_GT(chain, 300);
}

}  // namespace

// The element-wise kernels against the operators they stand for, on every
// length around a vector's width and on the values where saturation bites.
TEST(Dsp, ElementKernelsMatchTheOperators) {
    const Word16 kEdges[] = {-32768, -32767, -16385, -16384, -1, 0, 1, 16383, 16384, 32767};
    std::mt19937 rng(5);
    for (int n = 0; n <= 20; n++) {
        for (int trial = 0; trial < 50; trial++) {
            std::vector<Word16> f(n), a(n), out(n);
            for (int i = 0; i < n; i++) {
                f[i] = trial % 2 ? kEdges[rng() % 10] : static_cast<Word16>(rng());
                a[i] = static_cast<Word16>(rng());
            }
            Word16 peak = 0;
            for (Word16 v : f) peak = std::max(peak, g::abs_s(v));
            ASSERT_EQ(dsp::max_abs(f.data(), n), peak);

            dsp::add_twice(f.data(), a.data(), out.data(), n);
            for (int i = 0; i < n; i++) ASSERT_EQ(out[i], g::add(g::shl(f[i], 1), a[i])) << f[i] << " " << a[i];

            // Vec_Norm's scaling, at the shifts its peak allows.
            const int s = g::norm_s(peak) - 3;
            out = f;
            dsp::shift(out.data(), n, s);
            for (int i = 0; i < n; i++)
                ASSERT_EQ(out[i], g::extract_l(g::L_shr(g::L_mult(static_cast<Word16>(1 << (s + 3)), f[i]), 4)));

            const int64_t v = static_cast<int64_t>(static_cast<int32_t>(rng())) << (trial % 4);
            const Word32 sat = v > g::MAX_32 ? g::MAX_32 : v < g::MIN_32 ? g::MIN_32 : static_cast<Word32>(v);
            ASSERT_EQ(dsp::round_sat(v), g::round(sat)) << v;
        }
    }
}
