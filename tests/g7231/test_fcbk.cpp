// MP-MLQ fixed codebook: pulse-train expansion, position/sign coding, and the
// search recovering pulses planted in its target.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "g7231/coder_state.h"
#include "g7231/fcbk.h"
#include "g7231/tables.h"
#include "tests/g7231/draw.h"

namespace kv::g7231 {
namespace {

using Sub = std::array<Word16, SubFrLen>;

struct Pulse {
    int pos;
    Word16 amp;
};

Sub pulses(const std::vector<Pulse>& ps) {
    Sub s{};
    for (const Pulse& p : ps) s[p.pos] = p.amp;
    return s;
}

int64_t binomial(int n, int k) {
    if (k < 0 || n < k) return 0;
    int64_t r = 1;
    for (int i = 1; i <= k; i++) r = r * (n - k + i) / i;
    return r;
}

// Unranks Ppos/Pamp with plain binomials, independently of the packing table.
std::vector<Pulse> unpack(const SFSDEF& sfs, int np) {
    std::vector<Pulse> out;
    int64_t rank = sfs.Ppos;
    int left = np;
    for (int i = 0; i < SubFrLen / 2 && left > 0; i++) {
        // Sets with a pulse here rank first: C(29 - i, left - 1) of them.
        const int64_t withPulse = binomial(29 - i, left - 1);
        if (rank >= withPulse) {
            rank -= withPulse;
        } else {
            const int bit = (sfs.Pamp >> (left - 1)) & 1;
            out.push_back({sfs.Grid + 2 * i, static_cast<Word16>(bit ? -1 : 1)});
            left--;
        }
    }
    return out;
}

Sub impulseResponse() {
    Sub h;
    for (int i = 0; i < SubFrLen; i++)
        h[i] = static_cast<Word16>(std::lround(8192.0 * std::pow(0.7, i) * std::cos(0.6 * i)));
    return h;
}

Sub train(const Sub& h, int lag) {
    Sub t{};
    for (int i = 0; i < SubFrLen; i++)
        for (int k = i; k >= 0; k -= lag) t[i] = static_cast<Word16>(t[i] + h[k]);
    return t;
}

// The search's synthesis: y = floor(sum p h / 8192).
Sub synthesise(const Sub& exc, const Sub& h) {
    Sub y;
    for (int l = 0; l < SubFrLen; l++) {
        int64_t acc = 0;
        for (int j = 0; j <= l; j++) acc += int64_t{exc[j]} * h[l - j];
        y[l] = static_cast<Word16>(acc >= 0 ? acc / 8192 : -((-acc + 8191) / 8192));
    }
    return y;
}

int64_t energy(const Sub& s) {
    int64_t e = 0;
    for (Word16 v : s) e += int64_t{v} * v;
    return e;
}

TEST(GenTrn, RepeatsWithThePeriodFromTheOriginal) {
    struct Case {
        Word16 lag;
        std::vector<Pulse> in, out;
    };
    const std::vector<Case> cases = {
        {18, {{3, 5}}, {{3, 5}, {21, 5}, {39, 5}, {57, 5}}},
        {18, {{6, 5}}, {{6, 5}, {24, 5}, {42, 5}}},
        {57, {{0, 1}, {1, 2}, {2, 3}, {3, 4}}, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {57, 1}, {58, 2}, {59, 3}}},
        // Repeats add the source, not the already repeated output.
        {18, {{0, 1}, {18, 10}}, {{0, 1}, {18, 11}, {36, 11}, {54, 11}}},
        {20, {{0, 30000}, {20, 30000}}, {{0, 30000}, {20, 32767}, {40, 32767}}},
        {60, {{0, 7}, {59, -7}}, {{0, 7}, {59, -7}}},
    };
    for (const Case& c : cases) {
        Sub src = pulses(c.in);
        Sub dst;
        dst.fill(99);
        Gen_Trn(dst.data(), src.data(), c.lag);
        EXPECT_EQ(dst, pulses(c.out)) << "lag " << c.lag;
        Gen_Trn(src.data(), src.data(), c.lag);
        EXPECT_EQ(src, pulses(c.out)) << "in place, lag " << c.lag;
    }
}

TEST(FcbkPack, CodesPositionsAndSigns) {
    struct Case {
        Word16 grid, np;
        std::vector<Pulse> ps;
        Word32 ppos;
        Word16 pamp;
    };
    const std::vector<Case> cases = {
        {0, 6, {{0, 1}, {2, -1}, {4, 1}, {6, -1}, {8, 1}, {10, -1}}, 0, 0b010101},
        // The last positions: C(30,6) - 1 and C(30,5) - 1.
        {0, 6, {{48, -1}, {50, -1}, {52, -1}, {54, -1}, {56, -1}, {58, -1}}, 593774, 0b111111},
        {1, 5, {{51, 1}, {53, 1}, {55, 1}, {57, 1}, {59, -1}}, 142505, 0b00001},
        // C(29,5) + C(27,4) + C(25,3) + C(23,2) + C(21,1) + 19 * C(k,0)
        {1, 6, {{3, -9}, {7, 9}, {11, 9}, {15, 9}, {19, 9}, {59, 9}}, 138898, 0b100000},
        {0, 5, {{0, -2}, {2, -2}, {4, -2}, {6, -2}, {8, -2}}, 0, 0b11111},
    };
    for (const Case& c : cases) {
        Sub d = pulses(c.ps);
        BESTDEF best{};
        best.GridId = c.grid;
        best.MampId = 17;
        best.UseTrn = 1;
        SFSDEF sfs{};
        sfs.Ppos = -5;
        sfs.Pamp = -5;
        Fcbk_Pack(d.data(), &sfs, &best, c.np);
        EXPECT_EQ(sfs.Ppos, c.ppos);
        EXPECT_EQ(sfs.Pamp, c.pamp);
        EXPECT_EQ(sfs.Mamp, 17);
        EXPECT_EQ(sfs.Grid, c.grid);
        EXPECT_EQ(sfs.Tran, 1);
    }
}

TEST(FcbkPack, RoundTripsRandomPulseSetsWithinTheFrameRanges) {
    std::mt19937 rng(42);
    for (int trial = 0; trial < 2000; trial++) {
        const Word16 np = trial % 2 ? 5 : 6;
        const Word16 grid = static_cast<Word16>((trial / 2) % 2);
        std::vector<int> slots(30);
        for (int i = 0; i < 30; i++) slots[i] = i;
        std::shuffle(slots.begin(), slots.end(), rng);
        slots.resize(np);
        std::sort(slots.begin(), slots.end());
        std::vector<Pulse> ps;
        for (int s : slots) ps.push_back({grid + 2 * s, static_cast<Word16>(rng() % 2 ? -3 : 3)});
        Sub d = pulses(ps);
        BESTDEF best{};
        best.GridId = grid;
        SFSDEF sfs{};
        Fcbk_Pack(d.data(), &sfs, &best, np);
        if (np == 6) {
            ASSERT_LT(sfs.Ppos, 593775);
            ASSERT_LE(sfs.Ppos >> 16, 9);
        } else {
            ASSERT_LT(sfs.Ppos, 142506);
            ASSERT_LE(sfs.Ppos >> 14, 8);
        }
        ASSERT_GE(sfs.Ppos, 0);
        const std::vector<Pulse> back = unpack(sfs, np);
        ASSERT_EQ(back.size(), ps.size());
        for (size_t i = 0; i < ps.size(); i++) {
            ASSERT_EQ(back[i].pos, ps[i].pos) << "trial " << trial;
            ASSERT_EQ(back[i].amp > 0, ps[i].amp > 0) << "trial " << trial;
        }
    }
}

// Zero target, unit response: the backward-filtered target and the response
// correlation beyond lag 0 vanish, so the first pulse takes the last grid
// position (>=), every later one the first free position (>), all positive;
// gain 2 is the nearest level to 0 and the smallest candidate, level 0
// (amplitude 1), gives the least negative criterion -Np.
TEST(FindBest, ZeroTargetWithUnitResponse) {
    for (Word16 np : {Word16(6), Word16(5)}) {
        Sub tv{};
        Sub h{};
        h[0] = 8192;
        BESTDEF best{};
        best.MaxErr = static_cast<Word32>(0xc0000000u);
        Find_Best(&best, tv.data(), h.data(), np, SubFrLen);
        EXPECT_EQ(best.MaxErr, -np);
        EXPECT_EQ(best.GridId, 0);
        EXPECT_EQ(best.MampId, 0);
        EXPECT_EQ(best.UseTrn, 0);
        const std::array<Word16, 6> ploc = {58, 0, 2, 4, 6, 8};
        for (int j = 0; j < np; j++) {
            EXPECT_EQ(best.Ploc[j], ploc[j]) << j;
            EXPECT_EQ(best.Pamp[j], 1) << j;
        }
    }
}

TEST(FindBest, ZeroTargetWithRealResponse) {
    for (Word16 olp : {Word16(60), Word16(25)}) {
        Sub tv{};
        Sub h = impulseResponse();
        BESTDEF best{};
        best.MaxErr = static_cast<Word32>(0xc0000000u);
        Find_Best(&best, tv.data(), h.data(), 6, olp);
        EXPECT_LE(best.MaxErr, 0);
        EXPECT_GT(best.MaxErr, static_cast<Word32>(0xc0000000u));
        EXPECT_EQ(best.Ploc[0], 58 + best.GridId);
        EXPECT_EQ(best.MampId, 0);
        EXPECT_EQ(best.UseTrn, olp < 58 ? 1 : 0);
    }
}

TEST(FindBest, KeepsABetterStartingCandidate) {
    Sub h = impulseResponse();
    Sub tv = synthesise(pulses({{10, 240}, {30, -240}}), h);
    BESTDEF best{};
    best.MaxErr = MAX_32;
    best.GridId = 1;
    best.MampId = 5;
    Find_Best(&best, tv.data(), h.data(), 6, SubFrLen);
    EXPECT_EQ(best.MaxErr, MAX_32);
    EXPECT_EQ(best.GridId, 1);
    EXPECT_EQ(best.MampId, 5);
}

struct PlantCase {
    Word16 sfc;
    Word16 olp;    // Line.Olp of the half frame
    int trainLag;  // 0 for a plain target
    Word16 gain;   // gain level index
    std::vector<int> pos;
    std::vector<int> neg;  // indices into pos that are negative
    Word16 tran;           // expected choice
};

// Target = the planted pulses (expanded with trainLag) through the response,
// at the search's own synthesis scale: that candidate reproduces the target,
// scores sum(Tv^2), and is the best any candidate can do.
TEST(FindFcbk, RecoversPlantedPulses) {
    const std::vector<PlantCase> cases = {
        {0, 80, 0, 14, {4, 14, 26, 36, 46, 56}, {1, 4}, 0},
        {1, 80, 0, 18, {7, 17, 29, 41, 53}, {0}, 0},
        {2, 60, 0, 10, {1, 13, 23, 33, 45, 59}, {5}, 0},
        {3, 58, 0, 21, {2, 12, 24, 36, 48}, {1, 2, 3}, 0},
        // Pulse trains, found only by the train variant.
        {0, 30, 30, 16, {2, 8, 14, 20, 26, 28}, {2}, 1},
        {1, 19, 19, 12, {1, 5, 9, 13, 17}, {0, 4}, 1},
        {2, 45, 45, 19, {6, 16, 24, 32, 40, 44}, {}, 1},
        {3, 57, 57, 17, {1, 11, 21, 31, 41}, {2}, 1},
        // Lag 58 and above: the train is never searched.
        {0, 58, 0, 15, {0, 10, 20, 30, 40, 50}, {3}, 0},
    };
    const Sub h = impulseResponse();
    for (const PlantCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "Sfc " << c.sfc << " Olp " << c.olp);
        const int np = Nb_puls[c.sfc];
        ASSERT_EQ(static_cast<int>(c.pos.size()), np);
        const Word16 amp = FcbkGainTable[c.gain];
        std::vector<Pulse> ps;
        for (size_t i = 0; i < c.pos.size(); i++) {
            const bool negative = std::find(c.neg.begin(), c.neg.end(), static_cast<int>(i)) != c.neg.end();
            ps.push_back({c.pos[i], static_cast<Word16>(negative ? -amp : amp)});
        }
        const Sub base = pulses(ps);
        const Sub hh = c.trainLag ? train(h, c.trainLag) : h;
        Sub tv = synthesise(base, hh);

        Sub expectedExc = base;
        if (c.tran)
            for (int i = 0; i < SubFrLen; i++)
                for (int k = i - c.olp; k >= 0; k -= c.olp)
                    expectedExc[i] = static_cast<Word16>(expectedExc[i] + base[k]);

        // The best criterion a candidate can reach is sum(Tv^2).
        BESTDEF best{};
        best.MaxErr = static_cast<Word32>(0xc0000000u);
        Sub hcopy = h;
        Find_Best(&best, tv.data(), hcopy.data(), static_cast<Word16>(np), c.tran ? c.olp : Word16(SubFrLen));
        EXPECT_EQ(best.MaxErr, energy(tv));

        LINEDEF line{};
        line.Olp[c.sfc >> 1] = c.olp;
        Sub ir = h;
        Find_Fcbk(tv.data(), ir.data(), &line, c.sfc);
        EXPECT_EQ(tv, expectedExc);
        const SFSDEF& sfs = line.Sfs[c.sfc];
        EXPECT_EQ(sfs.Tran, c.tran);
        EXPECT_EQ(sfs.Mamp, c.gain);
        EXPECT_EQ(sfs.Grid, c.pos[0] % 2);
        const std::vector<Pulse> back = unpack(sfs, np);
        ASSERT_EQ(static_cast<int>(back.size()), np);
        for (int i = 0; i < np; i++) {
            EXPECT_EQ(back[i].pos, ps[i].pos);
            EXPECT_EQ(back[i].amp > 0, ps[i].amp > 0);
        }
    }
}

