#include "g7231/acbk.h"

#include "g7231/dsp.h"
#include "g7231/tables.h"
#include "g7231/tame.h"

#include <algorithm>
#include <cstring>

namespace kv::g7231 {

const Word16 (*const AcbkGainTablePtr[2])[20] = {AcbkGainTable085, AcbkGainTable170};

std::atomic<std::uint32_t> AcbkPath[AcbkSteps][2];

namespace {
constexpr int RezLen = SubFrLen + ClPitchOrd - 1;  // 64
constexpr int CorTerms = 20;                       // per candidate lag: 5 + 5 + 10 correlations
constexpr int Pad = 64;                            // SubFrLen rounded up to whole 8-sample vectors
constexpr int RowLen = 24;                         // CorTerms rounded up likewise

void count(AcbkStep s, bool exact) { AcbkPath[s][exact ? 1 : 0].fetch_add(1, std::memory_order_relaxed); }

#ifdef KV_G7231_SSE2
__m128i load(const Word16* p) { return _mm_load_si128(reinterpret_cast<const __m128i*>(p)); }
__m128i loadu(const void* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
#endif

// y[i] = sum over j <= i of x[j] * h[i - j] for i < SubFrLen, modulo 2^32. Hp
// holds (h[n], h[n - 1]) pairs at Hp[n + Lead], zero outside 0 <= n < SubFrLen;
// x has zeros past SubFrLen.
struct PairedResponse {
    static constexpr int Lead = 8;
    alignas(16) Word16 v[2 * (Pad + Lead)];
    PairedResponse() = default;
    explicit PairedResponse(const Word16* h) {
        for (int n = -Lead; n < Pad; n++) {
            v[2 * (n + Lead)] = n >= 0 && n < SubFrLen ? h[n] : Word16(0);
            v[2 * (n + Lead) + 1] = n >= 1 && n <= SubFrLen ? h[n - 1] : Word16(0);
        }
    }
};

void convolve(const Word16* x, const PairedResponse& Hp, Word32* y) {
#ifdef KV_G7231_SSE2
    // Four outputs per pmaddwd: each lane takes x[j] * h[i - j] + x[j + 1] * h[i - j - 1].
    __m128i xp[SubFrLen / 2];
    for (int j = 0; j < SubFrLen; j += 2)
        xp[j / 2] = _mm_set1_epi32(static_cast<int>((static_cast<uint32_t>(static_cast<uint16_t>(x[j + 1])) << 16) |
                                                    static_cast<uint16_t>(x[j])));
    // Eight outputs per pass share each broadcast pair.
    for (int i = 0; i < SubFrLen; i += 8) {
        __m128i lo = _mm_setzero_si128(), hi = _mm_setzero_si128();
        const int last = i + 7 < SubFrLen ? i + 7 : SubFrLen - 1;
        const Word16* base = Hp.v + 2 * (i + PairedResponse::Lead);
        for (int j = 0; j <= last; j += 2) {
            lo = _mm_add_epi32(lo, _mm_madd_epi16(xp[j / 2], loadu(base - 2 * j)));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(xp[j / 2], loadu(base - 2 * j + 8)));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(y + i), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(y + i + 4), hi);
    }
#else
    const Word16* h = Hp.v + 2 * PairedResponse::Lead;  // h[n] at h[2 * n]
    for (int i = 0; i < SubFrLen; i++) {
        uint32_t acc = 0;
        for (int j = 0; j <= i; j++) acc += static_cast<uint32_t>(x[j] * h[2 * (i - j)]);
        y[i] = static_cast<Word32>(acc);
    }
#endif
}

// round() of a value known to fit in 32 bits.
Word16 roundW(Word32 a) { return a > MAX_32 - 0x8000 ? MAX_16 : static_cast<Word16>((a + 0x8000) >> 16); }

// Out[j] = Prev[j - 1] + ((r * h[j] + 0x4000) >> 15) clamped to 16 bits, for
// 1 <= j < SubFrLen; Out[0] is left to the caller and Out keeps zeros past
// SubFrLen. Prev has a zero just before it (the previous row's padding).
void delayAndAdd(const Word16* Prev, Word16 r, const Word16* h, Word16* Out) {
#ifdef KV_G7231_SSE2
    const __m128i rv = _mm_set1_epi16(r);
    const __m128i half = _mm_set1_epi32(0x4000);
    for (int j = 0; j < Pad; j += 8) {
        const __m128i hv = load(h + j);
        const __m128i lo = _mm_mullo_epi16(hv, rv), hi = _mm_mulhi_epi16(hv, rv);
        const __m128i p0 = _mm_srai_epi32(_mm_add_epi32(_mm_unpacklo_epi16(lo, hi), half), 15);
        const __m128i p1 = _mm_srai_epi32(_mm_add_epi32(_mm_unpackhi_epi16(lo, hi), half), 15);
        const __m128i pv = loadu(Prev + j - 1);
        const __m128i v0 = _mm_add_epi32(_mm_srai_epi32(_mm_unpacklo_epi16(pv, pv), 16), p0);
        const __m128i v1 = _mm_add_epi32(_mm_srai_epi32(_mm_unpackhi_epi16(pv, pv), 16), p1);
        _mm_store_si128(reinterpret_cast<__m128i*>(Out + j), _mm_packs_epi32(v0, v1));
    }
    for (int j = SubFrLen; j < Pad; j++) Out[j] = 0;
#else
    for (int j = 1; j < SubFrLen; j++) {
        const Word32 v = Prev[j - 1] + ((r * h[j] + 0x4000) >> 15);
        Out[j] = static_cast<Word16>(v > MAX_16 ? MAX_16 : v < MIN_16 ? MIN_16 : v);
    }
#endif
}

// The gain tables with rows padded to whole vectors and the rows' sums of
// magnitudes: no table entry is -32768, so a row's products are
// Cor[j] * entry, and its chain cannot saturate when max|Cor| times that sum
// fits.
struct GainRows {
    static constexpr int Rows[2] = {88, 172};  // NbFilt085, NbFilt170 rounded up to blocks of four
    alignas(16) Word16 r085[Rows[0]][RowLen];
    alignas(16) Word16 r170[Rows[1]][RowLen];
    Word32 norm[2][Rows[1]];           // per row
    Word32 blockNorm[2][Rows[1] / 4];  // largest of four rows
    const Word16 (*rows[2])[RowLen];

