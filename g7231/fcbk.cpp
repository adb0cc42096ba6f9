#include "g7231/fcbk.h"

#include "g7231/dsp.h"
#include "g7231/tables.h"

#include <bit>

namespace kv::g7231 {

void Find_Fcbk(Word16* Dpnt, Word16* ImpResp, LINEDEF* Line, Word16 Sfc) {
    BESTDEF Best{};
    Best.MaxErr = static_cast<Word32>(0xc0000000u);

    const Word16 Srate = Nb_puls[Sfc];
    const Word16 Olp = Line->Olp[Sfc >> 1];

    Find_Best(&Best, Dpnt, ImpResp, Srate, SubFrLen);
    if (Olp < SubFrLen - 2) Find_Best(&Best, Dpnt, ImpResp, Srate, Olp);

    for (int i = 0; i < SubFrLen; i++) Dpnt[i] = 0;
    for (int i = 0; i < Srate; i++) Dpnt[Best.Ploc[i]] = Best.Pamp[i];

    Fcbk_Pack(Dpnt, &Line->Sfs[Sfc], &Best, Srate);

    if (Best.UseTrn == 1) Gen_Trn(Dpnt, Dpnt, Olp);
}

void Gen_Trn(Word16* Dst, Word16* Src, Word16 Olp) {
    Word16 Tmp[SubFrLen];
    for (int i = 0; i < SubFrLen; i++) Tmp[i] = Src[i];
    for (int i = 0; i < SubFrLen; i++) Dst[i] = Tmp[i];

    Word16 t = Olp;
    while (t < SubFrLen) {
        for (int i = t; i < SubFrLen; i++) Dst[i] = add(Dst[i], Tmp[i - t]);
        t = add(t, Olp);
    }
}

namespace {

constexpr int Pad = 64;                  // SubFrLen rounded up to whole 8-sample vectors
constexpr int Slots = SubFrLen / Sgrid;  // pulse positions on one grid
constexpr int SlotsPad = 32;             // Slots rounded up to whole 4-lane vectors

void count(FcbkStep s, bool exact) { FcbkPath[s][exact ? 1 : 0].fetch_add(1, std::memory_order_relaxed); }

// Pulse search on one grid: W holds the backward-filtered target at the grid
// positions, Corr the response autocorrelation at grid distances.
void searchExact(Word32* W, const Word16* Corr, Word16 MaxAmp, Word16 Np, Word16* Slot, Word16* Pamp) {
    bool Occ[Slots] = {};
    Occ[Slot[0]] = true;
    for (int j = 1; j < Np; j++) {
        Word32 Best1 = static_cast<Word32>(0xc0000000u);
        for (int m = 0; m < Slots; m++) {
            if (Occ[m]) continue;
            // Remove the previous pulse's contribution, then pick the largest
            // remaining residual; the first of equal values wins.
            const int d = m > Slot[j - 1] ? m - Slot[j - 1] : Slot[j - 1] - m;
            Word32 w = L_msu(W[m], Pamp[j - 1], Corr[d]);
            W[m] = w;
            w = L_abs(w);
            if (w > Best1) {
                Best1 = w;
                Slot[j] = static_cast<Word16>(m);
            }
        }
        Pamp[j] = W[Slot[j]] >= 0 ? MaxAmp : negate(MaxAmp);
        Occ[Slot[j]] = true;
    }
}

// The same search in plain 32-bit arithmetic, for when the caller has shown
// |W| + (Np - 1) * 2 * MaxAmp * max|Corr| <= MAX_32: then no residual saturates.
// Sym[t] = 2 * MaxAmp * Corr[|t - (Slots - 1)|] for t < 2 * Slots - 1; W and
// Sym have room for whole vectors past their ends.
void searchFast(Word32* W, const Word32* Sym, Word16 MaxAmp, Word16 Np, Word16* Slot, Word16* Pamp) {
    alignas(16) Word32 Taken[SlotsPad] = {};  // -1 where a pulse sits or past the end: below every |W|
    for (int m = Slots; m < SlotsPad; m++) Taken[m] = -1;
    Taken[Slot[0]] = -1;
    for (int j = 1; j < Np; j++) {
        const Word32* row = Sym + (Slots - 1) - Slot[j - 1];
        int at = 0;
#ifdef KV_G7231_SSE2
        __m128i a[SlotsPad / 4];
        for (int v = 0; v < SlotsPad / 4; v++) {
            const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4 * v));
            __m128i w = _mm_load_si128(reinterpret_cast<const __m128i*>(W + 4 * v));
            w = Pamp[j - 1] > 0 ? _mm_sub_epi32(w, r) : _mm_add_epi32(w, r);
            _mm_store_si128(reinterpret_cast<__m128i*>(W + 4 * v), w);
            const __m128i sgn = _mm_srai_epi32(w, 31);
            a[v] = _mm_or_si128(_mm_sub_epi32(_mm_xor_si128(w, sgn), sgn),
                                _mm_load_si128(reinterpret_cast<const __m128i*>(Taken + 4 * v)));
        }
        const auto larger = [](__m128i x, __m128i o) {  // lane-wise max, which SSE2 lacks for 32 bits
            const __m128i gt = _mm_cmpgt_epi32(o, x);
            return _mm_or_si128(_mm_and_si128(gt, o), _mm_andnot_si128(gt, x));
        };
        __m128i mx = a[0];
        for (int v = 1; v < SlotsPad / 4; v++) mx = larger(mx, a[v]);
        mx = larger(mx, _mm_shuffle_epi32(mx, 0x4e));
        mx = larger(mx, _mm_shuffle_epi32(mx, 0xb1));
        // The first position holding the largest value.
        for (int v = 0; v < SlotsPad / 4; v++) {
            const int hit = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(a[v], mx)));
            if (hit != 0) {
                at = 4 * v + std::countr_zero(static_cast<unsigned>(hit));
                break;
            }
        }