// A candidate that only equals the best so far never replaces it, so the
// train variant searched second wins only with a strictly larger criterion.
TEST(FindBest, ReplacesOnlyOnAStrictlyLargerCriterion) {
    const Sub h = impulseResponse();
    const Sub base = pulses({{1, 348}, {5, -348}, {11, 348}, {17, 348}, {23, -348}, {27, 348}});
    Sub tv = synthesise(base, train(h, 30));
    Sub hh = h;

    BESTDEF fresh{};
    fresh.MaxErr = static_cast<Word32>(0xc0000000u);
    Find_Best(&fresh, tv.data(), hh.data(), 6, 30);
    ASSERT_EQ(fresh.MaxErr, energy(tv));
    ASSERT_EQ(fresh.UseTrn, 1);

    BESTDEF tie{};
    tie.MaxErr = fresh.MaxErr;
    tie.GridId = 0;
    tie.MampId = 3;
    tie.UseTrn = 0;
    Find_Best(&tie, tv.data(), hh.data(), 6, 30);
    EXPECT_EQ(tie.MaxErr, fresh.MaxErr);
    EXPECT_EQ(tie.GridId, 0);
    EXPECT_EQ(tie.MampId, 3);
    EXPECT_EQ(tie.UseTrn, 0);

    BESTDEF below{};
    below.MaxErr = fresh.MaxErr - 1;
    below.MampId = 3;
    Find_Best(&below, tv.data(), hh.data(), 6, 30);
    EXPECT_EQ(below.MaxErr, fresh.MaxErr);
    EXPECT_EQ(below.GridId, 1);
    EXPECT_EQ(below.MampId, 15);  // FcbkGainTable[15] = 348
    EXPECT_EQ(below.UseTrn, 1);
}

