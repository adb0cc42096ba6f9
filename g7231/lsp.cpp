#include "g7231/lsp.h"

#include <algorithm>
#include <cstdlib>

#include "g7231/dsp.h"
#include "g7231/tables.h"

namespace kv::g7231 {

namespace {

constexpr Word16 LspPred0 = 0x3000;  // first-order prediction factor, 0.375
constexpr Word16 LspPred1 = 23552;   // the same for a lost frame, 0.71875
constexpr Word16 LspMinFreq = 0x180;
constexpr Word16 LspMaxFreq = 0x7E00;
constexpr Word16 LspMinDiff = 0x100;
constexpr Word16 LspMinDiffLost = 0x200;
constexpr int MaxStabPasses = 10;

// Codebook row n of band k (rows of 3, 3 and 4 values).
const Word16* BandQntRow(int k, int n) {
    switch (k) {
        case 0:
            return Band0Tb8[n];
        case 1:
            return Band1Tb8[n];
        default:
            return Band2Tb8[n];
    }
}

// Sum (k = 0) or difference (k = 1) polynomial evaluated at grid point i.
Word32 EvalPoly(const Word16* Spq, int k, int i) {
    Word32 Acc = 0;
    for (int j = 0; j <= LpcOrder / 2; j++) Acc = L_mac(Acc, Spq[LpcOrder - 2 * j + k], CosineTable[(i * j) % 512]);
    return Acc;
}

}  // namespace

void AtoLsp(Word16* LspVect, const Word16* Lpc, const Word16* PrevLsp) {
    for (int i = 0; i < LpcOrder; i++) LspVect[i] = mult_r(Lpc[i], BandExpTable[i]);

    // p0, q0, p1, q1, ... p5, q5
    Word32 Lpq[LpcOrder + 2];
    Lpq[0] = Lpq[1] = 0x02000000;
    for (int i = 0; i < LpcOrder / 2; i++) {
        const Word32 a = L_shr(L_deposit_h(LspVect[i]), 4);
        const Word32 b = L_shr(L_deposit_h(LspVect[LpcOrder - 1 - i]), 4);
        Lpq[2 * i + 2] = L_sub(L_sub(L_negate(Lpq[2 * i]), a), b);
        Lpq[2 * i + 3] = L_add(L_sub(Lpq[2 * i + 1], a), b);
    }
    Lpq[LpcOrder] = L_shr(Lpq[LpcOrder], 1);
    Lpq[LpcOrder + 1] = L_shr(Lpq[LpcOrder + 1], 1);

    Word32 Max = 0;
    for (int i = 0; i < LpcOrder + 2; i++) {
        const Word32 a = L_abs(Lpq[i]);
        if (a > Max) Max = a;
    }
    const Word16 Exp = norm_l(Max);
    Word16 Spq[LpcOrder + 2];
    for (int i = 0; i < LpcOrder + 2; i++) Spq[i] = round(L_shl(Lpq[i], Exp));

    Word32 PrevVal = 0;
    for (int j = 0; j <= LpcOrder / 2; j++) PrevVal = L_mac(PrevVal, Spq[2 * j], CosineTable[0]);

    int k = 0;
    int count = 0;
    for (int i = 1; i < 256; i++) {
        Word32 CurrVal = EvalPoly(Spq, k, i);
        if ((CurrVal ^ PrevVal) < 0) {
            // Root between grid points i-1 and i: linear interpolation.
            Word32 Acc0 = L_add(L_abs(CurrVal), L_abs(PrevVal));
            const Word16 s = norm_l(Acc0);
            Acc0 = L_shl(Acc0, s);
            const Word32 Acc1 = L_shr(L_shl(L_abs(PrevVal), s), 8);
            LspVect[count] = add(div_l(Acc1, extract_h(Acc0)), shl(static_cast<Word16>(i - 1), 7));
            count++;
            if (count == LpcOrder) break;
            // Roots of the two polynomials alternate.
            k ^= 1;
            CurrVal = EvalPoly(Spq, k, i);
        }
        PrevVal = CurrVal;
    }

    if (count < LpcOrder)
        for (int i = 0; i < LpcOrder; i++) LspVect[i] = PrevLsp[i];
}

Word32 Lsp_Qnt(Word16* CurrLsp, const Word16* PrevLsp) {
    Word16 Wvect[LpcOrder];

    // Weights from the distance to the nearer neighbour.
    Wvect[0] = sub(CurrLsp[1], CurrLsp[0]);
    Wvect[LpcOrder - 1] = sub(CurrLsp[LpcOrder - 1], CurrLsp[LpcOrder - 2]);
    for (int i = 1; i < LpcOrder - 1; i++) {
        const Word16 up = sub(CurrLsp[i + 1], CurrLsp[i]);
        const Word16 down = sub(CurrLsp[i], CurrLsp[i - 1]);
        Wvect[i] = up > down ? down : up;
    }

    for (int i = 0; i < LpcOrder; i++) Wvect[i] = Wvect[i] > 32 ? div_s(32, Wvect[i]) : MAX_16;

    Word16 Max = 0;
    for (int i = 0; i < LpcOrder; i++)
        if (Wvect[i] > Max) Max = Wvect[i];
    const Word16 Exp = norm_s(Max);
    for (int i = 0; i < LpcOrder; i++) Wvect[i] = shl(Wvect[i], Exp);

    // Residual after removing the mean and the prediction from the previous frame.
    for (int i = 0; i < LpcOrder; i++) {
        CurrLsp[i] = sub(CurrLsp[i], LspDcTable[i]);
        const Word16 Prev = sub(PrevLsp[i], LspDcTable[i]);
        CurrLsp[i] = sub(CurrLsp[i], mult_r(Prev, LspPred0));
    }

    return Lsp_Svq(CurrLsp, Wvect);
}

namespace {

// The codebooks by column, for scoring many rows at once, and the largest
// magnitude of each band.
struct BandColumns {
    alignas(16) Word16 col[LspQntBands][4][LspCbSize];
    int32_t max[LspQntBands];
};

const BandColumns& Columns() {
    static const BandColumns c = [] {
        BandColumns t{};
        for (int k = 0; k < LspQntBands; k++)
            for (int n = 0; n < LspCbSize; n++)
                for (int j = 0; j < BandInfoTable[k][1]; j++) {
                    t.col[k][j][n] = BandQntRow(k, n)[j];
                    t.max[k] = std::max(t.max[k], std::abs(int32_t{t.col[k][j][n]}));
                }
        return t;
    }();
    return c;
}

// Exact scores of all rows of band k, given the bound of Lsp_Svq:
// 2 * sum over j of Tmp (2 Tv - c), Tmp = mult_r(w, c), written as
// 2 * (A + U) with A = sum Tmp Tv and U = sum Tmp (Tv - c).
void PlainScores(const Word16 (*col)[LspCbSize], int Len, const Word16* Tv, const Word16* W, int32_t* Score) {
#ifdef KV_G7231_SSE2
    const __m128i round = _mm_set1_epi32(0x4000);
    const __m128i zero = _mm_setzero_si128();
    for (int n = 0; n < LspCbSize; n += 8) {
        __m128i lo = zero;
        __m128i hi = zero;
        for (int j = 0; j < Len; j++) {
            const __m128i c = _mm_load_si128(reinterpret_cast<const __m128i*>(&col[j][n]));
            const __m128i w = _mm_set1_epi16(W[j]);
            const __m128i pl = _mm_mullo_epi16(w, c);
            const __m128i ph = _mm_mulhi_epi16(w, c);
            const __m128i p0 = _mm_srai_epi32(_mm_add_epi32(_mm_unpacklo_epi16(pl, ph), round), 15);
            const __m128i p1 = _mm_srai_epi32(_mm_add_epi32(_mm_unpackhi_epi16(pl, ph), round), 15);
            const __m128i tmp = _mm_packs_epi32(p0, p1);  // mult_r: |Tmp| <= |c|, no clipping

            const __m128i tv = _mm_set1_epi16(Tv[j]);
            const __m128i tvc = _mm_sub_epi16(zero, c);  // -c fits: the bound keeps C below 23171
            const __m128i tt0 = _mm_unpacklo_epi16(tmp, tmp);
            const __m128i tt1 = _mm_unpackhi_epi16(tmp, tmp);
            // (Tmp, Tmp) . (Tv, -c) = Tmp (Tv - c); (Tmp, 0) . (Tv, x) = Tmp Tv.
            lo = _mm_add_epi32(lo, _mm_madd_epi16(tt0, _mm_unpacklo_epi16(tv, tvc)));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(tt1, _mm_unpackhi_epi16(tv, tvc)));
            lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(tmp, zero), tv));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(tmp, zero), tv));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(&Score[n]), _mm_slli_epi32(lo, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(&Score[n + 4]), _mm_slli_epi32(hi, 1));
    }
