#include "g7231/lpc.h"

#include "g7231/dsp.h"
#include "g7231/tables.h"

namespace kv::g7231 {

namespace {

constexpr int PrevDatLen = LpcFrame - SubFrLen;  // 120

}  // namespace

void Rem_Dc(CodStat& cs, Word16* Dpnt) {
    static_assert(UseHp == 1, "only the high-pass variant is built");
    for (int i = 0; i < Frame; i++) {
        const Word16 x = Dpnt[i];
        Word32 Acc = L_mult(x, 0x4000);
        Acc = L_mac(Acc, cs.HpfZdl, static_cast<Word16>(0xC000));
        cs.HpfZdl = x;
        Acc = L_add(Acc, L_mls(cs.HpfPdl, 0x7F00));
        // The filter memory keeps the full accumulator, not the rounded sample.
        cs.HpfPdl = Acc;
        Dpnt[i] = round(Acc);
    }
}

Word16 Vec_Norm(Word16* Vect, Word16 Len) {
    const Word16 Exp = norm_s(dsp::max_abs(Vect, Len));
    // Every |x| * 2^Exp is below 2^15, so L_mult(2^Exp, x) cannot saturate
    // and L_shr(., 4) of it is x shifted by Exp - 3, rounding down.
    dsp::shift(Vect, Len, Exp - 3);
    return static_cast<Word16>(Exp - 3);
}

void Durbin(Word16* Lpc, const Word16* Corr, Word16 Err, Word16* Pk2) {
    for (int i = 0; i < LpcOrder; i++) Lpc[i] = 0;

    for (int i = 0; i < LpcOrder; i++) {
        Word32 Acc0 = L_shr(L_deposit_h(Corr[i]), 2);
        for (int j = 0; j < i; j++) Acc0 = L_msu(Acc0, Lpc[j], Corr[i - j - 1]);
        Acc0 = L_shl(Acc0, 2);

        const Word32 Acc1 = L_abs(Acc0);
        const Word32 Acc2 = L_deposit_h(Err);
        if (Acc1 >= Acc2) {
            *Pk2 = 32767;
            break;
        }

        Word16 Pk = dsp::div_l(Acc1, Err);  // Err > 0 and Acc1 < Err << 16 here
        if (Acc0 >= 0) Pk = negate(Pk);
        if (i == 1) *Pk2 = Pk;

        Lpc[i] = round(L_shr(L_deposit_h(negate(Pk)), 2));

        // The signed numerator is multiplied: the product is never positive.
        Err = round(L_add(L_mls(Acc0, Pk), Acc2));

        Word16 Temp[LpcOrder];
        for (int j = 0; j < i; j++) Temp[j] = Lpc[j];
        for (int j = 0; j < i; j++) Lpc[j] = round(L_mac(L_deposit_h(Lpc[j]), Pk, Temp[i - j - 1]));
    }
}

void Comp_Lpc(CodStat& cs, Word16* UnqLpc, const Word16* PrevDat, const Word16* DataBuff) {
    Word16 Dpnt[PrevDatLen + Frame];
    for (int i = 0; i < PrevDatLen; i++) Dpnt[i] = PrevDat[i];
    for (int i = 0; i < Frame; i++) Dpnt[PrevDatLen + i] = DataBuff[i];

    for (int k = 0; k < SubFrames; k++) {
        Word16 Vect[LpcFrame];
        for (int i = 0; i < LpcFrame; i++) Vect[i] = Dpnt[k * SubFrLen + i];

        Vec_Norm(Vect, LpcFrame);
        // After Vec_Norm every sample is within +-4096, so neither the window
        // nor the products below can saturate a single operator, and the
        // windowed energy stays below MAX_32 (4096^2 times the sum of the
        // squared window is about 1.2e9). That energy bounds the magnitude
        // sum of every lag, and each term L_shr(L_mult(a, b), 1) is a*b, so
        // the saturating sums are plain dot products.
        for (int i = 0; i < LpcFrame; i++)
            Vect[i] = static_cast<Word16>((Vect[i] * HammingWindowTable[i] + 0x4000) >> 15);

        Word16 Corr[LpcOrder + 1];

        Word32 Acc0 = static_cast<Word32>(dsp::sumsq(Vect, LpcFrame));
        // White-noise correction, 1025/1024.
        Acc0 = L_add(Acc0, L_shr(Acc0, 10));
        const Word16 Exp = dsp::norm_l(Acc0);
        Corr[0] = round(dsp::shl_norm(Acc0, Exp));

        if (Corr[0] == 0) {
            for (int i = 1; i <= LpcOrder; i++) Corr[i] = 0;
        } else {
            for (int i = 1; i <= LpcOrder; i++) {
                Acc0 = L_shl(dsp::dot(&Vect[i], Vect, LpcFrame - i), Exp);
                Corr[i] = round(L_mls(Acc0, BinomialWindowTable[i - 1]));
            }
        }

        Word16 Pk2 = 0;
        Durbin(&UnqLpc[k * LpcOrder], &Corr[1], Corr[0], &Pk2);

        // Sine detector history: a plain 16-bit shift, the top bit falls off.
        cs.SinDet = static_cast<Word16>(static_cast<uint16_t>(cs.SinDet) << 1);
        if (Pk2 > 0x799A) cs.SinDet = static_cast<Word16>(cs.SinDet + 1);
    }

    // Bit 15 flags a sine wave: 14 or more hits among the last 15 subframes.
    cs.SinDet = static_cast<Word16>(cs.SinDet & 0x7FFF);
    int hits = 0;
    for (int i = 0; i < 15; i++) hits += (cs.SinDet >> i) & 1;
    if (hits >= 14) cs.SinDet = static_cast<Word16>(cs.SinDet | 0x8000);
}

void Mem_Shift(Word16* PrevDat, Word16* DataBuff) {
    Word16 Dpnt[PrevDatLen + Frame];
    for (int i = 0; i < PrevDatLen; i++) Dpnt[i] = PrevDat[i];
    for (int i = 0; i < Frame; i++) Dpnt[PrevDatLen + i] = DataBuff[i];

    for (int i = 0; i < PrevDatLen; i++) PrevDat[i] = Dpnt[Frame + i];
    for (int i = 0; i < Frame; i++) DataBuff[i] = Dpnt[SubFrLen + i];
}

}  // namespace kv::g7231