// The same train-built target: searched as a train with the lag below 58,
// plain only from 58 on.
TEST(FindFcbk, TrainSearchedOnlyBelowLag58) {
    const Sub h = impulseResponse();
    const Sub base = pulses({{1, 348}, {5, -348}, {11, 348}, {17, 348}, {23, -348}, {27, 348}});
    const Sub tv = synthesise(base, train(h, 30));
    for (Word16 olp : {Word16(30), Word16(58), Word16(60)}) {
        LINEDEF line{};
        line.Olp[0] = olp;
        Sub t = tv;
        Sub ir = h;
        Find_Fcbk(t.data(), ir.data(), &line, 0);
        EXPECT_EQ(line.Sfs[0].Tran, olp < 58 ? 1 : 0) << "Olp " << olp;
        int nonzero = 0;
        for (Word16 v : t) nonzero += v != 0;
        EXPECT_EQ(nonzero, olp < 58 ? 12 : 6) << "Olp " << olp;
    }
}

TEST(FindFcbk, ZeroTargetCodesUnitPulsesAtTheEnd) {
    const Sub h = impulseResponse();
    for (Word16 sfc = 0; sfc < SubFrames; sfc++) {
        LINEDEF line{};
        line.Olp[sfc >> 1] = 100;
        Sub t{};
        Sub ir = h;
        Find_Fcbk(t.data(), ir.data(), &line, sfc);
        const SFSDEF& sfs = line.Sfs[sfc];
        EXPECT_EQ(sfs.Mamp, 0);
        EXPECT_EQ(sfs.Tran, 0);
        int count = 0;
        for (Word16 v : t) {
            EXPECT_TRUE(v == 0 || v == 1 || v == -1);
            count += v != 0;
        }
        EXPECT_EQ(count, Nb_puls[sfc]);
        EXPECT_NE(t[58 + sfs.Grid], 0);
    }
}

