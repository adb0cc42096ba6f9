// LPC front end: behaviour the reference vectors do not pin down on their own
// (sine-detector bookkeeping, degenerate windows, scaling limits, the
// look-ahead delay, the high-pass response).
#include "g7231/lpc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace g = kv::g7231;
using g::Word16;
using g::Word32;

namespace {

std::vector<Word16> noise(int n, uint32_t seed, int amplitude) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(-amplitude, amplitude);
    std::vector<Word16> v(n);
    for (auto& x : v) x = static_cast<Word16>(d(rng));
    return v;
}

TEST(Lpc, ZeroWindowGivesZeroCoefficientsAndSineHits) {
    g::CodStat cs;
    g::Init_Coder(cs);
    std::vector<Word16> unq(40, 1234);
    const std::vector<Word16> zero(g::Frame, 0);
    g::Comp_Lpc(cs, unq.data(), cs.PrevDat, zero.data());
    for (int i = 0; i < 40; i++) EXPECT_EQ(unq[i], 0) << i;
    // Durbin stops at once (Pk2 = 32767): all four subframes count as hits.
    EXPECT_EQ(cs.SinDet, 0x000F);
}

TEST(Lpc, DurbinOnZeroCorrelationStopsWithFullReflection) {
    Word16 lpc[10];
    for (auto& c : lpc) c = 777;
    const Word16 corr[10] = {};
    Word16 pk2 = 0;
    g::Durbin(lpc, corr, 0, &pk2);
    EXPECT_EQ(pk2, 32767);
    for (int i = 0; i < 10; i++) EXPECT_EQ(lpc[i], 0) << i;
}

TEST(Lpc, DurbinOnFirstOrderProcess) {
    // r_k = 0.5^k: a first-order predictor a1 = 0.5 (quarter scale 4096),
    // later coefficients and the second reflection coefficient near 0.
    Word16 corr[10];
    const Word16 r0 = 16384;
    for (int k = 1; k <= 10; k++) corr[k - 1] = static_cast<Word16>(r0 >> k);
    Word16 lpc[10];
    Word16 pk2 = 1;
    g::Durbin(lpc, corr, r0, &pk2);
    EXPECT_NEAR(lpc[0], 4096, 4);
    for (int i = 1; i < 10; i++) EXPECT_NEAR(lpc[i], 0, 4) << i;
    EXPECT_NEAR(pk2, 0, 16);
}

// Sine detector after one frame, by previous history and frame content.
struct SinDetCase {
    const char* what;
    Word16 before;
    bool zeroFrame;  // all four subframes hit; otherwise noise, no hit
    Word16 after;
};

const SinDetCase kSinDet[] = {
    {"first hits", 0, true, 0x000F},
    {"13 of 15 hits stay positive", 0x01FF, true, 0x1FFF},
    {"14 of 15 hits set the sign", 0x03FF, true, static_cast<Word16>(0xBFFF)},
    {"15 of 15 hits", 0x0FFF, true, -1},
    {"sign is recomputed, not kept", -1, false, 0x7FF0},
    // A saturating shift would pin 0xBFFF at 0x8000; the history must wrap.
    {"shift drops the top bit", static_cast<Word16>(0xBFFF), true, -1},
};

TEST(Lpc, SineDetectorHistory) {
    const std::vector<Word16> zero(g::Frame, 0);
    const std::vector<Word16> prevNoise = noise(120, 7, 8000);
    const std::vector<Word16> frameNoise = noise(g::Frame, 8, 8000);
    for (const SinDetCase& c : kSinDet) {
        g::CodStat cs;
        g::Init_Coder(cs);
        if (!c.zeroFrame)
            for (int i = 0; i < 120; i++) cs.PrevDat[i] = prevNoise[i];
        cs.SinDet = c.before;
        Word16 unq[40];
        g::Comp_Lpc(cs, unq, cs.PrevDat, c.zeroFrame ? zero.data() : frameNoise.data());
        EXPECT_EQ(cs.SinDet, c.after) << c.what;
    }
}

// Largest magnitude after scaling, by input.
struct NormCase {
    std::vector<Word16> in;
    std::vector<Word16> out;
};

TEST(Lpc, VecNormScalesIntoRange) {
    const NormCase cases[] = {
        {{0, 0, 0}, {0, 0, 0}},           {{1, -1}, {2048, -2048}},  {{3, -1}, {3072, -1024}},
        {{-32768, 16384}, {-4096, 2048}}, {{32767, -7}, {4095, -1}}, {{0x4000, 0x1000}, {2048, 512}},
    };
    for (const NormCase& c : cases) {
        std::vector<Word16> v = c.in;
        g::Vec_Norm(v.data(), static_cast<Word16>(v.size()));
        EXPECT_EQ(v, c.out);
    }
    // Any non-zero vector ends with its peak in [2048, 4096).
    for (uint32_t seed = 1; seed <= 200; seed++) {
        std::vector<Word16> v = noise(180, seed, static_cast<int>(1 + seed * 160));
        g::Vec_Norm(v.data(), 180);
        int peak = 0;
        for (Word16 x : v) peak = std::max(peak, std::abs(static_cast<int>(x)));
        EXPECT_GE(peak, 2048) << seed;
        EXPECT_LT(peak, 4096) << seed;
    }
}

TEST(Lpc, MemShiftDelaysTheStreamByOneSubframe) {
    g::CodStat cs;
    g::Init_Coder(cs);
    // Three frames of a ramp: sample n of the stream has value n + 1.
    for (int f = 0; f < 3; f++) {
        std::vector<Word16> buf(g::Frame);
        for (int i = 0; i < g::Frame; i++) buf[i] = static_cast<Word16>(f * g::Frame + i + 1);
        g::Mem_Shift(cs.PrevDat, buf.data());
        for (int i = 0; i < g::Frame; i++) {
            const int n = f * g::Frame + i - g::SubFrLen;  // stream index 60 samples back
            ASSERT_EQ(buf[i], n < 0 ? 0 : n + 1) << "frame " << f << " sample " << i;
        }
        for (int i = 0; i < 120; i++) ASSERT_EQ(cs.PrevDat[i], f * g::Frame + 120 + i + 1);
    }
}

TEST(Lpc, RemDcFollowsTheHighPassAcrossFrames) {
    // y[n] = (x[n] - x[n-1]) / 2 + 127/128 y[n-1]
    g::CodStat cs;
    g::Init_Coder(cs);
    double x1 = 0, y1 = 0;
    for (int f = 0; f < 4; f++) {
        std::vector<Word16> buf = noise(g::Frame, 100 + f, 20000);
        for (int i = 0; i < 40; i++) buf[i] = 32767;  // a step, to exercise the pole
        const std::vector<Word16> in = buf;
        g::Rem_Dc(cs, buf.data());
        for (int i = 0; i < g::Frame; i++) {
            const double y = (in[i] - x1) / 2 + 127.0 / 128.0 * y1;
            x1 = in[i];
            y1 = y;
            ASSERT_NEAR(buf[i], y, 1.0) << "frame " << f << " sample " << i;
        }
    }
}

TEST(Lpc, RemDcRemovesAConstant) {
    g::CodStat cs;
    g::Init_Coder(cs);
    std::vector<Word16> buf;
    for (int f = 0; f < 8; f++) {
        buf.assign(g::Frame, 10000);
        g::Rem_Dc(cs, buf.data());
    }
    // 1920 samples = 15 time constants of the pole.
    for (Word16 y : buf) EXPECT_LE(std::abs(y), 1);
}

}  // namespace
