// Stages whose sums take a plain path under a bound, against their literal
// saturating renderings, on inputs on both sides of the bound. The counters
// show that both paths ran.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "g7231/coder_state.h"
#include "g7231/lpc.h"
#include "g7231/lsp.h"
#include "g7231/pitch.h"
#include "g7231/tables.h"

namespace kv::g7231 {
namespace {

Word16 LiteralEstimPitch(const Word16* Dpnt, int Start) {
    int Pr = Start - (PitchMin - 1);
    Word32 Acc1 = 0;
    for (int j = 0; j < 2 * SubFrLen; j++) Acc1 = L_mac(Acc1, Dpnt[Pr + j], Dpnt[Pr + j]);
    Word16 Indx = PitchMin, Mxp = 30, Mcr = 0x4000, Mnr = MAX_16;
    for (int i = PitchMin; i <= PitchMax - 3; i++) {
        Pr--;
        Acc1 = L_msu(Acc1, Dpnt[Pr + 2 * SubFrLen], Dpnt[Pr + 2 * SubFrLen]);
        Acc1 = L_mac(Acc1, Dpnt[Pr], Dpnt[Pr]);
        Word32 Acc0 = 0;
        for (int j = 0; j < 2 * SubFrLen; j++) Acc0 = L_mac(Acc0, Dpnt[Start + j], Dpnt[Pr + j]);
        if (Acc0 <= 0) continue;
        Word16 Exp = norm_l(Acc0);
        Acc0 = L_shl(Acc0, Exp);
        Exp = shl(Exp, 1);
        Word16 Ccr = round(Acc0);
        Acc0 = L_mult(Ccr, Ccr);
        Word16 Tmp = norm_l(Acc0);
        Acc0 = L_shl(Acc0, Tmp);
        Exp = add(Exp, Tmp);
        Ccr = extract_h(Acc0);
        Tmp = norm_l(Acc1);
        Exp = sub(Exp, Tmp);
        const Word16 Enr = round(L_shl(Acc1, Tmp));
        if (Ccr >= Enr) {
            Exp = sub(Exp, 1);
            Ccr = shr(Ccr, 1);
        }
        if (Exp > Mxp) continue;
        bool accept = Exp + 1 < Mxp;
        if (!accept) {
            Tmp = (Exp + 1 == Mxp) ? shr(Mcr, 1) : Mcr;
            Acc0 = L_msu(L_mult(Ccr, Mnr), Enr, Tmp);
            if (Acc0 > 0) {
                accept = i - Indx < PitchMin;
                if (!accept) {
                    Acc0 = L_negate(L_shr(L_mult(Ccr, Mnr), 2));
                    Acc0 = L_msu(L_mac(Acc0, Ccr, Mnr), Enr, Tmp);
                    accept = Acc0 > 0;
                }
            }
        }
        if (accept) {
            Indx = static_cast<Word16>(i);
            Mxp = Exp;
            Mcr = Ccr;
            Mnr = Enr;
        }
    }
    return Indx;
}

// A periodic signal under noise at a level around the bound (the two
// windows' energies reach MAX_32 near an rms of 3000), at full scale or held
// at -32768; and a quiet tail of the target meeting a full-scale burst in the
// past, where only the window at that lag breaks the bound.
TEST(Bounded, EstimPitchMatchesTheLiteralRendering) {
    const int kLevels[] = {2000, 4200, 4800, 5200, 6000, 9000, 32767, -32768, 0};
    std::mt19937 rng(5);
    int plain = 0;
    int chain = 0;
    for (int level : kLevels) {
        for (int trial = 0; trial < 12; trial++) {
            std::vector<Word16> buf(PitchMax + Frame);
            const int period = 18 + static_cast<int>(rng() % 125);
            if (level == 0) {
                // Lags of 137 or more put the burst before every window the
                // bound of a shorter lag looks at.
                const int lag = 137 + static_cast<int>(rng() % 6);
                for (int half = 0; half < 2; half++) {
                    const int end = PitchMax + (half + 1) * 2 * SubFrLen;
                    for (int n = end - 17; n < end; n++) {
                        buf[n] = 3000;
                        buf[n - lag] = 32767;
                    }
                }
            } else {
                std::vector<int> cycle(period);
                for (int& c : cycle) c = static_cast<int>(rng() % 2001) - 1000;
                for (size_t n = 0; n < buf.size(); n++) {
                    const int v = level == -32768
                                      ? -32768
                                      : cycle[n % period] * level / 1000 + static_cast<int>(rng() % 401) - 200;
                    buf[n] = static_cast<Word16>(std::clamp(v, -32768, 32767));
                }
            }
            for (int Start : {PitchMax, PitchMax + 2 * SubFrLen}) {
                ASSERT_EQ(Estim_Pitch(buf.data(), static_cast<Word16>(Start)), LiteralEstimPitch(buf.data(), Start))
                    << level << " " << trial;
                int64_t Es = 0;
                for (int j = 0; j < 2 * SubFrLen; j++) Es += buf[Start + j] * buf[Start + j];
                for (int lag = PitchMin; lag <= PitchMax - 3; lag++) {
                    int64_t Ew = 0;
                    for (int j = 0; j < 2 * SubFrLen; j++) Ew += buf[Start - lag + j] * buf[Start - lag + j];
                    (Es + Ew <= MAX_32 ? plain : chain)++;
                }
            }
        }
    }
    EXPECT_GT(plain, 1000);
    EXPECT_GT(chain, 1000);
}

const Word16* const rows[3] = {&Band0Tb8[0][0], &Band1Tb8[0][0], &Band2Tb8[0][0]};

Word32 LiteralLspSvq(const Word16* Tv, const Word16* Wvect) {
    Word32 Rez = 0;
    for (int k = 0; k < LspQntBands; k++) {
        const int Start = BandInfoTable[k][0], Len = BandInfoTable[k][1];
        Word32 Best = -1;
        Word16 Indx = 0;
        for (int n = 0; n < LspCbSize; n++) {
            const Word16* cb = rows[k] + n * Len;
            Word16 Tmp[4];
            for (int j = 0; j < Len; j++) Tmp[j] = mult_r(Wvect[Start + j], cb[j]);
            Word32 Acc = 0;
            for (int j = 0; j < Len; j++) Acc = L_mac(Acc, Tv[Start + j], Tmp[j]);
            Acc = L_shl(Acc, 1);
            for (int j = 0; j < Len; j++) Acc = L_msu(Acc, cb[j], Tmp[j]);
            if (Acc > Best) {
                Best = Acc;
                Indx = static_cast<Word16>(n);
            }
        }
        Rez = L_add(L_shl(Rez, 8), Indx);
    }
    return Rez;
}

// Targets whose band magnitude sums run from ordinary residuals to full
// scale: with the largest codebook entry near 6000 the plain path ends
// around a sum of 77000, so the 3- and 4-value bands straddle it.
TEST(Bounded, LspSvqMatchesTheLiteralRendering) {
    const int kLevels[] = {500, 4000, 16000, 19000, 22000, 26000, 32767};
    std::mt19937 rng(6);
    int plain = 0;
    int chain = 0;
    for (int level : kLevels) {
        for (int trial = 0; trial < 40; trial++) {
            Word16 Tv[LpcOrder], W[LpcOrder];
            for (int j = 0; j < LpcOrder; j++) {
                // Odd trials: every value at the level, of either sign (-32768 at full scale).
                const int v = trial % 2 ? level : static_cast<int>(rng() % (level + 1));
                Tv[j] = static_cast<Word16>(rng() % 2 ? v : -v - (v == 32767));
                W[j] = static_cast<Word16>(rng() % 32768);
            }
            ASSERT_EQ(Lsp_Svq(Tv, W), LiteralLspSvq(Tv, W)) << level << " " << trial;
            for (int k = 0; k < LspQntBands; k++) {
                const int Len = BandInfoTable[k][1];
                int64_t c = 0, s = 0;
                for (int n = 0; n < LspCbSize * Len; n++) c = std::max<int64_t>(c, std::abs(rows[k][n]));
                for (int j = 0; j < Len; j++) s += std::abs(Tv[BandInfoTable[k][0] + j]);
                (4 * c * s + 2 * Len * c * c <= MAX_32 ? plain : chain)++;
            }
        }
    }
    EXPECT_GT(plain, 100);
    EXPECT_GT(chain, 50);
}

// The LPC analysis sums its autocorrelation without a fallback: after
// Vec_Norm no sample exceeds 4096, and so windowed, the frame energy cannot
// reach MAX_32 (the bound behind the plain sums).
TEST(Bounded, NormalisedWindowedEnergyStaysBelowTheLimit) {
    for (Word16 x : {Word16(-32768), Word16(32767), Word16(1), Word16(-1), Word16(-16385), Word16(12345)}) {
        std::vector<Word16> v(LpcFrame, x);
        Vec_Norm(v.data(), LpcFrame);
        for (Word16 s : v) EXPECT_LE(std::abs(s), 4096) << x;
    }
    int64_t worst = 0;
    for (int i = 0; i < LpcFrame; i++) {
        const int64_t m =
            std::max(std::abs(mult_r(4096, HammingWindowTable[i])), std::abs(mult_r(-4096, HammingWindowTable[i])));
        worst += m * m;
    }
    EXPECT_LE(worst, MAX_32);
}

}  // namespace
}  // namespace kv::g7231