// Find_Best as the plain saturating rendering: every sum through L_mac, the
// candidate filtered through the whole response. The fast routes must agree
// with it bit for bit.
void straightFindBest(BESTDEF* Best, Word16* Tv, Word16* ImpResp, Word16 Np, Word16 Olp) {
    Word16 Imr[SubFrLen];
    Word16 OccPos[SubFrLen];
    Word16 ImrCorr[SubFrLen];
    Word32 ErrBlk[SubFrLen];
    Word32 WrkBlk[SubFrLen];
    Word16 Ploc[MaxPulseNum];
    Word16 Pamp[MaxPulseNum];

    Word16 UseTrn;
    if (Olp < SubFrLen - 2) {
        UseTrn = 1;
        Gen_Trn(Imr, ImpResp, Olp);
    } else {
        UseTrn = 0;
        for (int i = 0; i < SubFrLen; i++) Imr[i] = ImpResp[i];
    }

    // Autocorrelation of the halved response, normalised on its energy.
    for (int i = 0; i < SubFrLen; i++) OccPos[i] = shr(Imr[i], 1);
    Word32 Acc0 = 0;
    for (int i = 0; i < SubFrLen; i++) Acc0 = L_mac(Acc0, OccPos[i], OccPos[i]);
    Word16 Exp = norm_l(Acc0);
    ImrCorr[0] = round(L_shl(Acc0, Exp));
    for (int i = 1; i < SubFrLen; i++) {
        Acc0 = 0;
        for (int j = i; j < SubFrLen; j++) Acc0 = L_mac(Acc0, OccPos[j], OccPos[j - i]);
        ImrCorr[i] = round(L_shl(Acc0, Exp));
    }

    // Target filtered backwards through the (unhalved) response.
    Exp = sub(Exp, 4);
    for (int i = 0; i < SubFrLen; i++) {
        Acc0 = 0;
        for (int j = i; j < SubFrLen; j++) Acc0 = L_mac(Acc0, Tv[j], Imr[j - i]);
        ErrBlk[i] = L_shl(Acc0, Exp);
    }

    for (int k = 0; k < Sgrid; k++) {
        // First pulse where the backward-filtered target peaks; the last of
        // equal peaks wins.
        Word32 Peak = 0;
        Ploc[0] = static_cast<Word16>(k);
        for (int i = k; i < SubFrLen; i += Sgrid) {
            Word32 a = L_abs(ErrBlk[i]);
            if (a >= Peak) {
                Peak = a;
                Ploc[0] = static_cast<Word16>(i);
            }
        }

        // Gain level nearest to the peak; the search then tries the two
        // levels below it and one above.
        Word32 Dist = 0x40000000;
        Word16 Gain = NumOfGainLev - MlqSteps;
        for (int g = NumOfGainLev - MlqSteps; g >= MlqSteps; g--) {
            Word32 d = L_abs(L_sub(L_mult(FcbkGainTable[g], ImrCorr[0]), Peak));
            if (d < Dist) {
                Dist = d;
                Gain = static_cast<Word16>(g);
            }
        }
        const Word16 MaxAmpId = static_cast<Word16>(Gain - 1);

        for (int s = 1; s <= 2 * MlqSteps; s++) {
            const Word16 MampId = static_cast<Word16>(MaxAmpId - MlqSteps + s);

            for (int i = 0; i < SubFrLen; i++) WrkBlk[i] = ErrBlk[i];
            for (int i = k; i < SubFrLen; i += Sgrid) OccPos[i] = 0;

            const Word16 MaxAmp = FcbkGainTable[MampId];

            Pamp[0] = WrkBlk[Ploc[0]] >= 0 ? MaxAmp : negate(MaxAmp);
            OccPos[Ploc[0]] = 1;

            for (int j = 1; j < Np; j++) {
                Word32 Best1 = static_cast<Word32>(0xc0000000u);
                for (int l = k; l < SubFrLen; l += Sgrid) {
                    if (OccPos[l] != 0) continue;
                    // Remove the previous pulse's contribution, then pick the
                    // largest remaining residual; the first of equal values wins.
                    Word32 w = L_msu(WrkBlk[l], Pamp[j - 1], ImrCorr[abs_s(sub(static_cast<Word16>(l), Ploc[j - 1]))]);
                    WrkBlk[l] = w;
                    w = L_abs(w);
                    if (w > Best1) {
                        Best1 = w;
                        Ploc[j] = static_cast<Word16>(l);
                    }
                }
                Pamp[j] = WrkBlk[Ploc[j]] >= 0 ? MaxAmp : negate(MaxAmp);
                OccPos[Ploc[j]] = 1;
            }

            // Filter the candidate pulses through Imr, in place from the end.
            for (int i = 0; i < SubFrLen; i++) OccPos[i] = 0;
            for (int j = 0; j < Np; j++) OccPos[Ploc[j]] = Pamp[j];
            for (int l = SubFrLen - 1; l >= 0; l--) {
                Acc0 = 0;
                for (int j = 0; j <= l; j++) Acc0 = L_mac(Acc0, OccPos[j], Imr[l - j]);
                OccPos[l] = extract_h(L_shl(Acc0, 2));
            }

            // 2<Tv,y> - <y,y>: larger means a smaller weighted error.
            Word32 Acc1 = 0;
            for (int j = 0; j < SubFrLen; j++) {
                Acc1 = L_mac(Acc1, Tv[j], OccPos[j]);
                Acc1 = L_sub(Acc1, L_shr(L_mult(OccPos[j], OccPos[j]), 1));
            }

            if (Acc1 > Best->MaxErr) {
                Best->MaxErr = Acc1;
                Best->GridId = static_cast<Word16>(k);
                Best->MampId = MampId;
                Best->UseTrn = UseTrn;
                for (int j = 0; j < Np; j++) {
                    Best->Ploc[j] = Ploc[j];
                    Best->Pamp[j] = Pamp[j];
                }
            }
        }
    }
}

