#include "g7231/pitch.h"

#include "g7231/dsp.h"

namespace kv::g7231 {

Word16 Estim_Pitch(Word16* Dpnt, Word16 Start) {
    // The energy window starts one sample late: the first slide below moves
    // it onto the shortest lag.
    Word16 Pr = static_cast<Word16>(Start - (PitchMin - 1));

    // Exact energies of the target and of the sliding window bound each
    // correlation (see dsp.h); the saturating energy chain itself is kept,
    // as its value is what the comparisons see.
    const int64_t Es = dsp::sumsq(&Dpnt[Start], 2 * SubFrLen);
    int64_t Ew = dsp::sumsq(&Dpnt[Pr], 2 * SubFrLen);
    Word32 Acc1 = dsp::L_energy(&Dpnt[Pr], 2 * SubFrLen);

    Word16 Indx = PitchMin;
    Word16 Mxp = 30;
    Word16 Mcr = 0x4000;
    Word16 Mnr = MAX_16;

    for (int i = PitchMin; i <= PitchMax - 3; i++) {
        Pr = static_cast<Word16>(Pr - 1);

        const Word16 Out = Dpnt[Pr + 2 * SubFrLen];
        const Word16 In = Dpnt[Pr];
        Acc1 = L_msu(Acc1, Out, Out);
        Acc1 = L_mac(Acc1, In, In);
        Ew += static_cast<int32_t>(In) * In - static_cast<int32_t>(Out) * Out;

        Word32 Acc0 = dsp::L_corr(&Dpnt[Start], &Dpnt[Pr], 2 * SubFrLen, Es, Ew);

        if (Acc0 <= 0) continue;

        // Squared correlation as mantissa Ccr and exponent Exp. The shifts by
        // a norm cannot saturate, and Ccr >= 0x4000 here.
        Word16 Exp = dsp::norm_l(Acc0);
        Acc0 = dsp::shl_norm(Acc0, Exp);
        Exp = static_cast<Word16>(Exp * 2);
        Word16 Ccr = round(Acc0);
        Acc0 = L_mult(Ccr, Ccr);
        Word16 Tmp = dsp::norm_l(Acc0);
        Acc0 = dsp::shl_norm(Acc0, Tmp);
        Exp = static_cast<Word16>(Exp + Tmp);
        Ccr = extract_h(Acc0);

        Tmp = dsp::norm_l(Acc1);
        Exp = static_cast<Word16>(Exp - Tmp);
        Word16 Enr = round(dsp::shl_norm(Acc1, Tmp));

        // Keep the mantissa ratio below 1 so the comparisons below cannot overflow.
        if (Ccr >= Enr) {
            Exp = static_cast<Word16>(Exp - 1);
            Ccr = shr(Ccr, 1);
        }

        if (Exp > Mxp) continue;

        bool accept;
        if (Exp + 1 < Mxp) {
            accept = true;
        } else {
            Tmp = (Exp + 1 == Mxp) ? shr(Mcr, 1) : Mcr;
            Acc0 = L_mult(Ccr, Mnr);
            Acc0 = L_msu(Acc0, Enr, Tmp);
            if (Acc0 <= 0) {
                accept = false;
            } else if (i - Indx < PitchMin) {
                accept = true;
            } else {
                // A lag this far past the best must win by 4/3, so that
                // multiples of the period do not take over.
                Acc0 = L_mult(Ccr, Mnr);
                Acc0 = L_negate(L_shr(Acc0, 2));
                Acc0 = L_mac(Acc0, Ccr, Mnr);
                Acc0 = L_msu(Acc0, Enr, Tmp);
                accept = Acc0 > 0;
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

PWDEF Comp_Pw(Word16* Dpnt, Word16 Start, Word16 Olp) {
    Word32 Lcr[15];
    Word16 Scr[15];
    PWDEF Pw;

    const Word16* x = &Dpnt[Start];
    const int64_t Ex = dsp::sumsq(x, SubFrLen);
    Lcr[0] = dsp::L_energy(x, SubFrLen);

    for (int i = 0; i <= 2 * PwRange; i++) {
        const Word16* s = &Dpnt[Start - (Olp - PwRange + i)];
        const int64_t Es = dsp::sumsq(s, SubFrLen);
        Lcr[2 * i + 1] = dsp::clip_pos(2 * Es);
        Lcr[2 * i + 2] = dsp::L_corr(x, s, SubFrLen, Ex, Es);
    }

    Word32 Mx = 0;
    for (int k = 0; k < 15; k++) {
        Word32 a = L_abs(Lcr[k]);
        if (a > Mx) Mx = a;
    }
    const Word16 Exp = dsp::norm_l(Mx);
    for (int k = 0; k < 15; k++) Scr[k] = round(L_shl(Lcr[k], Exp));

    Pw.Indx = -1;
    Pw.Gain = 0;
    Word16 Mcr = 1;
    Word16 Mnr = MAX_16;

    // Maximise Ccr^2 / Enr by cross-multiplying.
    for (int i = 0; i <= 2 * PwRange; i++) {
        Word16 Enr = Scr[2 * i + 1];
        Word16 Ccr = Scr[2 * i + 2];
        if (Ccr <= 0) continue;
        Word16 e = mult_r(Ccr, Ccr);
        Word32 Acc0 = L_mult(e, Mnr);
        Acc0 = L_msu(Acc0, Enr, Mcr);
        if (Acc0 > 0) {
            Mcr = e;
            Mnr = Enr;
            Pw.Indx = static_cast<Word16>(i);
        }
    }

    if (Pw.Indx == -1) {
        Pw.Indx = Olp;
        return Pw;
    }

    // The filter is on only when the normalised squared correlation exceeds 0.375.
    Word32 Acc0 = L_mult(Scr[0], Mnr);
    Acc0 = L_add(L_shr(Acc0, 2), L_shr(Acc0, 3));
    Word16 c = Scr[2 * Pw.Indx + 2];
    if (L_sub(Acc0, L_mult(c, c)) < 0) {
        if (c >= Mnr)
            Pw.Gain = PwConst;
        else
            Pw.Gain = mult_r(div_s(c, Mnr), PwConst);
    }

    Pw.Indx = static_cast<Word16>(Olp - PwRange + Pw.Indx);
    return Pw;
}

void Filt_Pw(Word16* DataBuff, Word16* Dpnt, Word16 Start, PWDEF Pw) {
    for (int i = 0; i < SubFrLen; i++) {
        Word32 Acc0 = L_deposit_h(Dpnt[PitchMax + Start + i]);
        Acc0 = L_msu(Acc0, Pw.Gain, Dpnt[PitchMax + Start - Pw.Indx + i]);
        DataBuff[Start + i] = round(Acc0);
    }
}

}  // namespace kv::g7231
