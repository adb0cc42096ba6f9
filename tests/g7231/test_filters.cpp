// Perceptual weighting, impulse response and ringing filters, with responses
// worked out by hand for one- and two-tap coefficient sets. Coefficients are at
// quarter scale, so 8192 stands for 1.0 in the synthesis part.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "g7231/coder_state.h"
#include "g7231/filters.h"
#include "g7231/tables.h"

namespace kv::g7231 {
namespace {

using Sub = std::array<Word16, SubFrLen>;
using Lpc10 = std::array<Word16, LpcOrder>;
using Lpc20 = std::array<Word16, 2 * LpcOrder>;

CodStat freshState() {
    CodStat cs;
    Init_Coder(cs);
    return cs;
}

// Field by field: a byte compare would also see the padding after HpfZdl.
template <class T, size_t N>
bool same(const T (&a)[N], const T (&b)[N]) {
    return std::equal(a, a + N, b);
}

bool sameState(const CodStat& a, const CodStat& b) {
    return a.HpfZdl == b.HpfZdl && a.HpfPdl == b.HpfPdl && a.SinDet == b.SinDet && same(a.PrevLsp, b.PrevLsp) &&
           same(a.PrevWgt, b.PrevWgt) && same(a.PrevErr, b.PrevErr) && same(a.PrevExc, b.PrevExc) &&
           same(a.PrevDat, b.PrevDat) && same(a.WghtFirDl, b.WghtFirDl) && same(a.WghtIirDl, b.WghtIirDl) &&
           same(a.RingFirDl, b.RingFirDl) && same(a.RingIirDl, b.RingIirDl) && same(a.Err, b.Err);
}

// 8192, 4096, ... halving with round-half-up, which sticks at 1.
Word16 halving(int i) { return static_cast<Word16>(i >= 13 ? 1 : 8192 >> i); }

TEST(WghtLpc, ScalesEachSubframeIntoZeroAndPoleHalves) {
    std::array<Word16, 4 * LpcOrder> unq;
    for (int k = 0; k < SubFrames; k++)
        for (int j = 0; j < LpcOrder; j++)
            unq[10 * k + j] = static_cast<Word16>((k % 2 ? -1 : 1) * (4096 * (k + 1) + 101 * j));
    std::array<Word16, 8 * LpcOrder> per{};
    Wght_Lpc(per.data(), unq.data());
    for (int k = 0; k < SubFrames; k++) {
        for (int j = 0; j < LpcOrder; j++) {
            const double a = unq[10 * k + j];
            EXPECT_EQ(per[20 * k + j], std::floor(a * PerFiltZeroTable[j] / 32768.0 + 0.5)) << k << "," << j;
            EXPECT_EQ(per[20 * k + 10 + j], std::floor(a * PerFiltPoleTable[j] / 32768.0 + 0.5)) << k << "," << j;
        }
    }
}

TEST(ErrorWght, ZeroCoefficientsPassTheSignal) {
    CodStat cs = freshState();
    std::array<Word16, Frame> buf;
    for (int i = 0; i < Frame; i++) buf[i] = static_cast<Word16>(i * 263 - 30000);
    auto in = buf;
    std::array<Word16, 8 * LpcOrder> per{};
    Error_Wght(cs, buf.data(), per.data());
    EXPECT_EQ(buf, in);
}

// Subframe 0: pole 0.5 (y += y(n-1)/2); subframe 1: zero 1.0 (y -= x(n-1));
// subframe 2: second pole 0.5 (y += y(n-2)/2); subframe 3: nothing. The
// memories run on across subframes and into the next call.
TEST(ErrorWght, EachSubframeUsesItsCoefficientsAndMemoriesCarryOver) {
    CodStat cs = freshState();
    std::array<Word16, 8 * LpcOrder> per{};
    per[10] = 4096;       // subframe 0, pole 1
    per[20 + 0] = 8192;   // subframe 1, zero 1
    per[40 + 11] = 4096;  // subframe 2, pole 2
    std::array<Word16, Frame> buf{};
    buf[57] = 8192;
    buf[59] = 8192;
    buf[120] = 8192;
    buf[239] = 1000;
    Error_Wght(cs, buf.data(), per.data());

    std::array<Word16, Frame> expected{};
    expected[57] = 8192;
    expected[58] = 4096;
    expected[59] = 8192 + 2048;
    expected[60] = -8192;  // the zero part sees x(59)
    expected[120] = 8192;
    for (int k = 1; 120 + 2 * k < 180; k++) expected[120 + 2 * k] = halving(k);
    expected[239] = 1000;
    EXPECT_EQ(buf, expected);

    // Next frame, subframe 0 coefficients only: the pole memory still holds 1000.
    std::array<Word16, 8 * LpcOrder> per2{};
    per2[10] = 4096;
    per2[0] = -8192;  // y += x(n-1)
    std::array<Word16, Frame> next{};
    Error_Wght(cs, next.data(), per2.data());
    EXPECT_EQ(next[0], 1000 + 500);
    EXPECT_EQ(next[1], 750);
    EXPECT_EQ(next[2], 375);
}

TEST(CompIr, ZeroCoefficientsGiveTheScaledImpulse) {
    Lpc10 q{};
    Lpc20 p{};
    Sub ir;
    Comp_Ir(ir.data(), q.data(), p.data(), PWDEF{60, 0});
    EXPECT_EQ(ir[0], 8192);
    for (int i = 1; i < SubFrLen; i++) EXPECT_EQ(ir[i], 0) << i;
}

TEST(CompIr, OneTapResponses) {
    struct Case {
        const char* name;
        int q, zero, pole;  // index of the 4096 coefficient, -1 for none
        std::array<Word16, 4> head;
    };
    const Case cases[] = {
        // Synthesis 1 / (1 - 0.5 z^-1): halving.
        {"synthesis", 0, -1, -1, {8192, 4096, 2048, 1024}},
        // Zero part 1 - 0.5 z^-1 (doubled before the pole part).
        {"zero1", -1, 0, -1, {8192, -4096, 0, 0}},
        {"zero2", -1, 1, -1, {8192, 0, -4096, 0}},
        // Pole part 1 / (1 - 0.5 z^-1).
        {"pole1", -1, -1, 0, {8192, 4096, 2048, 1024}},
        {"pole2", -1, -1, 1, {8192, 0, 4096, 0}},
    };
    for (const Case& c : cases) {
        Lpc10 q{};
        Lpc20 p{};
        if (c.q >= 0) q[c.q] = 4096;
        if (c.zero >= 0) p[c.zero] = 4096;
        if (c.pole >= 0) p[10 + c.pole] = 4096;
        Sub ir;
        Comp_Ir(ir.data(), q.data(), p.data(), PWDEF{60, 0});
        for (int i = 0; i < 4; i++) EXPECT_EQ(ir[i], c.head[i]) << c.name << " " << i;
        if (c.zero >= 0) {
            for (int i = 4; i < SubFrLen; i++) EXPECT_EQ(ir[i], 0) << c.name << " " << i;
        }
    }
}

TEST(CompIr, RoundingMakesTheDecayStickAtOne) {
    Lpc10 q{};
    Lpc20 p{};
    q[0] = 4096;
    Sub ir;
    Comp_Ir(ir.data(), q.data(), p.data(), PWDEF{60, 0});
    for (int i = 0; i < SubFrLen; i++) EXPECT_EQ(ir[i], halving(i)) << i;

    p = {};
    q = {};
    p[11] = 4096;
    Comp_Ir(ir.data(), q.data(), p.data(), PWDEF{60, 0});
    for (int i = 0; i < SubFrLen; i++) EXPECT_EQ(ir[i], i % 2 ? 0 : halving(i / 2)) << i;
}

// The harmonic filter is one tap on the weighted response, not recursive.
TEST(CompIr, HarmonicTapSubtractsTheDelayedWeightedResponse) {
    Lpc10 q{};
    Lpc20 p{};
    Sub ir;
    for (Word16 lag : {Word16(18), Word16(20), Word16(59)}) {
        Comp_Ir(ir.data(), q.data(), p.data(), PWDEF{lag, 10240});
        for (int i = 0; i < SubFrLen; i++) {
            const Word16 expected = i == 0 ? 8192 : i == lag ? -2560 : 0;
            EXPECT_EQ(ir[i], expected) << "lag " << lag << " sample " << i;
        }
    }
    for (Word16 lag : {Word16(60), Word16(100), Word16(145)}) {
        Comp_Ir(ir.data(), q.data(), p.data(), PWDEF{lag, 10240});
        EXPECT_EQ(ir[0], 8192);
        for (int i = 1; i < SubFrLen; i++) EXPECT_EQ(ir[i], 0) << "lag " << lag << " sample " << i;
    }

    p[10] = 4096;
    Comp_Ir(ir.data(), q.data(), p.data(), PWDEF{20, 16384});
    for (int i = 0; i < SubFrLen; i++) {
        const double w = halving(i);
        const double wl = i >= 20 ? halving(i - 20) : 0;
        EXPECT_EQ(ir[i], std::floor(w - 0.5 * wl + 0.5)) << i;
    }
}

TEST(SubRing, FreshStateLeavesTargetAndStateAlone) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> coef(-3000, 3000), sample(-20000, 20000);
    CodStat cs = freshState();
    const CodStat before = cs;
    Lpc10 q;
    Lpc20 p;
    for (auto& v : q) v = static_cast<Word16>(coef(rng));
    for (auto& v : p) v = static_cast<Word16>(coef(rng));
    for (PWDEF pw : {PWDEF{30, 10240}, PWDEF{100, 5000}, PWDEF{145, 0}}) {
        Sub t;
        for (auto& v : t) v = static_cast<Word16>(sample(rng));
        const Sub in = t;
        Sub_Ring(cs, t.data(), q.data(), p.data(), cs.PrevErr, pw);
        EXPECT_EQ(t, in);
    }
    EXPECT_TRUE(sameState(cs, before));
}

TEST(SubRing, SubtractsTheDecayingRingingFromEitherMemory) {
    // r = 500, 250, 125, 63, 32, 16, 8, 4, 2, 1, then 1 by rounding.
    const std::array<Word16, 10> head = {500, 250, 125, 63, 32, 16, 8, 4, 2, 1};
    for (bool throughFir : {false, true}) {
        CodStat cs = freshState();
        Lpc10 q{};
        Lpc20 p{};
        if (throughFir) {
            q[0] = 4096;
            cs.RingFirDl[0] = 1000;
        } else {
            p[10] = 4096;
            cs.RingIirDl[0] = 1000;
        }
        const CodStat before = cs;
        Sub t;
        t.fill(100);
        Sub_Ring(cs, t.data(), q.data(), p.data(), cs.PrevErr, PWDEF{60, 0});
        for (int i = 0; i < SubFrLen; i++)
            EXPECT_EQ(t[i], 100 - (i < 10 ? head[i] : 1)) << (throughFir ? "fir " : "iir ") << i;
        EXPECT_TRUE(sameState(cs, before));
    }
}

// With no ringing the harmonic term adds g times the stored error one lag back
// (the opposite sign of Comp_Ir: it removes a ringing that was subtracted).
TEST(SubRing, HarmonicTermReadsPrevErrOneLagBack) {
    CodStat cs = freshState();
    for (int k = 0; k < PitchMax; k++) cs.PrevErr[k] = static_cast<Word16>(2 * k);
    Lpc10 q{};
    Lpc20 p{};
    for (Word16 lag : {Word16(18), Word16(30), Word16(60), Word16(100), Word16(145)}) {
        Sub t;
        t.fill(-7);
        Sub_Ring(cs, t.data(), q.data(), p.data(), cs.PrevErr, PWDEF{lag, 16384});
        for (int i = 0; i < SubFrLen; i++) {
            // Beyond the lag the tap reads this subframe's own (zero) ringing.
            const int expected = i < lag ? -7 + (PitchMax - lag + i) : -7;
            EXPECT_EQ(t[i], expected) << "lag " << lag << " sample " << i;
        }
    }
}

TEST(UpdRing, ZeroCoefficientsHalveIntoTheErrorHistory) {
    CodStat cs = freshState();
    for (int k = 0; k < PitchMax; k++) cs.PrevErr[k] = static_cast<Word16>(1000 + k);
    Lpc10 q{};
    Lpc20 p{};
    Sub x;
    for (int i = 0; i < SubFrLen; i++) x[i] = static_cast<Word16>(i * 1111 - 32768);
    x[7] = 32767;
    x[8] = 3;
    x[9] = -3;
    Sub d = x;
    Upd_Ring(cs, d.data(), q.data(), p.data(), cs.PrevErr);
    for (int i = 0; i < SubFrLen; i++) {
        const int half = static_cast<int>(std::floor((x[i] + 1) / 2.0));
        EXPECT_EQ(d[i], std::clamp(2 * half, -32768, 32767)) << i;
        EXPECT_EQ(cs.PrevErr[85 + i], half) << i;
    }
    for (int k = 0; k < 85; k++) EXPECT_EQ(cs.PrevErr[k], 1000 + 60 + k) << k;
    EXPECT_EQ(cs.RingFirDl[0], std::floor((x[59] + 1) / 2.0));
    EXPECT_EQ(cs.RingFirDl[1], std::floor((x[58] + 1) / 2.0));
    EXPECT_EQ(cs.RingIirDl[0], cs.PrevErr[144]);
    EXPECT_EQ(cs.RingIirDl[9], cs.PrevErr[135]);
}

TEST(UpdRing, SynthesisAndZeroPartAtOneTap) {
    Lpc10 q{};
    Lpc20 p{};
    {
        // 1 / (1 - 0.5 z^-1) on an impulse of 16: 16, 8, 4, 2, then 2 by rounding.
        CodStat cs = freshState();
        q[0] = 4096;
        Sub d{};
        d[0] = 16;
        Upd_Ring(cs, d.data(), q.data(), p.data(), cs.PrevErr);
        for (int i = 0; i < SubFrLen; i++) EXPECT_EQ(d[i], i < 4 ? 16 >> i : 2) << i;
        q[0] = 0;
    }
    {
        // Zero part 1 - 0.5 z^-1 without the doubling of Comp_Ir: 8, -4, 0.
        CodStat cs = freshState();
        p[0] = 4096;
        Sub d{};
        d[0] = 16;
        Upd_Ring(cs, d.data(), q.data(), p.data(), cs.PrevErr);
        EXPECT_EQ(cs.PrevErr[85], 8);
        EXPECT_EQ(cs.PrevErr[86], -4);
        for (int i = 2; i < SubFrLen; i++) EXPECT_EQ(cs.PrevErr[85 + i], 0) << i;
    }
}

TEST(UpdRing, MemoriesCarryIntoTheNextSubframe) {
    CodStat cs = freshState();
    Lpc10 q{};
    Lpc20 p{};
    p[10] = 4096;
    Sub d{};
    d[59] = 16;
    Upd_Ring(cs, d.data(), q.data(), p.data(), cs.PrevErr);
    EXPECT_EQ(cs.PrevErr[144], 8);
    d.fill(0);
    Upd_Ring(cs, d.data(), q.data(), p.data(), cs.PrevErr);
    EXPECT_EQ(cs.PrevErr[84], 8);
    const std::array<Word16, 4> tail = {4, 2, 1, 1};
    for (int i = 0; i < 4; i++) EXPECT_EQ(cs.PrevErr[85 + i], tail[i]) << i;
}

// The ringing that Sub_Ring removes is exactly what Upd_Ring then produces
// for a zero excitation from the same memories.
TEST(SubRing, MatchesTheZeroInputOutputOfUpdRing) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> coef(-2500, 2500), mem(-8000, 8000);
    for (int trial = 0; trial < 20; trial++) {
        CodStat cs = freshState();
        for (auto& v : cs.RingFirDl) v = static_cast<Word16>(mem(rng));
        for (auto& v : cs.RingIirDl) v = static_cast<Word16>(mem(rng));
        Lpc10 q;
        Lpc20 p;
        for (auto& v : q) v = static_cast<Word16>(coef(rng));
        for (auto& v : p) v = static_cast<Word16>(coef(rng) / 2);

        Sub t{};
        Sub_Ring(cs, t.data(), q.data(), p.data(), cs.PrevErr, PWDEF{60, 0});
        Sub zero{};
        Upd_Ring(cs, zero.data(), q.data(), p.data(), cs.PrevErr);
        for (int i = 0; i < SubFrLen; i++)
            ASSERT_EQ(t[i], sub(0, cs.PrevErr[85 + i])) << "trial " << trial << " sample " << i;
    }
}

}  // namespace
}  // namespace kv::g7231