    GainRows() : r085{}, r170{}, norm{}, blockNorm{} {
        for (int t = 0; t < 2; t++) {
            const int n = t ? NbFilt170 : NbFilt085;
            Word16(*dst)[RowLen] = t ? r170 : r085;
            for (int i = 0; i < n; i++) {
                for (int j = 0; j < CorTerms; j++) {
                    const Word16 v = AcbkGainTablePtr[t][i][j];
                    dst[i][j] = v;
                    norm[t][i] += v < 0 ? -v : v;
                }
                if (norm[t][i] > blockNorm[t][i / 4]) blockNorm[t][i / 4] = norm[t][i];
            }
            rows[t] = dst;
        }
    }
};

const GainRows& gainRows() {
    static const GainRows g;
    return g;
}

// One row whose norm alone cannot rule saturation out: the plain sum when its
// terms' magnitudes still fit, else the saturating chain (and exact is set).
Word32 rowChecked(const Word16* Cor, const Word16* row, bool& exact) {
    int64_t mag = 0;
    Word32 sum = 0;
    for (int j = 0; j < CorTerms; j++) {
        const Word32 p = Cor[j] * row[j];
        mag += p < 0 ? -static_cast<int64_t>(p) : p;
    }
    if (mag <= MAX_32) {
        for (int j = 0; j < CorTerms; j++) sum += Cor[j] * row[j];
        return sum;
    }
    exact = true;
    Word32 Acc0 = 0;
    for (int j = 0; j < CorTerms; j++) Acc0 = L_add(Acc0, L_shr(L_mult(Cor[j], row[j]), 1));
    return Acc0;
}

// Cor . row for rows [0, n) of table t into S; rows whose norm exceeds Limit
// take the exact chain. Returns whether any did.
bool gainSums(const Word16* Cor, const GainRows& G, int t, int n, Word32 Limit, Word32* S) {
    const Word16(*rows)[RowLen] = G.rows[t];
    bool exact = false;
#ifdef KV_G7231_SSE2
    const __m128i c0 = load(Cor), c1 = load(Cor + 8), c2 = load(Cor + 16);
    for (int i = 0; i < n; i += 4) {
        if (G.blockNorm[t][i / 4] > Limit) {
            for (int r = i; r < i + 4; r++) S[r] = rowChecked(Cor, rows[r], exact);
            continue;
        }
        __m128i s[4];
        for (int r = 0; r < 4; r++) {
            const Word16* row = rows[i + r];
            s[r] = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(c0, load(row)), _mm_madd_epi16(c1, load(row + 8))),
                                 _mm_madd_epi16(c2, load(row + 16)));
        }
        // Transpose-add: lane r of the result is the sum of s[r].
        const __m128i a = _mm_add_epi32(_mm_unpacklo_epi32(s[0], s[1]), _mm_unpackhi_epi32(s[0], s[1]));
        const __m128i b = _mm_add_epi32(_mm_unpacklo_epi32(s[2], s[3]), _mm_unpackhi_epi32(s[2], s[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(S + i),
                         _mm_add_epi32(_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b)));
    }
#else
    for (int i = 0; i < n; i++) {
        if (G.norm[t][i] > Limit) {
            S[i] = rowChecked(Cor, rows[i], exact);
            continue;
        }
        Word32 acc = 0;
        for (int j = 0; j < CorTerms; j++) acc += Cor[j] * rows[i][j];
        S[i] = acc;
    }
#endif
    return exact;
}

}  // namespace

