#include "g7231/fcbk.h"

#include "g7231/tables.h"

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

void Find_Best(BESTDEF* Best, Word16* Tv, Word16* ImpResp, Word16 Np, Word16 Olp) {
    Word16 Imr[SubFrLen];
    Word16 OccPos[SubFrLen];
    Word16 ImrCorr[SubFrLen];
    Word32 ErrBlk[SubFrLen];
    Word32 WrkBlk[SubFrLen];
    Word16 Ploc[MaxPulseNum];
    Word16 Pamp[MaxPulseNum];

    Word16 UseTrn;
    if (Olp < SubFrLen - 2) {
        UseTrn = 1;
        Gen_Trn(Imr, ImpResp, Olp);
    } else {
        UseTrn = 0;
        for (int i = 0; i < SubFrLen; i++) Imr[i] = ImpResp[i];
    }

    // Autocorrelation of the halved response, normalised on its energy.
    for (int i = 0; i < SubFrLen; i++) OccPos[i] = shr(Imr[i], 1);
    Word32 Acc0 = 0;
    for (int i = 0; i < SubFrLen; i++) Acc0 = L_mac(Acc0, OccPos[i], OccPos[i]);
    Word16 Exp = norm_l(Acc0);
    ImrCorr[0] = round(L_shl(Acc0, Exp));
    for (int i = 1; i < SubFrLen; i++) {
        Acc0 = 0;
        for (int j = i; j < SubFrLen; j++) Acc0 = L_mac(Acc0, OccPos[j], OccPos[j - i]);
        ImrCorr[i] = round(L_shl(Acc0, Exp));
    }

    // Target filtered backwards through the (unhalved) response.
    Exp = sub(Exp, 4);
    for (int i = 0; i < SubFrLen; i++) {
        Acc0 = 0;
        for (int j = i; j < SubFrLen; j++) Acc0 = L_mac(Acc0, Tv[j], Imr[j - i]);
        ErrBlk[i] = L_shl(Acc0, Exp);
    }

    for (int k = 0; k < Sgrid; k++) {
        // First pulse where the backward-filtered target peaks; the last of
        // equal peaks wins.
        Word32 Peak = 0;
        Ploc[0] = static_cast<Word16>(k);
        for (int i = k; i < SubFrLen; i += Sgrid) {
            Word32 a = L_abs(ErrBlk[i]);
            if (a >= Peak) {
                Peak = a;
                Ploc[0] = static_cast<Word16>(i);
            }
        }

        // Gain level nearest to the peak; the search then tries the two
        // levels below it and one above.
        Word32 Dist = 0x40000000;
        Word16 Gain = NumOfGainLev - MlqSteps;
        for (int g = NumOfGainLev - MlqSteps; g >= MlqSteps; g--) {
            Word32 d = L_abs(L_sub(L_mult(FcbkGainTable[g], ImrCorr[0]), Peak));
            if (d < Dist) {
                Dist = d;
                Gain = static_cast<Word16>(g);
            }
        }
        const Word16 MaxAmpId = static_cast<Word16>(Gain - 1);

        for (int s = 1; s <= 2 * MlqSteps; s++) {
            const Word16 MampId = static_cast<Word16>(MaxAmpId - MlqSteps + s);

            for (int i = 0; i < SubFrLen; i++) WrkBlk[i] = ErrBlk[i];
            for (int i = k; i < SubFrLen; i += Sgrid) OccPos[i] = 0;

            const Word16 MaxAmp = FcbkGainTable[MampId];

            Pamp[0] = WrkBlk[Ploc[0]] >= 0 ? MaxAmp : negate(MaxAmp);
            OccPos[Ploc[0]] = 1;

            for (int j = 1; j < Np; j++) {
                Word32 Best1 = static_cast<Word32>(0xc0000000u);
                for (int l = k; l < SubFrLen; l += Sgrid) {
                    if (OccPos[l] != 0) continue;
                    // Remove the previous pulse's contribution, then pick the
                    // largest remaining residual; the first of equal values wins.
                    Word32 w = L_msu(WrkBlk[l], Pamp[j - 1], ImrCorr[abs_s(sub(static_cast<Word16>(l), Ploc[j - 1]))]);
                    WrkBlk[l] = w;
                    w = L_abs(w);
                    if (w > Best1) {
                        Best1 = w;
                        Ploc[j] = static_cast<Word16>(l);
                    }
                }
                Pamp[j] = WrkBlk[Ploc[j]] >= 0 ? MaxAmp : negate(MaxAmp);
                OccPos[Ploc[j]] = 1;
            }

            // Filter the candidate pulses through Imr, in place from the end.
            for (int i = 0; i < SubFrLen; i++) OccPos[i] = 0;
            for (int j = 0; j < Np; j++) OccPos[Ploc[j]] = Pamp[j];
            for (int l = SubFrLen - 1; l >= 0; l--) {
                Acc0 = 0;
                for (int j = 0; j <= l; j++) Acc0 = L_mac(Acc0, OccPos[j], Imr[l - j]);
                OccPos[l] = extract_h(L_shl(Acc0, 2));
            }

            // 2<Tv,y> - <y,y>: larger means a smaller weighted error.
            Word32 Acc1 = 0;
            for (int j = 0; j < SubFrLen; j++) {
                Acc1 = L_mac(Acc1, Tv[j], OccPos[j]);
                Acc1 = L_sub(Acc1, L_shr(L_mult(OccPos[j], OccPos[j]), 1));
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