#else
    for (int n = 0; n < LspCbSize; n++) {
        int32_t Sum = 0;
        for (int j = 0; j < Len; j++) {
            const int32_t c = col[j][n];
            const int32_t Tmp = (W[j] * c + 0x4000) >> 15;
            Sum += Tmp * (2 * Tv[j] - c);
        }
        Score[n] = 2 * Sum;
    }
#endif
}

}  // namespace

Word32 Lsp_Svq(const Word16* Tv, const Word16* Wvect) {
    const BandColumns& Cb = Columns();
    Word32 Rez = 0;
    for (int k = 0; k < LspQntBands; k++) {
        const int Start = BandInfoTable[k][0];
        const int Len = BandInfoTable[k][1];

        // |mult_r(w, c)| <= |c| <= C, so the first chain stays within
        // 2 C sum|Tv| and the second adds at most 2 Len C^2: when twice the
        // first (it is doubled in between) plus the second fits MAX_32, the
        // score is an exact integer sum.
        const int64_t C = Cb.max[k];
        int64_t TvMag = 0;
        for (int j = 0; j < Len; j++) TvMag += std::abs(int32_t{Tv[Start + j]});

        alignas(16) int32_t Score[LspCbSize];
        if (4 * C * TvMag + 2 * Len * C * C <= MAX_32) {
            PlainScores(Cb.col[k], Len, &Tv[Start], &Wvect[Start], Score);
        } else {
            for (int n = 0; n < LspCbSize; n++) {
                const Word16* cb = BandQntRow(k, n);
                Word16 Tmp[4];
                for (int j = 0; j < Len; j++) Tmp[j] = mult_r(Wvect[Start + j], cb[j]);
                Word32 Acc = 0;
                for (int j = 0; j < Len; j++) Acc = L_mac(Acc, Tv[Start + j], Tmp[j]);
                Acc = L_shl(Acc, 1);
                for (int j = 0; j < Len; j++) Acc = L_msu(Acc, cb[j], Tmp[j]);
                Score[n] = Acc;
            }
        }

        Word32 Best = -1;
        Word16 Indx = 0;
        for (int n = 0; n < LspCbSize; n++) {
            if (Score[n] > Best) {
                Best = Score[n];
                Indx = static_cast<Word16>(n);
            }
        }
        Rez = L_add(L_shl(Rez, 8), Indx);
    }
    return Rez;
}

