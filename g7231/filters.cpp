#include "g7231/filters.h"

#include "g7231/tables.h"

namespace kv::g7231 {

namespace {

// Delay line: entry 0 is the newest value, the oldest drops out.
inline void push(Word16* Dl, Word16 v) {
    for (int j = LpcOrder - 1; j > 0; j--) Dl[j] = Dl[j - 1];
    Dl[0] = v;
}

}  // namespace

void Wght_Lpc(Word16* PerLpc, Word16* UnqLpc) {
    for (int k = 0; k < SubFrames; k++) {
        for (int j = 0; j < LpcOrder; j++) {
            PerLpc[2 * LpcOrder * k + j] = mult_r(UnqLpc[LpcOrder * k + j], PerFiltZeroTable[j]);
            PerLpc[2 * LpcOrder * k + LpcOrder + j] = mult_r(UnqLpc[LpcOrder * k + j], PerFiltPoleTable[j]);
        }
    }
}

void Error_Wght(CodStat& cs, Word16* Dpnt, Word16* PerLpc) {
    for (int k = 0; k < SubFrames; k++) {
        for (int i = 0; i < SubFrLen; i++) {
            Word32 Acc0 = L_mult(*Dpnt, 0x2000);
            for (int j = 0; j < LpcOrder; j++) Acc0 = L_msu(Acc0, PerLpc[j], cs.WghtFirDl[j]);
            push(cs.WghtFirDl, *Dpnt);

            for (int j = 0; j < LpcOrder; j++) Acc0 = L_mac(Acc0, PerLpc[LpcOrder + j], cs.WghtIirDl[j]);
            Word16 y = round(L_shl(Acc0, 2));
            push(cs.WghtIirDl, y);
            *Dpnt++ = y;
        }
        PerLpc += 2 * LpcOrder;
    }
}

void Comp_Ir(Word16* ImpResp, Word16* QntLpc, Word16* PerLpc, PWDEF Pw) {
    Word16 FirDl[LpcOrder] = {};
    Word16 IirDl[LpcOrder] = {};
    Word16 Temp[PitchMax + SubFrLen] = {};

    Word32 Acc0 = 0x04000000;  // unit impulse
    for (int i = 0; i < SubFrLen; i++) {
        for (int j = 0; j < LpcOrder; j++) Acc0 = L_mac(Acc0, QntLpc[j], FirDl[j]);
        Word32 Acc1 = L_shl(Acc0, 2);

        for (int j = 0; j < LpcOrder; j++) Acc0 = L_msu(Acc0, PerLpc[j], FirDl[j]);
        Acc0 = L_shl(Acc0, 1);
        push(FirDl, round(Acc1));

        for (int j = 0; j < LpcOrder; j++) Acc0 = L_mac(Acc0, PerLpc[LpcOrder + j], IirDl[j]);
        push(IirDl, round(L_shl(Acc0, 2)));
        Temp[PitchMax + i] = IirDl[0];

        Acc0 = L_msu(L_deposit_h(IirDl[0]), Pw.Gain, Temp[PitchMax - Pw.Indx + i]);
        ImpResp[i] = round(Acc0);

        Acc0 = 0;
    }
}

void Sub_Ring(CodStat& cs, Word16* Dpnt, Word16* QntLpc, Word16* PerLpc, Word16* PrevErr, PWDEF Pw) {
    Word16 FirDl[LpcOrder];
    Word16 IirDl[LpcOrder];
    Word16 Temp[PitchMax + SubFrLen];

    for (int j = 0; j < LpcOrder; j++) {
        FirDl[j] = cs.RingFirDl[j];
        IirDl[j] = cs.RingIirDl[j];
    }
    for (int j = 0; j < PitchMax; j++) Temp[j] = PrevErr[j];

    for (int i = 0; i < SubFrLen; i++) {
        Word32 Acc0 = 0;
        for (int j = 0; j < LpcOrder; j++) Acc0 = L_mac(Acc0, QntLpc[j], FirDl[j]);
        Word32 Acc1 = L_shl(Acc0, 2);

        for (int j = 0; j < LpcOrder; j++) Acc0 = L_msu(Acc0, PerLpc[j], FirDl[j]);
        push(FirDl, round(Acc1));

        for (int j = 0; j < LpcOrder; j++) Acc0 = L_mac(Acc0, PerLpc[LpcOrder + j], IirDl[j]);
        push(IirDl, round(L_shl(Acc0, 2)));
        Temp[PitchMax + i] = IirDl[0];

        // Subtract the ringing after the harmonic noise shaping, which adds
        // back the gain-weighted ringing one lag earlier.
        Acc0 = L_deposit_h(sub(Dpnt[i], IirDl[0]));
        Acc0 = L_mac(Acc0, Pw.Gain, Temp[PitchMax - Pw.Indx + i]);
        Dpnt[i] = round(Acc0);
    }
}

void Upd_Ring(CodStat& cs, Word16* Dpnt, Word16* QntLpc, Word16* PerLpc, Word16* PrevErr) {
    for (int i = SubFrLen; i < PitchMax; i++) PrevErr[i - SubFrLen] = PrevErr[i];

    for (int i = 0; i < SubFrLen; i++) {
        Word32 Acc0 = L_shr(L_deposit_h(Dpnt[i]), 3);

        for (int j = 0; j < LpcOrder; j++) Acc0 = L_mac(Acc0, QntLpc[j], cs.RingFirDl[j]);
        Word32 Acc1 = L_shl(Acc0, 2);
        Dpnt[i] = shl(round(Acc1), 1);

        for (int j = 0; j < LpcOrder; j++) Acc0 = L_msu(Acc0, PerLpc[j], cs.RingFirDl[j]);
        push(cs.RingFirDl, round(Acc1));

        for (int j = 0; j < LpcOrder; j++) Acc0 = L_mac(Acc0, PerLpc[LpcOrder + j], cs.RingIirDl[j]);
        Acc0 = L_shl(Acc0, 2);
        push(cs.RingIirDl, round(Acc0));

        PrevErr[PitchMax - SubFrLen + i] = cs.RingIirDl[0];
    }
}

}  // namespace kv::g7231
