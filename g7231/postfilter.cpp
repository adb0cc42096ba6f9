#include "g7231/postfilter.h"

#include <algorithm>
#include <cstring>

#include "g7231/dsp.h"
#include "g7231/lpc.h"

namespace kv::g7231 {

namespace {

// 0.65^(j+1) and 0.75^(j+1) in Q15: the zeros and poles of the formant
// postfilter are the synthesis filter's, pulled towards the centre.
constexpr Word16 PostFiltZeroTable[LpcOrder] = {21299, 13844, 8999, 5849, 3802, 2471, 1606, 1044, 679, 441};
constexpr Word16 PostFiltPoleTable[LpcOrder] = {24576, 18432, 13824, 10368, 7776, 5832, 4374, 3281, 2460, 1845};
// The pitch postfilter's largest gain, by rate.
constexpr Word16 LpfConstTable[2] = {0x1800, 0x2000};

constexpr int PfRange = 3;  // the lags searched around the pitch: -3..+3

// The L_mac chain from 0 of a with b over one subframe of values that a
// Vec_Norm has left within -4096..4095: 60 doubled products of at most 2^24
// stay below 2^31, so the chain is the plain sum.
Word32 corr60(const Word16* a, const Word16* b) { return 2 * dsp::dot(a, b, SubFrLen); }

// The filter for one chosen direction: Ten is the subframe's energy, Ccr its
// correlation with the shifted excitation, Enr that one's energy. A weak match
// leaves the subframe as it is (gain 0).
PFDEF candidate(Word16 Indx, Word16 Ten, Word16 Ccr, Word16 Enr, Crate Rate) {
    PFDEF Pf{Indx, 0, MAX_16};
    if (L_mult(Ccr, Ccr) > L_shr(L_mult(Ten, Enr), 2)) {
        const Word16 K = LpfConstTable[Rate];
        Word16 g = Ccr >= Enr ? K : mult(div_s(Ccr, Enr), K);
        // Scale the filtered subframe back to its energy.
        Word32 Acc = L_mac(L_shr(L_deposit_h(Ten), 1), Ccr, g);
        Acc = L_add(Acc, L_shr(L_mult(Enr, mult(g, g)), 1));
        const Word16 d = round(Acc);
        const Word32 num = L_shr(L_deposit_h(Ten), 1);
        const Word16 q = num >= L_deposit_h(d) ? MAX_16 : div_l(num, d);
        Pf.ScGn = sqrt14(L_deposit_h(q));
        Pf.Gain = mult(g, Pf.ScGn);
    }
    return Pf;
}

}  // namespace

PFDEF pitchPostfilterParams(const Word16* Buf, Word16 Olp, int Sfc, Crate Rate) {
    const Word16* x = Buf + PitchMax + Sfc * SubFrLen;
    const int L = Olp > PitchMax - PfRange ? PitchMax - PfRange : Olp;

    // The best match one period back, and (inside the frame) one ahead.
    Word32 Best = 0;
    int Back = 0;
    for (int i = L - PfRange; i <= L + PfRange; i++) {
        const Word32 c = corr60(x, x - i);
        if (c > Best) {
            Best = c;
            Back = -i;
        }
    }
    Best = 0;
    int Fwd = 0;
    for (int i = L - PfRange; i <= L + PfRange; i++) {
        if (Sfc * SubFrLen + SubFrLen + i > Frame) continue;
        const Word32 c = corr60(x, x + i);
        if (c > Best) {
            Best = c;
            Fwd = i;
        }
    }
    if (Back == 0 && Fwd == 0) return PFDEF{0, 0, MAX_16};

    // Energies and correlations on a common scale.
    Word32 v[5] = {corr60(x, x), 0, 0, 0, 0};
    if (Back != 0) {
        v[1] = corr60(x, x + Back);
        v[2] = corr60(x + Back, x + Back);
    }
    if (Fwd != 0) {
        v[3] = corr60(x, x + Fwd);
        v[4] = corr60(x + Fwd, x + Fwd);
    }
    Word32 Max = 0;
    for (const Word32 a : v)
        if (a > Max) Max = a;
    const Word16 Exp = norm_l(Max);
    Word16 e[5];
    for (int i = 0; i < 5; i++) e[i] = extract_h(L_shl(v[i], Exp));

    if (Fwd == 0) return candidate(static_cast<Word16>(Back), e[0], e[1], e[2], Rate);
    if (Back == 0) return candidate(static_cast<Word16>(Fwd), e[0], e[3], e[4], Rate);
    // Both: the one with the larger normalised correlation c^2 / E.
    if (L_mult(mult_r(e[1], e[1]), e[4]) > L_mult(mult_r(e[3], e[3]), e[2]))
        return candidate(static_cast<Word16>(Back), e[0], e[1], e[2], Rate);
    return candidate(static_cast<Word16>(Fwd), e[0], e[3], e[4], Rate);
}

void pitchPostfilter(const Word16* Buf, int Sfc, PFDEF Pf, Word16* Out) {
    const Word16* x = Buf + PitchMax + Sfc * SubFrLen;
    // ScGn and Gain lie in 0..32767, so the two products' sum s fits 32 bits,
    // and round(L_mac(L_mult(.), .)) is (s + 0x4000) >> 15 clamped to 16 bits.
    for (int n = 0; n < SubFrLen; n++) {
        const Word32 s = x[n] * Pf.ScGn + x[n + Pf.Indx] * Pf.Gain;
        Out[n] = detail::sature((s + 0x4000) >> 15);
    }
}

void formantPostfilter(DecStat& ds, Word16* Sy, const Word16* Lpc) {
    Word16 Fir[LpcOrder], Iir[LpcOrder];
    for (int j = 0; j < LpcOrder; j++) {
        Fir[j] = mult_r(Lpc[j], PostFiltZeroTable[j]);
        Iir[j] = mult_r(Lpc[j], PostFiltPoleTable[j]);
    }

    // The first reflection coefficient of the input, for the tilt. After
    // Vec_Norm no |t| exceeds 4096: no sum of 60 doubled products reaches 2^31.
    Word16 t[SubFrLen];
    std::memcpy(t, Sy, sizeof t);
    const Word16 Sh = Vec_Norm(t, SubFrLen);
    const Word32 R1 = 2 * dsp::dot(t + 1, t, SubFrLen - 1);
    const Word32 R0 = corr60(t, t);
    const Word32 Energy = L_shr(R0, static_cast<Word16>(2 * Sh + 4));
    Word16 K = 0;
    const Word16 h = extract_h(R0);
    if (h != 0) {
        const Word32 r = L_shr(R1, 1);
        K = dsp::div_l(L_abs(r), h);  // |R1| <= R0 by Cauchy-Schwarz: |r| < h << 16
        if (r < 0) K = negate(K);
    }
    ds.tiltPark = round(L_mac(L_msu(L_deposit_h(ds.tiltPark), ds.tiltPark, 0x2000), K, 0x2000));
    const Word16 Mu = static_cast<Word16>(mult(ds.tiltPark, -16384) & 0xFFFC);

    // Every partial sum of the two chains lies within |s| 2^14 + Zero.mag2 Mf
    // + Pole.mag2 Mi, Mf bounding the zeros' inputs (this subframe's, known in
    // advance) and Mi the poles' (which grows with each output). While that
    // fits, the chains are plain sums.
    const dsp::Taps10 Zero(Fir), Pole(Iir);
    dsp::History FirMem(ds.pfFirMem), IirMem(ds.pfIirMem);
    const int32_t Mf = std::max(dsp::bound10(FirMem.at(0)), dsp::max_abs(Sy, SubFrLen) + 1);
    int32_t Mi = dsp::bound10(IirMem.at(0));
    auto plain = [&] { return (int64_t{Mf} << 14) + Zero.mag2 * Mf + Pole.mag2 * Mi <= MAX_32; };
    bool Plain = plain();
    for (int i = 0; i < SubFrLen; i++) {
        const Word16 s = Sy[i];
        Word32 Acc = Word32{s} * 0x4000;  // L_shr(L_deposit_h(s), 2): exact
        if (Plain) {
            Acc += 2 * (dsp::dot10(Pole, IirMem.at(i)) - dsp::dot10(Zero, FirMem.at(i)));
        } else {
            Acc = dsp::msu10(Acc, Zero, FirMem.at(i), Mf);
            Acc = dsp::mac10(Acc, Pole, IirMem.at(i), Mi);
        }
        FirMem.push(i, s);
        const Word16 Prev = IirMem.at(i)[LpcOrder - 1];    // the previous sample's pole output
        const Word32 A = detail::sat32(int64_t{Acc} * 4);  // L_shl(Acc, 2)
        const Word16 y = dsp::round_sat(A);
        IirMem.push(i, y);
        if (dsp::bound1(y) > Mi) {
            Mi = dsp::bound1(y);
            Plain = plain();
        }
        // Mu is never -32768: L_mult(Prev, Mu) is exact.
        Sy[i] = dsp::round_sat(int64_t{A} + 2 * Prev * Mu);
    }
    FirMem.store(ds.pfFirMem, SubFrLen);
    IirMem.store(ds.pfIirMem, SubFrLen);

    // Gain scaling: bring the filtered subframe back to the energy of its
    // input, smoothly, sample by sample. No shr(y, 2) is -32768, so the
    // energy's chain is the plain sum, clipped.
    Word16 y[SubFrLen];
    for (int i = 0; i < SubFrLen; i++) y[i] = shr(Sy[i], 2);
    const Word32 Eout = dsp::L_energy(y, SubFrLen);
    Word16 g = 0x1000;
    if (Eout != 0 && Energy != 0) {
        const Word16 n1 = dsp::norm_l(Eout);
        const Word32 A = dsp::shl_norm(Eout, n1);
        const Word16 n0 = dsp::norm_l(Energy);
        const Word32 B = L_shr(dsp::shl_norm(Energy, n0), 1);
        Word16 e = static_cast<Word16>(6 - (n1 - n0 + 1));
        if (e < 0) e = 0;
        g = sqrt14(L_shr(L_deposit_h(dsp::div_l(B, extract_h(A))), e));
    }
    // With 0 <= scaleGain, g <= 32767 the smoothing never saturates, and
    // round(L_shl(L_mult(y, f), 4)) is (y f + 0x400) >> 11 clamped to 16 bits.
    Word32 Gain = ds.scaleGain;
    for (int i = 0; i < SubFrLen; i++) {
        Gain = (Gain * 0xF000 + g * 0x1000 + 0x8000) >> 16;
        const Word32 Factor = std::min<Word32>(Gain + (Gain >> 4), MAX_16);  // add() saturates
        Sy[i] = detail::sature((Sy[i] * Factor + 0x400) >> 11);
    }
    ds.scaleGain = static_cast<Word16>(Gain);
}

}  // namespace kv::g7231
