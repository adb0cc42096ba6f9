// Open-loop pitch estimation and harmonic noise weighting on constructed
// pitch buffers whose correlations can be worked out by hand.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>

#include "g7231/coder_state.h"
#include "g7231/pitch.h"

namespace kv::g7231 {
namespace {

constexpr int BufLen = PitchMax + Frame;  // 385
using PitchBuf = std::array<Word16, BufLen>;

TEST(EstimPitch, SilenceGivesTheShortestLag) {
    PitchBuf buf{};
    EXPECT_EQ(Estim_Pitch(buf.data(), PitchMax), PitchMin);
    EXPECT_EQ(Estim_Pitch(buf.data(), PitchMax + 2 * SubFrLen), PitchMin);
}

TEST(EstimPitch, OnlyNegativeCorrelationGivesTheShortestLag) {
    for (Word16 start : {Word16(PitchMax), Word16(PitchMax + 2 * SubFrLen)}) {
        PitchBuf buf{};
        buf[start + 10] = 1000;
        buf[start + 10 - 40] = -1000;
        EXPECT_EQ(Estim_Pitch(buf.data(), start), PitchMin);
    }
}

// A period-P signal correlates perfectly at P, 2P, 3P with identical scores;
// the shortest must stay.
TEST(EstimPitch, PeriodicSignalGivesItsPeriodNotAMultiple) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> amp(-3000, 3000);
    for (int period : {18, 20, 33, 40, 47, 71, 100, 142}) {
        std::vector<Word16> cycle(period);
        for (auto& v : cycle) v = static_cast<Word16>(amp(rng));
        PitchBuf buf;
        for (int n = 0; n < BufLen; n++) buf[n] = cycle[n % period];
        EXPECT_EQ(Estim_Pitch(buf.data(), PitchMax), period);
        EXPECT_EQ(Estim_Pitch(buf.data(), PitchMax + 2 * SubFrLen), period);
    }
}

// One pulse A in the analysed span at Start+10 and history pulses that it can
// meet at exactly two lags: lag1 (pulse B1 at Start+10-lag1) and lag2 (pulse
// B2). The lag scores are corr^2 / energy of the delayed span:
//   S(lag1) = A^2 B1^2 / (A^2 + B1^2), S(lag2) = A^2 B2^2 / (A^2 + B1^2 + B2^2)
// when lag1 < lag2 <= 110 (the lag2 span holds all three pulses). With
// A = B1 = 1000 the ratio S(lag2)/S(lag1) is 1.2 for B2 = 1732 and 1.5 for
// B2 = 2449. Beyond lag 110 the span ends before Start+10, A drops out of the
// energy and the ratio is 2 B2^2 / (B1^2 + B2^2) (lag1 <= 60): 1.2 for
// B2 = 1225, 1.5 for B2 = 1732; at lag 142 B1 drops out as well (ratio 2).
struct TwoLagCase {
    int lag1, lag2;
    Word16 b2;
    int expected;
};

TEST(EstimPitch, LongerLagMustWinByFourThirdsOnlyWhenFarAway) {
    const TwoLagCase cases[] = {
        {30, 60, 1732, 30},  // 18 or more apart, only 1.2 times better
        {30, 60, 2449, 60},  // 1.5 times better
        {30, 40, 1732, 40},  // within 18: any better score wins
        {30, 47, 1732, 47},  // 17 apart
        {30, 48, 1732, 30},  // 18 apart
        {50, 120, 1225, 50}, {50, 120, 1732, 120}, {20, 142, 2449, 142},
    };
    for (const TwoLagCase& c : cases) {
        for (Word16 start : {Word16(PitchMax), Word16(PitchMax + 2 * SubFrLen)}) {
            PitchBuf buf{};
            buf[start + 10] = 1000;
            buf[start + 10 - c.lag1] = 1000;
            buf[start + 10 - c.lag2] = c.b2;
            EXPECT_EQ(Estim_Pitch(buf.data(), start), c.expected)
                << "lags " << c.lag1 << "/" << c.lag2 << " B2 " << c.b2 << " start " << start;
        }
    }
}

// Pulses at Start-20 and Start-30 give lags 30 and 40 the same correlation
// (A*B) and the same delayed energy (A^2 + 2 B^2): the earlier lag stays.
TEST(EstimPitch, EqualScoreNeverReplacesTheBest) {
    PitchBuf buf{};
    const Word16 start = PitchMax;
    buf[start + 10] = 1200;
    buf[start - 20] = 900;
    buf[start - 30] = 900;
    EXPECT_EQ(Estim_Pitch(buf.data(), start), 30);
}

TEST(CompPw, SilenceTurnsTheFilterOff) {
    PitchBuf buf{};
    for (Word16 olp : {Word16(18), Word16(60), Word16(142)}) {
        for (int sf = 0; sf < SubFrames; sf++) {
            PWDEF pw = Comp_Pw(buf.data(), static_cast<Word16>(PitchMax + SubFrLen * sf), olp);
            EXPECT_EQ(pw.Indx, olp);
            EXPECT_EQ(pw.Gain, 0);
        }
    }
}

TEST(CompPw, PeriodicSignalGetsFullGainAtItsPeriod) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> amp(-4000, 4000);
    struct Case {
        int period;
        Word16 olp;
    };
    const Case cases[] = {{40, 40}, {40, 42}, {40, 37}, {23, 20}, {100, 103}, {142, 142}};
    for (const Case& c : cases) {
        std::vector<Word16> cycle(c.period);
        for (auto& v : cycle) v = static_cast<Word16>(amp(rng));
        PitchBuf buf;
        for (int n = 0; n < BufLen; n++) buf[n] = cycle[n % c.period];
        for (int sf = 0; sf < SubFrames; sf++) {
            PWDEF pw = Comp_Pw(buf.data(), static_cast<Word16>(PitchMax + SubFrLen * sf), c.olp);
            EXPECT_EQ(pw.Indx, c.period) << "period " << c.period << " Olp " << c.olp;
            EXPECT_EQ(pw.Gain, PwConst);
        }
    }
}