// A random subframe whose level spans quiet to full scale, sometimes one-signed
// (correlations at their largest) and sometimes with -32768 samples, and a
// response from a gentle decay to a loud resonance.
TEST(FindBest, MatchesTheSaturatingSearchAroundEveryBound) {
    std::mt19937 rng(7231);
    Draw draw{rng};
    uint32_t before[FcbkSteps][2];
    for (int s = 0; s < FcbkSteps; s++)
        for (int e = 0; e < 2; e++) before[s][e] = FcbkPath[s][e].load();

    for (int trial = 0; trial < 2000; trial++) {
        const Word16 np = trial % 2 ? 5 : 6;
        const Word16 olp = static_cast<Word16>(draw.uniform(18, 70));
        const Sub h = draw.response();
        Sub tv = draw.signal<SubFrLen>();
        if (trial % 4 == 0) {
            // Same-sign pulses at the largest gain through the (train) response:
            // the candidates' sums reach their bounds, and beyond.
            std::vector<Pulse> ps;
            const int step = 2 * draw.uniform(1, 4);
            for (int p = draw.uniform(0, 1); p < SubFrLen && static_cast<int>(ps.size()) < np; p += step)
                ps.push_back({p, FcbkGainTable[draw.uniform(20, 23)]});
            tv = synthesise(pulses(ps), olp < SubFrLen - 2 ? train(h, olp) : h);
        }
        const Word32 start = trial % 3 ? static_cast<Word32>(0xc0000000u) : draw.uniform(-1 << 30, 1 << 30);

        BESTDEF want{}, got{};
        want.MaxErr = got.MaxErr = start;
        Sub t1 = tv, h1 = h, t2 = tv, h2 = h;
        straightFindBest(&want, t1.data(), h1.data(), np, olp);
        Find_Best(&got, t2.data(), h2.data(), np, olp);
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        ASSERT_EQ(got.MaxErr, want.MaxErr);
        ASSERT_EQ(got.GridId, want.GridId);
        ASSERT_EQ(got.MampId, want.MampId);
        ASSERT_EQ(got.UseTrn, want.UseTrn);
        for (int j = 0; j < np; j++) {
            ASSERT_EQ(got.Ploc[j], want.Ploc[j]) << j;
            ASSERT_EQ(got.Pamp[j], want.Pamp[j]) << j;
        }
    }
    const char* names[FcbkSteps] = {"autocorrelation", "backward filter", "pulse search", "candidate filter",
                                    "criterion"};
    for (int s = 0; s < FcbkSteps; s++) {
        EXPECT_GT(FcbkPath[s][0].load(), before[s][0]) << names[s] << ": fast route never taken";
        EXPECT_GT(FcbkPath[s][1].load(), before[s][1]) << names[s] << ": exact route never taken";
    }
}

}  // namespace
}  // namespace kv::g7231