#else
        if (Pamp[j - 1] > 0)
            for (int m = 0; m < Slots; m++) W[m] -= row[m];
        else
            for (int m = 0; m < Slots; m++) W[m] += row[m];
        Word32 Best1 = -1;
        for (int m = 0; m < Slots; m++) {
            const Word32 a = (W[m] < 0 ? -W[m] : W[m]) | Taken[m];
            if (a > Best1) {
                Best1 = a;
                at = m;
            }
        }
#endif
        Slot[j] = static_cast<Word16>(at);
        Pamp[j] = W[at] >= 0 ? MaxAmp : static_cast<Word16>(-MaxAmp);
        Taken[at] = -1;
    }
}

// Sym[t] = Amp2 * SymC[t] for t < 2 * SlotsPad.
void scaleSym(const Word16* SymC, Word16 Amp2, Word32* Sym) {
#ifdef KV_G7231_SSE2
    const __m128i a = _mm_set1_epi16(Amp2);
    for (int t = 0; t < 2 * SlotsPad; t += 8) {
        const __m128i c = _mm_load_si128(reinterpret_cast<const __m128i*>(SymC + t));
        const __m128i lo = _mm_mullo_epi16(c, a), hi = _mm_mulhi_epi16(c, a);
        _mm_store_si128(reinterpret_cast<__m128i*>(Sym + t), _mm_unpacklo_epi16(lo, hi));
        _mm_store_si128(reinterpret_cast<__m128i*>(Sym + t + 4), _mm_unpackhi_epi16(lo, hi));
    }
#else
    for (int t = 0; t < 2 * SlotsPad; t++) Sym[t] = Amp2 * SymC[t];
#endif
}

// The candidate pulses filtered through Imr, in the original's saturating
// arithmetic: y[l] = extract_h(L_shl(sum of L_mac up to l, 2)).
void filterExact(const Word16* Imr, const Word16* Ploc, const Word16* Pamp, Word16 Np, Word16* y) {
    Word16 Exc[SubFrLen] = {};
    for (int j = 0; j < Np; j++) Exc[Ploc[j]] = Pamp[j];
    for (int l = 0; l < SubFrLen; l++) {
        Word32 Acc0 = 0;
        for (int j = 0; j <= l; j++) Acc0 = L_mac(Acc0, Exc[j], Imr[l - j]);
        y[l] = extract_h(L_shl(Acc0, 2));
    }
}