void Lsp_Inq(Word16* Lsp, const Word16* PrevLsp, Word32 LspId, Word16 Crc) {
    // A lost frame carries no index: it leans harder on the previous vector
    // and keeps the frequencies further apart.
    Word16 Pred = LspPred0;
    Word16 MinDiff = LspMinDiff;
    if (Crc != 0) {
        LspId = 0;
        Pred = LspPred1;
        MinDiff = LspMinDiffLost;
    }

    for (int k = LspQntBands - 1; k >= 0; k--) {
        const int idx = LspId & 0xff;
        LspId >>= 8;
        const int Start = BandInfoTable[k][0];
        const int Len = BandInfoTable[k][1];
        const Word16* cb = BandQntRow(k, idx);
        for (int j = 0; j < Len; j++) Lsp[Start + j] = cb[j];
    }

    for (int j = 0; j < LpcOrder; j++) {
        const Word16 Prev = sub(PrevLsp[j], LspDcTable[j]);
        Lsp[j] = add(Lsp[j], mult_r(Prev, Pred));
        Lsp[j] = add(Lsp[j], LspDcTable[j]);
    }

    bool stable = false;
    for (int pass = 0; pass < MaxStabPasses && !stable; pass++) {
        if (Lsp[0] < LspMinFreq) Lsp[0] = LspMinFreq;
        if (Lsp[LpcOrder - 1] > LspMaxFreq) Lsp[LpcOrder - 1] = LspMaxFreq;

        // Push neighbours closer than MinDiff apart, symmetrically.
        for (int j = 1; j < LpcOrder; j++) {
            Word16 t = sub(add(MinDiff, Lsp[j - 1]), Lsp[j]);
            if (t > 0) {
                t = shr(t, 1);
                Lsp[j - 1] = sub(Lsp[j - 1], t);
                Lsp[j] = add(Lsp[j], t);
            }
        }

        stable = true;
        for (int j = 1; j < LpcOrder; j++)
            if (sub(sub(add(Lsp[j - 1], MinDiff), 4), Lsp[j]) > 0) stable = false;
    }

    if (!stable)
        for (int j = 0; j < LpcOrder; j++) Lsp[j] = PrevLsp[j];
}