// Olp 70: only lag 70 meets the pulse A at Start+10 (through B at Start-60).
// Normalised squared correlation = A^2 / (A^2 + C^2) with a second pulse C at
// Start+30 that has no partner; the filter is on above 0.375.
TEST(CompPw, GainSwitchesOnAboveThreeEighths) {
    struct Case {
        Word16 a, b, c;
        Word16 gain;
    };
    const Case cases[] = {
        // c/Mnr = 1: full gain
        {1000, 1000, 0, PwConst},
        // B = 2A: after scaling c = 8192, Mnr = 16384, gain 0.5 * 10240
        {1024, 2048, 0, 5120},
        // ratio 1/3: off
        {1000, 1000, 1414, 0},
        // ratio 0.4: on, c = Mnr
        {1000, 1000, 1225, PwConst},
        // ratio 0.36: off
        {1000, 1000, 1333, 0},
    };
    const Word16 start = PitchMax + SubFrLen;
    for (const Case& c : cases) {
        PitchBuf buf{};
        buf[start + 10] = c.a;
        buf[start + 30] = c.c;
        buf[start - 60] = c.b;
        PWDEF pw = Comp_Pw(buf.data(), start, 70);
        EXPECT_EQ(pw.Indx, 70);
        EXPECT_EQ(pw.Gain, c.gain) << c.a << " " << c.b << " " << c.c;
    }
}

TEST(CompPw, LongestLagReachesTheFirstSample) {
    PitchBuf buf{};
    buf[0] = 3000;
    buf[PitchMax] = 3000;
    PWDEF pw = Comp_Pw(buf.data(), PitchMax, 142);
    EXPECT_EQ(pw.Indx, 145);
    EXPECT_EQ(pw.Gain, PwConst);
}

// Of two lags with the same normalised correlation the smaller one stays.
TEST(CompPw, TieKeepsTheShorterLag) {
    PitchBuf buf{};
    const Word16 start = PitchMax + 2 * SubFrLen;
    buf[start + 5] = 2000;
    buf[start + 5 - 50] = 2000;
    buf[start + 25] = 2000;
    buf[start + 25 - 52] = 2000;
    PWDEF pw = Comp_Pw(buf.data(), start, 51);
    EXPECT_EQ(pw.Indx, 50);
}

TEST(FiltPw, ZeroGainCopiesTheWeightedSpeech) {
    PitchBuf buf;
    for (int n = 0; n < BufLen; n++) buf[n] = static_cast<Word16>((n * 7919) % 65536 - 32768);
    std::array<Word16, Frame> out{};
    for (int sf = 0; sf < SubFrames; sf++)
        Filt_Pw(out.data(), buf.data(), static_cast<Word16>(SubFrLen * sf), PWDEF{static_cast<Word16>(40 + sf), 0});
    for (int i = 0; i < Frame; i++) ASSERT_EQ(out[i], buf[PitchMax + i]) << i;
}

// y(n) = x(n) - g x(n - L), rounded half up; with x(n) = n - 200 the result is
// known in closed form and reaches back into the history for early samples.
TEST(FiltPw, SubtractsTheGainWeightedDelayedSample) {
    PitchBuf buf;
    for (int n = 0; n < BufLen; n++) buf[n] = static_cast<Word16>(8 * (n - 200) + 1);
    struct Case {
        PWDEF pw;
        double g;
    };
    const Case cases[] = {{{100, 16384}, 0.5}, {{18, 10240}, 0.3125}, {{145, 8192}, 0.25}, {{60, 3}, 3.0 / 32768}};
    for (const Case& c : cases) {
        std::array<Word16, Frame> out{};
        for (int sf = 0; sf < SubFrames; sf++)
            Filt_Pw(out.data(), buf.data(), static_cast<Word16>(SubFrLen * sf), c.pw);
        for (int i = 0; i < Frame; i++) {
            const double x = buf[PitchMax + i];
            const double xl = buf[PitchMax + i - c.pw.Indx];
            const double expected = std::floor(x - c.g * xl + 0.5);
            ASSERT_EQ(out[i], expected) << "sample " << i << " lag " << c.pw.Indx;
        }
    }
}

}  // namespace
}  // namespace kv::g7231
