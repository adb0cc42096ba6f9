#include "g7231/filters.h"

#include "g7231/dsp.h"
#include "g7231/tables.h"

namespace kv::g7231 {

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
        const dsp::Taps10 Zero(&PerLpc[2 * LpcOrder * k]);
        const dsp::Taps10 Pole(&PerLpc[2 * LpcOrder * k + LpcOrder]);
        dsp::History Fir(cs.WghtFirDl);
        dsp::History Iir(cs.WghtIirDl);
        for (int i = 0; i < SubFrLen; i++) {
            const Word16 x = *Dpnt;
            Word32 Acc0 = static_cast<Word32>(x) * 0x4000;  // L_mult(x, 0x2000): exact
            Acc0 = dsp::msu10(Acc0, Zero, Fir.at(i), dsp::bound10(Fir.at(i)));
            Fir.push(i, x);
            Acc0 = dsp::mac10(Acc0, Pole, Iir.at(i), dsp::bound10(Iir.at(i)));
            const Word16 y = round(L_shl(Acc0, 2));
            Iir.push(i, y);
            *Dpnt++ = y;
        }
        Fir.store(cs.WghtFirDl, SubFrLen);
        Iir.store(cs.WghtIirDl, SubFrLen);
    }
}

void Comp_Ir(Word16* ImpResp, Word16* QntLpc, Word16* PerLpc, PWDEF Pw) {
    const Word16 Zeros[LpcOrder] = {};
    const dsp::Taps10 Syn(QntLpc);
    const dsp::Taps10 Zero(PerLpc);
    const dsp::Taps10 Pole(&PerLpc[LpcOrder]);
    dsp::History Fir(Zeros);
    dsp::History Iir(Zeros);
    Word16 Temp[PitchMax + SubFrLen] = {};

    for (int i = 0; i < SubFrLen; i++) {
        const Word32 Start = i == 0 ? 0x04000000 : 0;  // unit impulse
        const int32_t Mf = dsp::bound10(Fir.at(i));
        Word32 Acc0 = dsp::mac10(Start, Syn, Fir.at(i), Mf);
        const Word32 Acc1 = L_shl(Acc0, 2);

        Acc0 = dsp::msu10(Acc0, Zero, Fir.at(i), Mf);
        Acc0 = L_shl(Acc0, 1);
        Fir.push(i, round(Acc1));

        Acc0 = dsp::mac10(Acc0, Pole, Iir.at(i), dsp::bound10(Iir.at(i)));
        const Word16 y = round(L_shl(Acc0, 2));
        Iir.push(i, y);
        Temp[PitchMax + i] = y;

        ImpResp[i] = round(L_msu(L_deposit_h(y), Pw.Gain, Temp[PitchMax - Pw.Indx + i]));
    }
}

void Sub_Ring(CodStat& cs, Word16* Dpnt, Word16* QntLpc, Word16* PerLpc, Word16* PrevErr, PWDEF Pw) {
    const dsp::Taps10 Syn(QntLpc);
    const dsp::Taps10 Zero(PerLpc);
    const dsp::Taps10 Pole(&PerLpc[LpcOrder]);
    dsp::History Fir(cs.RingFirDl);
    dsp::History Iir(cs.RingIirDl);
    Word16 Temp[PitchMax + SubFrLen];
    for (int j = 0; j < PitchMax; j++) Temp[j] = PrevErr[j];

    for (int i = 0; i < SubFrLen; i++) {
        const int32_t Mf = dsp::bound10(Fir.at(i));
        Word32 Acc0 = dsp::mac10(0, Syn, Fir.at(i), Mf);
        const Word32 Acc1 = L_shl(Acc0, 2);

        Acc0 = dsp::msu10(Acc0, Zero, Fir.at(i), Mf);
        Fir.push(i, round(Acc1));

        Acc0 = dsp::mac10(Acc0, Pole, Iir.at(i), dsp::bound10(Iir.at(i)));
        const Word16 y = round(L_shl(Acc0, 2));
        Iir.push(i, y);
        Temp[PitchMax + i] = y;

        // Subtract the ringing after the harmonic noise shaping, which adds
        // back the gain-weighted ringing one lag earlier.
        Acc0 = L_deposit_h(sub(Dpnt[i], y));
        Acc0 = L_mac(Acc0, Pw.Gain, Temp[PitchMax - Pw.Indx + i]);
        Dpnt[i] = round(Acc0);
    }
}

void Upd_Ring(CodStat& cs, Word16* Dpnt, Word16* QntLpc, Word16* PerLpc, Word16* PrevErr) {
    for (int i = SubFrLen; i < PitchMax; i++) PrevErr[i - SubFrLen] = PrevErr[i];

    const dsp::Taps10 Syn(QntLpc);
    const dsp::Taps10 Zero(PerLpc);
    const dsp::Taps10 Pole(&PerLpc[LpcOrder]);
    dsp::History Fir(cs.RingFirDl);
    dsp::History Iir(cs.RingIirDl);

    for (int i = 0; i < SubFrLen; i++) {
        const int32_t Mf = dsp::bound10(Fir.at(i));
        Word32 Acc0 = L_shr(L_deposit_h(Dpnt[i]), 3);
        Acc0 = dsp::mac10(Acc0, Syn, Fir.at(i), Mf);
        const Word32 Acc1 = L_shl(Acc0, 2);
        Dpnt[i] = shl(round(Acc1), 1);

        Acc0 = dsp::msu10(Acc0, Zero, Fir.at(i), Mf);
        Fir.push(i, round(Acc1));

        Acc0 = dsp::mac10(Acc0, Pole, Iir.at(i), dsp::bound10(Iir.at(i)));
        const Word16 y = round(L_shl(Acc0, 2));
        Iir.push(i, y);
        PrevErr[PitchMax - SubFrLen + i] = y;
    }
    Fir.store(cs.RingFirDl, SubFrLen);
    Iir.store(cs.RingIirDl, SubFrLen);
}

}  // namespace kv::g7231