void Lsp_Int(Word16* QntLpc, const Word16* CurrLsp, const Word16* PrevLsp) {
    // Weight of the current vector: 0.25, 0.5, 0.75, 1.
    Word16 Fac = static_cast<Word16>(0xE000);
    for (int i = 0; i < SubFrames; i++) {
        Word16* Dpnt = &QntLpc[i * LpcOrder];
        for (int j = 0; j < LpcOrder; j++) {
            Word32 Acc = L_deposit_h(PrevLsp[j]);
            Acc = L_mac(Acc, Fac, PrevLsp[j]);
            Acc = L_msu(Acc, Fac, CurrLsp[j]);
            Dpnt[j] = round(Acc);
        }
        LsptoA(Dpnt);
        Fac = add(Fac, static_cast<Word16>(0xE000));
    }
}

void LsptoA(Word16* Lsp) {
    // Negated cosines, interpolated from the table. A damaged stream can
    // decode to a negative frequency: the table holds one period of the
    // cosine, so its index wraps around instead of reading before it.
    for (int i = 0; i < LpcOrder; i++) {
        const int n = shr(Lsp[i], 7) & 511;
        const Word16 frac = add(shl(static_cast<Word16>(Lsp[i] & 0x7F), 8), 0x80);
        Word32 Acc = L_deposit_h(CosineTable[n]);
        Acc = L_mac(Acc, sub(CosineTable[(n + 1) & 511], CosineTable[n]), frac);
        Lsp[i] = negate(round(L_shl(Acc, 1)));
    }

    // Products of second-order sections: P from the even, Q from the odd values.
    Word32 P[LpcOrder / 2 + 1];
    Word32 Q[LpcOrder / 2 + 1];
    P[0] = 0x10000000;
    P[1] = L_mac(L_mult(Lsp[0], 0x2000), Lsp[2], 0x2000);
    P[2] = L_add(L_shr(L_mult(Lsp[0], Lsp[2]), 1), 0x20000000);
    Q[0] = 0x10000000;
    Q[1] = L_mac(L_mult(Lsp[1], 0x2000), Lsp[3], 0x2000);
    Q[2] = L_add(L_shr(L_mult(Lsp[1], Lsp[3]), 1), 0x20000000);

    auto stage = [](Word32* X, Word16 c, int i) {
        X[i + 1] = L_add(L_mls(X[i], c), X[i - 1]);
        for (int j = i; j >= 2; j--) X[j] = L_add(L_add(L_mls(X[j - 1], c), L_shr(X[j], 1)), L_shr(X[j - 2], 1));
        X[0] = L_shr(X[0], 1);
        X[1] = L_shr(L_add(L_shr(L_deposit_h(c), static_cast<Word16>(i)), X[1]), 1);
    };
    for (int i = 2; i < LpcOrder / 2; i++) {
        stage(P, Lsp[2 * i], i);
        stage(Q, Lsp[2 * i + 1], i);
    }

    for (int i = 0; i < LpcOrder / 2; i++) {
        Word32 Acc = L_add(P[i], P[i + 1]);
        Acc = L_sub(Acc, Q[i]);
        Acc = L_add(Acc, Q[i + 1]);
        Lsp[i] = negate(round(L_shl(Acc, 3)));

        Acc = L_add(P[i], P[i + 1]);
        Acc = L_add(Acc, Q[i]);
        Acc = L_sub(Acc, Q[i + 1]);
        Lsp[LpcOrder - 1 - i] = negate(round(L_shl(Acc, 3)));
    }
}

}  // namespace kv::g7231