void Get_Rez(Word16* Tv, Word16* PrevExc, Word16 Lag) {
    if (Lag >= RezLen - ClPitchOrd / 2) {  // no sample repeats
        std::memcpy(Tv, PrevExc + PitchMax - Lag - ClPitchOrd / 2, RezLen * sizeof(Word16));
        return;
    }
    for (int i = 0; i < ClPitchOrd / 2; i++) Tv[i] = PrevExc[PitchMax - Lag - ClPitchOrd / 2 + i];
    const Word16* src = PrevExc + PitchMax - Lag;
    for (int i = 0, m = 0; i < SubFrLen + ClPitchOrd / 2; i++) {
        Tv[ClPitchOrd / 2 + i] = src[m];
        if (++m == Lag) m = 0;
    }
}

void Find_Acbk(CodStat& cs, Word16* Tv, Word16* ImpResp, Word16* PrevExc, LINEDEF* Line, Word16 Sfc) {
    alignas(16) Word16 RezBuf[RezLen + 4] = {};  // the last tap's input is RezBuf + 4 with zeros past 60
    alignas(16) Word16 FltBuf[ClPitchOrd][Pad] = {};
    alignas(16) Word16 Tp[Pad] = {};
    alignas(16) Word16 Hpad[Pad] = {};
    alignas(16) Word16 CorVct[4][RowLen] = {};
    Word32 CorBuf[4 * CorTerms];
    Word32 Conv[Pad];
    Word32 Sums[172];

    Word16 Olp = Line->Olp[Sfc >> 1];
    Word16 Lid = Pstep;
    Word16 Gid = 0;
    const int Hb = 3 + (Sfc & 1);  // odd subframes also try an offset of +2

    // Keep every candidate lag inside the coded range.
    if ((Sfc & 1) == 0) {
        if (Olp == PitchMin) Olp = add(Olp, 1);
        if (Olp > PitchMax - 5) Olp = PitchMax - 5;
    }

    for (int i = 0; i < SubFrLen; i++) {
        Tp[i] = Tv[i];
        Hpad[i] = ImpResp[i];
    }
    const PairedResponse Hp(Hpad);
    PairedResponse Hm;  // coarse magnitudes of the response, made when first needed
    bool HmReady = false;
    // The largest output of conv(coarse |x|, coarse |h|).
    auto coarseConvMax = [&](const Word16* x) {
        if (!HmReady) {
            alignas(16) Word16 hm[Pad];
            dsp::coarse(Hpad, hm, Pad);
            Hm = PairedResponse(hm);
            HmReady = true;
        }
        alignas(16) Word16 xm[Pad];
        Word32 y[Pad];
        dsp::coarse(x, xm, Pad);
        convolve(xm, Hm, y);
        Word32 Mc = 0;
        for (int i = 0; i < SubFrLen; i++) Mc = std::max(Mc, y[i]);
        return Mc;
    };
    const uint64_t Eh = dsp::sumsq(Hpad, Pad);
    const uint64_t Et = dsp::sumsq(Tp, Pad);
    const bool TvFull = !dsp::has_min16(Tp, Pad);
    alignas(16) Word16 Tm[Pad];  // coarse magnitudes of the target
    dsp::coarse(Tp, Tm, Pad);

    Word32* lPnt = CorBuf;
    for (int k = 0; k < Hb; k++) {
        Get_Rez(RezBuf, PrevExc, static_cast<Word16>(Olp - Pstep + k));
        const Word16* x = RezBuf + ClPitchOrd - 1;
        Word16* F4 = FltBuf[ClPitchOrd - 1];

        bool filtFast = dsp::cauchy_fits(dsp::sumsq(x, Pad), Eh);
        if (!filtFast) {
            // Each output's chain is bounded by conv(|x|, |h|)[i]; 2 * 64 * the
            // coarse version bounds that.
            filtFast = coarseConvMax(x) <= MAX_32 / 128;
        }
        if (filtFast) {
            count(AcbkFilt, false);
            convolve(x, Hp, Conv);
            for (int i = 0; i < SubFrLen; i++) F4[i] = roundW(2 * Conv[i]);
        } else {
            count(AcbkFilt, true);
            for (int i = 0; i < SubFrLen; i++) {
                Word32 Acc0 = 0;
                for (int j = 0; j <= i; j++) Acc0 = L_mac(Acc0, x[j], ImpResp[i - j]);
                F4[i] = round(Acc0);
            }
        }

        // Each earlier tap is the next one's response delayed by a sample plus
        // the new excitation sample's response (ImpResp[0] is always 0x2000).
        // round(L_mac(F << 16, r, h)) is F + ((r * h + 0x4000) >> 15) clamped to
        // 16 bits: the low half of F << 16 is zero, and the one product L_mult
        // saturates (-32768 * -32768) lands on the same clamped value.
        for (int i = ClPitchOrd - 2; i >= 0; i--) {
            delayAndAdd(FltBuf[i + 1], RezBuf[i], Hpad, FltBuf[i]);
            FltBuf[i][0] = mult_r(RezBuf[i], 0x2000);
        }

        // Cross-correlations with the target, energies, mutual correlations.
        // Energies are sums of squares: the chain is the plain sum capped at
        // MAX_32. The other products equal L_shr(L_mult(a, b), 1) unless both
        // factors are -32768, and their chains cannot saturate when
        // sqrt(Ea * Eb) <= MAX_32.
        uint64_t Ef[ClPitchOrd];
        bool FltFull = true;
        for (int i = 0; i < ClPitchOrd; i++) {
            Ef[i] = dsp::sumsq(FltBuf[i], Pad);
            FltFull = FltFull && !dsp::has_min16(FltBuf[i], Pad);
        }
        auto plain = [](uint64_t a, uint64_t b) {
            return (a >> 32) == 0 && (b >> 32) == 0 && a * b <= static_cast<uint64_t>(MAX_32) * MAX_32;
        };
        bool fast = TvFull && FltFull;
        bool cauchy = fast;
        for (int i = 0; i < ClPitchOrd && cauchy; i++) {
            cauchy = plain(Et, Ef[i]);
            for (int j = 0; j < i && cauchy; j++) cauchy = plain(Ef[i], Ef[j]);
        }
        if (fast && !cauchy) {
            // Loud but unlike signals: bound each sum of |a * b| by 64 times
            // its coarse version instead.
            alignas(16) Word16 Fm[ClPitchOrd][Pad];
            for (int i = 0; i < ClPitchOrd; i++) dsp::coarse(FltBuf[i], Fm[i], Pad);
            for (int i = 0; i < ClPitchOrd && fast; i++) {
                fast = dsp::dot(Tm, Fm[i], Pad) <= MAX_32 / 64;
                for (int j = 0; j < i && fast; j++) fast = dsp::dot(Fm[i], Fm[j], Pad) <= MAX_32 / 64;
            }
        }
        if (fast) {
            count(AcbkCorr, false);
            for (int i = 0; i < ClPitchOrd; i++) *lPnt++ = L_shl(dsp::dot(Tp, FltBuf[i], Pad), 1);
            for (int i = 0; i < ClPitchOrd; i++)
                *lPnt++ = 2 * Ef[i] > static_cast<uint64_t>(MAX_32) ? MAX_32 : static_cast<Word32>(2 * Ef[i]);
            for (int i = 1; i < ClPitchOrd; i++)
                for (int j = 0; j < i; j++) *lPnt++ = L_shl(dsp::dot(FltBuf[i], FltBuf[j], Pad), 2);
        } else {
            count(AcbkCorr, true);
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
    }

    const int nCor = Hb * CorTerms;
    Word32 Mx = 0;
    for (int i = 0; i < nCor; i++) {
        Word32 a = L_abs(CorBuf[i]);
        if (a > Mx) Mx = a;
    }
    Word16 Exp = norm_l(Mx);
    // Every |CorBuf| is at most Mx, which Exp normalises, so no shift saturates.
    for (int k = 0; k < Hb; k++)
        for (int j = 0; j < CorTerms; j++) CorVct[k][j] = roundW(CorBuf[k * CorTerms + j] << Exp);

    Word16 off_filt = Test_Err(cs, static_cast<Word16>(Olp - Pstep), static_cast<Word16>(Olp - Pstep + Hb - 1));
    int Bound[2];
    Bound[0] = NbFilt085_min + shl(off_filt, 2);
    if (Bound[0] > NbFilt085) Bound[0] = NbFilt085;
    Bound[1] = NbFilt170_min + shl(off_filt, 3);
    if (Bound[1] > NbFilt170) Bound[1] = NbFilt170;

    const GainRows& G = gainRows();
    Word32 Acc1 = 0;
    for (int k = 0; k < Hb; k++) {
        // Odd subframes code an offset to the pair's lag, so the table follows
        // that lag rather than the candidate.
        const int lag = (Sfc & 1) ? Olp : Olp - Pstep + k;
        const int l = lag >= SubFrLen - 2 ? 1 : 0;
        const Word16* Cor = CorVct[k];

        Word32 MaxCor = 0;
        for (int j = 0; j < CorTerms; j++) MaxCor = std::max<Word32>(MaxCor, Cor[j] < 0 ? -Cor[j] : Cor[j]);
        const Word32 Limit = MaxCor == 0 ? MAX_32 : MAX_32 / MaxCor;
        count(AcbkGain, gainSums(Cor, G, l, Bound[l], Limit, Sums));
        for (int i = 0; i < Bound[l]; i += 4) {
#ifdef KV_G7231_SSE2
            // Most blocks of four hold nothing above the best so far.
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Sums + i));
            if (_mm_movemask_epi8(_mm_cmpgt_epi32(v, _mm_set1_epi32(Acc1))) == 0) continue;
#endif
            for (int r = i; r < i + 4 && r < Bound[l]; r++) {
                if (Sums[r] > Acc1) {
                    Acc1 = Sums[r];
                    Gid = static_cast<Word16>(r);
                    Lid = static_cast<Word16>(k);
                }
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

    // Subtract the chosen contribution filtered through the response. The
    // chain starts at Tv << 15, so its bound allows for the largest of those.
    alignas(16) Word16 Exc[Pad] = {};
    Decod_Acbk(Exc, PrevExc, Olp, Lid, Gid);
    Word32 MaxTv = 0;
    for (int i = 0; i < SubFrLen; i++) {
        const Word32 a = Tv[i] < 0 ? -Tv[i] : Tv[i];
        if (a > MaxTv) MaxTv = a;
    }
    const uint64_t Base = static_cast<uint64_t>(MaxTv) << 15;
    if (dsp::cauchy_fits(dsp::sumsq(Exc, Pad), Eh, Base) ||
        Base + 128 * static_cast<uint64_t>(coarseConvMax(Exc)) <= MAX_32) {
        count(AcbkSub, false);
        convolve(Exc, Hp, Conv);
        // round(L_shl(v, 1)) is (v + 0x4000) >> 15 clamped to 16 bits.
        for (int i = 0; i < SubFrLen; i++) {
            const int64_t v = (static_cast<int64_t>((Tv[i] << 15) - 2 * Conv[i]) + 0x4000) >> 15;
            Tv[i] = static_cast<Word16>(v > MAX_16 ? MAX_16 : v < MIN_16 ? MIN_16 : v);
        }
    } else {
        count(AcbkSub, true);
        for (int i = 0; i < SubFrLen; i++) {
            Word32 Acc0 = L_shr(L_deposit_h(Tv[i]), 1);
            for (int j = 0; j <= i; j++) Acc0 = L_msu(Acc0, Exc[j], ImpResp[i - j]);
            Tv[i] = round(L_shl(Acc0, 1));
        }
    }
}

void Decod_Acbk(Word16* Tv, Word16* PrevExc, Word16 Olp, Word16 Lid, Word16 Gid, Crate Rate) {
    Word16 RezBuf[RezLen];
    Get_Rez(RezBuf, PrevExc, static_cast<Word16>(Olp - Pstep + Lid));

    const Word16* row = (Olp >= SubFrLen - 2 || Rate == Rate53) ? AcbkGainTable170[Gid] : AcbkGainTable085[Gid];
    // Five taps: when 2 * max|RezBuf| * sum|row| fits, no L_mac saturates.
    Word32 MaxRez = 0, RowSum = 0;
    for (int i = 0; i < RezLen; i++) {
        const Word32 a = RezBuf[i] < 0 ? -RezBuf[i] : RezBuf[i];
        if (a > MaxRez) MaxRez = a;
    }
    for (int j = 0; j < ClPitchOrd; j++) RowSum += row[j] < 0 ? -row[j] : row[j];
    if (2 * static_cast<int64_t>(MaxRez) * RowSum <= MAX_32) {
        count(AcbkDecod, false);
        // With A the plain sum, round(L_shl(2 * A, 1)) is (A + 0x2000) >> 14
        // clamped to 16 bits, saturation included.
#ifdef KV_G7231_SSE2
        alignas(16) Word16 R[RezLen + 8] = {};
        alignas(16) Word16 Out[Pad];
        std::memcpy(R, RezBuf, sizeof RezBuf);
        auto pair = [](Word16 a, Word16 b) {
            return _mm_set1_epi32(
                static_cast<int>((static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16) | static_cast<uint16_t>(a)));
        };
        const __m128i w01 = pair(row[0], row[1]), w23 = pair(row[2], row[3]), w4 = pair(row[4], 0);
        const __m128i half = _mm_set1_epi32(0x2000);
        for (int i = 0; i < SubFrLen; i += 8) {
            const __m128i a0 = loadu(R + i), a1 = loadu(R + i + 1), a2 = loadu(R + i + 2);
            const __m128i a3 = loadu(R + i + 3), a4 = loadu(R + i + 4), a5 = loadu(R + i + 5);
            const __m128i lo = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a0, a1), w01),
                                                           _mm_madd_epi16(_mm_unpacklo_epi16(a2, a3), w23)),
                                             _mm_madd_epi16(_mm_unpacklo_epi16(a4, a5), w4));
            const __m128i hi = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a0, a1), w01),
                                                           _mm_madd_epi16(_mm_unpackhi_epi16(a2, a3), w23)),
                                             _mm_madd_epi16(_mm_unpackhi_epi16(a4, a5), w4));
            _mm_store_si128(reinterpret_cast<__m128i*>(Out + i),
                            _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo, half), 14),
                                            _mm_srai_epi32(_mm_add_epi32(hi, half), 14)));
        }
        std::memcpy(Tv, Out, SubFrLen * sizeof(Word16));
#else
        for (int i = 0; i < SubFrLen; i++) {
            Word32 Acc0 = 0;
            for (int j = 0; j < ClPitchOrd; j++) Acc0 += RezBuf[i + j] * row[j];
            const Word32 v = (Acc0 + 0x2000) >> 14;
            Tv[i] = static_cast<Word16>(v > MAX_16 ? MAX_16 : v < MIN_16 ? MIN_16 : v);
        }
#endif
    } else {
        count(AcbkDecod, true);
        for (int i = 0; i < SubFrLen; i++) {
            Word32 Acc0 = 0;
            for (int j = 0; j < ClPitchOrd; j++) Acc0 = L_mac(Acc0, RezBuf[i + j], row[j]);
            Tv[i] = round(L_shl(Acc0, 1));
        }
    }
}

}  // namespace kv::g7231