// The same when Np * 2 * MaxAmp * max|Imr| <= MAX_32, so no sum saturates:
// then extract_h(L_shl(a, 2)) is a >> 14 clamped to 16 bits. ImrPad holds Imr
// at [Pad, Pad + SubFrLen) and zeros around it; y gets zeros past SubFrLen.
void filterFast(const Word16* ImrPad, const Word16* Ploc, const Word16* Pamp, Word16 Np, Word16* y) {
#ifdef KV_G7231_SSE2
    __m128i acc[Pad / 4];
    for (auto& a : acc) a = _mm_setzero_si128();
    // Two pulses per pmaddwd: interleave their shifted responses and weigh
    // each pair with the two amplitudes (2 * |amp| <= 13246 fits 16 bits).
    for (int j = 0; j < Np; j += 2) {
        const int pa = Ploc[j];
        const bool pair = j + 1 < Np;
        const int pb = pair ? Ploc[j + 1] : pa;
        const Word16 wa = static_cast<Word16>(2 * Pamp[j]);
        const Word16 wb = pair ? static_cast<Word16>(2 * Pamp[j + 1]) : Word16(0);
        const __m128i w = _mm_set1_epi32(
            static_cast<int>((static_cast<uint32_t>(static_cast<uint16_t>(wb)) << 16) | static_cast<uint16_t>(wa)));
        const Word16* ra = ImrPad + Pad - pa;
        const Word16* rb = ImrPad + Pad - pb;
        for (int l = (pa < pb ? pa : pb) & ~7; l < Pad; l += 8) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ra + l));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rb + l));
            acc[l / 4] = _mm_add_epi32(acc[l / 4], _mm_madd_epi16(_mm_unpacklo_epi16(a, b), w));
            acc[l / 4 + 1] = _mm_add_epi32(acc[l / 4 + 1], _mm_madd_epi16(_mm_unpackhi_epi16(a, b), w));
        }
    }
    for (int l = 0; l < Pad; l += 8) {
        const __m128i v = _mm_packs_epi32(_mm_srai_epi32(acc[l / 4], 14), _mm_srai_epi32(acc[l / 4 + 1], 14));
        _mm_store_si128(reinterpret_cast<__m128i*>(y + l), v);
    }
    for (int l = SubFrLen; l < Pad; l++) y[l] = 0;
#else
    Word32 acc[SubFrLen] = {};
    for (int j = 0; j < Np; j++) {
        const Word32 w = 2 * Pamp[j];
        const Word16* r = ImrPad + Pad - Ploc[j];
        for (int l = Ploc[j]; l < SubFrLen; l++) acc[l] += w * r[l];
    }
    for (int l = 0; l < SubFrLen; l++) {
        const Word32 v = acc[l] >> 14;
        y[l] = static_cast<Word16>(v > MAX_16 ? MAX_16 : v < MIN_16 ? MIN_16 : v);
    }
    for (int l = SubFrLen; l < Pad; l++) y[l] = 0;
#endif
}

// 2<Tv,y> - <y,y> as the original's saturating chain.
Word32 critExact(const Word16* Tv, const Word16* y) {
    Word32 Acc1 = 0;
    for (int j = 0; j < SubFrLen; j++) {
        Acc1 = L_mac(Acc1, Tv[j], y[j]);
        Acc1 = L_sub(Acc1, L_shr(L_mult(y[j], y[j]), 1));
    }
    return Acc1;
}

}  // namespace

std::atomic<std::uint32_t> FcbkPath[FcbkSteps][2];

