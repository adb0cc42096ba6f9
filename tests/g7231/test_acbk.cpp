// Adaptive codebook: excitation slicing, gain-vector decoding, and the
// closed-loop search recovering a lag and gain row planted in its target.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>

#include "g7231/acbk.h"
#include "g7231/coder_state.h"
#include "g7231/tables.h"

namespace kv::g7231 {
namespace {

using Sub = std::array<Word16, SubFrLen>;
using Exc = std::array<Word16, PitchMax>;

CodStat freshState() {
    CodStat cs;
    Init_Coder(cs);
    return cs;
}

Exc randomExcitation(unsigned seed, int amplitude) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(-amplitude, amplitude);
    Exc e;
    for (auto& v : e) v = static_cast<Word16>(d(rng));
    return e;
}

// A decaying, ringing response with the first sample 8192 as the impulse
// responses of the weighting stage always have.
Sub impulseResponse() {
    Sub h;
    for (int i = 0; i < SubFrLen; i++)
        h[i] = static_cast<Word16>(std::lround(8192.0 * std::pow(0.82, i) * std::cos(0.45 * i)));
    return h;
}

// Past excitation seen from the subframe start: time n < 0 is stored, later
// samples repeat the signal one lag earlier.
Word16 extended(const Exc& e, int lag, int n) { return n < 0 ? e[PitchMax + n] : extended(e, lag, n - lag); }

TEST(GetRez, SlicesThePastAndRepeatsTheLastPeriod) {
    const Exc e = randomExcitation(1, 20000);
    for (Word16 lag :
         {Word16(17), Word16(18), Word16(20), Word16(59), Word16(61), Word16(62), Word16(100), Word16(143)}) {
        std::array<Word16, SubFrLen + ClPitchOrd - 1> rez{};
        Exc copy = e;
        Get_Rez(rez.data(), copy.data(), lag);
        for (int k = 0; k < SubFrLen + ClPitchOrd - 1; k++)
            ASSERT_EQ(rez[k], extended(e, lag, k - 2 - lag)) << "lag " << lag << " k " << k;
    }
}

// One excitation sample of 16384 at time r - 2 - lag: the output around r is
// the gain row reversed, Tv[r - j] = row[j], repeated every lag.
TEST(DecodAcbk, AppliesTheFiveTapsOfTheRowChosenByOlp) {
    struct Case {
        Word16 olp, lid, gid;
        bool table170;
    };
    const Case cases[] = {
        {100, 1, 150, true}, {57, 3, 40, false}, {58, 0, 40, true}, {21, 0, 84, false}, {143, 1, 169, true},
    };
    for (const Case& c : cases) {
        const int lag = c.olp - 1 + c.lid;
        const int r = 12;
        Exc e{};
        e[PitchMax - lag - 2 + r] = 16384;
        Sub tv;
        tv.fill(-1);
        Decod_Acbk(tv.data(), e.data(), c.olp, c.lid, c.gid);
        const Word16* row = c.table170 ? AcbkGainTable170[c.gid] : AcbkGainTable085[c.gid];
        Sub expected{};
        for (int rep = r; rep < SubFrLen + 4; rep += lag)
            for (int j = 0; j < ClPitchOrd; j++)
                if (rep - j >= 0 && rep - j < SubFrLen) expected[rep - j] = row[j];
        EXPECT_EQ(tv, expected) << "Olp " << c.olp << " Lid " << c.lid << " Gid " << c.gid;
    }
}

TEST(DecodAcbk, ConstantExcitationScalesByTheTapSum) {
    Exc e;
    e.fill(1000);
    for (Word16 gid : {Word16(1), Word16(42), Word16(84)}) {
        Sub tv;
        Decod_Acbk(tv.data(), e.data(), 40, 1, gid);
        double sum = 0;
        for (int j = 0; j < ClPitchOrd; j++) sum += AcbkGainTable085[gid][j];
        for (Word16 v : tv) ASSERT_EQ(v, std::floor(1000.0 * sum / 16384.0 + 0.5)) << "Gid " << gid;
    }
}

TEST(FindAcbk, SilentPastKeepsTheLagAndTheTarget) {
    struct Case {
        Word16 sfc, olpIn, olpOut;
    };
    const Case cases[] = {
        {0, 18, 19},   {0, 19, 19}, {0, 57, 57},   {0, 100, 100}, {0, 140, 140}, {0, 141, 140},
        {0, 142, 140}, {2, 18, 19}, {2, 142, 140}, {1, 18, 18},   {1, 141, 141}, {3, 60, 60},
    };
    const Sub h = impulseResponse();
    for (const Case& c : cases) {
        CodStat cs = freshState();
        LINEDEF line{};
        line.Olp[c.sfc >> 1] = c.olpIn;
        Sub tv;
        for (int i = 0; i < SubFrLen; i++) tv[i] = static_cast<Word16>(300 * i - 9000);
        const Sub in = tv;
        Sub ir = h;
        Find_Acbk(cs, tv.data(), ir.data(), cs.PrevExc, &line, c.sfc);
        EXPECT_EQ(line.Olp[c.sfc >> 1], c.olpOut) << "Sfc " << c.sfc << " Olp " << c.olpIn;
        EXPECT_EQ(line.Sfs[c.sfc].AcLg, 1);
        EXPECT_EQ(line.Sfs[c.sfc].AcGn, 0);
        EXPECT_EQ(tv, in);
    }
}

struct Planted {
    Word16 sfc, olpIn;
    int lag;     // the lag that built the target
    Word16 gid;  // the gain row that built the target
    Word16 olpOut, aclg;
};

// Target = the excitation of (lag, gid) filtered by the response, at the
// scale the search subtracts it with (sum of x h / 16384). That candidate has
// zero error, so the search must return it and leave at most a rounding step.
void expectRecovered(const Planted& p, CodStat& cs, unsigned seed) {
    Exc e = randomExcitation(seed, 2500);
    const Sub h = impulseResponse();

    const Word16 decodOlp = (p.sfc & 1) ? p.olpIn : static_cast<Word16>(p.lag);
    const Word16 decodLid = static_cast<Word16>((p.sfc & 1) ? p.lag - p.olpIn + 1 : 1);
    Sub x;
    Decod_Acbk(x.data(), e.data(), decodOlp, decodLid, p.gid);
    Sub tv;
    for (int i = 0; i < SubFrLen; i++) {
        int64_t acc = 0;
        for (int j = 0; j <= i; j++) acc += int64_t{x[j]} * h[i - j];
        tv[i] = static_cast<Word16>(std::llround(static_cast<double>(acc) / 16384.0));
    }

    LINEDEF line{};
    line.Olp[p.sfc >> 1] = p.olpIn;
    Sub ir = h;
    Find_Acbk(cs, tv.data(), ir.data(), e.data(), &line, p.sfc);

    EXPECT_EQ(line.Olp[p.sfc >> 1], p.olpOut);
    EXPECT_EQ(line.Sfs[p.sfc].AcLg, p.aclg);
    EXPECT_EQ(line.Sfs[p.sfc].AcGn, p.gid);
    for (int i = 0; i < SubFrLen; i++) EXPECT_LE(std::abs(tv[i]), 1) << "residual at " << i;
}

TEST(FindAcbk, RecoversAPlantedLagAndGainRow) {
    const Planted cases[] = {
        {0, 40, 40, 30, 40, 1},
        {0, 40, 41, 70, 41, 1},
        {0, 40, 39, 5, 39, 1},
        {2, 100, 99, 150, 99, 1},
        {2, 100, 101, 93, 101, 1},
        // The candidates of one even search straddle the table switch at 58.
        {0, 58, 59, 120, 59, 1},
        {0, 58, 57, 40, 57, 1},
        {2, 59, 58, 160, 58, 1},
        // Odd subframes code the offset and keep the table of the pair's lag,
        // even where a candidate reaches 58.
        {1, 57, 59, 40, 57, 3},
        {1, 56, 58, 80, 56, 3},
        {3, 58, 57, 120, 58, 0},
        {1, 18, 17, 12, 18, 0},
        {3, 141, 143, 99, 141, 3},
        // Clamped open-loop lags.
        {0, 18, 18, 10, 18, 1},
        {0, 142, 141, 10, 141, 1},
    };
    unsigned seed = 100;
    for (const Planted& p : cases) {
        SCOPED_TRACE(testing::Message() << "Sfc " << p.sfc << " Olp " << p.olpIn << " lag " << p.lag << " row "
                                        << p.gid);
        CodStat cs = freshState();
        expectRecovered(p, cs, seed++);
    }
}

// Test_Err limits the rows: v = 2 allows rows 0..58 (85-row table), 0..108
// (170-row table); a sine-like state (SinDet < 0) allows 0..50 and 0..92.
TEST(FindAcbk, TamingLimitsTheGainRows) {
    const Word32 v2 = 0x40000000 - 2 * (1 << 23);
    {
        CodStat cs = freshState();
        cs.Err[0] = v2;
        SCOPED_TRACE("row 58 within the limit");
        expectRecovered({0, 40, 40, 58, 40, 1}, cs, 7);
    }
    {
        CodStat cs = freshState();
        cs.Err[3] = v2;  // zone of lags ~100
        SCOPED_TRACE("row 108 within the limit");
        expectRecovered({2, 100, 100, 108, 100, 1}, cs, 8);
    }

    struct Case {
        Word16 olp;
        Word16 gid;
        Word16 sinDet;
        Word32 err;
        int bound;
    };
    const Case cases[] = {
        {40, 59, 0, v2, 59},    {40, 84, 0, v2, 59}, {100, 109, 0, v2, 109},
        {100, 169, 0, v2, 109}, {40, 60, -1, 4, 51}, {100, 150, -1, 4, 93},
    };
    const Sub h = impulseResponse();
    for (const Case& c : cases) {
        CodStat cs = freshState();
        cs.SinDet = c.sinDet;
        for (auto& z : cs.Err) z = c.err;
        Exc e = randomExcitation(c.gid, 2500);
        Sub x;
        Decod_Acbk(x.data(), e.data(), c.olp, 1, c.gid);
        Sub tv;
        for (int i = 0; i < SubFrLen; i++) {
            int64_t acc = 0;
            for (int j = 0; j <= i; j++) acc += int64_t{x[j]} * h[i - j];
            tv[i] = static_cast<Word16>(std::llround(static_cast<double>(acc) / 16384.0));
        }
        LINEDEF line{};
        line.Olp[0] = c.olp;
        Sub ir = h;
        Find_Acbk(cs, tv.data(), ir.data(), e.data(), &line, 0);
        EXPECT_LT(line.Sfs[0].AcGn, c.bound) << "Olp " << c.olp << " row " << c.gid;
        // The search still finds something useful below the limit.
        EXPECT_GT(line.Sfs[0].AcGn, 0);
    }
}

}  // namespace
}  // namespace kv::g7231
