// LSP conversion, quantisation and interpolation: the fallbacks and branches
// that the reference vectors never reach, plus properties with an
// independent expected value.
#include "g7231/lsp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "g7231/lpc.h"
#include "g7231/tables.h"

namespace g = kv::g7231;
using g::Word16;
using g::Word32;

namespace {

using Vec = std::array<Word16, 10>;

Vec dc() {
    Vec v;
    for (int i = 0; i < 10; i++) v[i] = g::LspDcTable[i];
    return v;
}

Vec ramp(int start, int step) {
    Vec v;
    for (int i = 0; i < 10; i++) v[i] = static_cast<Word16>(start + step * i);
    return v;
}

// ---------------------------------------------------------------------------
// AtoLsp

TEST(Lsp, FlatFilterHasEquallySpacedLsps) {
    // A(z) = 1: the roots of 1 +- z^-11 lie at k*pi/11.
    const Vec prev = ramp(1001, 1000);
    const Vec lpc{};
    Vec lsp;
    g::AtoLsp(lsp.data(), lpc.data(), prev.data());
    for (int k = 0; k < 10; k++) EXPECT_NEAR(lsp[k], (k + 1) * 32768.0 / 11, 2) << k;
}

TEST(Lsp, AtoLspFallsBackToPrevLspWhenRootsAreMissing) {
    // Filters outside the unit circle: the grid search finds fewer than ten
    // sign changes (the count is given for each).
    const Vec unstable[] = {
        Vec{-10929, 2713, 6595, -1518, -2766, -796, -521, 211, -993, -706},             // 9
        Vec{-12651, -6074, -3751, -4496, -3501, -1620, -1874, -1314, -597, -536},       // 9
        Vec{32767, -32767, 32767, -32767, 32767, -32767, 32767, -32767, 15132, -2845},  // 8
        Vec{-11073, 4113, 7400, -213, 2325, 9088, 3388, 6, -2589, -1606},               // 5
        Vec{13148, -22012, 25122, -25189, 32767, -20190, 15960, -9088, 3973, -1255},    // 1
        Vec{-32768, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    };
    const Vec prev = ramp(1007, 1000);
    for (const Vec& lpc : unstable) {
        Vec lsp;
        lsp.fill(-1);
        g::AtoLsp(lsp.data(), lpc.data(), prev.data());
        EXPECT_EQ(lsp, prev) << "lpc[0] = " << lpc[0];
    }
}

// Real LPC from the analysis of a two-formant signal.
Vec analysedLpc() {
    g::CodStat cs;
    g::Init_Coder(cs);
    std::vector<Word16> buf(g::Frame);
    Word16 unq[40];
    for (int f = 0; f < 2; f++) {
        for (int i = 0; i < g::Frame; i++) {
            const double n = f * g::Frame + i;
            buf[i] =
                static_cast<Word16>(6000 * std::sin(0.19 * n) + 3000 * std::sin(1.3 * n) + 500 * std::sin(2.9 * n + 1));
        }
        g::Comp_Lpc(cs, unq, cs.PrevDat, buf.data());
        g::Mem_Shift(cs.PrevDat, buf.data());
    }
    Vec v;
    for (int i = 0; i < 10; i++) v[i] = unq[30 + i];
    return v;
}

TEST(Lsp, LsptoAInvertsAtoLsp) {
    // AtoLsp widens the bandwidth by 0.994^k, so the round trip gives
    // a_k * 0.994^k.
    const Vec lpc = analysedLpc();
    const Vec sentinel = ramp(1, 1);
    Vec lsp;
    g::AtoLsp(lsp.data(), lpc.data(), sentinel.data());
    ASSERT_NE(lsp, sentinel);
    for (int i = 1; i < 10; i++) ASSERT_GT(lsp[i], lsp[i - 1]);

    Vec back = lsp;
    g::LsptoA(back.data());
    double maxCoef = 0;
    for (int i = 0; i < 10; i++) {
        maxCoef = std::max(maxCoef, std::fabs(static_cast<double>(lpc[i])));
        EXPECT_NEAR(back[i], lpc[i] * std::pow(0.994, i + 1), 40) << i;
    }
    EXPECT_GT(maxCoef, 2000);  // a real filter, not a near-flat one
}

// ---------------------------------------------------------------------------
// Lsp_Qnt / Lsp_Svq

// The prediction residual and the weights that Lsp_Qnt must hand to the
// split VQ, derived by hand for each input.
struct QntCase {
    const char* what;
    Vec curr;
    int prevOffset;  // PrevLsp = LspDcTable + prevOffset
    int predicted;   // mult_r(prevOffset, 0x3000)
    Vec weights;
};

const QntCase kQnt[] = {
    // Every distance <= 32: the branch that avoids div_s(32, d) with d < 32.
    {"all neighbours 20 apart", ramp(10000, 20), 0, 0,
     Vec{32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767}},
    {"coinciding LSPs", ramp(12000, 0), 0, 0,
     Vec{32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767}},
    {"crossed LSPs", Vec{9000, 8000, 9100, 9200, 9300, 9400, 9500, 9600, 9700, 9800}, 0, 0,
     Vec{32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767}},
    // 64 apart: div_s(32, 64) = 16384; the pair 10 apart takes 32767.
    {"one close pair", Vec{4000, 4064, 4128, 4192, 4256, 4266, 4330, 4394, 4458, 4522}, 0, 0,
     Vec{16384, 16384, 16384, 16384, 32767, 32767, 16384, 16384, 16384, 16384}},
    // 128 apart: 8192, normalised by one left shift.
    {"normalised weights", ramp(3000, 128), 0, 0,
     Vec{16384, 16384, 16384, 16384, 16384, 16384, 16384, 16384, 16384, 16384}},
    // 32 takes the branch, 33 divides: div_s(32, 33) = 31775.
    {"distance 32 and 33", Vec{5000, 5032, 5065, 5300, 5600, 5900, 6200, 6500, 6800, 7100}, 0, 0,
     Vec{32767, 32767, 31775, 4462, 3495, 3495, 3495, 3495, 3495, 3495}},
    // The previous frame predicts 0.375 of its deviation from the mean.
    {"prediction from PrevLsp", ramp(10000, 20), 800, 300,
     Vec{32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767}},
};

TEST(Lsp, LspQntWeightsAndResidual) {
    for (const QntCase& c : kQnt) {
        Vec prev = dc();
        for (auto& p : prev) p = static_cast<Word16>(p + c.prevOffset);
        const Vec prevBefore = prev;

        Vec residual;
        for (int i = 0; i < 10; i++) residual[i] = static_cast<Word16>(c.curr[i] - g::LspDcTable[i] - c.predicted);

        Vec curr = c.curr;
        const Word32 id = g::Lsp_Qnt(curr.data(), prev.data());
        EXPECT_EQ(curr, residual) << c.what;
        EXPECT_EQ(prev, prevBefore) << c.what;
        EXPECT_EQ(id, g::Lsp_Svq(residual.data(), c.weights.data())) << c.what;
    }
}

// Weights as a plain model: 32 / distance to the nearer neighbour in Q15
// (32767 when that distance is 32 or less), then all shifted left together
// until the largest has its top bit at bit 14.
Vec modelWeights(const Vec& lsp) {
    Vec w;
    for (int i = 0; i < 10; i++) {
        int d;
        if (i == 0)
            d = lsp[1] - lsp[0];
        else if (i == 9)
            d = lsp[9] - lsp[8];
        else
            d = std::min(lsp[i + 1] - lsp[i], lsp[i] - lsp[i - 1]);
        w[i] = static_cast<Word16>(d > 32 ? (32 * 32768) / d : 32767);
    }
    int shift = 0;
    const int mx = *std::max_element(w.begin(), w.end());
    while ((mx << shift) < 0x4000) shift++;
    for (auto& x : w) x = static_cast<Word16>(x << shift);
    return w;
}

TEST(Lsp, LspQntMatchesTheWeightModelOnRealisticVectors) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> dev(-1500, 1500), prevDev(-800, 800), pick(0, 8), close(0, 40);
    for (int n = 0; n < 500; n++) {
        Vec curr, prev;
        for (int i = 0; i < 10; i++) {
            curr[i] = static_cast<Word16>(g::LspDcTable[i] + dev(rng));
            prev[i] = static_cast<Word16>(g::LspDcTable[i] + prevDev(rng));
        }
        std::sort(curr.begin(), curr.end());
        const int p = pick(rng);
        if (n % 2) curr[p + 1] = static_cast<Word16>(curr[p] + close(rng));  // may cross its neighbour

        Vec residual;
        for (int i = 0; i < 10; i++) {
            const int pd = prev[i] - g::LspDcTable[i];
            residual[i] =
                static_cast<Word16>(curr[i] - g::LspDcTable[i] - static_cast<int>(std::floor(pd * 0.375 + 0.5)));
        }
        const Vec w = modelWeights(curr);
        Vec work = curr;
        ASSERT_EQ(g::Lsp_Qnt(work.data(), prev.data()), g::Lsp_Svq(residual.data(), w.data())) << "case " << n;
        ASSERT_EQ(work, residual) << "case " << n;
    }
}

TEST(Lsp, LspSvqFindsExactCodebookEntries) {
    const int rows[][3] = {{17, 200, 99}, {0, 0, 0}, {255, 1, 128}, {67, 33, 190}};
    const Vec w = ramp(32767, 0);
    for (const auto& r : rows) {
        Vec tv;
        for (int j = 0; j < 3; j++) tv[j] = g::Band0Tb8[r[0]][j];
        for (int j = 0; j < 3; j++) tv[3 + j] = g::Band1Tb8[r[1]][j];
        for (int j = 0; j < 4; j++) tv[6 + j] = g::Band2Tb8[r[2]][j];
        EXPECT_EQ(g::Lsp_Svq(tv.data(), w.data()), (r[0] << 16) | (r[1] << 8) | r[2]);
    }
}

TEST(Lsp, LspSvqKeepsTheLowestIndexOnEqualMetrics) {
    // Zero weights make every metric 0.
    const Vec zero{};
    const Vec tv = ramp(-3000, 700);
    EXPECT_EQ(g::Lsp_Svq(tv.data(), zero.data()), 0);
}

// ---------------------------------------------------------------------------
// Lsp_Inq

// PrevLsp that makes index 0 decode (before stabilisation) close to target,
// and the decoded vector itself: mean + 0.375 * (PrevLsp - mean), rounded half up.
struct Steered {
    Vec prev;
    Vec decoded;
};

Steered steer(const Vec& target) {
    Steered s;
    for (int j = 0; j < 10; j++) {
        const int d = g::LspDcTable[j];
        s.prev[j] = static_cast<Word16>(d + (target[j] - d) * 8 / 3);
        s.decoded[j] = static_cast<Word16>(d + std::floor((s.prev[j] - d) * 0.375 + 0.5));
    }
    return s;
}

TEST(Lsp, LspInqOfIndexZeroAfterInitIsTheMean) {
    Vec lsp;
    const Vec prev = dc();
    g::Lsp_Inq(lsp.data(), prev.data(), 0, 0);
    EXPECT_EQ(lsp, dc());
}

TEST(Lsp, LspInqAddsTheCodebookVectors) {
    const Vec prev = dc();
    Vec lsp;
    g::Lsp_Inq(lsp.data(), prev.data(), (5 << 16) | (6 << 8) | 7, 0);
    for (int j = 0; j < 3; j++) EXPECT_EQ(lsp[j], g::LspDcTable[j] + g::Band0Tb8[5][j]);
    for (int j = 0; j < 3; j++) EXPECT_EQ(lsp[3 + j], g::LspDcTable[3 + j] + g::Band1Tb8[6][j]);
    for (int j = 0; j < 4; j++) EXPECT_EQ(lsp[6 + j], g::LspDcTable[6 + j] + g::Band2Tb8[7][j]);
}

TEST(Lsp, LspInqStabilises) {
    {
        // A first LSP below 384 is raised to 384; the rest stays.
        const Steered s = steer(Vec{300, 4721, 7690, 10806, 13872, 16495, 19752, 22260, 25484, 27718});
        ASSERT_LT(s.decoded[0], 384);
        Vec lsp;
        g::Lsp_Inq(lsp.data(), s.prev.data(), 0, 0);
        Vec want = s.decoded;
        want[0] = 384;
        EXPECT_EQ(lsp, want);
    }
    {
        // Neighbours closer than 256 are pushed apart by half the shortfall each.
        const Steered s = steer(Vec{3131, 4721, 7690, 10806, 12000, 12100, 19752, 22260, 25484, 27718});
        const int gap = s.decoded[5] - s.decoded[4];
        ASSERT_LT(gap, 252);
        Vec lsp;
        g::Lsp_Inq(lsp.data(), s.prev.data(), 0, 0);
        Vec want = s.decoded;
        want[4] = static_cast<Word16>(want[4] - ((256 - gap) >> 1));
        want[5] = static_cast<Word16>(want[5] + ((256 - gap) >> 1));
        EXPECT_EQ(lsp, want);
    }
    {
        // A vector that is already stable passes unchanged.
        const Steered s = steer(Vec{1000, 3000, 5500, 8000, 11000, 14000, 17000, 20000, 23000, 26000});
        Vec lsp;
        g::Lsp_Inq(lsp.data(), s.prev.data(), 0, 0);
        EXPECT_EQ(lsp, s.decoded);
    }
}

bool separated(const Vec& v) {
    if (v[0] < 384 || v[9] > 32256) return false;
    for (int j = 1; j < 10; j++)
        if (v[j] - v[j - 1] < 252) return false;
    return true;
}

TEST(Lsp, LspInqFallsBackToPrevLspAfterTenPasses) {
    // Five LSPs packed together: 128 apart they separate in exactly ten
    // passes, 64 apart they need eleven.
    {
        const Steered s = steer(Vec{8245, 8373, 8501, 8629, 8757, 16495, 19752, 22260, 25484, 27718});
        Vec lsp;
        g::Lsp_Inq(lsp.data(), s.prev.data(), 0, 0);
        EXPECT_NE(lsp, s.prev);
        EXPECT_TRUE(separated(lsp));
    }
    {
        const Steered s = steer(Vec{8373, 8437, 8501, 8565, 8629, 16495, 19752, 22260, 25484, 27718});
        Vec lsp;
        g::Lsp_Inq(lsp.data(), s.prev.data(), 0, 0);
        EXPECT_EQ(lsp, s.prev);
    }
    // Ten LSPs at one frequency.
    for (int at : {8000, 10000, 12000}) {
        const Steered s = steer(ramp(at, 0));
        Vec lsp;
        g::Lsp_Inq(lsp.data(), s.prev.data(), 0, 0);
        EXPECT_EQ(lsp, s.prev) << at;
    }
}

// ---------------------------------------------------------------------------
// Lsp_Int

TEST(Lsp, LspIntWeightsTheCurrentVectorByQuarters) {
    const Vec prev = dc();
    const Vec curr{2500, 5000, 7000, 11500, 13000, 17000, 19000, 23000, 25000, 28500};
    Word16 qnt[40];
    g::Lsp_Int(qnt, curr.data(), prev.data());

    // Subframe 3 is the current vector alone, subframe 1 the midpoint
    // (rounded half up).
    Vec last = curr;
    g::LsptoA(last.data());
    Vec mid;
    for (int j = 0; j < 10; j++) mid[j] = static_cast<Word16>((prev[j] + curr[j] + 1) >> 1);
    g::LsptoA(mid.data());
    for (int j = 0; j < 10; j++) {
        EXPECT_EQ(qnt[30 + j], last[j]) << j;
        EXPECT_EQ(qnt[10 + j], mid[j]) << j;
    }

    // Equal vectors give four equal sets.
    Vec same = prev;
    g::Lsp_Int(qnt, prev.data(), prev.data());
    g::LsptoA(same.data());
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 10; j++) EXPECT_EQ(qnt[10 * i + j], same[j]) << i << "," << j;
}

TEST(Lsp, LsptoAOfEquallySpacedLspsIsFlat) {
    Vec lsp;
    for (int k = 0; k < 10; k++) lsp[k] = static_cast<Word16>((k + 1) * 32768.0 / 11 + 0.5);
    g::LsptoA(lsp.data());
    for (int i = 0; i < 10; i++) EXPECT_NEAR(lsp[i], 0, 8) << i;
}

}  // namespace