void Find_Best(BESTDEF* Best, Word16* Tv, Word16* ImpResp, Word16 Np, Word16 Olp) {
    alignas(16) Word16 ImrPad[2 * Pad] = {};  // Imr at [Pad, Pad + SubFrLen), zeros around it
    alignas(16) Word16 HPad[2 * Pad] = {};    // shr(Imr, 1), laid out alike
    alignas(16) Word16 Tp[Pad] = {};          // Tv with zeros past its end
    alignas(16) Word16 y[Pad];
    Word16 Corr[Slots];  // autocorrelation at even lags: pulses on one grid are an even distance apart
    Word32 ErrBlk[SubFrLen];
    alignas(16) Word32 W[SlotsPad];
    alignas(16) Word16 SymC[2 * SlotsPad] = {};  // Corr mirrored: SymC[t] = Corr[|t - (Slots - 1)|]
    alignas(16) Word32 Sym[2 * SlotsPad];
    Word16 Ploc[MaxPulseNum];
    Word16 Slot[MaxPulseNum];
    Word16 Pamp[MaxPulseNum];
    Word16* Imr = ImrPad + Pad;
    Word16* H = HPad + Pad;

    Word16 UseTrn;
    if (Olp < SubFrLen - 2) {
        UseTrn = 1;
        Gen_Trn(Imr, ImpResp, Olp);
    } else {
        UseTrn = 0;
        for (int i = 0; i < SubFrLen; i++) Imr[i] = ImpResp[i];
    }
    Word32 MaxImr = 0;
    for (int i = 0; i < SubFrLen; i++) {
        H[i] = shr(Imr[i], 1);
        const Word32 a = Imr[i] < 0 ? -Imr[i] : Imr[i];
        if (a > MaxImr) MaxImr = a;
    }
    for (int i = 0; i < SubFrLen; i++) Tp[i] = Tv[i];

    // Autocorrelation of the halved response, normalised on its energy. The
    // energy is a sum of squares (no L_mult of |h| <= 16384 saturates), so the
    // saturating chain is the plain sum capped at MAX_32; when it is not
    // capped, every correlation is bounded by it and cannot saturate either.
    const uint64_t Eh2 = 2 * dsp::sumsq(H, Pad);
    const Word32 Acc0 = Eh2 > static_cast<uint64_t>(MAX_32) ? MAX_32 : static_cast<Word32>(Eh2);
    Word16 Exp = norm_l(Acc0);
    Corr[0] = round(L_shl(Acc0, Exp));
    if (Eh2 <= static_cast<uint64_t>(MAX_32)) {
        count(FcbkCorr, false);
        for (int d = 1; d < Slots; d++) {
            const int j0 = (2 * d) & ~7;
            Corr[d] = round(L_shl(2 * dsp::dot(H + j0, H + j0 - 2 * d, Pad - j0), Exp));
        }
    } else {
        count(FcbkCorr, true);
        for (int d = 1; d < Slots; d++) {
            Word32 Acc = 0;
            for (int j = 2 * d; j < SubFrLen; j++) Acc = L_mac(Acc, H[j], H[j - 2 * d]);
            Corr[d] = round(L_shl(Acc, Exp));
        }
    }

    // Target filtered backwards through the (unhalved) response.
    Exp = static_cast<Word16>(Exp - 4);
    const uint64_t Et = dsp::sumsq(Tp, Pad);
    alignas(16) Word16 Tm[Pad];  // coarse magnitudes of Tv
    dsp::coarse(Tp, Tm, Pad);
    bool errFast = dsp::cauchy_fits(Et, dsp::sumsq(Imr, Pad));
    if (!errFast) {
        // Lag i's chain is bounded by 2 * sum |Tv[j] * Imr[j - i]|, at most
        // 128 times the coarse sum.
        alignas(16) Word16 ImrMPad[2 * Pad] = {};
        dsp::coarse(Imr, ImrMPad + Pad, Pad);
        errFast = true;
        for (int i = 0; i < SubFrLen && errFast; i++) {
            const int j0 = i & ~7;
            errFast = dsp::dot(Tm + j0, ImrMPad + Pad + j0 - i, Pad - j0) <= MAX_32 / 128;
        }
    }
    if (errFast) {
        count(FcbkErr, false);
        for (int i = 0; i < SubFrLen; i++) {
            const int j0 = i & ~7;
            ErrBlk[i] = L_shl(2 * dsp::dot(Tp + j0, Imr + j0 - i, Pad - j0), Exp);
        }
    } else {
        count(FcbkErr, true);
        for (int i = 0; i < SubFrLen; i++) {
            Word32 Acc = 0;
            for (int j = i; j < SubFrLen; j++) Acc = L_mac(Acc, Tv[j], Imr[j - i]);
            ErrBlk[i] = L_shl(Acc, Exp);
        }
    }
    const bool TvFull = !dsp::has_min16(Tp, Pad);

    for (int t = 0; t < 2 * Slots - 1; t++) SymC[t] = Corr[t < Slots ? Slots - 1 - t : t - (Slots - 1)];
    int64_t MaxCorr = 0;
    for (int d = 0; d < Slots; d++) {
        const int64_t a = Corr[d] < 0 ? -Corr[d] : Corr[d];
        if (a > MaxCorr) MaxCorr = a;
    }

    for (int k = 0; k < Sgrid; k++) {
        // First pulse where the backward-filtered target peaks; the last of
        // equal peaks wins.
        Word32 Peak = 0;
        Word16 First = 0;
        int64_t MaxW = 0;
        for (int m = 0; m < Slots; m++) {
            const Word32 a = L_abs(ErrBlk[k + Sgrid * m]);
            if (a >= Peak) {
                Peak = a;
                First = static_cast<Word16>(m);
            }
            const int64_t w = ErrBlk[k + Sgrid * m];
            if ((w < 0 ? -w : w) > MaxW) MaxW = w < 0 ? -w : w;
        }

        // Gain level nearest to the peak; the search then tries the two
        // levels below it and one above.
        Word32 Dist = 0x40000000;
        Word16 Gain = NumOfGainLev - MlqSteps;
        for (int g = NumOfGainLev - MlqSteps; g >= MlqSteps; g--) {
            Word32 d = L_abs(L_sub(L_mult(FcbkGainTable[g], Corr[0]), Peak));
            if (d < Dist) {
                Dist = d;
                Gain = static_cast<Word16>(g);
            }
        }
        const Word16 MaxAmpId = static_cast<Word16>(Gain - 1);

        for (int s = 1; s <= 2 * MlqSteps; s++) {
            const Word16 MampId = static_cast<Word16>(MaxAmpId - MlqSteps + s);
            const Word16 MaxAmp = FcbkGainTable[MampId];

            for (int m = 0; m < Slots; m++) W[m] = ErrBlk[k + Sgrid * m];
            W[Slots] = W[Slots + 1] = 0;
            Slot[0] = First;
            Pamp[0] = W[First] >= 0 ? MaxAmp : negate(MaxAmp);
            const int64_t Step = 2 * static_cast<int64_t>(MaxAmp) * MaxCorr;
            if (MaxW + (Np - 1) * Step <= MAX_32) {
                count(FcbkSearch, false);
                scaleSym(SymC, static_cast<Word16>(2 * MaxAmp), Sym);
                searchFast(W, Sym, MaxAmp, Np, Slot, Pamp);
            } else {
                count(FcbkSearch, true);
                searchExact(W, Corr, MaxAmp, Np, Slot, Pamp);
            }
            for (int j = 0; j < Np; j++) Ploc[j] = static_cast<Word16>(k + Sgrid * Slot[j]);

            // Filter the candidate pulses through Imr.
            if (Np * 2 * static_cast<int64_t>(MaxAmp) * MaxImr <= MAX_32) {
                count(FcbkFilter, false);
                filterFast(ImrPad, Ploc, Pamp, Np, y);
            } else {
                count(FcbkFilter, true);
                filterExact(Imr, Ploc, Pamp, Np, y);
                for (int l = SubFrLen; l < Pad; l++) y[l] = 0;
            }

            // 2<Tv,y> - <y,y>: larger means a smaller weighted error. Its
            // terms sum to at most 2 * sqrt(Et * Ey) + Ey in magnitude (or the
            // coarse bound in place of the root); when that fits, and no y is
            // -32768 (whose square the chain takes as 2^30 - 1), the plain
            // sums are exact.
            Word32 Acc1;
            const uint64_t Ey = dsp::sumsq(y, Pad);
            bool fast = TvFull && Ey <= static_cast<uint64_t>(MAX_32) && !dsp::has_min16(y, Pad);
            if (fast) {
                fast = dsp::cauchy_fits(Et, Ey, Ey);
                if (!fast) {
                    // Or: 2 * sum |Tv * y| is at most 128 times the coarse sum.
                    alignas(16) Word16 ym[Pad];
                    dsp::coarse(y, ym, Pad);
                    fast = 128 * static_cast<uint64_t>(dsp::dot(Tm, ym, Pad)) <= static_cast<uint64_t>(MAX_32) - Ey;
                }
            }
            if (fast) {
                count(FcbkCrit, false);
                Acc1 = 2 * dsp::dot(Tp, y, Pad) - static_cast<Word32>(Ey);
            } else {
                count(FcbkCrit, true);
                Acc1 = critExact(Tv, y);
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

void Fcbk_Pack(Word16* Dpnt, SFSDEF* Sfs, BESTDEF* Best, Word16 Np) {
    int j = MaxPulseNum - Np;

    Sfs->Pamp = 0;
    Sfs->Ppos = 0;
    for (int i = 0; i < SubFrLen / Sgrid; i++) {
        const Word16 v = Dpnt[Best->GridId + Sgrid * i];
        if (v == 0) {
            Sfs->Ppos = L_add(Sfs->Ppos, CombinatorialTable[j][i]);
        } else {
            Sfs->Pamp = shl(Sfs->Pamp, 1);
            if (v < 0) Sfs->Pamp = add(Sfs->Pamp, 1);
            j++;
            if (j == MaxPulseNum) break;
        }
    }

    Sfs->Mamp = Best->MampId;
    Sfs->Grid = Best->GridId;
    Sfs->Tran = Best->UseTrn;
}

}  // namespace kv::g7231
