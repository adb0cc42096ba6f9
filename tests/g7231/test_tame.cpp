// Excitation error taming: zone selection of Test_Err and the zone history of Update_Err.
#include <gtest/gtest.h>

#include <array>
#include <set>

#include "g7231/coder_state.h"
#include "g7231/tame.h"

namespace kv::g7231 {
namespace {

CodStat freshState() {
    CodStat cs;
    Init_Coder(cs);
    return cs;
}

TEST(TestErr, FreshStateAllowsFullSearchUnlessSineDetected) {
    const std::array<std::array<Word16, 2>, 5> lags = {{{17, 20}, {18, 20}, {59, 62}, {99, 102}, {139, 142}}};
    for (auto [lag1, lag2] : lags) {
        CodStat cs = freshState();
        // (0x40000000 - 4) >> 23
        EXPECT_EQ(Test_Err(cs, lag1, lag2), 127) << lag1 << ".." << lag2;
        cs.SinDet = 0x7fff;
        EXPECT_EQ(Test_Err(cs, lag1, lag2), 127);
        cs.SinDet = -1;
        EXPECT_EQ(Test_Err(cs, lag1, lag2), 0);
        cs.SinDet = MIN_16;
        EXPECT_EQ(Test_Err(cs, lag1, lag2), 0);
    }
}

// Zones reached by a lag range: the highest is (Lag2 + 2) * 1092 >> 15, the
// lowest (Lag1 - 61, at least 1) * 1092 >> 15. Boundaries worked out by hand.
TEST(TestErr, OnlyZonesReachedByTheLagsCount) {
    struct Case {
        Word16 lag1, lag2;
        std::set<int> zones;
    };
    const Case cases[] = {
        {17, 20, {0}},         {17, 28, {0}},         {17, 29, {0, 1}},         {57, 58, {0, 1}},
        {57, 59, {0, 1, 2}},   {86, 88, {0, 1, 2}},   {87, 89, {0, 1, 2, 3}},   {91, 93, {0, 1, 2, 3}},
        {92, 94, {1, 2, 3}},   {116, 118, {1, 2, 3}}, {117, 119, {1, 2, 3, 4}}, {121, 124, {1, 2, 3, 4}},
        {122, 125, {2, 3, 4}}, {139, 143, {2, 3, 4}},
    };
    for (const Case& c : cases) {
        for (int z = 0; z < 5; z++) {
            CodStat cs = freshState();
            cs.Err[z] = 0x40000001;
            const Word16 expected = c.zones.count(z) ? 0 : 127;
            EXPECT_EQ(Test_Err(cs, c.lag1, c.lag2), expected) << "lags " << c.lag1 << ".." << c.lag2 << " zone " << z;
        }
    }
}

TEST(TestErr, LimitFollowsTheLargestZoneInRange) {
    CodStat cs = freshState();
    const Word32 step = 1 << 23;

    cs.Err[0] = 0x40000000 - 9 * step;
    cs.Err[1] = 0x40000000 - 3 * step;
    cs.Err[2] = 0x40000000 - 5 * step;
    EXPECT_EQ(Test_Err(cs, 40, 43), 3);    // zones 0, 1
    EXPECT_EQ(Test_Err(cs, 17, 20), 9);    // zone 0 only
    EXPECT_EQ(Test_Err(cs, 122, 125), 5);  // zones 2..4, 3 and 4 still at 4

    // The remainder below one step is dropped.
    cs.Err[0] = 0x40000000 - (5 * step + 100);
    EXPECT_EQ(Test_Err(cs, 17, 20), 5);

    // At the threshold itself the limit is already the tightest.
    cs.Err[0] = 0x40000000;
    EXPECT_EQ(Test_Err(cs, 17, 20), 0);
    cs.Err[0] = MAX_32;
    EXPECT_EQ(Test_Err(cs, 17, 20), 0);
}

// With gain index 0 both tables weigh by 1024, so a zone x becomes
// 4 + 4 * (x / 32) for multiples of 32.
TEST(UpdateErr, ZonesChosenByLag) {
    const std::array<Word32, 5> start = {1600, 320, 1280, 640, 960};
    // transformed: 204, 44, 164, 84, 124
    struct Case {
        Word16 olp, aclg;  // lag = olp + aclg - 1
        Word32 worst0, worst1;
    };
    const Case cases[] = {
        {19, 1, 204, 204},   // 19: within the first zone
        {30, 1, 204, 204},   // 30
        {30, 2, 204, 204},   // 31: straddles zones 0 and 1
        {57, 3, 204, 204},   // 59
        {60, 1, 204, 44},    // 60: a multiple of 30 takes zones 0 and 1 as they are
        {60, 2, 204, 164},   // 61
        {88, 2, 204, 164},   // 89
        {90, 1, 44, 164},    // 90
        {90, 2, 164, 164},   // 91
        {118, 2, 164, 164},  // 119
        {120, 1, 164, 84},   // 120
        {120, 2, 164, 124},  // 121
        {142, 3, 164, 124},  // 144
    };
    for (const Case& c : cases) {
        CodStat cs = freshState();
        for (int i = 0; i < 5; i++) cs.Err[i] = start[i];
        Update_Err(cs, c.olp, c.aclg, 0);
        const int lag = c.olp + c.aclg - 1;
        EXPECT_EQ(cs.Err[0], c.worst0) << "lag " << lag;
        EXPECT_EQ(cs.Err[1], c.worst1) << "lag " << lag;
        EXPECT_EQ(cs.Err[2], 1600) << "lag " << lag;
        EXPECT_EQ(cs.Err[3], 320) << "lag " << lag;
        EXPECT_EQ(cs.Err[4], 1280) << "lag " << lag;
    }
}

// Zones of 0x10000 make the transform 4 + 8 * beta, exposing which table is used.
TEST(UpdateErr, GainTableSwitchesAtLag58) {
    struct Case {
        Word16 olp, acgn;
        Word32 expected;
    };
    const Case cases[] = {
        {57, 1, 4 + 8 * 1308},  // tabgain85[1]
        {58, 1, 4 + 8 * 1591},  // tabgain170[1]
        {57, 0, 4 + 8 * 1024},
        {58, 0, 4 + 8 * 1024},
    };
    for (const Case& c : cases) {
        CodStat cs = freshState();
        for (auto& e : cs.Err) e = 0x10000;
        Update_Err(cs, c.olp, 1, c.acgn);
        EXPECT_EQ(cs.Err[0], c.expected) << "Olp " << c.olp << " AcGn " << c.acgn;
        EXPECT_EQ(cs.Err[1], c.expected);
    }
}

TEST(UpdateErr, SaturatesInsteadOfWrappingAndThenTamesFully) {
    CodStat cs = freshState();
    for (auto& e : cs.Err) e = MAX_32;
    Update_Err(cs, 100, 1, 169);
    for (Word32 e : cs.Err) EXPECT_EQ(e, MAX_32);
    EXPECT_EQ(Test_Err(cs, 99, 101), 0);
}

TEST(UpdateErr, ErrorGrowsWithRepeatedHighGainAndTamingTightens) {
    // A loop of strong long-term prediction must eventually hit the threshold.
    CodStat cs = freshState();
    Word16 previous = Test_Err(cs, 99, 101);
    int steps = 0;
    while (Test_Err(cs, 99, 101) > 0 && steps < 1000) {
        Update_Err(cs, 100, 1, 169);
        Word16 now = Test_Err(cs, 99, 101);
        EXPECT_LE(now, previous);
        previous = now;
        steps++;
    }
    EXPECT_LT(steps, 1000);
    EXPECT_EQ(Test_Err(cs, 99, 101), 0);
}

}  // namespace
}  // namespace kv::g7231
