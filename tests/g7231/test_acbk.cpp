// Adaptive codebook: excitation slicing, gain-vector decoding, and the
// closed-loop search recovering a lag and gain row planted in its target.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>

#include "g7231/acbk.h"
#include "g7231/coder_state.h"
#include "g7231/tables.h"
#include "tests/g7231/draw.h"
#include "g7231/tame.h"

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

// Find_Acbk and Decod_Acbk as the plain saturating rendering: every sum
// through the basic operators. The fast routes must agree with it bit for bit.
void straightDecodAcbk(Word16* Tv, Word16* PrevExc, Word16 Olp, Word16 Lid, Word16 Gid) {
    Word16 RezBuf[SubFrLen + ClPitchOrd - 1];
    Get_Rez(RezBuf, PrevExc, static_cast<Word16>(Olp - Pstep + Lid));

    const Word16* row = (Olp >= SubFrLen - 2) ? AcbkGainTable170[Gid] : AcbkGainTable085[Gid];
    for (int i = 0; i < SubFrLen; i++) {
        Word32 Acc0 = 0;
        for (int j = 0; j < ClPitchOrd; j++) Acc0 = L_mac(Acc0, RezBuf[i + j], row[j]);
        Tv[i] = round(L_shl(Acc0, 1));
    }
}

void straightFindAcbk(CodStat& cs, Word16* Tv, Word16* ImpResp, Word16* PrevExc, LINEDEF* Line, Word16 Sfc) {
    Word16 RezBuf[SubFrLen + ClPitchOrd - 1];
    Word16 FltBuf[ClPitchOrd][SubFrLen];
    Word32 CorBuf[4 * 20];
    Word16 CorVct[4 * 20];

    Word16 Olp = Line->Olp[Sfc >> 1];
    Word16 Lid = Pstep;
    Word16 Gid = 0;
    const int Hb = 3 + (Sfc & 1);  // odd subframes also try an offset of +2

    // Keep every candidate lag inside the coded range.
    if ((Sfc & 1) == 0) {
        if (Olp == PitchMin) Olp = add(Olp, 1);
        if (Olp > PitchMax - 5) Olp = PitchMax - 5;
    }

    Word32* lPnt = CorBuf;
    for (int k = 0; k < Hb; k++) {
        Get_Rez(RezBuf, PrevExc, static_cast<Word16>(Olp - Pstep + k));

        for (int i = 0; i < SubFrLen; i++) {
            Word32 Acc0 = 0;
            for (int j = 0; j <= i; j++) Acc0 = L_mac(Acc0, RezBuf[ClPitchOrd - 1 + j], ImpResp[i - j]);
            FltBuf[ClPitchOrd - 1][i] = round(Acc0);
        }

        // Each earlier tap is the next one's response delayed by a sample plus
        // the new excitation sample's response (ImpResp[0] is always 0x2000).
        for (int i = ClPitchOrd - 2; i >= 0; i--) {
            FltBuf[i][0] = mult_r(RezBuf[i], 0x2000);
            for (int j = 1; j < SubFrLen; j++) {
                Word32 Acc0 = L_deposit_h(FltBuf[i + 1][j - 1]);
                Acc0 = L_mac(Acc0, RezBuf[i], ImpResp[j]);
                FltBuf[i][j] = round(Acc0);
            }
        }

        for (int i = 0; i < ClPitchOrd; i++) {
            Word32 Acc1 = 0;
            for (int j = 0; j < SubFrLen; j++) Acc1 = L_add(Acc1, L_shr(L_mult(Tv[j], FltBuf[i][j]), 1));
            *lPnt++ = L_shl(Acc1, 1);
        }

        for (int i = 0; i < ClPitchOrd; i++) {
            Word32 Acc1 = 0;
            for (int j = 0; j < SubFrLen; j++) Acc1 = L_mac(Acc1, FltBuf[i][j], FltBuf[i][j]);
            *lPnt++ = Acc1;
        }

        for (int i = 1; i < ClPitchOrd; i++) {
            for (int j = 0; j < i; j++) {
                Word32 Acc1 = 0;
                for (int l = 0; l < SubFrLen; l++) Acc1 = L_add(Acc1, L_shr(L_mult(FltBuf[i][l], FltBuf[j][l]), 1));
                *lPnt++ = L_shl(Acc1, 2);
            }
        }
    }

    const int nCor = Hb * 20;
    Word32 Mx = 0;
    for (int i = 0; i < nCor; i++) {
        Word32 a = L_abs(CorBuf[i]);
        if (a > Mx) Mx = a;
    }
    Word16 Exp = norm_l(Mx);
    for (int i = 0; i < nCor; i++) CorVct[i] = round(L_shl(CorBuf[i], Exp));

    Word16 off_filt = Test_Err(cs, static_cast<Word16>(Olp - Pstep), static_cast<Word16>(Olp - Pstep + Hb - 1));
    int Bound[2];
    Bound[0] = NbFilt085_min + shl(off_filt, 2);
    if (Bound[0] > NbFilt085) Bound[0] = NbFilt085;
    Bound[1] = NbFilt170_min + shl(off_filt, 3);
    if (Bound[1] > NbFilt170) Bound[1] = NbFilt170;

    Word32 Acc1 = 0;
    for (int k = 0; k < Hb; k++) {
        // Odd subframes code an offset to the pair's lag, so the table follows
        // that lag rather than the candidate.
        const int lag = (Sfc & 1) ? Olp : Olp - Pstep + k;
        const int l = lag >= SubFrLen - 2 ? 1 : 0;
        const Word16(*Table)[20] = AcbkGainTablePtr[l];
        const Word16* Cor = &CorVct[k * 20];

        for (int i = 0; i < Bound[l]; i++) {
            Word32 Acc0 = 0;
            for (int j = 0; j < 20; j++) Acc0 = L_add(Acc0, L_shr(L_mult(Cor[j], Table[i][j]), 1));
            if (Acc0 > Acc1) {
                Acc1 = Acc0;
                Gid = static_cast<Word16>(i);
                Lid = static_cast<Word16>(k);
            }
        }
    }

    if ((Sfc & 1) == 0) {
        Olp = static_cast<Word16>(Olp - Pstep + Lid);
        Lid = Pstep;
    }
    Line->Sfs[Sfc].AcLg = Lid;
    Line->Sfs[Sfc].AcGn = Gid;
    Line->Olp[Sfc >> 1] = Olp;

    straightDecodAcbk(RezBuf, PrevExc, Olp, Lid, Gid);
    for (int i = 0; i < SubFrLen; i++) {
        Word32 Acc0 = L_shr(L_deposit_h(Tv[i]), 1);
        for (int j = 0; j <= i; j++) Acc0 = L_msu(Acc0, RezBuf[j], ImpResp[i - j]);
        Tv[i] = round(L_shl(Acc0, 1));
    }
}

// Random subframes from quiet to full scale, sometimes one-signed and with
// -32768 samples, loud resonant responses, and excitation to match.
TEST(FindAcbk, MatchesTheSaturatingSearchAroundEveryBound) {
    std::mt19937 rng(7231);
    Draw draw{rng};
    uint32_t before[AcbkSteps][2];
    for (int s = 0; s < AcbkSteps; s++)
        for (int e = 0; e < 2; e++) before[s][e] = AcbkPath[s][e].load();

    for (int trial = 0; trial < 2000; trial++) {
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        Sub tv = draw.signal<SubFrLen>();
        const Sub h = draw.response();
        Exc e = draw.signal<PitchMax>();
        if (trial % 4 == 0) {
            // A loud target in phase with loud excitation: the gain rows'
            // sums reach past 32 bits.
            tv.fill(static_cast<Word16>(draw.uniform(16384, 32767)));
            e.fill(static_cast<Word16>(draw.uniform(1024, 32767)));
        }
        const Word16 sfc = static_cast<Word16>(trial % SubFrames);
        CodStat cs = freshState();
        cs.SinDet = static_cast<Word16>(draw.uniform(0, 3) == 0 ? -1 : 0);
        for (auto& z : cs.Err) z = 0x40000000 - draw.uniform(0, 30) * (1 << 23);

        LINEDEF want{}, got{};
        // Odd subframes follow the even one's clamped lag, so reach at most 141.
        want.Olp[sfc >> 1] = got.Olp[sfc >> 1] =
            static_cast<Word16>(draw.uniform(PitchMin, sfc & 1 ? PitchMax - 4 : PitchMax));
        Sub t1 = tv, h1 = h, t2 = tv, h2 = h;
        Exc e1 = e, e2 = e;
        CodStat cs1 = cs, cs2 = cs;
        straightFindAcbk(cs1, t1.data(), h1.data(), e1.data(), &want, sfc);
        Find_Acbk(cs2, t2.data(), h2.data(), e2.data(), &got, sfc);
        ASSERT_EQ(got.Olp[sfc >> 1], want.Olp[sfc >> 1]);
        ASSERT_EQ(got.Sfs[sfc].AcLg, want.Sfs[sfc].AcLg);
        ASSERT_EQ(got.Sfs[sfc].AcGn, want.Sfs[sfc].AcGn);
        ASSERT_EQ(t2, t1);

        // Any row of either table, from loud excitation too.
        const Word16 olp = static_cast<Word16>(draw.uniform(PitchMin + 1, PitchMax - 3));
        const Word16 lid = static_cast<Word16>(draw.uniform(0, 2));
        const Word16 gid = static_cast<Word16>(draw.uniform(0, olp >= SubFrLen - 2 ? NbFilt170 - 1 : NbFilt085 - 1));
        Sub d1, d2;
        straightDecodAcbk(d1.data(), e.data(), olp, lid, gid);
        Decod_Acbk(d2.data(), e.data(), olp, lid, gid);
        ASSERT_EQ(d2, d1) << "Olp " << olp << " Lid " << lid << " Gid " << gid;
    }
    const char* names[AcbkSteps] = {"last tap filter", "correlations", "gain rows", "decoding", "subtraction"};
    for (int s = 0; s < AcbkSteps; s++) {
        EXPECT_GT(AcbkPath[s][0].load(), before[s][0]) << names[s] << ": fast route never taken";
        EXPECT_GT(AcbkPath[s][1].load(), before[s][1]) << names[s] << ": exact route never taken";
    }
}

}  // namespace
}  // namespace kv::g7231
